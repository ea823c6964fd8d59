// Random bytes as an INI file, with a random lookup and a random edit: nothing may crash, an
// edit must read back as written, every other value must read as it did before, and a value
// read into a small buffer is the start of the whole value.

#include "core/AsciiCase.h"
#include "platform/ProfileText.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

using platform::ProfileText;

namespace {

using Entries = std::map<std::pair<std::string, std::string>, std::string>;

// Every value that a lookup can reach, by section and key in lower case; the section without
// a name holds the keys before the first header.
Entries readable(std::string_view text)
{
    Entries entries;
    std::vector<std::string> sections = ProfileText::sectionNames(text);
    sections.insert(sections.begin(), "");
    for (const std::string& section : sections) {
        const std::optional<std::vector<std::string>> keys = ProfileText::keyNames(text, section);
        if (!keys)
            std::abort(); // a listed section must be found
        for (const std::string& key : *keys) {
            std::optional<std::string> value = ProfileText::value(text, section, key);
            if (!value)
                std::abort(); // a listed key must be found
            entries[{core::AsciiLowerCase(section), core::AsciiLowerCase(key)}] = *value;
        }
    }
    return entries;
}

std::string trimmed(std::string_view s)
{
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t'))
        s.remove_suffix(1);
    return std::string(s);
}

// What a reader sees of a written value.
std::string asRead(std::string_view value)
{
    // A NUL byte ends a value.
    std::string s = trimmed(value.substr(0, value.find('\0')));
    if (s.size() >= 2 && (s.front() == '"' || s.front() == '\'') && s.back() == s.front())
        s = s.substr(1, s.size() - 2);
    return s;
}

// The entries of after equal those of before, except those of section (and key, when given).
void expectOthersKept(const Entries& before, const Entries& after, const std::string& section,
                      const std::string* key)
{
    const auto touched = [&](const Entries::key_type& k) {
        return k.first == section && (!key || k.second == *key);
    };
    for (const auto& [k, v] : before) {
        if (touched(k))
            continue;
        auto it = after.find(k);
        if (it == after.end() || it->second != v)
            std::abort();
    }
    for (const auto& [k, v] : after)
        if (!touched(k) && !before.count(k))
            std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size > 8192)
        return 0;
    FuzzedDataProvider input(data, size);
    std::string section = input.ConsumeRandomLengthString(12);
    std::string key = input.ConsumeRandomLengthString(12);
    const std::string value = input.ConsumeRandomLengthString(24);
    const int operation = input.ConsumeIntegralInRange(0, 2);
    // Most edits aim at a section and a key that the file has, in a letter case of their own.
    const bool existing = input.ConsumeBool();
    const std::size_t pick = input.ConsumeIntegral<std::uint16_t>();
    const std::string text = input.ConsumeRemainingBytesAsString();
    if (existing) {
        const std::vector<std::string> sections = ProfileText::sectionNames(text);
        if (!sections.empty()) {
            section = core::AsciiUpperCase(sections[pick % sections.size()]);
            const std::vector<std::string> keys =
                ProfileText::keyNames(text, section).value_or(std::vector<std::string>{});
            if (!keys.empty())
                key = " " + keys[(pick / 7) % keys.size()];
        }
    }

    const Entries before = readable(text);
    const std::string lowerSection = core::AsciiLowerCase(trimmed(section));
    const std::string lowerKey = core::AsciiLowerCase(trimmed(key));
    const std::optional<std::string> old = ProfileText::value(text, section, key);

    // Into a buffer of limit characters a value comes cut: the start of the whole value, one
    // character shorter still when its quotes came off after the cut.
    const std::size_t limit = pick % 40;
    const std::optional<std::string> cut = ProfileText::value(text, section, key, limit);
    if (cut.has_value() != old.has_value())
        std::abort();
    if (old && (cut->size() > limit || !old->starts_with(*cut) ||
                (limit > 0 && cut->size() < std::min(old->size(), limit - 1))))
        std::abort();

    switch (operation) {
    case 0: {
        if (!ProfileText::canStore(section, key, value))
            break;
        const std::string edited = ProfileText::writeValue(text, section, key, value);
        if (ProfileText::value(edited, section, key) != asRead(value))
            std::abort();
        if (ProfileText::writeValue(edited, section, key, value) != edited)
            std::abort(); // writing the same value again changes nothing
        expectOthersKept(before, readable(edited), lowerSection, &lowerKey);
        break;
    }
    case 1: {
        const std::optional<std::string> edited = ProfileText::deleteKey(text, section, key);
        if (edited.has_value() != old.has_value())
            std::abort();
        if (edited) {
            if (edited->size() >= text.size())
                std::abort();
            expectOthersKept(before, readable(*edited), lowerSection, &lowerKey);
        }
        break;
    }
    default: {
        // The name of a section to delete is taken as it is: with spaces around it, it is no
        // header's name.
        const std::optional<std::string> edited = ProfileText::deleteSection(text, section);
        if (edited && trimmed(section) != section)
            std::abort();
        if (edited)
            expectOthersKept(before, readable(*edited), lowerSection, nullptr);
        break;
    }
    }
    return 0;
}
