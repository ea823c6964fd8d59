#include "platform/AtomicFile.h"

#include "platform/OpenRegularFile.h"
#include "platform/Prefault.h"
#include "platform/Prefix.h"
#include "platform/ScratchFolder.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <optional>
#include <sys/random.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>
#include <utility>
#include <vector>

namespace fs = std::filesystem;

namespace platform {

namespace {

constexpr off_t kReserveLimit = off_t(64) << 20;

// A folder opened once. Every step inside it names its file relative to the open folder, so
// that whatever happens to the path it was opened by, the step stays in this folder.
class OpenFolder {
public:
    explicit OpenFolder(const fs::path& folder)
        : fd_(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC))
    {
    }
    ~OpenFolder()
    {
        if (fd_ >= 0)
            ::close(fd_);
    }
    OpenFolder(const OpenFolder&) = delete;
    OpenFolder& operator=(const OpenFolder&) = delete;
    OpenFolder(OpenFolder&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    OpenFolder& operator=(OpenFolder&& other) noexcept
    {
        std::swap(fd_, other.fd_);
        return *this;
    }

    bool valid() const { return fd_ >= 0; }
    int fd() const { return fd_; }
    // A path that names the open folder itself, for the calls that take only paths.
    std::string path() const { return "/proc/self/fd/" + std::to_string(fd_); }
    // Where the open folder is now.
    fs::path realPath() const
    {
        std::error_code ec;
        fs::path real = fs::read_symlink(path(), ec);
        return ec ? fs::path() : real;
    }
    bool writable() const
    {
        struct stat st {};
        return ::fstat(fd_, &st) == 0 && (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) != 0 &&
               ::access(path().c_str(), W_OK) == 0;
    }

private:
    int fd_ = -1;
};

// Where a step on a file happens: its folder, opened, and its name there, with the status of
// the entry (never of what a link leads to).
struct Place {
    OpenFolder folder;
    std::string name;
    bool exists = false;
    struct stat status {};
};

bool insideSystem(const fs::path& path)
{
    return Prefix::inSystemTree(path);
}

// Opens the folder of path and looks at its last component without following it. Under
// Links::WithinSystem a path inside the system stays inside it: a folder on the way that has
// become a link out of the system (after a caller's check, say) is refused with ELOOP.
std::optional<Place> lookAt(const fs::path& path, Links links)
{
    const std::string name = path.filename().string();
    if (name.empty() || name == "." || name == "..") {
        errno = EISDIR;
        return std::nullopt;
    }
    Place at{OpenFolder(path.has_parent_path() ? path.parent_path() : fs::path(".")), name};
    if (!at.folder.valid())
        return std::nullopt;
    std::error_code ec;
    if (links == Links::WithinSystem &&
        insideSystem(fs::absolute(path, ec).lexically_normal().parent_path()) &&
        !insideSystem(at.folder.realPath())) {
        errno = ELOOP;
        return std::nullopt;
    }
    if (::fstatat(at.folder.fd(), name.c_str(), &at.status, AT_SYMLINK_NOFOLLOW) == 0)
        at.exists = true;
    else if (errno != ENOENT)
        return std::nullopt;
    return at;
}

// Where the link at is allows a step to go under links: the path of the regular file it leads
// to, or nothing when the link is refused.
std::optional<fs::path> linkTarget(const Place& at, Links links)
{
    if (links == Links::Refuse)
        return std::nullopt;
    if (links == Links::WithinSystem && at.status.st_uid != ::geteuid())
        return std::nullopt;
    std::error_code ec;
    const fs::path target = fs::canonical(fs::path(at.folder.path()) / at.name, ec);
    if (ec || !fs::is_regular_file(target, ec))
        return std::nullopt;
    if (links == Links::WithinSystem && !insideSystem(target))
        return std::nullopt;
    return target;
}

// The place of path under links: the file itself, or the file a link in its place leads to
// when links allows it (looked at again without following anything, so that a link put there
// meanwhile is refused). Nothing with errno ELOOP for a refused link.
std::optional<Place> locate(const fs::path& path, Links links)
{
    std::optional<Place> at = lookAt(path, links);
    if (!at || !at->exists || !S_ISLNK(at->status.st_mode))
        return at;
    const std::optional<fs::path> target = linkTarget(*at, links);
    if (target)
        at = lookAt(*target, links);
    if (!target || (at && (!at->exists || S_ISLNK(at->status.st_mode) ||
                           (links == Links::WithinSystem &&
                            !insideSystem(at->folder.realPath() / at->name))))) {
        errno = ELOOP;
        return std::nullopt;
    }
    return at;
}

constexpr std::string_view kTemporaryLetters =
    "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
constexpr std::size_t kTemporarySuffix = 6;

// True when name is one that a temporary file for target is given: "." target "." and six
// letters or digits.
bool isTemporaryName(std::string_view name, std::string_view target)
{
    const std::size_t prefix = target.size() + 2;
    return name.size() == prefix + kTemporarySuffix && name[0] == '.' &&
           name.substr(1, target.size()) == target && name[prefix - 1] == '.' &&
           name.substr(prefix).find_first_not_of(kTemporaryLetters) == std::string_view::npos;
}

// A new temporary file beside the target, removed again unless the rename has taken it.
class TemporaryFile {
public:
    TemporaryFile(const OpenFolder& folder, const std::string& target) : folder_(folder)
    {
        for (int attempt = 0; attempt < 100 && fd_ < 0; ++attempt) {
            unsigned char random[6] = {};
            if (::getrandom(random, sizeof random, 0) != ssize_t(sizeof random))
                return;
            name_ = "." + target + ".";
            for (unsigned char byte : random)
                name_ += kTemporaryLetters[byte % kTemporaryLetters.size()];
            fd_ = ::openat(folder.fd(), name_.c_str(),
                           O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
            if (fd_ < 0 && errno != EEXIST)
                return;
        }
        created_ = fd_ >= 0;
    }
    ~TemporaryFile()
    {
        if (fd_ >= 0)
            ::close(fd_);
        if (created_ && !committed_)
            ::unlinkat(folder_.fd(), name_.c_str(), 0);
    }
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;

    bool valid() const { return fd_ >= 0; }
    int fd() const { return fd_; }
    const std::string& name() const { return name_; }
    std::string path() const { return folder_.path() + "/" + name_; }
    bool closeFile()
    {
        int fd = fd_;
        fd_ = -1;
        return ::close(fd) == 0;
    }
    void commit() { committed_ = true; }

private:
    const OpenFolder& folder_;
    std::string name_;
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

bool readAll(int fd, std::string& bytes, const struct stat& st, std::size_t limit)
{
    bytes.clear();
    if (st.st_size > 0 && std::uintmax_t(st.st_size) > limit) {
        errno = EFBIG;
        return false;
    }
    // The size is only a hint (files under /proc give 0 or far more than they hold), so no
    // more than a reasonable amount is set aside before reading.
    if (st.st_size > 0) {
        const auto hint = std::size_t(std::min<off_t>(st.st_size, kReserveLimit));
        bytes.reserve(hint);
        prefaultPages(bytes.data(), hint);
    }
    char buffer[65536];
    for (;;) {
        ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (n == 0)
            return true;
        if (std::size_t(n) > limit - bytes.size()) {
            errno = EFBIG;
            return false;
        }
        bytes.append(buffer, std::size_t(n));
    }
}

mode_t newFileMode()
{
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return 0644 & ~mask;
}

} // namespace

bool isWritable(const fs::path& path)
{
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        return false;
    if ((st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) {
        errno = EACCES;
        return false;
    }
    return ::access(path.c_str(), W_OK) == 0;
}

bool replaceFileAtomically(const fs::path& target, Links links, const FillTemporary& fill)
{
    const std::optional<Place> at = locate(target, links);
    if (!at || !at->folder.writable())
        return false;
    if (at->exists && (!S_ISREG(at->status.st_mode) ||
                       (at->status.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0 ||
                       ::faccessat(at->folder.fd(), at->name.c_str(), W_OK, 0) != 0))
        return false;

    TemporaryFile temp(at->folder, at->name);
    if (!temp.valid())
        return false;
    const bool flush = !ScratchFolder::holds(target);
    const mode_t mode = at->exists ? (at->status.st_mode & 07777) : newFileMode();
    // A system file keeps its owner and group where the user may give them (root always,
    // another user the group when a member of it), so that an administrator's save leaves the
    // prefix's files to the prefix's owner and a hive keeps its group. Backups are the running
    // user's own and take no owner from what they replace.
    if (at->exists && links == Links::WithinSystem &&
        ::fchown(temp.fd(), at->status.st_uid, at->status.st_gid) != 0)
        (void)::fchown(temp.fd(), uid_t(-1), at->status.st_gid);
    if (::fchmod(temp.fd(), mode) != 0 ||
        !fill(temp.fd(), temp.path(), at->exists ? &at->status : nullptr) ||
        (flush && ::fsync(temp.fd()) != 0) || !temp.closeFile())
        return false;
    // The rename replaces the entry in the open folder, whatever it is by now: a link put in
    // the target's place meanwhile is replaced, never followed.
    if (::renameat(at->folder.fd(), temp.name().c_str(), at->folder.fd(), at->name.c_str()) != 0)
        return false;
    temp.commit();
    if (flush)
        (void)::fsync(at->folder.fd());
    return true;
}

bool writeFileAtomically(const fs::path& target, std::string_view bytes, Links links, int mode)
{
    return replaceFileAtomically(target, links, [&](int fd, const std::string&, const struct stat*) {
        return (mode < 0 || ::fchmod(fd, mode_t(mode) & 07777) == 0) && writeAll(fd, bytes);
    });
}

bool readWholeFile(const fs::path& path, std::string& bytes, Links links, struct stat* status,
                   std::size_t limit)
{
    struct stat st {};
    int fd = -1;
    if (links == Links::Follow) {
        fd = openRegularFile(path, FileAccess::ReadOnly, &st);
    } else {
        const std::optional<Place> at = locate(path, links);
        if (!at)
            return false;
        if (!at->exists || !S_ISREG(at->status.st_mode)) {
            errno = at->exists ? EACCES : ENOENT;
            return false;
        }
        // Opened without waiting, so that a FIFO put in its place meanwhile cannot block.
        fd = ::openat(at->folder.fd(), at->name.c_str(),
                      O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
        if (fd >= 0 && (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) ||
                        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0)) {
            ::close(fd);
            errno = EACCES;
            fd = -1;
        }
    }
    if (fd < 0)
        return false;
    const bool ok = readAll(fd, bytes, st, limit);
    const int error = errno;
    ::close(fd);
    errno = error;
    if (ok && status)
        *status = st;
    return ok;
}

bool removeFile(const fs::path& path, Links links)
{
    const std::optional<Place> at = lookAt(path, links);
    if (!at)
        return false;
    if (!at->exists)
        return true;
    if (S_ISLNK(at->status.st_mode) && !linkTarget(*at, links)) {
        errno = ELOOP;
        return false;
    }
    if (S_ISDIR(at->status.st_mode)) {
        errno = EISDIR;
        return false;
    }
    return at->folder.writable() && ::unlinkat(at->folder.fd(), at->name.c_str(), 0) == 0;
}

void removeStaleTemporaries(const fs::path& target)
{
    const OpenFolder folder(target.parent_path());
    if (!folder.valid())
        return;
    const std::string name = target.filename().string();
    std::error_code ec;
    std::vector<std::string> stale;
    for (fs::directory_iterator it(folder.path(), ec), end; !ec && it != end;
         it.increment(ec))
        if (const std::string entry = it->path().filename().string(); isTemporaryName(entry, name))
            stale.push_back(entry);
    for (const std::string& entry : stale) {
        // Only regular files of this user, never a link or a folder of that name.
        struct stat st {};
        if (::fstatat(folder.fd(), entry.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
            S_ISREG(st.st_mode) && st.st_uid == ::geteuid())
            ::unlinkat(folder.fd(), entry.c_str(), 0);
    }
}

bool refusesLink(const fs::path& path, Links links)
{
    const std::optional<Place> at = lookAt(path, links);
    if (!at)
        return errno == ELOOP;
    return at->exists && S_ISLNK(at->status.st_mode) && !linkTarget(*at, links);
}

} // namespace platform
