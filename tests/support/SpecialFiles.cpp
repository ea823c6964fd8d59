#include "tests/support/SpecialFiles.h"

#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace fs = std::filesystem;

namespace {

void bindSocket(const fs::path& path)
{
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    // A socket path is limited to the size of sun_path; a relative name from inside the
    // folder keeps deep temporary paths within it.
    const fs::path oldCwd = fs::current_path();
    fs::current_path(path.parent_path());
    const std::string name = path.filename().string();
    ASSERT_LT(name.size(), sizeof address.sun_path);
    std::memcpy(address.sun_path, name.data(), name.size());
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE(fd, 0) << std::strerror(errno);
    const int bound = ::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
    const int error = errno;
    ::close(fd);
    fs::current_path(oldCwd);
    ASSERT_EQ(bound, 0) << path << ": " << std::strerror(error);
}

} // namespace

std::string describe(SpecialKind kind)
{
    switch (kind) {
    case SpecialKind::Fifo:
        return "FIFO";
    case SpecialKind::Socket:
        return "socket";
    case SpecialKind::LinkToZero:
        return "link to /dev/zero";
    case SpecialKind::LinkToNull:
        return "link to /dev/null";
    }
    return "?";
}

void makeSpecialFile(SpecialKind kind, const fs::path& path)
{
    switch (kind) {
    case SpecialKind::Fifo:
        ASSERT_EQ(::mkfifo(path.c_str(), 0644), 0) << path << ": " << std::strerror(errno);
        break;
    case SpecialKind::Socket:
        bindSocket(path);
        break;
    case SpecialKind::LinkToZero:
        fs::create_symlink("/dev/zero", path);
        break;
    case SpecialKind::LinkToNull:
        fs::create_symlink("/dev/null", path);
        break;
    }
}
