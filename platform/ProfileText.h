#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// The INI ("profile") file format over a file's bytes, without any I/O.
//
// A file is a sequence of lines ending in CR LF, LF or CR alone (the last one may have no
// ending). A UTF-8 byte-order mark at the very start is not part of the first line. Lines:
//   [name]      a section header; spaces and tabs around the name are ignored, and so is any
//               text after the "]" (a line that begins with "[" but has no "]" is no header and
//               names nothing);
//   ; text      a comment;
//   key=value   a key, spaces and tabs around key and value ignored, one pair of matching
//               quotes around the value removed;
//   anything else (blank lines, lines without "=") names nothing.
// The lines before the first header form the section whose name is empty; a header "[]" is a
// later occurrence of that section and so never counts. Sections and keys are compared without
// regard to the case of ASCII letters, and the first occurrence of a section (and of a key
// within it) is the one that counts. The section and key names that reading, writing and
// deleting a key are given are compared after their own surrounding spaces and tabs are
// removed; the section name that listing keys and deleting a section are given is compared
// as it is, so " a " finds no section "[a]" there.
//
// The edits change only the bytes they must: everything else stays as it was, byte for byte.
// Every function runs in time linear in the size of the text.
class ProfileText {
public:
    // The value of key in section, or nothing when the section or the key is not there.
    // With a limit, the value as a buffer of limit characters receives it: the value is cut to
    // the limit first and its quotes are taken off afterwards, so that a quoted value keeps at
    // most limit - 1 characters ("abcd" in quotes, limit 4, gives "abc").
    static std::optional<std::string> value(std::string_view text, std::string_view section,
                                            std::string_view key,
                                            std::size_t limit = std::string_view::npos);

    // The names of the sections, in file order, each once.
    static std::vector<std::string> sectionNames(std::string_view text);
    // The names of the keys of section, in file order, each once; nothing when the section is
    // not there.
    static std::optional<std::vector<std::string>> keyNames(std::string_view text,
                                                            std::string_view section);

    // True when section, key and value can be written as one header and one key line that read
    // back as themselves: no line break in any of them, no "]" in the section, no "=" in the key,
    // and a key that does not begin like a comment, a header or a byte-order mark.
    static bool canStore(std::string_view section, std::string_view key, std::string_view value);

    // The text with key set to value: an existing key line is changed in place (its spelling of
    // the key and its own line ending kept), a new key goes right after the last line of its
    // section that is neither blank nor a comment, and a new section is appended at the end.
    // New lines end in CR LF. Expects canStore(section, key, value).
    static std::string writeValue(std::string_view text, std::string_view section,
                                  std::string_view key, std::string_view value);

    // The text without the line of key in section; nothing when that key is not there.
    static std::optional<std::string> deleteKey(std::string_view text, std::string_view section,
                                                std::string_view key);

    // The text without section, from its header up to the next header or the end; nothing
    // when the section is not there or holds no line.
    static std::optional<std::string> deleteSection(std::string_view text,
                                                    std::string_view section);
};

} // namespace platform
