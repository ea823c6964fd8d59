#include "platform/CodePage.h"

#include "platform/Registry.h"

#include <iconv.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <cstddef>

namespace platform {

namespace {

// Where the system names its code pages, and the value that names the ANSI one.
constexpr const char* kCodePageKey = "System\\CurrentControlSet\\Control\\Nls\\CodePage";
constexpr const char* kAnsiValue = "ACP";

// Longer than any code page number; a longer value is not one.
constexpr DWORD kMaxValueSize = 16;

constexpr char kUnmappable = '?';
constexpr char16_t kReplacementCharacter = 0xFFFD;
constexpr unsigned kUtf8 = 65001;

// How much input each call of iconv gets. glibc finds the place of a rejected character by
// converting the call's input again up to it, so that a text full of them would take time
// growing with the square of its length if it were handed over whole.
constexpr std::size_t kWindow = 256;

struct Known {
    unsigned number;
    const char* iconvName;
};

// The ANSI code pages and the names glibc's iconv knows them by. CP932 is Microsoft's Shift-JIS,
// in which 0x5C is the backslash that separates path components, not a yen sign.
constexpr std::array<Known, 15> kKnown = {{
    {874, "CP874"},
    {932, "CP932"},
    {936, "CP936"},
    {949, "CP949"},
    {950, "CP950"},
    {1250, "CP1250"},
    {1251, "CP1251"},
    {1252, "CP1252"},
    {1253, "CP1253"},
    {1254, "CP1254"},
    {1255, "CP1255"},
    {1256, "CP1256"},
    {1257, "CP1257"},
    {1258, "CP1258"},
    {kUtf8, "UTF-8"},
}};

const char* iconvName(unsigned number)
{
    for (const Known& k : kKnown)
        if (k.number == number)
            return k.iconvName;
    return nullptr;
}

// How many bytes of a text, from a position, one unconvertible character covers.
using SkipLength = std::size_t (*)(std::string_view text, std::size_t pos);

std::size_t oneByte(std::string_view, std::size_t)
{
    return 1;
}

bool isContinuation(unsigned char c)
{
    return (c & 0xC0) == 0x80;
}

// How many bytes the UTF-8 sequence at pos spans by its shape: the lead byte's length when the
// continuation bytes it announces follow, else 1. Its value is not checked; the converter does
// that, and either way the whole sequence becomes one "?".
std::size_t utf8SequenceLength(std::string_view text, std::size_t pos)
{
    const auto lead = static_cast<unsigned char>(text[pos]);
    std::size_t length = 1;
    if (lead >= 0xC2 && lead <= 0xDF)
        length = 2;
    else if (lead >= 0xE0 && lead <= 0xEF)
        length = 3;
    else if (lead >= 0xF0 && lead <= 0xF4)
        length = 4;
    if (pos + length > text.size())
        return 1;
    for (std::size_t i = 1; i < length; ++i)
        if (!isContinuation(static_cast<unsigned char>(text[pos + i])))
            return 1;
    return length;
}

// The code pages in which bytes from 0x80 up lead two-byte characters, whose second byte may be
// any byte from 0x40 up, ASCII letters and the backslash included.
bool isDoubleByte(unsigned number)
{
    return number == 932 || number == 936 || number == 949 || number == 950;
}

// A conversion descriptor of glibc's iconv, closed with the object. Each conversion opens its
// own, so that conversions on several threads never share state.
class Converter {
public:
    Converter(const char* to, const char* from) : cd_(::iconv_open(to, from)) {}
    ~Converter()
    {
        if (ok())
            ::iconv_close(cd_);
    }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;

    bool ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }

