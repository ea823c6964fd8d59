#include "platform/ProfileText.h"

#include "core/AsciiCase.h"

#include <algorithm>
#include <unordered_set>

namespace platform {

namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
constexpr std::string_view kNewLine = "\r\n";

bool isSpace(char c)
{
    return c == ' ' || c == '\t';
}

std::string_view trim(std::string_view s)
{
    while (!s.empty() && isSpace(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && isSpace(s.back()))
        s.remove_suffix(1);
    return s;
}

bool isLineBreak(char c)
{
    return c == '\r' || c == '\n';
}

// One line of the text, as offsets into it.
struct Line {
    std::size_t begin = 0;      // its first byte
    std::size_t contentEnd = 0; // its line ending, or the end of the text
    std::size_t end = 0;        // the first byte of the next line

    bool hasLineEnding() const { return end > contentEnd; }
};

// Splits the text into lines: CR LF, LF and CR alone each end a line, and a byte-order mark at
// the start belongs to no line.
class LineReader {
public:
    explicit LineReader(std::string_view text)
        : text_(text), pos_(text.starts_with(kByteOrderMark) ? kByteOrderMark.size() : 0)
    {
    }

    bool next(Line& line)
    {
        if (pos_ >= text_.size())
            return false;
        line.begin = pos_;
        std::size_t i = pos_;
        while (i < text_.size() && !isLineBreak(text_[i]))
            ++i;
        line.contentEnd = i;
        if (i < text_.size())
            i += (text_[i] == '\r' && i + 1 < text_.size() && text_[i + 1] == '\n') ? 2 : 1;
        line.end = i;
        pos_ = i;
        return true;
    }

private:
    std::string_view text_;
    std::size_t pos_;
};

enum class LineKind { Blank, Comment, Header, Key, Other };

struct ParsedLine {
    LineKind kind = LineKind::Other;
    std::string_view name;      // the section of a header or the key of a key line, trimmed
    std::size_t valueBegin = 0; // offset of the byte after the "=" of a key line
};

ParsedLine parse(std::string_view text, const Line& line)
{
    const std::string_view content = text.substr(line.begin, line.contentEnd - line.begin);
    std::size_t lead = 0;
    while (lead < content.size() && isSpace(content[lead]))
        ++lead;
    ParsedLine parsed;
    if (lead == content.size()) {
        parsed.kind = LineKind::Blank;
    } else if (content[lead] == '[') {
        // Without its "]" the line is no header: the section before it goes on.
        if (const std::size_t close = content.find(']', lead + 1);
            close != std::string_view::npos) {
            parsed.kind = LineKind::Header;
            parsed.name = trim(content.substr(lead + 1, close - lead - 1));
        }
    } else if (content[lead] == ';') {
        parsed.kind = LineKind::Comment;
    } else if (const std::size_t equals = content.find('=', lead);
               equals != std::string_view::npos) {
        parsed.kind = LineKind::Key;
        parsed.name = trim(content.substr(lead, equals - lead));
        parsed.valueBegin = line.begin + equals + 1;
    }
    return parsed;
}

// The value as a reader with room for limit characters sees it: up to a NUL byte, if it holds
// one, trimmed, cut to the limit, and without one pair of matching quotes around it. The quotes
// come off after the cut, so the closing quote of a long quoted value is cut off with the rest.
std::string_view readValue(std::string_view text, const Line& line, const ParsedLine& parsed,
                           std::size_t limit)
{
    std::string_view value = text.substr(parsed.valueBegin, line.contentEnd - parsed.valueBegin);
    if (const std::size_t nul = value.find('\0'); nul != std::string_view::npos)
        value = value.substr(0, nul);
    value = trim(value);
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front())
        value = value.substr(1, std::min(value.size() - 2, limit == 0 ? 0 : limit - 1));
    return value.substr(0, limit);
}

// Where the first occurrence of a section lies and, when a key is asked for, where its first
// occurrence lies within it.
struct SectionPlace {
    bool found = false;
    Line header; // for the section before the first header, an empty line where the text begins
    Line lastContent;    // the last line that is neither blank nor a comment (the header at least)
    std::size_t end = 0; // the next header's first byte, or the end of the text
    bool keyFound = false;
    Line keyLine;
    ParsedLine keyParsed;
};

// Scans up to the end of the section's first occurrence, or up to the key when it is found.
// The section's name is compared as given, the key's without its surrounding spaces.
SectionPlace locate(std::string_view text, std::string_view section,
                    std::optional<std::string_view> key)
{
    if (key)
        key = trim(*key);
    SectionPlace place;
    place.end = text.size();
    if (section.empty()) {
        // The section without a name is there in every text, up to the first header.
        const std::size_t start = text.starts_with(kByteOrderMark) ? kByteOrderMark.size() : 0;
        place.found = true;
        place.header = Line{start, start, start};
        place.lastContent = place.header;
    }
    LineReader reader(text);
    Line line;
    while (reader.next(line)) {
        const ParsedLine parsed = parse(text, line);
        if (parsed.kind == LineKind::Header) {
            if (place.found) {
                place.end = line.begin;
                break;
            }
            if (core::asciiEqualsIgnoreCase(parsed.name, section)) {
                place.found = true;
                place.header = line;
                place.lastContent = line;
            }
            continue;
        }
        if (!place.found)
            continue;
        if (parsed.kind != LineKind::Blank && parsed.kind != LineKind::Comment)
            place.lastContent = line;
        if (key && parsed.kind == LineKind::Key && core::asciiEqualsIgnoreCase(parsed.name, *key)) {
            place.keyFound = true;
            place.keyLine = line;
            place.keyParsed = parsed;
            break;
        }
    }
    return place;
}

// Adds name to names unless it is empty or a name equal to it without regard to case is there
// already. An empty name would end the NUL-separated list at its start.
void addOnce(std::vector<std::string>& names, std::unordered_set<std::string>& seen,
             std::string_view name)
{
    if (!name.empty() && seen.insert(core::AsciiLowerCase(name)).second)
        names.emplace_back(name);
}

void appendLine(std::string& out, std::string_view key, std::string_view value)
{
    out.append(key);
    out += '=';
    out.append(value);
    out.append(kNewLine);
}

} // namespace

