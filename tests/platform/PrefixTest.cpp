#include "platform/Prefix.h"
#include "platform/WinPath.h"
#include "tests/support/TempPrefix.h"

#include <cstdlib>

namespace fs = std::filesystem;

using PrefixTest = TempPrefixTest;

TEST_F(PrefixTest, FollowsWineprefixThenXdgDataHomeThenHome)
{
    EXPECT_EQ(platform::Prefix::root(), prefix());
    ::unsetenv("WINEPREFIX");
    EXPECT_EQ(platform::Prefix::root(), temp() / "home" / ".local" / "share" / "crestwick");
    ::setenv("XDG_DATA_HOME", (temp() / "data").c_str(), 1);
    EXPECT_EQ(platform::Prefix::root(), temp() / "data" / "crestwick");
}

TEST_F(PrefixTest, FirstStartCreatesAFreshMachine)
{
    createDefaultPrefix();
    EXPECT_TRUE(fs::is_directory(windowsDir() / "system"));
    EXPECT_TRUE(fs::is_directory(windowsDir() / "Desktop"));
    EXPECT_TRUE(fs::is_directory(windowsDir() / "Start Menu" / "Programs"));
    EXPECT_EQ(fs::read_symlink(prefix() / "dosdevices" / "c:"), "../drive_c");
    EXPECT_EQ(fs::read_symlink(prefix() / "dosdevices" / "z:"), "/");
    const std::string reg = readFile(prefix() / "system.reg");
    EXPECT_EQ(reg.rfind("WINE REGISTRY Version 2\n", 0), 0u);
    EXPECT_NE(reg.find("[Software\\\\Microsoft\\\\Windows\\\\CurrentVersion]"), std::string::npos);
    EXPECT_NE(reg.find("\"SystemRoot\"=\"C:\\\\WINDOWS\""), std::string::npos);
}

TEST_F(PrefixTest, AnExistingPrefixIsNeverChanged)
{
    writeFile(prefix() / "system.reg", "mine");
    createDefaultPrefix();
    EXPECT_EQ(readFile(prefix() / "system.reg"), "mine");
    EXPECT_FALSE(fs::exists(prefix() / "dosdevices"));
}