    // Converts all of input. A sequence the conversion rejects, because it is malformed or has
    // no place in the target, becomes one "?" and is passed over by skipLength(input, position)
    // bytes; an incomplete sequence at the end becomes one "?".
    std::string run(std::string_view input, SkipLength skipLength)
    {
        std::string out(input.size() * 2 + 16, '\0');
        std::size_t used = 0;
        std::size_t pos = 0;
        for (;;) {
            char* outPtr = out.data() + used;
            std::size_t outLeft = out.size() - used;
            // With the input used up, a last call writes what a converter may still hold back
            // (a Vietnamese letter waiting for its tone mark).
            const bool flushing = pos == input.size();
            std::size_t rc = 0;
            std::size_t windowLeft = 0;
            if (flushing) {
                rc = ::iconv(cd_, nullptr, nullptr, &outPtr, &outLeft);
            } else {
                // iconv does not change its input; its interface merely lacks the const.
                char* in = const_cast<char*>(input.data() + pos);
                const std::size_t window = std::min(input.size() - pos, kWindow);
                windowLeft = window;
                rc = ::iconv(cd_, &in, &windowLeft, &outPtr, &outLeft);
                pos += window - windowLeft;
            }
            const int error = errno;
            used = std::size_t(outPtr - out.data());
            if (rc != std::size_t(-1)) {
                if (flushing)
                    break;
                continue;
            }
            if (error == E2BIG) {
                out.resize(out.size() * 2);
                continue;
            }
            if (flushing || (error != EILSEQ && error != EINVAL))
                break;
            // A sequence cut by the window's end is whole in the next window.
            const std::size_t rest = input.size() - pos;
            const bool cut = windowLeft < rest;
            if (error == EINVAL && cut && windowLeft < kWindow)
                continue;
            const std::size_t skip = error == EINVAL && !cut
                                         ? rest
                                         : std::clamp<std::size_t>(skipLength(input, pos), 1, rest);
            if (used == out.size())
                out.resize(out.size() * 2);
            out[used++] = kUnmappable;
            pos += skip;
        }
        out.resize(used);
        return out;
    }

private:
    iconv_t cd_;
};

// The conversion to use when iconv cannot serve the code page (its modules missing from the
// system): ASCII stays and every other character becomes "?", which keeps at least the
// ASCII parts of a text right.
std::string asciiOnly(std::string_view text, SkipLength skipLength)
{
    std::string out;
    out.reserve(text.size());
    for (std::size_t pos = 0; pos < text.size();) {
        if (static_cast<unsigned char>(text[pos]) < 0x80) {
            out += text[pos++];
            continue;
        }
        out += kUnmappable;
        pos += std::max<std::size_t>(skipLength(text, pos), 1);
    }
    return out;
}

unsigned parseNumber(std::string_view text)
{
    unsigned number = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), number);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size())
        return 0;
    return number;
}

} // namespace

std::size_t validUtf8Length(std::string_view text, std::size_t pos)
{
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[pos + i]); };
    const unsigned char lead = byte(0);
    if (lead < 0x80)
        return 1;
    std::size_t length = 0;
    unsigned char low = 0x80; // the range of the second byte
    unsigned char high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0)
            low = 0xA0;
        else if (lead == 0xED)
            high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0)
            low = 0x90;
        else if (lead == 0xF4)
            high = 0x8F;
    } else {
        return 0;
    }
    if (pos + length > text.size() || byte(1) < low || byte(1) > high)
        return 0;
    for (std::size_t i = 2; i < length; ++i)
        if (!isContinuation(byte(i)))
            return 0;
    return length;
}

void appendUtf16(std::u16string& out, std::string_view utf8)
{
    for (std::size_t pos = 0; pos < utf8.size();) {
        const std::size_t length = validUtf8Length(utf8, pos);
        if (length == 0) {
            out.push_back(kReplacementCharacter);
            ++pos;
            continue;
        }
        const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(utf8[pos + i]); };
        // The lead byte's own bits, then six from each continuation byte.
        char32_t codePoint = length == 1 ? byte(0) : byte(0) & (0x7F >> length);
        for (std::size_t i = 1; i < length; ++i)
            codePoint = (codePoint << 6) | (byte(i) & 0x3F);
        if (codePoint < 0x10000) {
            out.push_back(char16_t(codePoint));
        } else {
            codePoint -= 0x10000;
            out.push_back(char16_t(0xD800 + (codePoint >> 10)));
            out.push_back(char16_t(0xDC00 + (codePoint & 0x3FF)));
        }
        pos += length;
    }
}