std::optional<std::string> ProfileText::value(std::string_view text, std::string_view section,
                                              std::string_view key, std::size_t limit)
{
    const SectionPlace place = locate(text, trim(section), key);
    if (!place.keyFound)
        return std::nullopt;
    return std::string(readValue(text, place.keyLine, place.keyParsed, limit));
}

std::vector<std::string> ProfileText::sectionNames(std::string_view text)
{
    std::vector<std::string> names;
    std::unordered_set<std::string> seen;
    LineReader reader(text);
    Line line;
    while (reader.next(line)) {
        const ParsedLine parsed = parse(text, line);
        if (parsed.kind == LineKind::Header)
            addOnce(names, seen, parsed.name);
    }
    return names;
}

std::optional<std::vector<std::string>> ProfileText::keyNames(std::string_view text,
                                                              std::string_view section)
{
    const SectionPlace place = locate(text, section, std::nullopt);
    if (!place.found)
        return std::nullopt;
    std::vector<std::string> names;
    std::unordered_set<std::string> seen;
    LineReader reader(text.substr(0, place.end));
    Line line;
    while (reader.next(line)) {
        if (line.begin < place.header.end)
            continue;
        const ParsedLine parsed = parse(text, line);
        if (parsed.kind == LineKind::Key)
            addOnce(names, seen, parsed.name);
    }
    return names;
}

bool ProfileText::canStore(std::string_view section, std::string_view key, std::string_view value)
{
    const auto hasLineBreak = [](std::string_view s) {
        return s.find_first_of(kNewLine) != std::string_view::npos;
    };
    if (hasLineBreak(section) || hasLineBreak(key) || hasLineBreak(value))
        return false;
    if (section.find(']') != std::string_view::npos || key.find('=') != std::string_view::npos)
        return false;
    // A key of the section "" may become the file's first line, where a byte-order mark at its
    // start would be taken for the file's own.
    const std::string_view trimmedKey = trim(key);
    return trimmedKey.empty() || (trimmedKey.front() != ';' && trimmedKey.front() != '[' &&
                                  !trimmedKey.starts_with(kByteOrderMark));
}

std::string ProfileText::writeValue(std::string_view text, std::string_view section,
                                    std::string_view key, std::string_view value)
{
    const SectionPlace place = locate(text, trim(section), key);
    std::string out;
    out.reserve(text.size() + section.size() + key.size() + value.size() + 8);

    if (place.keyFound) {
        // Same line, same spelling of the key, same line ending: only the value changes.
        out.append(text.substr(0, place.keyParsed.valueBegin));
        out.append(value);
        out.append(text.substr(place.keyLine.contentEnd));
        return out;
    }

    if (place.found) {
        const Line& after = place.lastContent;
        out.append(text.substr(0, after.end));
        // The section without a name may have no line at all to follow.
        if (after.end > after.begin && !after.hasLineEnding())
            out.append(kNewLine);
        appendLine(out, trim(key), value);
        out.append(text.substr(after.end));
        return out;
    }

    out.append(text);
    const std::size_t contentStart = text.starts_with(kByteOrderMark) ? kByteOrderMark.size() : 0;
    if (text.size() > contentStart && !isLineBreak(text.back()))
        out.append(kNewLine);
    out += '[';
    out.append(trim(section));
    out += ']';
    out.append(kNewLine);
    appendLine(out, trim(key), value);
    return out;
}

std::optional<std::string> ProfileText::deleteKey(std::string_view text, std::string_view section,
                                                  std::string_view key)
{
    const SectionPlace place = locate(text, trim(section), key);
    if (!place.keyFound)
        return std::nullopt;
    std::string out;
    out.reserve(text.size());
    out.append(text.substr(0, place.keyLine.begin));
    out.append(text.substr(place.keyLine.end));
    return out;
}

std::optional<std::string> ProfileText::deleteSection(std::string_view text,
                                                      std::string_view section)
{
    const SectionPlace place = locate(text, section, std::nullopt);
    if (!place.found || place.end == place.header.begin)
        return std::nullopt;
    std::string out;
    out.reserve(text.size());
    out.append(text.substr(0, place.header.begin));
    out.append(text.substr(place.end));
    return out;
}

} // namespace platform
