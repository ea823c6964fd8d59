#include "scan/uFileOp.h"

#include "desktop/TApplication.h"
#include "platform/FileAttributes.h"
#include "platform/FileSearch.h"
#include "platform/OpenRegularFile.h"
#include "platform/WinPath.h"

#include <QDateTime>
#include <QLocale>
#include <QMessageBox>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <optional>

namespace fs = std::filesystem;

namespace {

// The file and folder primitives of the platform, over Windows paths of the machine.

std::optional<fs::path> toHost(const std::string& windowsPath)
{
    if (windowsPath.empty())
        return std::nullopt;
    return platform::WinPath::toHost(windowsPath);
}

bool directoryExists(const std::string& windowsPath)
{
    const auto host = toHost(windowsPath);
    struct stat st {};
    return host && ::stat(host->c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool fileExists(const std::string& windowsPath)
{
    const auto host = toHost(windowsPath);
    struct stat st {};
    return host && ::stat(host->c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

// A file marked read-only refuses to be written, replaced or deleted, for every user.
bool isReadOnly(const fs::path& host)
{
    const auto attributes = platform::FileAttributes::get(host);
    return attributes && (*attributes & platform::kAttrReadOnly);
}

bool createDirectory(const std::string& windowsPath)
{
    const auto host = toHost(windowsPath);
    return host && ::mkdir(host->c_str(), 0777) == 0;
}

bool deleteFile(const std::string& windowsPath)
{
    const auto host = toHost(windowsPath);
    struct stat st {};
    if (!host || ::lstat(host->c_str(), &st) != 0 || S_ISDIR(st.st_mode))
        return false;
    if (!S_ISLNK(st.st_mode) && isReadOnly(*host))
        return false;
    return ::unlink(host->c_str()) == 0;
}

class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    ~FileDescriptor()
    {
        if (fd_ >= 0)
            ::close(fd_);
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int get() const { return fd_; }
    bool close()
    {
        const int fd = fd_;
        fd_ = -1;
        return ::close(fd) == 0;
    }

private:
    int fd_;
};

// Copies a file's bytes, permissions, modification time and stored attributes to a temporary
// file beside the destination and renames it over the destination, so that no failure leaves
// a half-written destination.
bool copyHostFile(const fs::path& source, const fs::path& dest)
{
    // Only a regular file is copied: a FIFO would wait for a writer and a device such as
    // /dev/zero would fill the disk.
    struct stat st {};
    FileDescriptor in(platform::openRegularFile(source, platform::FileAccess::ReadOnly, &st));
    if (in.get() < 0)
        return false;
    struct stat old {};
    if (::stat(dest.c_str(), &old) == 0) {
        if (S_ISDIR(old.st_mode) || isReadOnly(dest))
            return false;
        if (old.st_dev == st.st_dev && old.st_ino == st.st_ino)
            return true;
    }
    std::string temp = (dest.parent_path() / ("." + dest.filename().string() + ".XXXXXX")).string();
    FileDescriptor out(::mkstemp(temp.data()));
    if (out.get() < 0)
        return false;
    bool ok = true;
    char buffer[1 << 16];
    for (;;) {
        const ssize_t n = ::read(in.get(), buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            ok = n == 0;
            break;
        }
        for (ssize_t done = 0; ok && done < n;) {
            const ssize_t w = ::write(out.get(), buffer + done, std::size_t(n - done));
            if (w < 0 && errno == EINTR)
                continue;
            if (w <= 0)
                ok = false;
            else
                done += w;
        }
        if (!ok)
            break;
    }
    char attributes[64];
    const ssize_t length = ::fgetxattr(in.get(), "user.DOSATTRIB", attributes, sizeof attributes);
    if (ok && length > 0)
        ::fsetxattr(out.get(), "user.DOSATTRIB", attributes, std::size_t(length), 0);
    const timespec times[2] = {st.st_atim, st.st_mtim};
    ok = ok && ::fchmod(out.get(), st.st_mode & 07777) == 0 && ::futimens(out.get(), times) == 0 &&
         ::fsync(out.get()) == 0;
    ok = out.close() && ok;
    if (ok && ::rename(temp.c_str(), dest.c_str()) == 0)
        return true;
    ::unlink(temp.c_str());
    return false;
}

bool copyFile(const std::string& source, const std::string& dest)
{
    const auto from = toHost(source);
    const auto to = toHost(dest);
    return from && to && copyHostFile(*from, *to);
}

bool moveFile(const std::string& source, const std::string& dest)
{
    const auto from = toHost(source);
    const auto to = toHost(dest);
    struct stat st {};
    if (!from || !to || ::lstat(from->c_str(), &st) != 0 || ::lstat(to->c_str(), &st) == 0)
        return false;
    if (::rename(from->c_str(), to->c_str()) == 0)
        return true;
    if (errno != EXDEV)
        return false;
    // Across filesystems: a whole copy first, then the source goes.
    if (!copyHostFile(*from, *to))
        return false;
    if (::unlink(from->c_str()) != 0) {
        ::unlink(to->c_str());
        return false;
    }
    return true;
}

std::string dateTimeFormatFor(const QLocale& locale)
{
    QString date = locale.dateFormat(QLocale::ShortFormat);
    // Two-digit years read back into the wrong century; the date is shown with all four.
    if (!date.contains(QLatin1String("yyyy")))
        date.replace(QLatin1String("yy"), QLatin1String("yyyy"));
    QString time = locale.timeFormat(QLocale::LongFormat);
    // The zone name cannot be read back; the time is the user's local time.
    time.remove(QLatin1Char('t'));
    return (date + QLatin1Char(' ') + time.trimmed()).toStdString();
}

} // namespace

std::uint32_t TMyFileType::PlatformBits() const
{
    std::uint32_t bits = 0;
    if (Contains(ftReadOnly))
        bits |= platform::kAttrReadOnly;
    if (Contains(ftHidden))
        bits |= platform::kAttrHidden;
    if (Contains(ftSystem))
        bits |= platform::kAttrSystem;
    if (Contains(ftArchive))
        bits |= platform::kAttrArchive;
    return bits;
}

TMyFileType TMyFileType::FromPlatformBits(std::uint32_t bits)
{
    TMyFileType set;
    if (bits & platform::kAttrReadOnly)
        set.bits_ |= 1u << ftReadOnly;
    if (bits & platform::kAttrHidden)
        set.bits_ |= 1u << ftHidden;
    if (bits & platform::kAttrSystem)
        set.bits_ |= 1u << ftSystem;
    if (bits & platform::kAttrArchive)
        set.bits_ |= 1u << ftArchive;
    return set;
}

TFileOperations::TFileOperations(QObject* owner) : QObject(owner) {}

TFileOperations::~TFileOperations() = default;

std::string TFileOperations::JoinDir(const std::string& dir, const std::string& rest)
{
    if (!dir.empty() && dir.back() == '\\')
        return dir + rest;
    return dir + "\\" + rest;
}

std::string TFileOperations::DateTimeFormat()
{
    return dateTimeFormatFor(QLocale::system());
}

void TFileOperations::reportError(const std::string& error, const std::string& path)
{
    if (OnError)
        OnError(this, error, path);
}

void TFileOperations::showErrorBox(const std::string& text)
{
    if (ShowErrorBox) {
        ShowErrorBox(text);
        return;
    }
    QMessageBox::critical(nullptr, QString::fromStdString(Application().Title()),
                          QString::fromStdString(text), QMessageBox::Ok);
}

bool TFileOperations::checkSourcePath()
{
    if (directoryExists(sourcePath_))
        return true;
    reportError("Directory does not exists", sourcePath_);
    return !sourcePath_.empty();
}

std::vector<std::string> TFileOperations::listEntries(const std::string& dir,
                                                      const std::string& pattern, bool directories)
{
    std::vector<std::string> names;
    if (dir.empty())
        return names;
    platform::FileSearch search;
    for (bool ok = search.findFirst(JoinDir(dir, pattern)); ok; ok = search.findNext()) {
        const std::string& name = search.name();
        if (name == "." || name == "..")
            continue;
        // A link to a directory is not walked into: a tree operation stays inside its tree.
        if (directories ? (search.isDirectory() && !search.isDirectoryLink())
                        : !search.isDirectory())
            names.push_back(name);
    }
    return names;
}

void TFileOperations::GetFiles(bool WithPath)
{
    const bool go = checkSourcePath();
    fileList_.Clear();
    if (!go)
        return;
    for (const std::string& name : listEntries(sourcePath_, mask_, false))
        fileList_.Add(WithPath ? JoinDir(sourcePath_, name) : name);
}

int TFileOperations::GetDirs()
{
    const bool go = checkSourcePath();
    dirList_.Clear();
    if (!go)
        return 0;
    platform::FileSearch search;
    for (bool ok = search.findFirst(JoinDir(sourcePath_, "*.*")); ok; ok = search.findNext())
        if (search.isDirectory() && search.name() != "." && search.name() != "..")
            dirList_.Add(search.name());
    return dirList_.Count();
}

bool TFileOperations::DeleteFiles()
{
    checkSourcePath();
    bool result = true;
    for (const std::string& path : fileList_.Texts()) {
        if (!deleteFile(path)) {
            reportError("Error deleting file", path);
            result = false;
        }
    }
    return result;
}

bool TFileOperations::deleteTreeAt(const std::string& dir)
{
    bool result = true;
    const auto files = listEntries(dir, mask_, false);
    const auto subdirectories = listEntries(dir, "*.*", true);
    for (const std::string& name : files) {
        const std::string path = JoinDir(dir, name);
        if (!deleteFile(path)) {
            reportError("Error deleting file", path);
            result = false;
        }
    }
    for (const std::string& name : subdirectories)
        result = deleteTreeAt(JoinDir(dir, name)) && result;
    return result;
}

bool TFileOperations::DeleteTree()
{
    if (!checkSourcePath())
        return true;
    return deleteTreeAt(sourcePath_);
}

bool TFileOperations::copyFilesBetween(const std::string& source, const std::string& dest,
                                       const std::vector<std::string>& names, bool move)
{
    bool result = true;
    if (!directoryExists(dest) && !createDirectory(dest)) {
        reportError("Error creating directory", dest);
        result = false;
        // With no destination at all, each name alone would land in the current folder.
        if (dest.empty())
            return false;
    }
    for (const std::string& name : names) {
        const std::string from = source + name;
        const std::string to = dest + name;
        if (move) {
            if (fileExists(to))
                deleteFile(to);
            if (!moveFile(from, to)) {
                reportError("Error moving file", from);
                result = false;
            }
        } else if (!copyFile(from, to)) {
            reportError("Error copying file", from);
            result = false;
        }
    }
    return result;
}

bool TFileOperations::CopyFiles(bool Move)
{
    checkSourcePath();
    return copyFilesBetween(sourcePath_, destPath_, fileList_.Texts(), Move);
}

void TFileOperations::copyTreeAt(const std::string& source, const std::string& dest, bool move)
{
    const std::string s = JoinDir(source, "");
    const std::string t = JoinDir(dest, "");
    copyFilesBetween(s, t, listEntries(s, mask_, false), move);
    for (const std::string& name : listEntries(s, "*.*", true))
        copyTreeAt(s + name, t + name, move);
}

void TFileOperations::CopyTree(bool Move)
{
    if (!checkSourcePath())
        return;
    if (destPath_.empty()) {
        reportError("Error creating directory", destPath_);
        return;
    }
    copyTreeAt(sourcePath_, destPath_, Move);
}

std::string TFileOperations::findFileAt(const std::string& name, const std::string& dir)
{
    if (showDirsOnSearch_)
        dirList_.Add(JoinDir(dir, ""));
    {
        platform::FileSearch search;
        bool ok = search.findFirst(JoinDir(dir, name));
        // "." and ".." are never what is looked for; the first real entry decides.
        while (ok && (search.name() == "." || search.name() == ".."))
            ok = search.findNext();
        if (ok && !search.isDirectory())
            return JoinDir(dir, search.name());
    }
    for (const std::string& sub : listEntries(dir, "*.*", true)) {
        std::string found = findFileAt(name, JoinDir(dir, sub));
        if (!found.empty())
            return found;
    }
    return {};
}

std::string TFileOperations::FindFile(const std::string& Name, const std::string& StartDir)
{
    if (StartDir.empty())
        return {};
    return findFileAt(Name, StartDir);
}

void TFileOperations::SearchFiles(const std::string& Name, const std::string& StartDir)
{
    if (StartDir.empty())
        return;
    if (showDirsOnSearch_)
        dirList_.Add(JoinDir(StartDir, ""));
    for (const std::string& file : listEntries(StartDir, Name, false))
        fileList_.Add(JoinDir(StartDir, file));
    for (const std::string& sub : listEntries(StartDir, "*.*", true))
        SearchFiles(Name, JoinDir(StartDir, sub));
}

void TFileOperations::SetDetailFileName(std::string name)
{
    detailFileName_ = std::move(name);
    detailFileAttr_ = TMyFileType();
    detailFileDateTime_.clear();
    if (!fileExists(detailFileName_))
        return;
    loading_ = true;
    const fs::path host = *toHost(detailFileName_);
    detailFileAttr_ =
        TMyFileType::FromPlatformBits(platform::FileAttributes::get(host).value_or(0));
    struct stat st {};
    FileDescriptor file(platform::openRegularFile(host, platform::FileAccess::ReadOnly, &st));
    if (file.get() >= 0) {
        const QDateTime modified = QDateTime::fromSecsSinceEpoch(st.st_mtim.tv_sec);
        detailFileDateTime_ = QLocale::system()
                                  .toString(modified, QString::fromStdString(DateTimeFormat()))
                                  .toStdString();
    }
    platform::FileSearch search;
    detailFileSize_ = search.findFirst(detailFileName_) ? search.size() : -1;
    loading_ = false;
}

void TFileOperations::SetDetailFileAttr(TMyFileType attributes)
{
    if (loading_ || !fileExists(detailFileName_))
        return;
    const fs::path host = *toHost(detailFileName_);
    if (!platform::FileAttributes::set(host, attributes.PlatformBits())) {
        showErrorBox("Unable to set file attributes to Detail File: " + detailFileName_);
        return;
    }
    detailFileAttr_ = attributes;
}

void TFileOperations::SetDetailFileDateTime(const std::string& text)
{
    if (loading_ || !fileExists(detailFileName_))
        return;
    const fs::path host = *toHost(detailFileName_);
    const std::string failed = "Unable to set date/time on file: " + detailFileName_;
    FileDescriptor file(
        isReadOnly(host) ? -1 : platform::openRegularFile(host, platform::FileAccess::ReadWrite));
    if (file.get() < 0) {
        showErrorBox(failed);
        return;
    }
    const QDateTime when = QLocale::system().toDateTime(QString::fromStdString(text),
                                                        QString::fromStdString(DateTimeFormat()));
    if (!when.isValid()) {
        showErrorBox("Invalid date/time");
        return;
    }
    timespec times[2];
    times[0].tv_sec = 0;
    times[0].tv_nsec = UTIME_OMIT;
    times[1].tv_sec = time_t(when.toSecsSinceEpoch());
    times[1].tv_nsec = 0;
    if (::futimens(file.get(), times) != 0) {
        showErrorBox(failed);
        return;
    }
    detailFileDateTime_ = text;
}
