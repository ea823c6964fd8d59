#include "platform/Prefix.h"

#include "core/AsciiCase.h"
#include "platform/AtomicFile.h"

#include <sys/stat.h>

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

// The entry of folder whose name equals name without regard to letter case, the exact name
// first; nothing when there is none.
std::optional<fs::path> findEntry(const fs::path& folder, std::string_view name)
{
    std::error_code ec;
    fs::path exact = folder / fs::path(std::string(name));
    if (fs::symlink_status(exact, ec).type() != fs::file_type::not_found)
        return exact;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec))
        if (core::asciiEqualsIgnoreCase(it->path().filename().string(), name))
            return it->path();
    return std::nullopt;
}

// The SOFTWARE hive of a Windows volume whose root is folder, when it is a regular file.
std::optional<fs::path> hiveOfVolume(const fs::path& folder)
{
    fs::path at = folder;
    for (const char* name : {"Windows", "System32", "config", "SOFTWARE"}) {
        const auto next = findEntry(at, name);
        if (!next)
            return std::nullopt;
        at = *next;
    }
    struct stat st {};
    if (::stat(at.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
        return std::nullopt;
    return at;
}

bool hasSystemReg(const fs::path& top)
{
    struct stat st {};
    return ::lstat((top / "system.reg").c_str(), &st) == 0;
}

bool isDriveLetter(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

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

bool Prefix::isWindowsVolume()
{
    const fs::path top = root();
    return !hasSystemReg(top) && hiveOfVolume(top).has_value();
}

bool Prefix::holdsSystem()
{
    const fs::path top = root();
    if (hasSystemReg(top) || hiveOfVolume(top))
        return true;
    std::error_code ec;
    for (fs::directory_iterator it(top / "dosdevices", ec), end; !ec && it != end;
         it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (name.size() == 2 && isDriveLetter(name[0]) && name[1] == ':')
            return true;
    }
    return false;
}

std::optional<fs::path> Prefix::softwareHive()
{
    const fs::path top = root();
    if (hasSystemReg(top))
        return std::nullopt;
    if (auto hive = hiveOfVolume(top))
        return hive;
    std::error_code ec;
    const fs::path drive = fs::canonical(top / "dosdevices" / "c:", ec);
    if (ec)
        return std::nullopt;
    return hiveOfVolume(drive);
}

std::optional<fs::path> Prefix::driveEntry(char letter)
{
    if (!isDriveLetter(letter))
        return std::nullopt;
    const char lower = core::asciiLower(letter);
    if (isWindowsVolume()) {
        if (lower == 'c')
            return root();
        if (lower == 'z')
            return fs::path("/");
        return std::nullopt;
    }
    return dosdevices() / (std::string(1, lower) + ":");
}

std::vector<fs::path> Prefix::systemTree()
{
    std::vector<fs::path> roots;
    std::error_code ec;
    for (const std::optional<fs::path>& folder : {std::optional<fs::path>(root()), driveEntry('c')}) {
        if (!folder)
            continue;
        fs::path real = fs::canonical(*folder, ec);
        if (!ec && fs::is_directory(real, ec) && real != real.root_path())
            roots.push_back(std::move(real));
    }
    return roots;
}

bool Prefix::inSystemTree(const fs::path& resolved)
{
    for (const fs::path& folder : systemTree()) {
        const fs::path relative = resolved.lexically_relative(folder);
        if (!resolved.empty() && !relative.empty() && *relative.begin() != "..")
            return true;
    }
    return false;
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
