#pragma once

#include "platform/CodePage.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// One value of a registry key as Wine keeps it: string kinds (1, 2 and 7) hold UTF-16LE text
// with its terminating NUL, every other kind holds its bytes as stored.
struct WineRegValue {
    std::string name;       // UTF-8; empty for the key's default value, written "@"
    std::uint32_t type = 0; // the platform's data kind: 1 text, 2 expandable, 4 number, ...
    std::string data;       // the value's bytes
};

// Wine's text registry format, read from bytes and written back to bytes; knows nothing of
// files. A file begins with the line "WINE REGISTRY Version 2"; then come comments (";"),
// meta lines ("#name=value") and sections, each a bracketed key path with an optional
// timestamp followed by its values, one per line (long ones continued with a trailing "\").
//
// Everything that is not understood is kept as it was written: comments, meta lines, unknown
// value kinds, timestamps, and damaged lines. A damaged section header hides its whole
// section (its key reads as missing), as does a key deeper than 512 levels or with a name
// longer than 255 characters, the limits of Windows; a damaged value line hides that value
// alone. Reading costs time and memory in proportion to the file's size: parsing reads only
// the section headers and keeps each section's body as a range of the bytes, which is divided
// into lines and decoded when its key is first looked at. Unchanged content is written back
// byte for byte; changed and new values are written in Wine's form. As even lookups change
// the object, it must not be shared between threads without a lock.
//
// Key paths are UTF-8 texts whose components are separated by "\"; empty components are
// ignored, so that a leading or trailing "\" does no harm. Key paths and value names match
// without regard to letter case.
class WineRegistry {
public:
    static constexpr std::string_view kHeader = "WINE REGISTRY Version 2";

    WineRegistry() = default;

    // Never fails: input without the header line reads as an empty registry that is not
    // recognized (see recognized()). The registry keeps the bytes: a caller that has no more
    // use for its own moves them in rather than have them copied.
    static WineRegistry parse(std::string bytes);

    // True when the bytes began with the header line or were empty. A caller should not
    // replace a file that was not recognized: its content would be lost.
    bool recognized() const { return recognized_; }

    // The registry as file bytes. Until something changes these are the parsed bytes (none
    // for input that was not recognized); a change to an empty or unrecognized registry
    // gives a fresh file beginning with the header line.
    std::string serialize() const;

    // True when a section names the key or a subkey of it; the empty path (the root) always
    // exists.
    bool keyExists(std::string_view path) const;

    // The value of a key, or null. When a key or a value occurs more than once, the last
    // occurrence counts, as when Wine loads the file. The pointer lives until the next change.
    const WineRegValue* findValue(std::string_view keyPath, std::string_view name) const;

    // The values of a key in file order, every name once (the last occurrence).
    std::vector<WineRegValue> values(std::string_view keyPath) const;

    // The paths of the sections, in file order, as written in the file.
    std::vector<std::string> keyPaths() const;

    // Adds a section for the key unless the key exists already. Returns true when it was
    // added. now (seconds since 1970) becomes the section's timestamp.
    bool createKey(std::string_view path, std::int64_t now);

    // Sets or adds a value, adding the key's section when it has none.
    void setValue(std::string_view keyPath, const WineRegValue& value, std::int64_t now);

    // Removes every occurrence of a value of the key; false when there was none.
    bool deleteValue(std::string_view keyPath, std::string_view name);

    // Records that the key changed at now (seconds since 1970), as Wine does when one of its
    // values is set: the timestamp after the section header and the section's "#time=" line
    // are renewed where the section has them. A section added since parsing gets a "#time="
    // line when the file's sections carry them. No other line changes.
    void touchKey(std::string_view path, std::int64_t now);

    // The comment lines that a new file begins with after its header line, e.g.
    // ";; All keys relative to \\Machine". Used only when the registry had no header yet.
    void setFreshPreamble(std::vector<std::string> lines) { freshPreamble_ = std::move(lines); }

private:
    // A line (or lines) of the file: a range of the parsed bytes, or a text of its own for
    // what was added since. Keeping ranges spares a copy of every line; a text of its own is
    // never changed once made, so copies share it, and a range costs a null pointer.
    struct Text {
        std::size_t begin = 0;
        std::size_t end = 0;
        std::shared_ptr<const std::string> own;

