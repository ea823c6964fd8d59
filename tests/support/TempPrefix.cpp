#include "tests/support/TempPrefix.h"

#include "desktop/TApplication.h"
#include "platform/Prefix.h"

#include <cstdlib>
#include <fstream>
#include <sstream>

namespace fs = std::filesystem;

void TempPrefixTest::SetUp()
{
    std::string pattern = (fs::temp_directory_path() / "crestwick-test-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    temp_ = pattern;
    if (const char* old = std::getenv("WINEPREFIX")) {
        hadPrefix_ = true;
        oldPrefix_ = old;
    }
    ::setenv("WINEPREFIX", prefix().c_str(), 1);
    fs::create_directories(temp_ / "home");
    ::setenv("HOME", (temp_ / "home").c_str(), 1);
    ::setenv("XDG_DATA_HOME", (temp_ / "home" / ".local" / "share").c_str(), 1);
    oldCwd_ = fs::current_path();
    fs::current_path(temp_);
    Application().ResetTerminated();
    Application().SetErrorReporter(
        [this](const std::string& text, const std::string&) { errors.push_back(text); });
}

void TempPrefixTest::TearDown()
{
    Application().SetErrorReporter({});
    std::error_code ec;
    fs::current_path(oldCwd_, ec);
    if (hadPrefix_)
        ::setenv("WINEPREFIX", oldPrefix_.c_str(), 1);
    else
        ::unsetenv("WINEPREFIX");
    // Read-only folders made by a test must become writable again before removal.
    for (auto it = fs::recursive_directory_iterator(temp_, ec); !ec && it != fs::end(it);
         it.increment(ec))
        if (!it->is_symlink())
            fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
    fs::permissions(temp_, fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(temp_, ec);
}

void TempPrefixTest::createDefaultPrefix() { ASSERT_TRUE(platform::Prefix::ensureExists()); }

void TempPrefixTest::writeFile(const fs::path& path, std::string_view bytes)
{
    fs::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), std::streamsize(bytes.size()));
}

std::string TempPrefixTest::readFile(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}
