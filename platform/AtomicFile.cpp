#include "platform/AtomicFile.h"

#include "platform/OpenRegularFile.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace platform {

namespace {

constexpr off_t kReserveLimit = off_t(64) << 20;

// Closes a descriptor and removes the temporary file unless the rename has taken it.
class TemporaryFile {
public:
    explicit TemporaryFile(std::string pattern) : path_(std::move(pattern))
    {
        fd_ = ::mkstemp(path_.data());
        created_ = fd_ >= 0;
    }
    ~TemporaryFile()
    {
        if (fd_ >= 0)
            ::close(fd_);
        if (created_ && !committed_)
            ::unlink(path_.c_str());
    }
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;

    bool valid() const { return fd_ >= 0; }
    int fd() const { return fd_; }
    const std::string& path() const { return path_; }
    bool closeFile()
    {
        int fd = fd_;
        fd_ = -1;
        return ::close(fd) == 0;
    }
    void commit() { committed_ = true; }

private:
    std::string path_;
    int fd_ = -1;
    bool created_ = false;
    bool committed_ = false;
};

bool writeAll(int fd, std::string_view bytes)
{
    while (!bytes.empty()) {
        ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        bytes.remove_prefix(std::size_t(n));
    }
    return true;
}

} // namespace

bool isWritable(const fs::path& path)
{
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        return false;
    if ((st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0)
        return false;
    return ::access(path.c_str(), W_OK) == 0;
}

bool writeFileAtomically(const fs::path& target, std::string_view bytes)
{
    const fs::path folder = target.has_parent_path() ? target.parent_path() : fs::path(".");
    struct stat folderStat {};
    if (::stat(folder.c_str(), &folderStat) != 0 || !S_ISDIR(folderStat.st_mode) ||
        !isWritable(folder))
        return false;

    struct stat old {};
    const bool exists = ::lstat(target.c_str(), &old) == 0;
    if (exists) {
        struct stat resolved {};
        if (::stat(target.c_str(), &resolved) != 0 || !S_ISREG(resolved.st_mode) ||
            !isWritable(target))
            return false;
        old = resolved;
    }

    std::string tempName = ".";
    tempName += target.filename().string();
    tempName += ".XXXXXX";
    TemporaryFile temp((folder / tempName).string());
    if (!temp.valid())
        return false;
    const mode_t mode = exists ? (old.st_mode & 07777) : mode_t(0644 & ~[] {
        mode_t mask = ::umask(0);
        ::umask(mask);
        return mask;
    }());
    if (::fchmod(temp.fd(), mode) != 0 || !writeAll(temp.fd(), bytes) || ::fsync(temp.fd()) != 0 ||
        !temp.closeFile())
        return false;
    // A link in the target's place is followed, so that the file it names is replaced.
    std::error_code ec;
    fs::path final = exists ? fs::canonical(target, ec) : target;
    if (ec)
        return false;
    if (::rename(temp.path().c_str(), final.c_str()) != 0)
        return false;
    temp.commit();
    return true;
}

bool readWholeFile(const fs::path& path, std::string& bytes)
{
    struct stat st {};
    const int fd = openRegularFile(path, FileAccess::ReadOnly, &st);
    if (fd < 0)
        return false;
    bytes.clear();
    // The size is only a hint (files under /proc give 0 or far more than they hold), so no
    // more than a reasonable amount is set aside before reading.
    if (st.st_size > 0)
        bytes.reserve(std::size_t(std::min<off_t>(st.st_size, kReserveLimit)));
    char buffer[65536];
    for (;;) {
        ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            ::close(fd);
            return false;
        }
        if (n == 0)
            break;
        bytes.append(buffer, std::size_t(n));
    }
    ::close(fd);
    return true;
}

} // namespace platform
