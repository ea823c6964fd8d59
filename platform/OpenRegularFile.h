#pragma once

#include <filesystem>

#include <sys/stat.h>

namespace platform {

enum class FileAccess { ReadOnly, ReadWrite };

// Opens an existing file by name the way a Windows drive would hold it: only a regular file,
// or a link to one, is opened. A FIFO would make open() wait for a writer that may never come,
// and a device such as /dev/zero would be read without end, so neither is ever read: the
// name is looked at first, then opened with O_NONBLOCK so that a FIFO put in its place
// meanwhile cannot block, and the open file is checked again before the descriptor is put back
// into blocking mode. Returns the descriptor (close-on-exec) or -1 with errno set; anything
// but a regular file gives EACCES, as Windows denies access to what is not a file. When
// status is given it receives the open file's status.
int openRegularFile(const std::filesystem::path& path, FileAccess access,
                    struct stat* status = nullptr);

} // namespace platform
