#include "platform/OpenRegularFile.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace platform {

int openRegularFile(const std::filesystem::path& path, FileAccess access, struct stat* status)
{
    // Opening a device can have effects of its own (a tape rewinds, a watchdog arms), so a
    // name that already stands for something else is refused without opening it.
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        return -1;
    if (!S_ISREG(st.st_mode)) {
        errno = EACCES;
        return -1;
    }
    const int mode = access == FileAccess::ReadWrite ? O_RDWR : O_RDONLY;
    const int fd = ::open(path.c_str(), mode | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return -1;
    int error = 0;
    if (::fstat(fd, &st) != 0) {
        error = errno;
    } else if (!S_ISREG(st.st_mode)) {
        error = EACCES;
    } else {
        // Reads and writes wait for the disk as usual from here on.
        const int flags = ::fcntl(fd, F_GETFL);
        if (flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0)
            error = errno;
    }
    if (error != 0) {
        ::close(fd);
        errno = error;
        return -1;
    }
    if (status)
        *status = st;
    return fd;
}

} // namespace platform
