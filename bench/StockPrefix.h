#pragma once

// A copy of the stock Wine prefix's registry files for a benchmark to run on.

#include <filesystem>

namespace bench {

// Makes prefix a Wine prefix holding the stock registry files of stock, with drive c: and an
// empty system folder.
inline void copyStockPrefix(const std::filesystem::path& stock, const std::filesystem::path& prefix)
{
    namespace fs = std::filesystem;
    fs::create_directories(prefix / "dosdevices");
    fs::create_directories(prefix / "drive_c" / "windows" / "system32");
    for (const char* name : {"system.reg", "user.reg", "userdef.reg"})
        fs::copy_file(stock / name, prefix / name);
    fs::create_directory_symlink("../drive_c", prefix / "dosdevices" / "c:");
}

} // namespace bench
