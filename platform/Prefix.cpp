#include "platform/Prefix.h"

#include "platform/AtomicFile.h"

#include <cstdlib>
#include <system_error>

namespace fs = std::filesystem;

namespace platform {

namespace {

const char* const kFreshSystemReg =
    "WINE REGISTRY Version 2\n"
    ";; All keys relative to \\\\Machine\n"
    "\n"
    "#arch=win32\n"
    "\n"
    "[Software\\\\Microsoft\\\\Windows\\\\CurrentVersion]\n"
    "\"SystemRoot\"=\"C:\\\\WINDOWS\"\n";

const char* const kFreshUserReg =
    "WINE REGISTRY Version 2\n"
    ";; All keys relative to \\\\User\\\\S-1-5-21-0-0-0-1000\n"
    "\n"
    "#arch=win32\n";

} // namespace

fs::path Prefix::root()
{
    if (const char* prefix = std::getenv("WINEPREFIX"); prefix && *prefix)
        return fs::path(prefix);
    if (const char* data = std::getenv("XDG_DATA_HOME"); data && *data)
        return fs::path(data) / "crestwick";
    const char* home = std::getenv("HOME");
    return fs::path(home && *home ? home : "/") / ".local" / "share" / "crestwick";
}

bool Prefix::ensureExists()
{
    const fs::path top = root();
    std::error_code ec;
    if (fs::exists(top, ec))
        return true;
    fs::create_directories(top / "dosdevices", ec);
    if (ec)
        return false;
    const fs::path windows = top / "drive_c" / "WINDOWS";
    for (const char* folder : {"system", "Desktop", "Start Menu/Programs"}) {
        fs::create_directories(windows / folder, ec);
        if (ec)
            return false;
    }
    fs::create_directory_symlink("../drive_c", top / "dosdevices" / "c:", ec);
    if (ec)
        return false;
    fs::create_directory_symlink("/", top / "dosdevices" / "z:", ec);
    if (ec)
        return false;
    return writeFileAtomically(top / "system.reg", kFreshSystemReg) &&
           writeFileAtomically(top / "user.reg", kFreshUserReg);
}

} // namespace platform