void appendUtf8(std::string& out, std::u16string_view utf16)
{
    for (std::size_t i = 0; i < utf16.size(); ++i) {
        char32_t codePoint = utf16[i];
        const bool high = codePoint >= 0xD800 && codePoint <= 0xDBFF;
        if (high && i + 1 < utf16.size() && utf16[i + 1] >= 0xDC00 && utf16[i + 1] <= 0xDFFF) {
            codePoint = 0x10000 + ((codePoint - 0xD800) << 10) + (utf16[++i] - 0xDC00);
        } else if (codePoint >= 0xD800 && codePoint <= 0xDFFF) {
            codePoint = kReplacementCharacter;
        }
        // The lead byte carries the count of continuation bytes that follow, six bits each.
        const int continuation =
            codePoint < 0x80 ? 0 : codePoint < 0x800 ? 1 : codePoint < 0x10000 ? 2 : 3;
        constexpr unsigned char kLeadMarks[] = {0x00, 0xC0, 0xE0, 0xF0};
        out.push_back(char(kLeadMarks[continuation] | (codePoint >> (6 * continuation))));
        for (int rest = continuation - 1; rest >= 0; --rest)
            out.push_back(char(0x80 | ((codePoint >> (6 * rest)) & 0x3F)));
    }
}

std::string toLittleEndian(std::u16string_view units)
{
    std::string bytes;
    bytes.reserve(units.size() * 2);
    for (char16_t unit : units) {
        bytes.push_back(char(unit & 0xFF));
        bytes.push_back(char(unit >> 8));
    }
    return bytes;
}

std::u16string fromLittleEndian(std::string_view bytes)
{
    std::u16string units;
    units.reserve(bytes.size() / 2);
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2)
        units.push_back(char16_t(static_cast<unsigned char>(bytes[i]) |
                                 (static_cast<unsigned char>(bytes[i + 1]) << 8)));
    return units;
}

std::string utf8ToUtf16le(std::string_view utf8)
{
    std::u16string units;
    units.reserve(utf8.size());
    appendUtf16(units, utf8);
    return toLittleEndian(units);
}

std::string utf16leToUtf8(std::string_view utf16le)
{
    std::string out;
    out.reserve(utf16le.size() / 2);
    appendUtf8(out, fromLittleEndian(utf16le));
    return out;
}

CodePage::CodePage(unsigned number) : number_(isSupported(number) ? number : kWestern) {}

bool CodePage::isSupported(unsigned number)
{
    return iconvName(number) != nullptr;
}

CodePage CodePage::systemAnsi()
{
    HKEY key = 0;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kCodePageKey, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return CodePage(kWestern);
    DWORD type = REG_NONE;
    std::array<BYTE, kMaxValueSize> data{};
    DWORD size = DWORD(data.size());
    const LONG rc = RegQueryValueExA(key, kAnsiValue, nullptr, &type, data.data(), &size);
    RegCloseKey(key);
    if (rc != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ))
        return CodePage(kWestern);
    std::string_view text(reinterpret_cast<const char*>(data.data()), size);
    text = text.substr(0, text.find('\0'));
    return CodePage(parseNumber(text));
}

std::string CodePage::encode(std::string_view utf8) const
{
    Converter converter(iconvName(number_), "UTF-8");
    if (!converter.ok())
        return asciiOnly(utf8, utf8SequenceLength);
    return converter.run(utf8, utf8SequenceLength);
}

std::string CodePage::decode(std::string_view bytes) const
{
    // A byte the code page does not define becomes "?"; the next byte starts afresh, so that
    // a lead byte without its trail byte does not swallow the ASCII character after it.
    const SkipLength skipLength = number_ == kUtf8 ? utf8SequenceLength : oneByte;
    Converter converter("UTF-8", iconvName(number_));
    if (!converter.ok())
        return asciiOnly(bytes, skipLength);
    return converter.run(bytes, skipLength);
}

std::string CodePage::decodeUtf8OrPage(std::string_view bytes) const
{
    std::string out;
    out.reserve(bytes.size());
    for (std::size_t pos = 0; pos < bytes.size();) {
        if (const std::size_t length = validUtf8Length(bytes, pos)) {
            out.append(bytes.substr(pos, length));
            pos += length;
            continue;
        }
        // The stretch up to the next valid UTF-8 character. In a double-byte code page the byte
        // after a lead byte belongs to its character even where it would read as UTF-8.
        const std::size_t start = pos;
        while (pos < bytes.size() && validUtf8Length(bytes, pos) == 0)
            pos += isDoubleByte(number_) && pos + 1 < bytes.size() ? 2 : 1;
        out += decode(bytes.substr(start, pos - start));
    }
    return out;
}

} // namespace platform
