#include "oem/WineServer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <string>

namespace fs = std::filesystem;

namespace oem {

namespace {

// Wine keeps its server folders here, whatever TMPDIR says.
const fs::path kServerRoot = "/tmp";

// The first line of the prefix's "wineserver" file, without surrounding blanks.
std::string debianServerFolder(const fs::path& prefix)
{
    std::ifstream in(prefix / "wineserver");
    std::string line;
    if (!in || !std::getline(in, line))
        return {};
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r'; };
    while (!line.empty() && blank(line.back()))
        line.pop_back();
    std::size_t start = 0;
    while (start < line.size() && blank(line[start]))
        ++start;
    return line.substr(start);
}

bool lockedByAnotherProcess(const fs::path& lockFile)
{
    const int fd = ::open(lockFile.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
    if (fd < 0)
        return false;
    struct flock lock {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    lock.l_start = 0;
    lock.l_len = 0;
    const bool locked = ::fcntl(fd, F_GETLK, &lock) == 0 && lock.l_type != F_UNLCK;
    ::close(fd);
    return locked;
}

} // namespace

EWineRunning::EWineRunning()
    : Exception("Wine is running in this prefix. Close its programs (wineserver -k) and save "
                "again.")
{
}

std::vector<fs::path> WineServer::lockFiles(const fs::path& prefix)
{
    struct stat st {};
    if (::stat(prefix.c_str(), &st) != 0)
        return {};
    char name[64];
    std::snprintf(name, sizeof name, "server-%llx-%llx", static_cast<unsigned long long>(st.st_dev),
                  static_cast<unsigned long long>(st.st_ino));

    std::vector<fs::path> files{kServerRoot / (".wine-" + std::to_string(::getuid())) / name /
                                "lock"};
    if (const std::string folder = debianServerFolder(prefix);
        !folder.empty() && folder.find('/') == std::string::npos && folder != "." && folder != "..")
        files.push_back(kServerRoot / folder / name / "lock");
    return files;
}

bool WineServer::runningFor(const fs::path& prefix)
{
    for (const fs::path& file : lockFiles(prefix))
        if (lockedByAnotherProcess(file))
            return true;
    return false;
}

void WineServer::ensureNotRunning(const fs::path& prefix)
{
    if (runningFor(prefix))
        throw EWineRunning();
}

} // namespace oem
