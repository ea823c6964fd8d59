#pragma once

#include <sys/types.h>

#include <filesystem>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// Machines of every Windows generation, made from the registry files of a stock Wine 8 prefix
// (tests/data/wine8-prefix): drives c: (drive_c) and z: (/), the registry files as Wine wrote
// them, and a Windows folder with its system folder.
namespace stock {

// The start of the OEMInformation key's header line in system.reg.
inline constexpr const char* kOemKeyHeader =
    "[Software\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\OEMInformation] ";
// What a save says while Wine runs in the prefix.
inline constexpr const char* kWineRunning =
    "Wine is running in this prefix. Close its programs (wineserver -k) and save again.";

// A 4 by 2 bitmap file, 24 bits a pixel, every pixel red: the logo the tests save.
std::string redBitmap();

// The folder of the stock prefix's files in the repository's test data.
std::filesystem::path dataFolder();

// The stock prefix: Windows 7 as Wine 8 describes itself (NT 6.1), SystemRoot "C:\windows",
// folder drive_c/windows/system32.
void makeNt6(const std::filesystem::path& prefix);
// The same registry with CurrentVersion "5.1" and ProductName "Microsoft Windows XP", and a
// system folder spelled "System32" (Windows XP).
void makeNt5(const std::filesystem::path& prefix);
// The same registry without the SystemRoot value: no generation names its Windows directory.
void makeWithoutSystemRoot(const std::filesystem::path& prefix);

// Replaces the first occurrence of a whole line of system.reg; false when it is not there.
bool replaceLine(const std::filesystem::path& prefix, std::string_view line,
                 std::string_view replacement);
// Inserts text (whole lines) right after the section of key in system.reg (before the blank
// line that ends it).
void insertAfterSection(const std::filesystem::path& prefix, std::string_view keyHeaderStart,
                        std::string_view lines);

std::vector<std::string> splitLines(std::string_view text);

// The lines that differ between two versions of a file: those only in before, and those only
// in after, in order. Unchanged lines on both sides are matched as a diff tool would.
std::pair<std::vector<std::string>, std::vector<std::string>> changedLines(std::string_view before,
                                                                           std::string_view after);

// A process of its own that holds a write lock (fcntl, as a running Wine server does) on a
// file until it is destroyed.
class LockHolder {
public:
    explicit LockHolder(const std::filesystem::path& file);
    ~LockHolder();
    LockHolder(const LockHolder&) = delete;
    LockHolder& operator=(const LockHolder&) = delete;
    bool holding() const { return holding_; }

private:
    pid_t pid_ = -1;
    bool holding_ = false;
};

// The lock file of a Wine server for the prefix as Debian's Wine lays it out: the prefix's
// file "wineserver" names a new folder under /tmp, which holds server-<dev>-<inode>/lock. The
// folder is removed again when the object is destroyed.
class FakeWineServer {
public:
    explicit FakeWineServer(const std::filesystem::path& prefix);
    ~FakeWineServer();
    FakeWineServer(const FakeWineServer&) = delete;
    FakeWineServer& operator=(const FakeWineServer&) = delete;
    const std::filesystem::path& lockFile() const { return lockFile_; }

private:
    std::filesystem::path folder_;
    std::filesystem::path lockFile_;
};

} // namespace stock
