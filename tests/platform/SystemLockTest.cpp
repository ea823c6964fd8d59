#include "platform/SystemLock.h"
#include "tests/support/TempPrefix.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

using SystemLockTest = TempPrefixTest;

// Whether another process could take the folder's lock now.
bool freeForOthers(const fs::path& folder)
{
    const pid_t child = ::fork();
    if (child == 0) {
        const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY);
        ::_exit(fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) == 0 ? 0 : 1);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

} // namespace

// Locks of one process nest (a save within a save does not wait for itself); the lock is
// released only when the outermost ends, and it creates nothing in the folder.
TEST_F(SystemLockTest, NestedLocksOfOneProcessHoldTheFolderUntilTheOutermostEnds)
{
    fs::create_directories(prefix());
    {
        const platform::SystemLock outer(prefix());
        EXPECT_FALSE(freeForOthers(prefix()));
        {
            const platform::SystemLock inner(prefix(), std::chrono::milliseconds(0));
        }
        EXPECT_FALSE(freeForOthers(prefix()));
    }
    EXPECT_TRUE(freeForOthers(prefix()));
    EXPECT_TRUE(fs::is_empty(prefix()));
    // A folder that is not there is not locked, and not made.
    EXPECT_NO_THROW(platform::SystemLock(temp() / "missing"));
    EXPECT_FALSE(fs::exists(temp() / "missing"));
}
