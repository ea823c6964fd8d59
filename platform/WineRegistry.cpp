#include "platform/WineRegistry.h"

#include "platform/Prefault.h"

#include <QString>

#include <algorithm>
#include <bit>
#include <cstring>

namespace platform {

namespace {

constexpr std::uint32_t kRegSz = 1;
constexpr std::uint32_t kRegExpandSz = 2;
constexpr std::uint32_t kRegBinary = 3;
constexpr std::uint32_t kRegDword = 4;
constexpr std::uint32_t kRegMultiSz = 7;

// The meta line that holds a key's last change as a FILETIME (100 ns units since 1601).
constexpr std::string_view kTimeLine = "#time=";
// Seconds from 1601 to 1970, and FILETIME units per second.
constexpr std::int64_t kSecondsFrom1601To1970 = 11644473600;
constexpr std::int64_t kFileTimeUnitsPerSecond = 10000000;

// The fewest bytes per section that parsing reserves memory for at once.
constexpr std::size_t kBytesPerSectionReserved = 64;

// Wine wraps long byte lists so that no line grows much beyond this.
constexpr std::size_t kHexLineWidth = 76;

// The deepest key path and the longest key name (in UTF-16 units) that Windows accepts.
constexpr std::size_t kMaxKeyDepth = 512;
constexpr std::size_t kMaxKeyNameLength = 255;

// The hash of a key name under its parent in the tree of key names.
std::size_t childHash(std::uint32_t parent, std::string_view foldedName)
{
    return std::hash<std::string_view>{}(foldedName) ^ (std::size_t(parent) * 0x9E3779B97F4A7C15u);
}

bool isBlank(char c)
{
    return c == ' ' || c == '\t';
}

std::string_view stripCarriageReturn(std::string_view line)
{
    if (!line.empty() && line.back() == '\r')
        line.remove_suffix(1);
    return line;
}

std::string_view trimLeft(std::string_view s)
{
    while (!s.empty() && isBlank(s.front()))
        s.remove_prefix(1);
    return s;
}

std::string_view trimRight(std::string_view s)
{
    while (!s.empty() && (isBlank(s.back()) || s.back() == '\r'))
        s.remove_suffix(1);
    return s;
}

int hexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

std::u16string toUnits(std::string_view utf8)
{
    std::u16string units;
    appendUtf16(units, utf8);
    return units;
}

std::string fromUnits(std::u16string_view units)
{
    std::string out;
    appendUtf8(out, units);
    return out;
}

// Reads an escaped text that starts at pos and ends at an unescaped terminator, which is
// consumed. False when the line ends first.
bool readEscaped(std::string_view s, std::size_t& pos, char terminator, std::u16string& out)
{
    while (pos < s.size()) {
        const char c = s[pos];
        if (c == terminator) {
            ++pos;
            return true;
        }
        if (c != '\\') {
            // A run of plain text converts at once: neither the terminator nor "\" is ever
            // part of a longer UTF-8 sequence.
            std::size_t end = pos;
            while (end < s.size() && s[end] != terminator && s[end] != '\\')
                ++end;
            appendUtf16(out, s.substr(pos, end - pos));
            pos = end;
            continue;
        }
        if (++pos >= s.size())
            return false;
        const char e = s[pos++];
        switch (e) {
        case 'n':
            out.push_back(u'\n');
            break;
        case 'r':
            out.push_back(u'\r');
            break;
        case 't':
            out.push_back(u'\t');
            break;
        case 'a':
            out.push_back(u'\a');
            break;
        case 'b':
            out.push_back(u'\b');
            break;
        case 'e':
            out.push_back(char16_t(27));
            break;
        case 'f':
            out.push_back(u'\f');
            break;
        case 'v':
            out.push_back(u'\v');
            break;
        case 'x': {
            // A UTF-16 code unit of up to four hexadecimal digits.
            unsigned unit = 0;
            int digits = 0;
            while (digits < 4 && pos < s.size() && hexDigit(s[pos]) >= 0)
                unit = unit * 16 + unsigned(hexDigit(s[pos++])), ++digits;
            out.push_back(digits ? char16_t(unit) : u'x');
            break;
        }
        default:
            if (e >= '0' && e <= '7') {
                unsigned unit = unsigned(e - '0');
                for (int digits = 1; digits < 3 && pos < s.size() && s[pos] >= '0' && s[pos] <= '7';
                     ++digits)
                    unit = unit * 8 + unsigned(s[pos++] - '0');
                out.push_back(char16_t(unit));
            } else {
                // Any other escaped character stands for itself.
                const std::size_t length = std::max<std::size_t>(validUtf8Length(s, pos - 1), 1);
                appendUtf16(out, s.substr(pos - 1, length));
                pos += length - 1;
            }
        }
    }
    return false;
}

constexpr char kHexDigits[] = "0123456789abcdef";

// Lower-case hexadecimal with at least minDigits digits.
std::string hexNumber(std::uint32_t value, int minDigits)
{
    std::string digits;
    for (int shift = 28; shift >= 0; shift -= 4)
        if (const unsigned d = (value >> shift) & 0xF;
            d || !digits.empty() || shift < 4 * minDigits)
            digits.push_back(kHexDigits[d]);
    return digits;
}

void appendHex4(std::string& out, unsigned unit)
{
    out += "\\x";
    out += hexNumber(unit, 4);
}

// Writes units so that readEscaped gives them back. Only printable ASCII is written as it is;
// every other unit becomes a four-digit \x escape, which no following character can extend.
void appendEscaped(std::string& out, std::u16string_view units, bool inKeyPath)
{
    for (char16_t u : units) {
        if (u == u'\\')
            out += "\\\\";
        else if (u == u'"')
            out += "\\\"";
        else if (u == u'\n')
            out += "\\n";
        else if (inKeyPath && (u == u'[' || u == u']'))
            appendHex4(out, u);
        else if (u >= 0x20 && u < 0x7F)
            out.push_back(char(u));
        else
            appendHex4(out, u);
    }
}

// Reads a kind number in parentheses, "(2):", at pos.
bool readKind(std::string_view s, std::size_t& pos, std::uint32_t& kind)
{
    if (pos >= s.size() || s[pos] != '(')
        return false;
    ++pos;
    int digits = 0;
    std::uint32_t value = 0;
    while (pos < s.size() && hexDigit(s[pos]) >= 0) {
        if (++digits > 8)
            return false;
        value = value * 16 + std::uint32_t(hexDigit(s[pos++]));
    }
    if (digits == 0 || s.substr(pos, 2) != "):")
        return false;
    pos += 2;
    kind = value;
    return true;
}

// Reads "01,02,ff": bytes of one or two hexadecimal digits separated by commas, blanks around
// them allowed, a trailing comma tolerated.
bool readHexList(std::string_view s, std::string& bytes)
{
    s = trimRight(trimLeft(s));
    if (s.empty())
        return true;
    bytes.reserve(s.size() / 3 + 1);
    std::size_t pos = 0;
    while (true) {
        while (pos < s.size() && isBlank(s[pos]))
            ++pos;
        if (pos == s.size())
            return !bytes.empty(); // a comma at the very end
        int value = 0;
        int digits = 0;
        while (pos < s.size() && hexDigit(s[pos]) >= 0) {
            if (++digits > 2)
                return false;
            value = value * 16 + hexDigit(s[pos++]);
        }
        if (digits == 0)
            return false;
        bytes.push_back(char(value));
        while (pos < s.size() && isBlank(s[pos]))
            ++pos;
        if (pos == s.size())
            return true;
        if (s[pos++] != ',')
            return false;
    }
}

bool onlyBlanksFrom(std::string_view s, std::size_t pos)
{
    return trimRight(s.substr(std::min(pos, s.size()))).empty();
}

// Reads a quoted string at pos as a string value of the given kind: its UTF-16LE text
// followed by a NUL.
bool readStringData(std::string_view s, std::size_t pos, std::uint32_t kind, WineRegValue& value)
{
    if (pos >= s.size() || s[pos] != '"')
        return false;
    ++pos;
    std::u16string text;
    if (!readEscaped(s, pos, '"', text) || !onlyBlanksFrom(s, pos))
        return false;
    text.push_back(u'\0');
    value.type = kind;
    value.data = toLittleEndian(text);
    return true;
}

// Reads one value line, e.g. "name"=dword:0000002a. Continuations are already joined.
bool parseValueLine(std::string_view s, WineRegValue& value)
{
    std::size_t pos = 0;
    if (s.empty())
        return false;
    if (s[0] == '@') {
        pos = 1;
        value.name.clear();
    } else if (s[0] == '"') {
        pos = 1;
        std::u16string name;
        if (!readEscaped(s, pos, '"', name))
            return false;
        value.name = fromUnits(name);
    } else {
        return false;
    }
    while (pos < s.size() && isBlank(s[pos]))
        ++pos;
    if (pos >= s.size() || s[pos] != '=')
        return false;
    ++pos;
    while (pos < s.size() && isBlank(s[pos]))
        ++pos;
    const std::string_view data = s.substr(pos);

    if (data.starts_with('"'))
        return readStringData(data, 0, kRegSz, value);
    if (data.starts_with("str")) {
        std::size_t at = 3;
        std::uint32_t kind = 0;
        return readKind(data, at, kind) && readStringData(data, at, kind, value);
    }
    if (data.starts_with("dword:")) {
        std::size_t at = 6;
        std::uint32_t number = 0;
        int digits = 0;
        while (at < data.size() && hexDigit(data[at]) >= 0) {
            if (++digits > 8)
                return false;
            number = number * 16 + std::uint32_t(hexDigit(data[at++]));
        }
        if (digits == 0 || !onlyBlanksFrom(data, at))
            return false;
        value.type = kRegDword;
        value.data.clear();
        for (int i = 0; i < 4; ++i)
            value.data.push_back(char((number >> (8 * i)) & 0xFF));
        return true;
    }
    if (data.starts_with("hex")) {
        std::size_t at = 3;
        std::uint32_t kind = kRegBinary;
        if (data.substr(at, 1) == ":")
            ++at;
        else if (!readKind(data, at, kind))
            return false;
        value.type = kind;
        value.data.clear();
        return readHexList(data.substr(at), value.data);
    }
    return false;
}

// Reads a section header "[Key\\Sub] 1700000000" into its decoded path. A key deeper than
// Windows allows, or with a longer name, is taken for damaged: it is kept as bytes and never
// looked at again, so that a hostile file cannot make reading it cost more than its size.
bool parseSectionHeader(std::string_view s, std::string& path)
{
    std::size_t pos = 1;
    std::u16string units;
    if (!readEscaped(s, pos, ']', units))
        return false;
    std::size_t depth = 0;
    for (std::size_t start = 0; start < units.size();) {
        std::size_t end = units.find(u'\\', start);
        if (end == std::u16string::npos)
            end = units.size();
        if (end - start > kMaxKeyNameLength || ++depth > kMaxKeyDepth)
            return false;
        start = end + 1;
    }
    path = fromUnits(units);
    if (path.empty())
        return true;
    // Key names are never empty: "a\\\\b" or a path ending in "\\" is damaged.
    std::size_t start = 0;
    while (true) {
        const std::size_t end = path.find('\\', start);
        if (end == start || (end == std::string::npos && start == path.size()))
            return false;
        if (end == std::string::npos)
            return true;
        start = end + 1;
    }
}

// The folded key path of a section header in the form Wine writes them: printable ASCII
// whose only escape is the doubled "\\" between names, every name within the limits. Any
// other header, valid or not, gives false and is left to parseSectionHeader(); this one
// only spares the common case the decoding into UTF-16 and back.
bool readPlainSectionHeader(std::string_view s, std::string& folded)
{
    const std::size_t close = s.find(']', 1);
    if (close == std::string_view::npos)
        return false;
    folded.resize(close - 1);
    // Through plain pointers, which the compiler keeps in registers.
    char* out = folded.data();
    const char* in = s.data() + 1;
    const char* const end = s.data() + close;
    const char* name = in;
    std::size_t depth = 1;
    const auto nameFits = [&] { return in > name && std::size_t(in - name) <= kMaxKeyNameLength; };
    while (in < end) {
        const auto c = static_cast<unsigned char>(*in);
        if (c == '\\') {
            if (!nameFits() || in + 1 == end || in[1] != '\\' || ++depth > kMaxKeyDepth)
                return false;
            *out++ = '\\';
            in += 2;
            name = in;
            continue;
        }
        if (c < 0x20 || c > 0x7E)
            return false;
        *out++ = char(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
        ++in;
    }
    if (!nameFits())
        return false;
    folded.resize(std::size_t(out - folded.data()));
    return true;
}

std::string renderKeyPath(std::string_view normalized)
{
    std::string out;
    std::size_t start = 0;
    while (start <= normalized.size()) {
        std::size_t end = normalized.find('\\', start);
        if (end == std::string_view::npos)
            end = normalized.size();
        if (start > 0)
            out += "\\\\";
        appendEscaped(out, toUnits(normalized.substr(start, end - start)), true);
        start = end + 1;
    }
    return out;
}

std::string renderValue(const WineRegValue& value)
{
    std::string out;
    if (value.name.empty()) {
        out = "@";
    } else {
        out = "\"";
        appendEscaped(out, toUnits(value.name), false);
        out += "\"";
    }
    out += "=";

    const std::string& data = value.data;
    const bool stringKind =
        value.type == kRegSz || value.type == kRegExpandSz || value.type == kRegMultiSz;
    if (stringKind && data.size() >= 2 && data.size() % 2 == 0 && data[data.size() - 1] == 0 &&
        data[data.size() - 2] == 0) {
        if (value.type != kRegSz)
            out += "str(" + hexNumber(value.type, 1) + "):";
        out += "\"";
        const std::u16string units = fromLittleEndian(data);
        appendEscaped(out, std::u16string_view(units).substr(0, units.size() - 1), false);
        out += "\"";
        return out;
    }
    if (value.type == kRegDword && data.size() == 4) {
        std::uint32_t number = 0;
        for (int i = 3; i >= 0; --i)
            number = (number << 8) | static_cast<unsigned char>(data[std::size_t(i)]);
        out += "dword:" + hexNumber(number, 8);
        return out;
    }
    out += value.type == kRegBinary ? "hex:" : "hex(" + hexNumber(value.type, 1) + "):";
    std::size_t lineLength = out.size();
    for (std::size_t i = 0; i < data.size(); ++i) {
        const auto byte = static_cast<unsigned char>(data[i]);
        out.push_back(kHexDigits[byte >> 4]);
        out.push_back(kHexDigits[byte & 0xF]);
        lineLength += 2;
        if (i + 1 < data.size()) {
            out.push_back(',');
            if (++lineLength > kHexLineWidth) {
                out += "\\\n  ";
                lineLength = 2;
            }
        }
    }
    return out;
}

} // namespace

std::string foldRegistryName(std::string_view name)
{
    const bool ascii =
        std::all_of(name.begin(), name.end(), [](char c) { return (c & 0x80) == 0; });
    if (ascii) {
        std::string out(name);
        for (char& c : out)
            if (c >= 'A' && c <= 'Z')
                c = char(c - 'A' + 'a');
        return out;
    }
    return QString::fromUtf8(name.data(), qsizetype(name.size())).toCaseFolded().toStdString();
}

std::string normalizeKeyPath(std::string_view path)
{
    std::string out;
    out.reserve(path.size());
    std::size_t start = 0;
    while (start < path.size()) {
        std::size_t end = path.find('\\', start);
        if (end == std::string_view::npos)
            end = path.size();
        if (end > start) {
            if (!out.empty())
                out.push_back('\\');
            out.append(path.substr(start, end - start));
        }
        start = end + 1;
    }
    return out;
}

WineRegistry WineRegistry::parse(std::string bytes)
{
    WineRegistry reg;
    if (bytes.empty())
        return reg;
    std::size_t firstEnd = bytes.find('\n');
    if (firstEnd == std::string::npos)
        firstEnd = bytes.size();
    if (stripCarriageReturn(std::string_view(bytes).substr(0, firstEnd)) != kHeader) {
        reg.recognized_ = false;
        return reg;
    }
    reg.finalNewline_ = bytes.back() == '\n';
    reg.source_ = std::move(bytes);
    reg.preamble_.push_back({0, firstEnd});

    // One pass over the lines that reads only what a line's first and last characters tell:
    // where sections begin, and which lines continue a value, so that a "#time=" line is
    // told from a value's continued bytes.
    const std::string_view source = reg.source_;
    // Every section header holds a "[", so their count bounds the sections, and, in the files
    // Wine writes (which name every key), nearly the key names. The arrays are made that size
    // at once, so that they are not copied as they grow, and their pages are mapped in one
    // call rather than faulted in one by one as they fill. A file of little else than "["
    // gets room for one section every 64 bytes, and its arrays grow from there.
    std::size_t brackets = 1;
    for (const char* at = source.data(), *const end = at + source.size();
         (at = static_cast<const char*>(std::memchr(at, '[', std::size_t(end - at)))); ++at)
        ++brackets;
    brackets = std::min(brackets, source.size() / kBytesPerSectionReserved + 1);
    reg.sections_.reserve(brackets);
    reg.nodes_.reserve(brackets + 1);
    prefaultPages(reg.sections_.data(), brackets * sizeof(Section));
    prefaultPages(reg.nodes_.data(), (brackets + 1) * sizeof(KeyNode));
    // The table of key names at its final size, at most half full, instead of rebuilt as it
    // doubles.
    reg.slots_.assign(std::bit_ceil(std::max<std::size_t>(64, (brackets + 1) * 2)), 0);
    IndexTrail trail;
    std::string folded;
    bool inSection = false;
    bool continuing = false; // the line before was part of a value and ended in "\"
    for (std::size_t begin = firstEnd + 1; begin < source.size();) {
        const char* newline = static_cast<const char*>(
            std::memchr(source.data() + begin, '\n', source.size() - begin));
        const std::size_t end = newline ? std::size_t(newline - source.data()) : source.size();
        const std::string_view line = trimLeft(source.substr(begin, end - begin));
        const std::size_t next = end + 1;
        if (line.starts_with('[')) {
            // A section header never continues a value, so that a cut-off line cannot hide
            // the next key.
            if (inSection)
                reg.sections_.back().bodyEnd = begin;
            Section& section = reg.sections_.emplace_back();
            section.header = {begin, end};
            section.bodyBegin = section.bodyEnd = std::min(next, source.size());
            const std::string_view text = stripCarriageReturn(line);
            if (!readPlainSectionHeader(text, folded)) {
                std::string path;
                section.damaged = !parseSectionHeader(text, path);
                if (!section.damaged)
                    folded = foldRegistryName(path);
            }
            if (!section.damaged)
                reg.index(reg.sections_.size() - 1, folded, &trail);
            inSection = true;
            continuing = false;
        } else if (!inSection) {
            reg.preamble_.push_back({begin, end});
        } else if (continuing || line.starts_with('"') || line.starts_with('@')) {
            continuing = trimRight(line).ends_with('\\');
        } else if (line.starts_with(kTimeLine)) {
            reg.timeLines_ = true;
        }
        begin = next;
    }
    if (inSection)
        reg.sections_.back().bodyEnd = source.size();
    return reg;
}

std::string_view WineRegistry::view(const Text& text) const
{
    return text.owned() ? std::string_view(*text.own)
                      : std::string_view(source_).substr(text.begin, text.end - text.begin);
}

void WineRegistry::split(Section& section) const
{
    if (section.split)
        return;
    section.split = true;
    const std::string_view source = source_;
    const std::size_t bodyEnd = section.bodyEnd;
    const auto lineEnd = [&](std::size_t begin) {
        const std::size_t end = source.find('\n', begin);
        return end == std::string_view::npos || end > bodyEnd ? bodyEnd : end;
    };
    for (std::size_t begin = section.bodyBegin; begin < bodyEnd;) {
        Entry entry;
        entry.raw = {begin, lineEnd(begin)};
        const std::string_view line = trimLeft(view(entry.raw));
        if (line.starts_with('"') || line.starts_with('@')) {
            // A trailing "\" continues the value on the next line.
            while (trimRight(view(Text{begin, entry.raw.end})).ends_with('\\') &&
                   entry.raw.end + 1 < bodyEnd) {
                begin = entry.raw.end + 1;
                entry.raw.end = lineEnd(begin);
            }
        }
        begin = entry.raw.end + 1;
        section.entries.push_back(std::move(entry));
    }
}

void WineRegistry::decode(Section& section) const
{
    if (section.decoded)
        return;
    split(section);
    section.decoded = true;
    if (section.damaged)
        return;
    for (Entry& entry : section.entries) {
        if (entry.dirty || entry.raw.owned())
            continue;
        const std::string_view raw = view(entry.raw);
        if (!trimLeft(raw).starts_with('"') && !trimLeft(raw).starts_with('@'))
            continue;
        // Join the continued lines: each but the last ends in "\", which is dropped, and the
        // blanks that indent the next line go too.
        std::string logical;
        bool continued = false;
        for (std::size_t pos = 0; pos <= raw.size();) {
            std::size_t end = raw.find('\n', pos);
            if (end == std::string_view::npos)
                end = raw.size();
            if (continued)
                logical.pop_back();
            const std::string_view piece = trimRight(trimLeft(raw.substr(pos, end - pos)));
            logical += piece;
            continued = piece.ends_with('\\');
            pos = end + 1;
        }
        if (continued)
            logical.pop_back();
        entry.isValue = parseValueLine(logical, entry.value);
        if (entry.isValue)
            entry.foldedName = foldRegistryName(entry.value.name);
    }
}

std::string_view WineRegistry::nameOf(const KeyNode& node) const
{
    return std::string_view(names_).substr(node.nameBegin, node.nameLength);
}

std::uint32_t WineRegistry::findChild(std::uint32_t parent, std::string_view name,
                                      std::size_t hash) const
{
    if (slots_.empty())
        return kNoNode;
    const std::size_t mask = slots_.size() - 1;
    for (std::size_t slot = hash & mask;; slot = (slot + 1) & mask) {
        const std::uint32_t node = slots_[slot];
        if (node == 0)
            return kNoNode;
        const KeyNode& candidate = nodes_[node];
        if (candidate.hash == std::uint32_t(hash) && candidate.parent == parent &&
            nameOf(candidate) == name)
            return node;
    }
}

void WineRegistry::placeNode(std::uint32_t node)
{
    const std::size_t mask = slots_.size() - 1;
    std::size_t slot = nodes_[node].hash & mask;
    while (slots_[slot] != 0)
        slot = (slot + 1) & mask;
    slots_[slot] = node;
}

std::uint32_t WineRegistry::addChild(std::uint32_t parent, std::string_view name)
{
    const std::size_t hash = childHash(parent, name);
    if (const std::uint32_t found = findChild(parent, name, hash); found != kNoNode)
        return found;
    // At most half the slots are taken, so that a search ends soon at a free one.
    if (nodes_.size() * 2 >= slots_.size()) {
        slots_.assign(std::max<std::size_t>(64, slots_.size() * 2), 0);
        for (std::uint32_t node = 1; node < nodes_.size(); ++node)
            placeNode(node);
    }
    KeyNode node;
    node.parent = parent;
    node.nameBegin = names_.size();
    node.nameLength = std::uint32_t(name.size());
    node.hash = std::uint32_t(hash);
    names_ += name;
    nodes_.push_back(node);
    placeNode(std::uint32_t(nodes_.size() - 1));
    return std::uint32_t(nodes_.size() - 1);
}

std::uint32_t WineRegistry::findKey(std::string_view path) const
{
    const std::string folded = foldRegistryName(normalizeKeyPath(path));
    std::uint32_t node = 0;
    for (std::size_t start = 0; start < folded.size() && node != kNoNode;) {
        std::size_t end = folded.find('\\', start);
        if (end == std::string::npos)
            end = folded.size();
        const std::string_view name = std::string_view(folded).substr(start, end - start);
        node = findChild(node, name, childHash(node, name));
        start = end + 1;
    }
    return node;
}

void WineRegistry::index(std::size_t section, std::string_view folded, IndexTrail* trail)
{
    // The key and its ancestors join the tree of names. The names it shares with the key
    // indexed before it are already there.
    std::size_t start = 0;
    std::size_t component = 0;
    std::uint32_t node = 0;
    if (trail) {
        while (component < trail->nodes.size()) {
            std::size_t end = folded.find('\\', start);
            if (end == std::string_view::npos)
                end = folded.size();
            const std::string_view name = folded.substr(start, end - start);
            const std::size_t after = start + name.size();
            if (trail->folded.compare(start, name.size(), name) != 0 ||
                (after != trail->folded.size() && trail->folded[after] != '\\'))
                break;
            node = trail->nodes[component++];
            start = end + 1;
            if (end == folded.size())
                break;
        }
        trail->nodes.resize(component);
    }
    while (start < folded.size()) {
        std::size_t end = folded.find('\\', start);
        if (end == std::string::npos)
            end = folded.size();
        node = addChild(node, folded.substr(start, end - start));
        if (trail)
            trail->nodes.push_back(node);
        start = end + 1;
    }
    if (trail)
        trail->folded.assign(folded);
    sections_[section].previous = nodes_[node].lastSection;
    nodes_[node].lastSection = std::uint32_t(section);
}

std::vector<std::size_t> WineRegistry::sectionsOf(std::string_view path) const
{
    std::vector<std::size_t> sections;
    const std::uint32_t node = findKey(path);
    if (node == kNoNode)
        return sections;
    for (std::uint32_t s = nodes_[node].lastSection; s != kNoSection; s = sections_[s].previous)
        sections.push_back(s);
    std::reverse(sections.begin(), sections.end());
    return sections;
}

bool WineRegistry::keyExists(std::string_view path) const
{
    return findKey(path) != kNoNode;
}

const WineRegistry::Entry* WineRegistry::findEntry(std::string_view keyPath,
                                                   std::string_view name) const
{
    const std::string foldedName = foldRegistryName(name);
    const std::vector<std::size_t> sections = sectionsOf(keyPath);
    for (auto s = sections.rbegin(); s != sections.rend(); ++s) {
        Section& section = sections_[*s];
        decode(section);
        for (auto e = section.entries.rbegin(); e != section.entries.rend(); ++e)
            if (e->isValue && e->foldedName == foldedName)
                return &*e;
    }
    return nullptr;
}

bool WineRegistry::deleteValue(std::string_view keyPath, std::string_view name)
{
    const std::string foldedName = foldRegistryName(name);
    bool found = false;
    for (std::size_t s : sectionsOf(keyPath)) {
        Section& section = sections_[s];
        decode(section);
        const auto erased = std::erase_if(section.entries, [&](const Entry& e) {
            return e.isValue && e.foldedName == foldedName;
        });
        found = found || erased > 0;
    }
    changed_ = changed_ || found;
    return found;
}

const WineRegValue* WineRegistry::findValue(std::string_view keyPath, std::string_view name) const
{
    const Entry* entry = findEntry(keyPath, name);
    return entry ? &entry->value : nullptr;
}

std::vector<WineRegValue> WineRegistry::values(std::string_view keyPath) const
{
    std::vector<WineRegValue> result;
    std::unordered_map<std::string, std::size_t> positions;
    for (std::size_t s : sectionsOf(keyPath)) {
        decode(sections_[s]);
        for (const Entry& e : sections_[s].entries) {
            if (!e.isValue)
                continue;
            const auto [it, added] = positions.emplace(e.foldedName, result.size());
            if (added)
                result.push_back(e.value);
            else
                result[it->second] = e.value;
        }
    }
    return result;
}

std::vector<std::string> WineRegistry::keyPaths() const
{
    std::vector<std::string> paths;
    for (const Section& s : sections_) {
        std::string path;
        if (!s.damaged && parseSectionHeader(stripCarriageReturn(trimLeft(view(s.header))), path))
            paths.push_back(std::move(path));
    }
    return paths;
}

void WineRegistry::ensureHeader()
{
    if (!preamble_.empty() || !sections_.empty())
        return;
    preamble_.push_back(Text::made(std::string(kHeader)));
    for (const std::string& line : freshPreamble_)
        preamble_.push_back(Text::made(line));
    recognized_ = true;
    finalNewline_ = true;
}

bool WineRegistry::createKey(std::string_view path, std::int64_t now)
{
    if (keyExists(path))
        return false;
    addSection(path, now);
    return true;
}

void WineRegistry::addSection(std::string_view path, std::int64_t now)
{
    ensureHeader();
    if (!sections_.empty())
        split(sections_.back());
    // Sections are separated by a blank line, as Wine writes them.
    bool blankBefore;
    if (sections_.empty())
        blankBefore = trimRight(view(preamble_.back())).empty();
    else if (sections_.back().entries.empty())
        blankBefore = false;
    else
        blankBefore = !sections_.back().entries.back().dirty &&
                      trimRight(view(sections_.back().entries.back().raw)).empty();
    if (!blankBefore) {
        if (sections_.empty())
            preamble_.push_back(Text::made({}));
        else
            sections_.back().entries.push_back(Entry::blankLine());
    }
    const std::string normalized = normalizeKeyPath(path);
    Section section;
    section.header = Text::made("[" + renderKeyPath(normalized) + "] " + std::to_string(now));
    section.split = true;
    section.decoded = true;
    section.added = true;
    sections_.push_back(std::move(section));
    index(sections_.size() - 1, foldRegistryName(normalized), nullptr);
    changed_ = true;
}

void WineRegistry::setValue(std::string_view keyPath, const WineRegValue& value, std::int64_t now)
{
    ensureHeader();
    changed_ = true;
    if (const Entry* found = findEntry(keyPath, value.name)) {
        // The stored spelling of the name is kept, as the platform does.
        Entry* entry = const_cast<Entry*>(found);
        entry->value.type = value.type;
        entry->value.data = value.data;
        entry->dirty = true;
        return;
    }
    std::vector<std::size_t> sections = sectionsOf(keyPath);
    if (sections.empty()) {
        // Also a key that exists only as the parent of another gets a section of its own.
        addSection(keyPath, now);
        sections = sectionsOf(keyPath);
    }
    Section& section = sections_[sections.back()];
    decode(section);
    auto& entries = section.entries;
    const auto isBlank = [this](const Entry& e) {
        return !e.dirty && trimRight(view(e.raw)).empty();
    };
    auto place = entries.end();
    while (place != entries.begin() && isBlank(*std::prev(place)))
        --place;
    // A damaged line that ends in "\" would continue into the new value; a blank line ends it.
    if (place != entries.begin() && !std::prev(place)->dirty &&
        trimRight(view(std::prev(place)->raw)).ends_with('\\'))
        place = std::next(entries.insert(place, Entry::blankLine()));
    Entry entry;
    entry.raw = Text::made({});
    entry.isValue = true;
    entry.dirty = true;
    entry.value = value;
    entry.foldedName = foldRegistryName(value.name);
    entries.insert(place, std::move(entry));
}

void WineRegistry::touchKey(std::string_view path, std::int64_t now)
{
    const std::vector<std::size_t> sections = sectionsOf(path);
    if (sections.empty())
        return;
    // When a key has several sections, Wine takes the times of the last one it reads.
    Section& section = sections_[sections.back()];
    split(section);
    changed_ = true;

    // "[path] 1700000000": the number after the closing bracket is seconds since 1970.
    const std::string_view header = view(section.header);
    std::size_t afterPath = header.find('[');
    std::u16string ignored;
    if (afterPath != std::string_view::npos && readEscaped(header, ++afterPath, ']', ignored)) {
        std::size_t digits = afterPath;
        while (digits < header.size() && isBlank(header[digits]))
            ++digits;
        std::size_t end = digits;
        while (end < header.size() && header[end] >= '0' && header[end] <= '9')
            ++end;
        if (end > digits && trimRight(header.substr(end)).empty()) {
            std::string renewed(header.substr(0, digits));
            renewed += std::to_string(now);
            renewed += header.substr(end);
            section.header = Text::made(std::move(renewed));
        }
    }

    const auto fileTime = std::uint64_t((now + kSecondsFrom1601To1970) * kFileTimeUnitsPerSecond);
    const std::string timeLine = std::string(kTimeLine) +
                                 hexNumber(std::uint32_t(fileTime >> 32), 1) +
                                 hexNumber(std::uint32_t(fileTime), 8);
    for (Entry& entry : section.entries) {
        if (entry.dirty)
            continue;
        const std::string_view raw = view(entry.raw);
        if (!trimLeft(raw).starts_with(kTimeLine))
            continue;
        // The line's own line ending (a carriage return) stays.
        const bool carriageReturn = raw.ends_with('\r');
        entry.raw = Text::made(timeLine + (carriageReturn ? "\r" : ""));
        return;
    }
    if (timeLines_ && section.added) {
        Entry entry;
        entry.raw = Text::made(timeLine);
        section.entries.insert(section.entries.begin(), std::move(entry));
    }
}

std::string WineRegistry::serialize() const
{
    std::string out;
    out.reserve(source_.size() + 256);
    for (const Text& line : preamble_) {
        out += view(line);
        out += '\n';
    }
    for (const Section& s : sections_) {
        out += view(s.header);
        out += '\n';
        if (!s.split) {
            // The body's lines as they were, each ended by a line break like those above.
            const std::string_view body =
                std::string_view(source_).substr(s.bodyBegin, s.bodyEnd - s.bodyBegin);
            out += body;
            if (!body.empty() && body.back() != '\n')
                out += '\n';
            continue;
        }
        for (const Entry& e : s.entries) {
            if (e.dirty)
                out += renderValue(e.value);
            else
                out += view(e.raw);
            out += '\n';
        }
    }
    if (!finalNewline_ && !changed_ && !out.empty())
        out.pop_back();
    return out;
}

} // namespace platform
