#include "tests/support/TestHive.h"

#include "platform/WineRegistry.h"

#include <gtest/gtest.h>
#include <hivex.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>

namespace fs = std::filesystem;
using platform::utf8ToUtf16le;

const fs::path kMinimalHive = fs::path(CRESTWICK_TESTDATA_DIR) / "hives" / "minimal";

std::string text(std::string_view utf8)
{
    return utf8ToUtf16le(std::string(utf8) + '\0');
}
std::string dword(std::uint32_t n)
{
    return {char(n & 0xFF), char(n >> 8 & 0xFF), char(n >> 16 & 0xFF), char(n >> 24)};
}

// Adds keys (parents before children) and values to a hive with libhivex.
void addToHive(const fs::path& file, const std::vector<Key>& keys)
{
    hive_h* h = hivex_open(file.c_str(), HIVEX_OPEN_WRITE);
    ASSERT_NE(h, nullptr);
    for (const Key& key : keys) {
        hive_node_h node = hivex_root(h);
        std::size_t start = 0;
        while (start <= key.path.size()) {
            std::size_t end = key.path.find('\\', start);
            if (end == std::string::npos)
                end = key.path.size();
            const std::string name = key.path.substr(start, end - start);
            hive_node_h child = hivex_node_get_child(h, node, name.c_str());
            node = child ? child : hivex_node_add_child(h, node, name.c_str());
            ASSERT_NE(node, 0u) << name;
            start = end + 1;
        }
        for (const Value& v : key.values) {
            std::string name = v.name;
            std::string data = v.data;
            // Kinds that libhivex does not name go through the enumeration's bytes.
            hive_set_value set{name.data(), {}, data.size(), data.data()};
            std::memcpy(&set.t, &v.type, sizeof set.t);
            ASSERT_EQ(hivex_node_set_value(h, node, &set, 0), 0) << v.name;
        }
    }
    ASSERT_EQ(hivex_commit(h, nullptr, 0), 0);
    hivex_close(h);
}

// Every value of a hive, "key path|value name" -> kind and bytes, read with libhivex.
using Dump = std::map<std::string, std::pair<std::uint32_t, std::string>>;

namespace {

void dumpNode(hive_h* h, hive_node_h node, const std::string& path, Dump& out)
{
    hive_value_h* values = hivex_node_values(h, node);
    for (hive_value_h* v = values; v && *v; ++v) {
        char* key = hivex_value_key(h, *v);
        hive_type type{};
        std::size_t length = 0;
        char* bytes = hivex_value_value(h, *v, &type, &length);
        std::uint32_t kind = 0;
        std::memcpy(&kind, &type, sizeof kind);
        out[path + "|" + key] = {kind, std::string(bytes ? bytes : "", length)};
        std::free(bytes);
        std::free(key);
    }
    std::free(values);
    hive_node_h* children = hivex_node_children(h, node);
    for (hive_node_h* c = children; c && *c; ++c) {
        char* name = hivex_node_name(h, *c);
        dumpNode(h, *c, path + "\\" + name, out);
        std::free(name);
    }
    std::free(children);
}

} // namespace

Dump dumpHive(const fs::path& file)
{
    Dump out;
    hive_h* h = hivex_open(file.c_str(), 0);
    if (!h)
        return out;
    dumpNode(h, hivex_root(h), "", out);
    hivex_close(h);
    return out;
}

fs::path makeWindowsVolume(const fs::path& folder, const std::vector<Key>& keys, const char* layout)
{
    const fs::path hive = folder / layout;
    fs::create_directories(hive.parent_path());
    fs::copy_file(kMinimalHive, hive, fs::copy_options::overwrite_existing);
    fs::permissions(hive, fs::perms(0644));
    addToHive(hive, keys);
    return hive;
}

void markNotShutDownCleanly(const fs::path& hive)
{
    std::ifstream in(hive, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    in.close();
    ASSERT_GE(bytes.size(), 0x200u);
    bytes[8] = char(bytes[8] - 1);
    std::uint32_t checksum = 0;
    for (std::size_t i = 0; i < 0x1FC; i += 4) {
        std::uint32_t word = 0;
        std::memcpy(&word, bytes.data() + i, 4);
        checksum ^= word;
    }
    std::memcpy(bytes.data() + 0x1FC, &checksum, 4);
    std::ofstream(hive, std::ios::binary | std::ios::trunc) << bytes;
}
