// Stores arbitrary values in a Windows volume's SOFTWARE hive (a copy of a small valid hive)
// and reads them back through the registry functions: sizes, buffers that are too small and
// the conversion of UTF-16 text of any kind, valid or not. libhivex itself is trusted; what is
// fuzzed is our reading of what it returns.
#include "core/Exceptions.h"
#include "platform/HiveFile.h"
#include "platform/Registry.h"
#include "platform/TRegistry.h"
#include "platform/WineRegistry.h"

#include "TemporaryFolder.h"

#include <hivex.h>
#include <stdlib.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using namespace platform;

namespace {

constexpr const char* kKey = "Microsoft\\Windows NT\\CurrentVersion";
constexpr std::size_t kMaxValues = 16;

void check(bool condition, int line = __builtin_LINE())
{
    if (!condition) {
        std::fprintf(stderr, "fuzz_hive: expectation at line %d failed\n", line);
        std::abort();
    }
}

bool validUtf8(const std::string& text)
{
    for (std::size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        const std::size_t length = c < 0x80         ? 1
                                   : (c >> 5) == 6  ? 2
                                   : (c >> 4) == 14 ? 3
                                   : (c >> 3) == 30 ? 4
                                                    : 0;
        if (length == 0 || i + length > text.size())
            return false;
        for (std::size_t k = 1; k < length; ++k)
            if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80)
                return false;
        i += length;
    }
    return true;
}

// The starting hive's bytes; without them nothing is fuzzed, and the run fails.
std::string readStartingHive()
{
    const fs::path source = fs::path(CRESTWICK_TESTDATA_DIR) / "hives" / "minimal";
    std::ifstream in(source, std::ios::binary);
    std::string bytes(std::istreambuf_iterator<char>(in), {});
    if (bytes.empty()) {
        std::fprintf(stderr, "fuzz_hive: cannot read the starting hive %s\n", source.c_str());
        std::exit(1);
    }
    return bytes;
}

// A Windows volume whose SOFTWARE hive each input rewrites; WINEPREFIX names it.
struct Setup {
    std::string minimal = readStartingHive();
    TemporaryFolder folder{"fuzz-hive"};
    fs::path hive = folder.path() / "Windows" / "System32" / "config" / "SOFTWARE";

    Setup()
    {
        fs::create_directories(hive.parent_path());
        ::setenv("WINEPREFIX", folder.path().c_str(), 1);
    }
};

const Setup& setup()
{
    static const Setup s;
    return s;
}

struct Input {
    std::uint32_t type;
    std::string name;
    std::string data;
};

// Records: kind, name length, name, two bytes of data length, data.
std::vector<Input> split(const std::uint8_t* data, std::size_t size)
{
    std::vector<Input> values;
    std::size_t at = 0;
    while (at + 2 <= size && values.size() < kMaxValues) {
        Input value;
        value.type = data[at] % 12;
        const std::size_t nameLength = data[at + 1] % 32;
        at += 2;
        for (std::size_t i = 0; i < nameLength && at < size; ++i, ++at)
            if (data[at] != 0)
                value.name += char(data[at]);
        std::size_t dataLength = 0;
        if (at + 2 <= size) {
            dataLength = data[at] | std::size_t(data[at + 1]) << 8;
            at += 2;
        }
        dataLength = std::min(dataLength, size - at);
        value.data.assign(reinterpret_cast<const char*>(data) + at, dataLength);
        at += dataLength;
        values.push_back(std::move(value));
    }
    return values;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    (void)setup(); // a missing starting hive fails the run before the first input
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const Setup& s = setup();
    {
        std::ofstream out(s.hive, std::ios::binary | std::ios::trunc);
        out.write(s.minimal.data(), std::streamsize(s.minimal.size()));
    }
    const std::vector<Input> inputs = split(data, size);
    std::vector<Input> stored;
    hive_h* h = hivex_open(s.hive.c_str(), HIVEX_OPEN_WRITE);
    check(h != nullptr);
    hive_node_h node = hivex_root(h);
    for (const char* name : {"Microsoft", "Windows NT", "CurrentVersion"})
        node = hivex_node_add_child(h, node, name);
    check(node != 0);
    for (const Input& value : inputs) {
        // libhivex stores names from UTF-8 only (the registry functions refuse other names).
        if (utf16leToUtf8(utf8ToUtf16le(value.name)) != value.name)
            continue;
        std::string name = value.name;
        std::string bytes = value.data;
        hive_set_value set{name.data(), hive_type(value.type), bytes.size(), bytes.data()};
        if (hivex_node_set_value(h, node, &set, 0) == 0)
            stored.push_back(value);
    }
    check(hivex_commit(h, nullptr, 0) == 0);
    hivex_close(h);

    bool asciiNames = true;
    for (const Input& value : stored)
        for (char c : value.name)
            asciiNames = asciiNames && static_cast<unsigned char>(c) < 0x80;

    HKEY key = 0;
    check(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows NT\\CurrentVersion", 0,
                        KEY_READ, &key) == ERROR_SUCCESS);
    for (const Input& value : stored) {
        DWORD type = 0;
        DWORD needed = 0;
        if (RegQueryValueExA(key, value.name.c_str(), nullptr, &type, nullptr, &needed) !=
            ERROR_SUCCESS)
            continue;
        std::string buffer(needed, '\0');
        DWORD got = needed;
        check(RegQueryValueExA(key, value.name.c_str(), nullptr, nullptr,
                               reinterpret_cast<BYTE*>(buffer.data()), &got) == ERROR_SUCCESS);
        check(got == needed);
        if (needed > 0) {
            DWORD small = needed - 1;
            check(RegQueryValueExA(key, value.name.c_str(), nullptr, nullptr,
                                   reinterpret_cast<BYTE*>(buffer.data()),
                                   &small) == ERROR_MORE_DATA);
            check(small == needed);
        }
        if (type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ) {
            check(validUtf8(buffer));
        } else if (asciiNames) {
            // Bytes of other kinds come back as the last value of that name stored them.
            const std::string folded = foldRegistryName(value.name);
            const Input* last = nullptr;
            for (const Input& other : stored)
                if (foldRegistryName(other.name) == folded)
                    last = &other;
            check(last && last->type == type && last->data == buffer);
        }
    }
    RegCloseKey(key);

    // The registry object reads every value as text or bytes without trouble.
    TRegistry registry;
    registry.SetRootKey(HKEY_LOCAL_MACHINE);
    check(registry.OpenKey(std::string("\\Software\\") + kKey, false));
    for (const Input& value : stored) {
        try {
            (void)registry.ReadString(value.name);
            std::vector<char> bytes(256);
            (void)registry.ReadBinaryData(value.name, bytes.data(), int(bytes.size()));
        } catch (const ERegistryException&) {
        }
    }
    return 0;
}
