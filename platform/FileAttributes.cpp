#include "platform/FileAttributes.h"

#include "platform/AtomicFile.h"

#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/syscall.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <string>

namespace fs = std::filesystem;

namespace platform {

namespace {

constexpr const char* kXattrName = "user.DOSATTRIB";
// Room for "0x" and eight digits with plenty to spare; longer values are not ours.
constexpr std::uint32_t kTextBufferSize = 64;

std::optional<std::uint32_t> parseStored(const char* text, std::size_t length)
{
    // Wine and Samba write "0x" followed by hexadecimal digits, sometimes with a trailing NUL.
    std::string value(text, length);
    while (!value.empty() && value.back() == '\0')
        value.pop_back();
    if (value.size() < 3 || value[0] != '0' || (value[1] != 'x' && value[1] != 'X'))
        return std::nullopt;
    std::uint32_t result = 0;
    for (std::size_t i = 2; i < value.size(); ++i) {
        const char c = value[i];
        std::uint32_t digit;
        if (c >= '0' && c <= '9')
            digit = std::uint32_t(c - '0');
        else if (c >= 'a' && c <= 'f')
            digit = std::uint32_t(c - 'a' + 10);
        else if (c >= 'A' && c <= 'F')
            digit = std::uint32_t(c - 'A' + 10);
        else
            return std::nullopt;
        if (result > 0x0FFFFFFFu)
            return std::nullopt;
        result = result * 16 + digit;
    }
    return result;
}

// getxattrat(2) reads an extended attribute of a file named relative to an open directory.
// glibc has no wrapper for it yet; kernels before 6.13 answer ENOSYS.
constexpr long kGetXattrAt = 464;
struct XattrArgs {
    std::uint64_t value;
    std::uint32_t size;
    std::uint32_t flags;
};
// Cleared once the kernel has said it has no getxattrat.
std::atomic<bool> getXattrAtWorks{true};

std::optional<std::uint32_t> readStoredAt(int directoryFd, const std::string& hostDirectory,
                                          const char* name)
{
    char buffer[kTextBufferSize];
    if (getXattrAtWorks.load(std::memory_order_relaxed)) {
        XattrArgs args{reinterpret_cast<std::uintptr_t>(buffer), sizeof buffer, 0};
        const long length =
            ::syscall(kGetXattrAt, directoryFd, name, 0, kXattrName, &args, sizeof args);
        if (length > 0)
            return parseStored(buffer, std::size_t(length));
        if (length == 0 || errno != ENOSYS)
            return std::nullopt;
        getXattrAtWorks.store(false, std::memory_order_relaxed);
    }
    const std::string path = hostDirectory + name;
    const ssize_t length = ::getxattr(path.c_str(), kXattrName, buffer, sizeof buffer);
    if (length <= 0)
        return std::nullopt;
    return parseStored(buffer, std::size_t(length));
}

bool isHiddenName(std::string_view name)
{
    return !name.empty() && name[0] == '.' && name != "." && name != "..";
}

// Whether the process may write a file, from its permission bits and owner where they settle
// it; ask() settles the rest.
template <class Ask>
bool writable(std::uint32_t mode, std::uint32_t owner, bool readOnlyFilesystem, Ask ask)
{
    // The effective user does not change while the program runs.
    static const uid_t user = ::geteuid();
    if ((mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0 || readOnlyFilesystem)
        return false;
    if (user == 0)
        return true;
    if (owner == user)
        return (mode & S_IWUSR) != 0;
    return ask();
}

} // namespace

std::uint32_t FileAttributes::fromEntry(int directoryFd, const std::string& hostDirectory,
                                        const char* name, std::uint32_t mode, std::uint32_t owner,
                                        bool readOnlyFilesystem)
{
    const bool isDirectory = S_ISDIR(mode);
    if (auto stored = readStoredAt(directoryFd, hostDirectory, name))
        return (*stored & ~std::uint32_t(kAttrDirectory)) |
               (isDirectory ? std::uint32_t(kAttrDirectory) : 0u);
    std::uint32_t attributes = isDirectory ? kAttrDirectory : kAttrArchive;
    if (isHiddenName(name))
        attributes |= kAttrHidden;
    if (!writable(mode, owner, readOnlyFilesystem,
                  [&] { return ::faccessat(directoryFd, name, W_OK, 0) == 0; }))
        attributes |= kAttrReadOnly;
    return attributes;
}

std::optional<std::uint32_t> FileAttributes::readStored(const fs::path& path, bool followLinks)
{
    char buffer[kTextBufferSize];
    const ssize_t length = followLinks
                               ? ::getxattr(path.c_str(), kXattrName, buffer, sizeof buffer)
                               : ::lgetxattr(path.c_str(), kXattrName, buffer, sizeof buffer);
    if (length <= 0)
        return std::nullopt;
    return parseStored(buffer, std::size_t(length));
}

std::uint32_t FileAttributes::derive(const fs::path& path, bool isDirectory)
{
    std::uint32_t attributes = isDirectory ? kAttrDirectory : kAttrArchive;
    if (isHiddenName(path.filename().string()))
        attributes |= kAttrHidden;
    if (!isWritable(path))
        attributes |= kAttrReadOnly;
    return attributes;
}

std::uint32_t FileAttributes::fromStatus(const fs::path& path, const struct stat& st,
                                         bool readOnlyFilesystem)
{
    const bool isDirectory = S_ISDIR(st.st_mode);
    if (auto stored = readStored(path, true))
        return (*stored & ~std::uint32_t(kAttrDirectory)) |
               (isDirectory ? std::uint32_t(kAttrDirectory) : 0u);
    std::uint32_t attributes = isDirectory ? kAttrDirectory : kAttrArchive;
    if (isHiddenName(path.filename().string()))
        attributes |= kAttrHidden;
    // The same answer as isWritable, from the status at hand where it suffices: a walk asks
    // this for many files and each system call counts.
    if (!writable(st.st_mode, st.st_uid, readOnlyFilesystem,
                  [&] { return ::access(path.c_str(), W_OK) == 0; }))
        attributes |= kAttrReadOnly;
    return attributes;
}

std::optional<std::uint32_t> FileAttributes::get(const fs::path& path)
{
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        return std::nullopt;
    struct statvfs vfs {};
    const bool readOnlyFilesystem = ::statvfs(path.c_str(), &vfs) == 0 && (vfs.f_flag & ST_RDONLY);
    return fromStatus(path, st, readOnlyFilesystem);
}

bool FileAttributes::set(const fs::path& path, std::uint32_t attributes)
{
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        return false;
    char text[kTextBufferSize];
    const int length = std::snprintf(text, sizeof text, "0x%x", unsigned(attributes));
    if (::setxattr(path.c_str(), kXattrName, text, std::size_t(length), 0) != 0)
        return false;
    const mode_t writeBits = S_IWUSR | S_IWGRP | S_IWOTH;
    mode_t mode = st.st_mode & 07777;
    if (attributes & kAttrReadOnly) {
        mode &= ~writeBits;
    } else if ((mode & writeBits) == 0) {
        // Clearing read-only gives back the owner's write permission, as a fresh file has it.
        mode |= S_IWUSR;
    }
    if (mode != (st.st_mode & 07777) && ::chmod(path.c_str(), mode) != 0)
        return false;
    return true;
}

} // namespace platform
