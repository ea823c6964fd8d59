#include "platform/FileAttributes.h"

#include "platform/AtomicFile.h"

#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/xattr.h>
#include <unistd.h>

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

} // namespace

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
    const std::string name = path.filename().string();
    if (!name.empty() && name[0] == '.' && name != "." && name != "..")
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
    const std::string name = path.filename().string();
    if (!name.empty() && name[0] == '.' && name != "." && name != "..")
        attributes |= kAttrHidden;
    // The same answer as isWritable, from the status at hand where it suffices: a walk asks
    // this for many files and each system call counts.
    bool writable;
    const uid_t user = ::geteuid();
    if ((st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0 || readOnlyFilesystem)
        writable = false;
    else if (user == 0)
        writable = true;
    else if (st.st_uid == user)
        writable = (st.st_mode & S_IWUSR) != 0;
    else
        writable = ::access(path.c_str(), W_OK) == 0;
    if (!writable)
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