        bool owned() const { return own != nullptr; }
        static Text made(std::string text)
        {
            Text t;
            t.own = std::make_shared<const std::string>(std::move(text));
            return t;
        }
    };
    // One line of a section (or several, joined by their "\" continuations). Its value is
    // decoded when the section is first looked at.
    struct Entry {
        Text raw;             // as in the file, without the final line break
        bool dirty = false;   // changed since parsing: written from value, not raw
        bool isValue = false; // the line holds a value that was understood
        WineRegValue value;
        std::string foldedName; // of value.name, for lookups

        static Entry blankLine()
        {
            Entry e;
            e.raw = Text::made({});
            return e;
        }
    };
    static constexpr std::uint32_t kNoSection = UINT32_MAX;
    struct Section {
        Text header;          // the header line as in the file (or generated)
        bool damaged = false; // the header could not be read: the section is ignored
        bool split = false;   // the body has been divided into entries
        bool decoded = false; // the values of its entries have been read
        bool added = false;   // made since parsing, not read from the file
        std::uint32_t previous = kNoSection; // the section before it that names the same key
        // Until the section is split, its body is this range of the parsed bytes: whole lines
        // from after the header line up to the next header line. Most sections of a large file
        // are never looked at, and are written back from the range as they were.
        std::size_t bodyBegin = 0;
        std::size_t bodyEnd = 0;
        std::vector<Entry> entries; // once split
    };
    // The tree nodes of the components of the key most recently indexed, so that the next
    // section, which in a file that Wine wrote shares most of them, looks up only the rest.
    struct IndexTrail {
        std::string folded;
        std::vector<std::uint32_t> nodes; // one per component of folded
    };

    // Every key that a section names or implies (its ancestors), as a tree of folded names,
    // each node once however many sections name it or its subkeys, so that the tree grows
    // with the file however deep its keys go. Node 0 is the root; the others are found by
    // (parent, name) in an open-addressing table, which keeps the names end to end in one
    // string rather than one allocation per name.
    static constexpr std::uint32_t kNoNode = UINT32_MAX;
    struct KeyNode {
        std::uint32_t parent = 0;
        std::uint32_t nameLength = 0;
        std::size_t nameBegin = 0;              // in names_
        std::uint32_t hash = 0;                 // of parent and name, its low bits
        std::uint32_t lastSection = kNoSection; // the last section that names the key
    };

    std::string_view view(const Text& text) const;
    std::string_view nameOf(const KeyNode& node) const;
    std::uint32_t findChild(std::uint32_t parent, std::string_view name, std::size_t hash) const;
    std::uint32_t addChild(std::uint32_t parent, std::string_view name);
    void placeNode(std::uint32_t node);
    std::uint32_t findKey(std::string_view path) const;
    void index(std::size_t section, std::string_view folded, IndexTrail* trail);
    void split(Section& section) const;
    void decode(Section& section) const;
    void addSection(std::string_view path, std::int64_t now);
    std::vector<std::size_t> sectionsOf(std::string_view path) const;
    const Entry* findEntry(std::string_view keyPath, std::string_view name) const;
    void ensureHeader();

    bool recognized_ = true;
    bool finalNewline_ = true;
    bool timeLines_ = false; // some section of the parsed file has a "#time=" line
    bool changed_ = false;
    std::string source_;         // the parsed bytes, which the texts refer to
    std::vector<Text> preamble_; // the header line and what precedes the first section
    // Mutable because values are decoded on first use, also by lookups.
    mutable std::vector<Section> sections_;
    std::vector<std::string> freshPreamble_;
    std::vector<KeyNode> nodes_ = std::vector<KeyNode>(1);
    std::string names_;
    std::vector<std::uint32_t> slots_; // node numbers, 0 for a free slot; a power of two long
};

// The form in which key paths and value names are compared: letter case folded, components
// of a path normalized to single "\" separators without empty components.
std::string foldRegistryName(std::string_view name);
std::string normalizeKeyPath(std::string_view path);

} // namespace platform
