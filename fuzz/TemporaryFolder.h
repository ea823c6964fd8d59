#pragma once

// A folder of its own under the system's temporary folder for a fuzz target's files, removed
// with everything in it when the object is destroyed. Kept in a function's static object, it
// goes when the fuzzer ends its run normally; a crashing input leaves it for inspection.

#include <stdlib.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

class TemporaryFolder {
public:
    explicit TemporaryFolder(const char* prefix)
    {
        std::string name = (std::filesystem::temp_directory_path() / prefix).string() + "-XXXXXX";
        if (::mkdtemp(name.data()) == nullptr) {
            std::perror("mkdtemp");
            std::exit(1);
        }
        path_ = name;
    }
    ~TemporaryFolder()
    {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    TemporaryFolder(const TemporaryFolder&) = delete;
    TemporaryFolder& operator=(const TemporaryFolder&) = delete;

    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};
