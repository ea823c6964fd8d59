#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace platform {

// Maps the Windows paths that the program builds onto files of the prefix, and back.
//
// "x:\a\b" goes through the drive link dosdevices/x: (or the drives of a Windows volume); "\a\b" uses the current drive; anything
// else is relative to the process's current directory. "\" and "/" both separate components.
// Each component is matched exactly first and then without regard to letter case; components
// that exist in neither form are kept as written, so that a new file can be named.
class WinPath {
public:
    // The host path, or nothing when the path names a drive that does not exist or holds a
    // NUL byte.
    static std::optional<std::filesystem::path> toHost(std::string_view windowsPath);

    // Whether the path names a regular file (a link to one counts); false when no drive
    // resolves it.
    static bool isRegularFile(std::string_view windowsPath);

    // The Windows form of a host path: the drive whose target is its longest prefix, then the
    // rest with backslashes, e.g. "Z:\usr\bin\crestwick". Empty when no drive covers it.
    static std::string fromHost(const std::filesystem::path& hostPath);

    // The drive that holds the current directory, as a lower-case letter; 0 when none does.
    static char currentDrive();

    // The directory a drive letter stands for (its link resolved), if the drive exists.
    static std::optional<std::filesystem::path> driveTarget(char letter);
};

} // namespace platform
