#include "platform/WinPath.h"
#include "tests/support/TempPrefix.h"

namespace fs = std::filesystem;

class WinPathTest : public TempPrefixTest {
protected:
    void SetUp() override
    {
        TempPrefixTest::SetUp();
        createDefaultPrefix();
        drive = fs::canonical(prefix() / "drive_c");
    }
    fs::path drive;
};

TEST_F(WinPathTest, DriveLettersMapThroughDosdevicesIgnoringCase)
{
    writeFile(windowsDir() / "system" / "OEMINFO.INI", "x");
    const struct {
        const char* windows;
        fs::path expected;
    } cases[] = {
        {"C:\\WINDOWS\\system\\oeminfo.ini", drive / "WINDOWS" / "system" / "OEMINFO.INI"},
        {"c:/windows/SYSTEM/OemInfo.ini", drive / "WINDOWS" / "system" / "OEMINFO.INI"},
        {"C:\\WINDOWS\\system\\new.bmp", drive / "WINDOWS" / "system" / "new.bmp"},
        {"c:\\windows\\.\\missing\\..\\system", drive / "WINDOWS" / "system"},
        {"C:\\", drive},
        {"z:\\", fs::path("/")},
    };
    for (const auto& c : cases) {
        auto host = platform::WinPath::toHost(c.windows);
        ASSERT_TRUE(host.has_value()) << c.windows;
        EXPECT_EQ(*host, c.expected) << c.windows;
    }
    EXPECT_FALSE(platform::WinPath::toHost("q:\\anything").has_value());
}

TEST_F(WinPathTest, RootedPathsUseTheDriveOfTheCurrentDirectory)
{
    fs::current_path(drive / "WINDOWS");
    EXPECT_EQ(platform::WinPath::currentDrive(), 'c');
    EXPECT_EQ(*platform::WinPath::toHost("\\system\\oeminfo.ini"),
              drive / "system" / "oeminfo.ini");
    EXPECT_EQ(*platform::WinPath::toHost("system"), drive / "WINDOWS" / "system");

    // Outside drive c: the catch-all z: holds the current directory.
    fs::current_path(temp());
    EXPECT_EQ(platform::WinPath::currentDrive(), 'z');
}

TEST_F(WinPathTest, HostPathsReadBackThroughTheLongestDrive)
{
    EXPECT_EQ(platform::WinPath::fromHost(drive / "WINDOWS" / "Desktop"), "C:\\WINDOWS\\Desktop");
    EXPECT_EQ(platform::WinPath::fromHost(drive), "C:\\");
    EXPECT_EQ(platform::WinPath::fromHost("/usr/bin/env"), "Z:\\usr\\bin\\env");
}
