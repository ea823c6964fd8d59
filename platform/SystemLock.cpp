#include "platform/SystemLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <map>
#include <mutex>
#include <thread>
#include <utility>

namespace platform {

namespace {

// The folders this process holds locked, by identity: the open folder that carries the lock
// and how many nested locks hold it.
struct Held {
    int fd = -1;
    int depth = 0;
};

struct Locks {
    std::mutex mutex;
    std::map<std::pair<unsigned long long, unsigned long long>, Held> held;
};

Locks& locks()
{
    static Locks l;
    return l;
}

constexpr std::chrono::milliseconds kRetryInterval{10};

} // namespace

ESystemBusy::ESystemBusy() : Exception(SystemLock::kBusy) {}

SystemLock::SystemLock(const std::filesystem::path& folder, std::chrono::milliseconds wait)
{
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return;
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        ::close(fd);
        return;
    }
    const auto key = std::make_pair((unsigned long long)st.st_dev, (unsigned long long)st.st_ino);
    {
        std::lock_guard guard(locks().mutex);
        if (const auto it = locks().held.find(key); it != locks().held.end()) {
            ++it->second.depth;
            ::close(fd);
            device_ = key.first;
            inode_ = key.second;
            held_ = true;
            return;
        }
    }
    const auto deadline = std::chrono::steady_clock::now() + wait;
    while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if ((errno != EWOULDBLOCK && errno != EINTR) ||
            std::chrono::steady_clock::now() >= deadline) {
            const bool busy = errno == EWOULDBLOCK || errno == EINTR;
            ::close(fd);
            if (busy)
                throw ESystemBusy();
            // A filesystem without locks: the save goes ahead unlocked.
            return;
        }
        std::this_thread::sleep_for(kRetryInterval);
    }
    std::lock_guard guard(locks().mutex);
    locks().held[key] = Held{fd, 1};
    device_ = key.first;
    inode_ = key.second;
    held_ = true;
}

SystemLock::~SystemLock()
{
    if (!held_)
        return;
    std::lock_guard guard(locks().mutex);
    const auto it = locks().held.find({device_, inode_});
    if (it == locks().held.end() || --it->second.depth > 0)
        return;
    // Closing the only descriptor of the open folder releases the lock.
    ::close(it->second.fd);
    locks().held.erase(it);
}

} // namespace platform
