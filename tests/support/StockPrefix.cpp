#include "tests/support/StockPrefix.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace fs = std::filesystem;

namespace stock {

namespace {

std::string read(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void write(const fs::path& path, std::string_view bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), std::streamsize(bytes.size()));
}

// The prefix as `wineboot` leaves it, as far as the OEM data is concerned.
void makeStock(const fs::path& prefix, const char* systemFolder)
{
    const fs::path data = dataFolder();
    fs::create_directories(prefix / "dosdevices");
    fs::create_directories(prefix / "drive_c" / "windows" / systemFolder);
    fs::create_directories(prefix / "drive_c" / "users" / "Public" / "Desktop");
    fs::create_directory_symlink("../drive_c", prefix / "dosdevices" / "c:");
    fs::create_directory_symlink("/", prefix / "dosdevices" / "z:");
    for (const char* file : {"system.reg", "user.reg", "userdef.reg"}) {
        fs::copy_file(data / file, prefix / file);
        // The prefix's own copies are writable whatever the checkout's permissions.
        fs::permissions(prefix / file, fs::perms::owner_read | fs::perms::owner_write);
    }
}

} // namespace

fs::path dataFolder()
{
    return fs::path(CRESTWICK_TESTDATA_DIR) / "wine8-prefix";
}

void makeNt6(const fs::path& prefix)
{
    makeStock(prefix, "system32");
}

void makeNt5(const fs::path& prefix)
{
    makeStock(prefix, "System32");
    ASSERT_TRUE(replaceLine(prefix, "\"CurrentVersion\"=\"6.1\"", "\"CurrentVersion\"=\"5.1\""));
    ASSERT_TRUE(replaceLine(prefix, "\"ProductName\"=\"Microsoft Windows 7\"",
                            "\"ProductName\"=\"Microsoft Windows XP\""));
}

void makeWithoutSystemRoot(const fs::path& prefix)
{
    makeStock(prefix, "system32");
    // The line goes, its line break too.
    const fs::path file = prefix / "system.reg";
    std::string text = read(file);
    const std::string line = "\"SystemRoot\"=\"C:\\\\windows\"\n";
    const std::size_t at = text.find(line);
    ASSERT_NE(at, std::string::npos);
    text.erase(at, line.size());
    ASSERT_EQ(text.find("\"SystemRoot\""), std::string::npos);
    write(file, text);
}

bool replaceLine(const fs::path& prefix, std::string_view line, std::string_view replacement)
{
    const fs::path file = prefix / "system.reg";
    std::string text = read(file);
    const std::string needle = "\n" + std::string(line) + "\n";
    const std::size_t at = text.find(needle);
    if (at == std::string::npos)
        return false;
    text.replace(at + 1, line.size(), replacement);
    write(file, text);
    return true;
}

void insertAfterSection(const fs::path& prefix, std::string_view keyHeaderStart,
                        std::string_view lines)
{
    const fs::path file = prefix / "system.reg";
    std::string text = read(file);
    const std::size_t header = text.find("\n" + std::string(keyHeaderStart));
    ASSERT_NE(header, std::string::npos) << keyHeaderStart;
    const std::size_t end = text.find("\n\n", header + 1);
    ASSERT_NE(end, std::string::npos);
    text.insert(end + 1, lines);
    write(file, text);
}

std::vector<std::string> splitLines(std::string_view text)
{
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos)
            end = text.size();
        lines.emplace_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

