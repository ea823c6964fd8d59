#pragma once

#include "core/Exceptions.h"

#include <filesystem>
#include <vector>

namespace oem {

// Raised instead of writing the registry of a prefix whose Wine server runs: the server keeps
// the registry in memory and writes system.reg over any change of ours when it ends.
class EWineRunning : public Exception {
public:
    EWineRunning();
};

// What Wine itself uses to find the server of a prefix. The server's folder is named after the
// device and inode of the prefix folder ("server-fe00-a72079", lower-case hexadecimal) and lies
// in /tmp/.wine-<uid>/ for upstream Wine, or, for Debian's Wine, in the folder under /tmp that
// the prefix's own file "wineserver" names. A running server holds a write lock (fcntl) on the
// file "lock" in that folder.
class WineServer {
public:
    // The lock files a server of the prefix would hold, in the order they are checked; none
    // when the prefix folder does not exist.
    static std::vector<std::filesystem::path> lockFiles(const std::filesystem::path& prefix);

    // True while another process holds a write lock on one of the prefix's lock files.
    static bool runningFor(const std::filesystem::path& prefix);

    // Raises EWineRunning while a server runs for the prefix.
    static void ensureNotRunning(const std::filesystem::path& prefix);
};

} // namespace oem
