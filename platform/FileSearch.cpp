#include "platform/FileSearch.h"

#include "platform/FileAttributes.h"
#include "platform/WinPath.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cstring>

namespace fs = std::filesystem;

namespace platform {

namespace {

inline unsigned char foldCase(unsigned char c)
{
    return c >= 'a' && c <= 'z' ? c - 32 : c;
}

// What only a Unix tree holds: a FIFO, a socket, a character or block device.
inline bool isSpecial(unsigned char type)
{
    return type == DT_FIFO || type == DT_SOCK || type == DT_CHR || type == DT_BLK;
}

} // namespace

SearchPattern::SearchPattern(std::string_view pattern) : pattern_(pattern)
{
    if (pattern_.size() >= 2 && pattern_.compare(pattern_.size() - 2, 2, ".*") == 0) {
        hasDotStar_ = true;
        withoutDotStar_ = pattern_.substr(0, pattern_.size() - 2);
    }
    matchesEverything_ = pattern_ == "*" || pattern_ == "*.*";
}

bool SearchPattern::matchText(std::string_view pattern, std::string_view name)
{
    std::size_t p = 0, n = 0;
    // Where the latest star stood, and the name position it has swallowed up to.
    std::size_t starPattern = std::string_view::npos, starName = 0;
    while (n < name.size()) {
        if (p < pattern.size() && pattern[p] == '*') {
            starPattern = p++;
            starName = n;
        } else if (p < pattern.size() &&
                   (pattern[p] == '?' || foldCase(static_cast<unsigned char>(pattern[p])) ==
                                             foldCase(static_cast<unsigned char>(name[n])))) {
            ++p;
            ++n;
        } else if (starPattern != std::string_view::npos) {
            p = starPattern + 1;
            n = ++starName;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*')
        ++p;
    return p == pattern.size();
}

bool SearchPattern::matches(std::string_view name) const
{
    if (matchesEverything_)
        return true;
    if (matchText(pattern_, name))
        return true;
    return hasDotStar_ && name.find('.') == std::string_view::npos &&
           matchText(withoutDotStar_, name);
}

// The directory is read with getdents64 into a buffer of its own rather than through a
// directory stream, which would cost a status call per directory to size its buffer. The
// buffer starts at the size that lists an ordinary folder in one call and grows for a folder
// that fills it, so that a folder of many thousand names takes a few calls, not hundreds.
struct FileSearch::Listing {
    explicit Listing(std::string_view pattern) : pattern(pattern) {}
    ~Listing()
    {
        if (fd >= 0)
            ::close(fd);
    }

    // The next entry the host lists, or null at the end or on a read error.
    const struct dirent64* next()
    {
        if (offset == filled) {
            if (!buffer || filled > bufferSize / 2) {
                if (buffer && bufferSize < kLargestBuffer)
                    bufferSize *= 2;
                if (!buffer || bufferSize != allocated) {
                    buffer = std::make_unique_for_overwrite<char[]>(bufferSize);
                    allocated = bufferSize;
                }
            }
            const ssize_t got = ::getdents64(fd, buffer.get(), bufferSize);
            if (got <= 0)
                return nullptr;
            filled = std::size_t(got);
            offset = 0;
        }
        const auto* entry = reinterpret_cast<const struct dirent64*>(buffer.get() + offset);
        offset += entry->d_reclen;
        return entry;
    }

    static constexpr std::size_t kFirstBuffer = 32 * 1024;
    static constexpr std::size_t kLargestBuffer = 1024 * 1024;

    int fd = -1;
    std::unique_ptr<char[]> buffer;
    std::size_t bufferSize = kFirstBuffer;
    std::size_t allocated = 0;
    // Bytes the last read gave, and where the next entry starts in them.
    std::size_t filled = 0;
    std::size_t offset = 0;
    std::string hostDir;
    SearchPattern pattern;
    // 0 before ".", 1 before "..", 2 while the host lists the rest.
    int stage = 0;
    unsigned char type = DT_UNKNOWN;
    // Whether the directory lies on a read-only mount: -1 until asked.
    int readOnlyFilesystem = -1;
};

FileSearch::FileSearch() = default;
FileSearch::~FileSearch() = default;

bool FileSearch::findFirst(std::string_view windowsPattern)
{
    findClose();
    const std::size_t slash = windowsPattern.find_last_of("\\/");
    std::string_view directory;
    std::string_view pattern = windowsPattern;
    if (slash != std::string_view::npos) {
        directory = windowsPattern.substr(0, slash + 1);
        pattern = windowsPattern.substr(slash + 1);
    } else if (windowsPattern.size() >= 2 && windowsPattern[1] == ':') {
        directory = windowsPattern.substr(0, 2);
        pattern = windowsPattern.substr(2);
    }
    if (pattern.empty())
        return false;
    std::optional<fs::path> host =
        directory.empty() ? std::optional<fs::path>(fs::path(".")) : WinPath::toHost(directory);
    if (!host)
        return false;
    return findFirstHost(*host, pattern);
}

bool FileSearch::findFirstHost(const fs::path& directory, std::string_view pattern)
{
    findClose();
    if (pattern.empty())
        return false;
    auto listing = std::make_unique<Listing>(pattern);
    listing->fd = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_NONBLOCK | O_CLOEXEC);
    if (listing->fd < 0)
        return false;
    listing->hostDir = directory.string();
    if (listing->hostDir.empty() || listing->hostDir.back() != '/')
        listing->hostDir += '/';
    listing_ = std::move(listing);
    if (!advance()) {
        findClose();
        return false;
    }
    return true;
}

bool FileSearch::findNext()
{
    if (!listing_)
        return false;
    return advance();
}

void FileSearch::findClose()
{
    listing_.reset();
}

bool FileSearch::advance()
{
    Listing& l = *listing_;
    statusLoaded_ = false;
    attributesLoaded_ = false;
    isDirectoryLink_ = false;
    while (l.stage < 2) {
        const char* dots = l.stage == 0 ? "." : "..";
        ++l.stage;
        if (l.pattern.matches(dots)) {
            name_ = dots;
            isDirectory_ = true;
            l.type = DT_DIR;
            return true;
        }
    }
    while (const struct dirent64* entry = l.next()) {
        const char* name = entry->d_name;
        if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0)
            continue;
        if (!l.pattern.matches(name))
            continue;
        unsigned char type = entry->d_type;
        if (type == DT_UNKNOWN) {
            struct stat st {};
            if (::fstatat(l.fd, name, &st, AT_SYMLINK_NOFOLLOW) == 0)
                type = IFTODT(st.st_mode);
        }
        // A Windows drive holds only files and folders: FIFOs, sockets and devices, and links
        // to them, are left out, so that nothing ever opens them by a listed name.
        if (isSpecial(type))
            continue;
        bool directoryLink = false;
        if (type == DT_LNK) {
            struct stat st {};
            if (::fstatat(l.fd, name, &st, 0) == 0) {
                if (isSpecial(IFTODT(st.st_mode)))
                    continue;
                directoryLink = S_ISDIR(st.st_mode);
            }
        }
        name_ = name;
        l.type = type;
        isDirectory_ = type == DT_DIR || directoryLink;
        isDirectoryLink_ = directoryLink;
        return true;
    }
    return false;
}

fs::path FileSearch::hostPath() const
{
    if (!listing_)
        return {};
    return fs::path(listing_->hostDir + name_);
}

void FileSearch::loadStatus()
{
    if (statusLoaded_ || !listing_)
        return;
    statusLoaded_ = true;
    statusFound_ = false;
    size_ = 0;
    // A link to a directory is not followed, neither by a walk nor for its details.
    if (isDirectoryLink_)
        return;
    // One statx relative to the open directory, asking only for what the attributes and the
    // size need.
    struct statx st {};
    const bool dots = isDots();
    if (::statx(dots ? AT_FDCWD : listing_->fd, dots ? hostPath().c_str() : name_.c_str(), 0,
                STATX_TYPE | STATX_MODE | STATX_UID | STATX_SIZE, &st) != 0)
        return; // a dangling link: an empty file as far as Windows can tell
    statusFound_ = true;
    mode_ = st.stx_mode;
    owner_ = st.stx_uid;
    size_ = S_ISDIR(st.stx_mode) ? 0 : std::int64_t(st.stx_size);
}

void FileSearch::loadAttributes()
{
    if (attributesLoaded_ || !listing_)
        return;
    attributesLoaded_ = true;
    loadStatus();
    if (isDirectoryLink_) {
        attributes_ = FileAttributes::derive(hostPath(), true) | kAttrReparsePoint;
        return;
    }
    if (!statusFound_) {
        attributes_ = kAttrArchive;
        return;
    }
    // Whether the directory lies on a read-only mount is asked once per directory.
    const int directoryFd = listing_->fd;
    if (listing_->readOnlyFilesystem < 0) {
        struct statvfs vfs {};
        listing_->readOnlyFilesystem =
            ::fstatvfs(directoryFd, &vfs) == 0 && (vfs.f_flag & ST_RDONLY) ? 1 : 0;
    }
    const bool readOnly = listing_->readOnlyFilesystem == 1;
    if (isDots()) {
        struct stat status {};
        status.st_mode = mode_;
        status.st_uid = owner_;
        attributes_ = FileAttributes::fromStatus(hostPath(), status, readOnly);
    } else {
        attributes_ = FileAttributes::fromEntry(directoryFd, listing_->hostDir, name_.c_str(),
                                                mode_, owner_, readOnly);
    }
}

std::uint32_t FileSearch::attributes()
{
    loadAttributes();
    return attributes_;
}

std::int64_t FileSearch::size()
{
    loadStatus();
    return size_;
}

} // namespace platform
