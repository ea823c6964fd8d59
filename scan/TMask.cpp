#include "scan/TMask.h"

#include "core/Exceptions.h"
#include "core/Format.h"

#include <cstring>
#include <string>

namespace {

// Upper-cases the 26 ASCII letters; every other byte maps to itself.
constexpr std::array<unsigned char, 256> kUpper = [] {
    std::array<unsigned char, 256> table{};
    for (int i = 0; i < 256; ++i)
        table[std::size_t(i)] = (i >= 'a' && i <= 'z') ? (unsigned char)(i - 32) : (unsigned char)i;
    return table;
}();

inline unsigned char upper(char c)
{
    return kUpper[static_cast<unsigned char>(c)];
}

[[noreturn]] void invalidMask(std::string_view mask, std::size_t position)
{
    throw Exception(core::Format("'%s' is an invalid mask at (%d)", {mask, position}));
}

// Writes elements, keeping count of the starred ones.
class ElementWriter {
public:
    ElementWriter(std::string_view mask, std::vector<TMaskElement>& out) : mask_(mask), out_(out) {}

    bool pendingStar = false;

    // position: the 1-based place of the character being compiled, for the limit's error.
    void write(TMaskElement element, std::size_t position)
    {
        element.StarBefore = pendingStar;
        if (pendingStar && ++starred_ > TMask::MaxStarredElements)
            invalidMask(mask_, position);
        out_.push_back(element);
        pendingStar = false;
    }

private:
    std::string_view mask_;
    std::vector<TMaskElement>& out_;
    int starred_ = 0;
};

void addMember(TMaskElement& element, unsigned char c)
{
    element.Members[c >> 6] |= std::uint64_t(1) << (c & 63);
}

} // namespace

TMask::TMask(std::string_view mask)
{
    ElementWriter writer(mask, elements_);
    const std::size_t length = mask.size();
    std::size_t i = 0;
    for (; i < length; ++i) {
        const char c = mask[i];
        if (c == '*') {
            writer.pendingStar = true;
        } else if (c == '?') {
            // A "?" right after a star adds nothing: "*?" is the same as "*".
            if (!writer.pendingStar) {
                TMaskElement element;
                element.Kind = mekAnyChar;
                writer.write(element, i + 1);
            }
        } else if (c == '[') {
            TMaskElement element;
            element.Kind = mekCharSet;
            ++i;
            if (i < length && mask[i] == '!') {
                element.Negated = true;
                ++i;
            }
            bool haveLast = false;
            unsigned char last = 0;
            bool empty = true;
            for (; i < length && mask[i] != ']'; ++i) {
                if (mask[i] == '-') {
                    if (!haveLast)
                        invalidMask(mask, i + 1);
                    ++i;
                    if (i >= length)
                        invalidMask(mask, length + 1);
                    // The range's upper end may be "]", and the last character stays as it was,
                    // so "[a-c-e]" is "[a-e]".
                    const unsigned char high = upper(mask[i]);
                    for (unsigned ch = last; ch <= high; ++ch) {
                        addMember(element, (unsigned char)ch);
                        empty = false;
                    }
                } else {
                    last = upper(mask[i]);
                    haveLast = true;
                    addMember(element, last);
                    empty = false;
                }
            }
            if (i >= length)
                invalidMask(mask, length + 1);
            if (empty)
                invalidMask(mask, i + 1);
            writer.write(element, i + 1);
        } else {
            TMaskElement element;
            element.Kind = mekChar;
            element.Ch = upper(c);
            writer.write(element, i + 1);
        }
    }
    TMaskElement end;
    end.Kind = mekChar;
    end.Ch = 0;
    writer.write(end, length + 1);
}

bool TMask::MatchName(std::string_view fullName) const
{
    // A zero byte ends a name.
    const std::size_t nameEnd = fullName.find('\0');
    const std::string_view name =
        nameEnd == std::string_view::npos ? fullName : fullName.substr(0, nameEnd);
    const std::size_t n = name.size();
    const auto* chars = reinterpret_cast<const unsigned char*>(name.data());
    const TMaskElement* elements = elements_.data();
    const std::size_t count = elements_.size();

    // Stars split a mask into runs of one-character tests, and each run is found at its
    // leftmost place. Should a later run fail at every place after that, moving an earlier run
    // further right cannot help it, so only the latest star ever needs a retry: one slot does
    // the work of a stack and keeps matching linear in practice.
    std::size_t retryPos = 0;
    std::size_t retryIndex = 0;
    bool haveRetry = false;

    std::size_t pos = 0;
    std::size_t index = 0;
    for (;;) {
        bool failed = false;
        for (; index < count; ++index) {
            const TMaskElement& e = elements[index];
            if (e.StarBefore) {
                if (e.Kind == mekChar) {
                    const unsigned char wanted = e.Ch;
                    if (wanted == 0) {
                        pos = n > pos ? n : pos;
                    } else {
                        while (pos < n && kUpper[chars[pos]] != wanted)
                            ++pos;
                    }
                } else if (e.Kind == mekCharSet) {
                    while (pos < n && e.isMember(kUpper[chars[pos]]) == e.Negated)
                        ++pos;
                }
                if (pos < n) {
                    retryPos = pos + 1;
                    retryIndex = index;
                    haveRetry = true;
                }
            }
            bool passed;
            switch (e.Kind) {
            case mekChar:
                passed = (pos < n ? kUpper[chars[pos]] : 0) == e.Ch;
                break;
            case mekCharSet:
                passed = pos < n && e.isMember(kUpper[chars[pos]]) != e.Negated;
                break;
            default:
                passed = pos < n;
                break;
            }
            if (!passed) {
                failed = true;
                break;
            }
            ++pos;
        }
        if (!failed)
            return true;
        if (!haveRetry)
            return false;
        pos = retryPos;
        index = retryIndex;
        haveRetry = false;
    }
}
