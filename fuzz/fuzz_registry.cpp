// Feeds arbitrary bytes to the registry file reader, reads every key and value it found,
// changes a value (renewing its key's times) and checks that what is written reads back the
// same.
#include "platform/WineRegistry.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

using platform::WineRegistry;
using platform::WineRegValue;

namespace {

// Reports the broken expectation by its line before stopping.
void check(bool condition, int line = __builtin_LINE())
{
    if (!condition) {
        std::fprintf(stderr, "fuzz_registry: expectation at line %d failed\n", line);
        std::abort();
    }
}

bool sameValues(const WineRegistry& a, const WineRegistry& b, const std::string& path)
{
    const auto left = a.values(path);
    const auto right = b.values(path);
    if (left.size() != right.size())
        return false;
    for (std::size_t i = 0; i < left.size(); ++i)
        if (left[i].name != right[i].name || left[i].type != right[i].type ||
            left[i].data != right[i].data)
            return false;
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    WineRegistry reg = WineRegistry::parse(std::string(bytes));
    if (!reg.recognized())
        return 0;
    // Nothing changed: the bytes come back exactly.
    check(reg.serialize() == bytes);

    const auto paths = reg.keyPaths();
    for (const std::string& path : paths) {
        check(reg.keyExists(path));
        for (const WineRegValue& value : reg.values(path)) {
            const WineRegValue* found = reg.findValue(path, value.name);
            check(found && found->data == value.data && found->type == value.type);
            if (value.type == 1 || value.type == 2 || value.type == 7)
                (void)platform::utf16leToUtf8(value.data);
        }
    }

    // Change or add a value made of the input itself, then write and read back.
    WineRegValue value;
    // Names are the program's texts: valid UTF-8.
    value.name = platform::utf16leToUtf8(
        platform::utf8ToUtf16le(size > 2 ? bytes.substr(1, size % 7) : "fuzz"));
    value.type = size ? data[0] % 9 : 1;
    value.data = std::string(bytes.substr(size / 2, 40));
    if (value.type == 1 || value.type == 2 || value.type == 7)
        value.data = platform::utf8ToUtf16le(value.data);
    const std::string path = paths.empty() ? std::string("Fuzz\\Key") : paths[size % paths.size()];
    reg.setValue(path, value, 1700000000);
    reg.touchKey(path, 1800000000);
    reg.createKey(path + "\\New", 1700000000);
    reg.touchKey(path + "\\New", 1800000000);

    const std::string written = reg.serialize();
    const WineRegistry again = WineRegistry::parse(written);
    check(again.recognized());
    check(again.serialize() == written);
    const WineRegValue* back = again.findValue(path, value.name);
    check(back && back->type == value.type && back->data == value.data);
    check(again.keyExists(path + "\\New"));
    for (const std::string& p : reg.keyPaths())
        check(sameValues(reg, again, p));
    return 0;
}