std::pair<std::vector<std::string>, std::vector<std::string>> changedLines(std::string_view before,
                                                                           std::string_view after)
{
    const std::vector<std::string> a = splitLines(before);
    const std::vector<std::string> b = splitLines(after);
    std::size_t head = 0;
    while (head < a.size() && head < b.size() && a[head] == b[head])
        ++head;
    std::size_t tail = 0;
    while (tail < a.size() - head && tail < b.size() - head &&
           a[a.size() - 1 - tail] == b[b.size() - 1 - tail])
        ++tail;
    // The rest is small: a longest common subsequence matches what stayed inside it.
    const std::vector<std::string> x(a.begin() + std::ptrdiff_t(head),
                                     a.end() - std::ptrdiff_t(tail));
    const std::vector<std::string> y(b.begin() + std::ptrdiff_t(head),
                                     b.end() - std::ptrdiff_t(tail));
    std::vector<std::vector<std::size_t>> common(x.size() + 1,
                                                 std::vector<std::size_t>(y.size() + 1, 0));
    for (std::size_t i = x.size(); i-- > 0;)
        for (std::size_t j = y.size(); j-- > 0;)
            common[i][j] = x[i] == y[j] ? common[i + 1][j + 1] + 1
                                        : std::max(common[i + 1][j], common[i][j + 1]);
    std::pair<std::vector<std::string>, std::vector<std::string>> result;
    std::size_t i = 0;
    std::size_t j = 0;
    while (i < x.size() || j < y.size()) {
        if (i < x.size() && j < y.size() && x[i] == y[j]) {
            ++i, ++j;
        } else if (j < y.size() && (i == x.size() || common[i][j + 1] >= common[i + 1][j])) {
            result.second.push_back(y[j++]);
        } else {
            result.first.push_back(x[i++]);
        }
    }
    return result;
}

LockHolder::LockHolder(const fs::path& file)
{
    int ready[2];
    if (::pipe(ready) != 0)
        return;
    pid_ = ::fork();
    if (pid_ == 0) {
        // Only calls that are safe after fork in a threaded process.
        ::close(ready[0]);
        const int fd = ::open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        struct flock lock {};
        lock.l_type = F_WRLCK;
        lock.l_whence = SEEK_SET;
        const char ok = fd >= 0 && ::fcntl(fd, F_SETLK, &lock) == 0 ? '1' : '0';
        if (::write(ready[1], &ok, 1) != 1)
            ::_exit(1);
        for (;;)
            ::pause();
    }
    ::close(ready[1]);
    char ok = '0';
    if (pid_ > 0 && ::read(ready[0], &ok, 1) == 1)
        holding_ = ok == '1';
    ::close(ready[0]);
}

LockHolder::~LockHolder()
{
    if (pid_ <= 0)
        return;
    ::kill(pid_, SIGKILL);
    int status = 0;
    ::waitpid(pid_, &status, 0);
}

FakeWineServer::FakeWineServer(const fs::path& prefix)
{
    std::string pattern = "/tmp/crestwick-wine-XXXXXX";
    if (!::mkdtemp(pattern.data()))
        return;
    folder_ = pattern;
    struct stat st {};
    if (::stat(prefix.c_str(), &st) != 0)
        return;
    char name[64];
    std::snprintf(name, sizeof name, "server-%llx-%llx", static_cast<unsigned long long>(st.st_dev),
                  static_cast<unsigned long long>(st.st_ino));
    fs::create_directories(folder_ / name);
    lockFile_ = folder_ / name / "lock";
    write(lockFile_, "");
    write(prefix / "wineserver", folder_.filename().string());
}

FakeWineServer::~FakeWineServer()
{
    std::error_code ec;
    if (!folder_.empty())
        fs::remove_all(folder_, ec);
}

std::string redBitmap()
{
    auto put32 = [](std::string& out, std::uint32_t v) {
        for (int i = 0; i < 4; ++i)
            out += char((v >> (8 * i)) & 0xFF);
    };
    std::string out = "BM";
    put32(out, 14 + 40 + 2 * 12);        // file size
    put32(out, 0);                       // reserved
    put32(out, 14 + 40);                 // pixel offset
    put32(out, 40);                      // header size
    put32(out, 4);                       // width
    put32(out, 2);                       // height, bottom-up
    out += std::string("\1\0\x18\0", 4); // planes, bits per pixel
    out += std::string(24, '\0');        // no compression, sizes, colours
    for (int i = 0; i < 8; ++i)
        out += std::string("\0\0\xFF", 3); // blue, green, red
    return out;
}

} // namespace stock
