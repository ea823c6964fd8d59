#pragma once

#include "core/Exceptions.h"

#include <chrono>
#include <filesystem>

namespace platform {

// Raised when another program keeps saving to the system for longer than a save waits.
class ESystemBusy : public Exception {
public:
    ESystemBusy();
};

// An exclusive advisory lock (flock) on the folder that holds a system: a Wine-style prefix or
// a mounted Windows volume. Every save holds it from its first read to its last write, so that
// two programs (the window and a script, or two scripts) that save at the same moment take
// turns instead of overwriting each other's changes. The lock is taken on the folder itself:
// nothing is created for it, which matters on a Windows volume.
//
// Locks of one process nest: a save that calls another part of the program that takes the
// lock again holds it only once, and releases it when the outermost lock ends. A folder that
// does not exist or cannot be opened is not locked; whatever the save writes there fails on
// its own.
class SystemLock {
public:
    static constexpr const char* kBusy = "Another program is saving to this system. Try again.";
    // Long enough for any save of another program to end; short enough for a user to wait.
    static constexpr std::chrono::milliseconds kDefaultWait{5000};

    // Takes the lock, waiting up to wait for another holder to release it; raises ESystemBusy
    // when it is still held then.
    explicit SystemLock(const std::filesystem::path& folder,
                        std::chrono::milliseconds wait = kDefaultWait);
    ~SystemLock();
    SystemLock(const SystemLock&) = delete;
    SystemLock& operator=(const SystemLock&) = delete;

private:
    // The identity of the locked folder (device and inode); 0 and 0 when nothing is locked.
    unsigned long long device_ = 0;
    unsigned long long inode_ = 0;
    bool held_ = false;
};

} // namespace platform
