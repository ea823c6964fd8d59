#include "platform/Drives.h"

#include "core/AsciiCase.h"
#include "platform/AtomicFile.h"
#include "platform/Prefix.h"
#include "platform/WinPath.h"
#include "platform/Registry.h"

#include <sys/stat.h>

#include <atomic>
#include <filesystem>
#include <mutex>
#include <vector>

namespace fs = std::filesystem;

namespace platform {

namespace {

// The label buffer of the platform holds 261 characters with its terminating zero.
constexpr std::size_t kMaxLabelLength = 260;

std::atomic<unsigned> errorMode{0};

std::mutex mountTableMutex;
std::optional<std::string> mountTableOverride;

bool isLetter(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

// The value of "x:" under Software\Wine\Drives in system.reg, lower-cased; empty when none.
// Asked through the registry functions, which keep the file parsed while it does not change,
// so that asking for every drive costs one read of the file, shared with every other reader.
std::string registryDriveKind(char letter)
{
    // Only a Wine prefix has the key: a Windows system's hive is not opened for it.
    struct stat st {};
    if (::stat(Prefix::systemReg().c_str(), &st) != 0)
        return {};
    HKEY key = 0;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Wine\\Drives", 0, KEY_QUERY_VALUE, &key) !=
        ERROR_SUCCESS)
        return {};
    const char name[] = {letter, ':', '\0'};
    DWORD type = 0;
    char data[64];
    DWORD size = sizeof data;
    const LONG result =
        RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(data), &size);
    RegCloseKey(key);
    // Every kind Wine knows is a short word: a longer value is none of them.
    if (result != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ))
        return {};
    std::string text(data, size);
    while (!text.empty() && text.back() == '\0')
        text.pop_back();
    return core::AsciiLowerCase(text);
}

char rootLetter(std::string_view root)
{
    if (root.size() < 2 || root[1] != ':' || !isLetter(root[0]))
        return 0;
    if (root.size() > 3 || (root.size() == 3 && root[2] != '\\' && root[2] != '/'))
        return 0;
    return core::asciiLower(root[0]);
}

// Undoes the octal escapes (\040 for a space) of a mount table field.
std::string unescapeMountField(std::string_view field)
{
    std::string out;
    for (std::size_t i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size() && field[i + 1] >= '0' &&
            field[i + 1] <= '7' && field[i + 2] >= '0' && field[i + 2] <= '7' &&
            field[i + 3] >= '0' && field[i + 3] <= '7') {
            out +=
                char((field[i + 1] - '0') * 64 + (field[i + 2] - '0') * 8 + (field[i + 3] - '0'));
            i += 3;
        } else {
            out += field[i];
        }
    }
    return out;
}

std::vector<std::string_view> splitSpaces(std::string_view line)
{
    std::vector<std::string_view> fields;
    std::size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && line[i] == ' ')
            ++i;
        const std::size_t start = i;
        while (i < line.size() && line[i] != ' ')
            ++i;
        if (i > start)
            fields.push_back(line.substr(start, i - start));
    }
    return fields;
}

bool isUnder(const std::string& path, const std::string& mountPoint)
{
    if (mountPoint == "/")
        return !path.empty() && path[0] == '/';
    return path.compare(0, mountPoint.size(), mountPoint) == 0 &&
           (path.size() == mountPoint.size() || path[mountPoint.size()] == '/');
}

} // namespace

std::uint32_t Drives::logicalDrives()
{
    std::uint32_t mask = 0;
    for (char letter = 'a'; letter <= 'z'; ++letter) {
        const auto entry = Prefix::driveEntry(letter);
        struct stat st {};
        if (entry && ::lstat(entry->c_str(), &st) == 0)
            mask |= 1u << (letter - 'a');
    }
    return mask;
}

unsigned Drives::driveType(std::string_view root)
{
    const char letter = rootLetter(root);
    if (letter == 0)
        return kDriveNoRootDir;
    struct stat st {};
    const auto entry = Prefix::driveEntry(letter);
    if (!entry || ::lstat(entry->c_str(), &st) != 0)
        return kDriveNoRootDir;
    const std::string kind = registryDriveKind(letter);
    if (kind == "floppy")
        return kDriveRemovable;
    if (kind == "hd")
        return kDriveFixed;
    if (kind == "network")
        return kDriveRemote;
    if (kind == "cdrom")
        return kDriveCdRom;
    if (kind == "ramdisk")
        return kDriveRamDisk;
    return WinPath::driveTarget(letter) ? kDriveFixed : kDriveNoRootDir;
}

