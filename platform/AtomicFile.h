#pragma once

#include <filesystem>
#include <functional>
#include <string>
#include <string_view>

#include <sys/stat.h>

namespace platform {

// What a symbolic link in a file's own place (the last component of its path) may do.
//
// The folder of a file is opened once and every later step names the file relative to that
// open folder (openat, renameat, unlinkat), so that a folder of the path swapped for a link
// meanwhile cannot send the step elsewhere; the file itself is never opened through a link
// unless the rule below allows that link. A refused link fails the step with errno ELOOP.
enum class Links {
    // Pictures and settings that are only read: a link is followed wherever it leads.
    Follow,
    // The system's own files (OEM files, registry files, shortcuts): a link is followed only
    // when it is owned by the user running the program and leads to a regular file inside the
    // system's tree (Prefix::systemTree()). A prefix may belong to another user than the one
    // who runs the program (an administrator preparing many prefixes as root): that user's
    // links must not steer what the program reads or writes.
    WithinSystem,
    // Backups, which live outside any system: a link is never followed.
    Refuse,
};

// Replaces the file at target with bytes, or creates it: the bytes go to a temporary file in
// the same folder, are flushed to disk and renamed over the target, so that a failure at any
// point leaves the old file exactly as it was. An existing file keeps its permissions unless
// mode (permission bits) is given, which then applies in every case; a new file otherwise gets
// 0644 less the umask. Fails (returns false) when the folder is missing or read-only, when the
// target is a read-only file or a directory, when links refuses a link in the target's place
// (errno ELOOP), or on any write error.
bool writeFileAtomically(const std::filesystem::path& target, std::string_view bytes,
                         Links links = Links::WithinSystem, int mode = -1);

// What writeFileAtomically does, with the temporary file's content made by fill: it gets the
// open temporary file, a path that names it, and the status of the file it will replace (null
// when there is none); returning false fails the write. The temporary file already has the
// old file's permissions (or the new file's) and is flushed to disk after fill.
using FillTemporary =
    std::function<bool(int fd, const std::string& path, const struct stat* replaced)>;
bool replaceFileAtomically(const std::filesystem::path& target, Links links,
                           const FillTemporary& fill);

// Reads a whole regular file. Returns false when it cannot be opened or read, when links
// refuses a link in its place (errno ELOOP), when it holds more than limit bytes (errno
// EFBIG), and for anything that is not a regular file, which is never opened for reading.
// status, when given, receives the file's status.
bool readWholeFile(const std::filesystem::path& path, std::string& bytes,
                   Links links = Links::Follow, struct stat* status = nullptr,
                   std::size_t limit = std::size_t(-1));

// Removes a file. A link in its place is removed itself (never what it leads to) when links
// allows following it. True when the file is gone, also when there was none.
bool removeFile(const std::filesystem::path& path, Links links = Links::WithinSystem);

// Removes the temporary files that writes of target left behind when their program was killed
// before renaming them: regular files of this user beside target named as a write names them.
// Call it only while holding the lock that every writer of target holds (SystemLock), so that
// no write in progress loses its file.
void removeStaleTemporaries(const std::filesystem::path& target);

// True when the last component of path is a symbolic link that links refuses.
bool refusesLink(const std::filesystem::path& path, Links links = Links::WithinSystem);

// The Windows notion of writable: the user has write access and the file or folder is not
// marked read-only. Root may write anywhere, so the permission bits decide for it too.
bool isWritable(const std::filesystem::path& path);

} // namespace platform
