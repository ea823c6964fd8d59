#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// Windows disks for tests: SOFTWARE hives made from the public minimal hive, with keys and
// values added through libhivex, and read back whole.

// The minimal hive of the repository's test data.
extern const std::filesystem::path kMinimalHive;

struct Value {
    std::string name;
    std::uint32_t type;
    std::string data;
};
struct Key {
    std::string path;
    std::vector<Value> values;
};

// A string value's bytes: UTF-16LE with the closing NUL.
std::string text(std::string_view utf8);
// A dword value's bytes.
std::string dword(std::uint32_t n);

// Adds keys (parents before children) and values to a hive with libhivex.
void addToHive(const std::filesystem::path& file, const std::vector<Key>& keys);

// Every value of a hive, "key path|value name" -> kind and bytes, read with libhivex.
using Dump = std::map<std::string, std::pair<std::uint32_t, std::string>>;
Dump dumpHive(const std::filesystem::path& file);

// Leaves a hive's header as Windows leaves a hive it did not close: the second sequence number
// behind the first, the header's checksum right.
void markNotShutDownCleanly(const std::filesystem::path& hive);

// A Windows volume at folder whose SOFTWARE hive (at layout below it) holds keys; returns the
// hive's path.
std::filesystem::path makeWindowsVolume(const std::filesystem::path& folder,
                                        const std::vector<Key>& keys,
                                        const char* layout = "Windows/System32/config/SOFTWARE");