std::optional<std::string> Drives::volumeLabel(std::string_view root)
{
    const char letter = rootLetter(root);
    if (letter == 0)
        return std::nullopt;
    const auto target = WinPath::driveTarget(letter);
    if (!target)
        return std::nullopt;
    std::string bytes;
    if (!readWholeFile(*target / ".windows-label", bytes))
        return std::string();
    const std::size_t end = bytes.find_first_of("\r\n");
    if (end != std::string::npos)
        bytes.resize(end);
    if (bytes.size() > kMaxLabelLength)
        bytes.resize(kMaxLabelLength);
    return bytes;
}

std::optional<std::string> Drives::shareFromMountTable(std::string_view mountInfo,
                                                       const std::string& path)
{
    std::string bestMountPoint;
    std::string bestType;
    std::string bestSource;
    bool found = false;
    std::size_t start = 0;
    while (start < mountInfo.size()) {
        std::size_t end = mountInfo.find('\n', start);
        if (end == std::string_view::npos)
            end = mountInfo.size();
        const auto fields = splitSpaces(mountInfo.substr(start, end - start));
        start = end + 1;
        // id parent major:minor root mount-point options [optional...] - type source options
        std::size_t dash = 0;
        for (std::size_t i = 6; i < fields.size(); ++i)
            if (fields[i] == "-") {
                dash = i;
                break;
            }
        if (fields.size() < 7 || dash == 0 || dash + 2 >= fields.size())
            continue;
        const std::string mountPoint = unescapeMountField(fields[4]);
        if (!isUnder(path, mountPoint))
            continue;
        // A later mount over the same point hides the earlier one.
        if (!found || mountPoint.size() >= bestMountPoint.size()) {
            found = true;
            bestMountPoint = mountPoint;
            bestType = std::string(fields[dash + 1]);
            bestSource = unescapeMountField(fields[dash + 2]);
        }
    }
    if (!found)
        return std::nullopt;
    std::string share;
    if (bestType == "cifs" || bestType == "smb3" || bestType == "smbfs") {
        // "//server/share"
        std::size_t i = 0;
        while (i < bestSource.size() && (bestSource[i] == '/' || bestSource[i] == '\\'))
            ++i;
        share = bestSource.substr(i);
    } else if (bestType == "nfs" || bestType == "nfs4") {
        // "server:/export/path"
        const std::size_t colon = bestSource.find(':');
        if (colon == std::string::npos)
            return std::nullopt;
        std::string exportPath = bestSource.substr(colon + 1);
        while (!exportPath.empty() && exportPath[0] == '/')
            exportPath.erase(0, 1);
        share = bestSource.substr(0, colon) + "/" + exportPath;
    } else {
        return std::nullopt;
    }
    while (!share.empty() && (share.back() == '/' || share.back() == '\\'))
        share.pop_back();
    if (share.empty())
        return std::nullopt;
    for (char& c : share)
        if (c == '/')
            c = '\\';
    return "\\\\" + share;
}

std::optional<std::string> Drives::networkName(std::string_view drive)
{
    const char letter = rootLetter(drive);
    if (letter == 0)
        return std::nullopt;
    const auto target = WinPath::driveTarget(letter);
    if (!target)
        return std::nullopt;
    std::string table;
    {
        std::lock_guard lock(mountTableMutex);
        if (mountTableOverride)
            table = *mountTableOverride;
    }
    if (table.empty() && !readWholeFile("/proc/self/mountinfo", table))
        return std::nullopt;
    return shareFromMountTable(table, target->string());
}

unsigned Drives::setErrorMode(unsigned mode)
{
    return errorMode.exchange(mode);
}

void Drives::setMountTableForTesting(std::optional<std::string> mountInfo)
{
    std::lock_guard lock(mountTableMutex);
    mountTableOverride = std::move(mountInfo);
}

} // namespace platform
