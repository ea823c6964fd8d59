#include "platform/Drives.h"

#include "tests/support/TempPrefix.h"

namespace fs = std::filesystem;
using platform::Drives;

namespace {

class DrivesTest : public TempPrefixTest {
protected:
    void SetUp() override
    {
        TempPrefixTest::SetUp();
        createDefaultPrefix();
    }
    void link(const fs::path& target, const char* drive)
    {
        fs::create_directory_symlink(target, prefix() / "dosdevices" / drive);
    }
};

TEST_F(DrivesTest, MaskHasABitForEveryDosdevicesEntry)
{
    link(temp() / "missing", "d:");
    writeFile(prefix() / "dosdevices" / "com1", "");
    EXPECT_EQ(Drives::logicalDrives(), (1u << 2) | (1u << 3) | (1u << 25));
}

TEST_F(DrivesTest, TypesComeFromTheRegistryElseFromTheTarget)
{
    for (const char* d : {"a:", "d:", "n:", "r:", "h:"})
        link(temp(), d);
    link(temp() / "missing", "m:");
    writeFile(prefix() / "system.reg", "WINE REGISTRY Version 2\n"
                                       "[Software\\\\Wine\\\\Drives] 1700000000\n"
                                       "\"a:\"=\"floppy\"\n"
                                       "\"D:\"=\"CDROM\"\n"
                                       "\"n:\"=\"network\"\n"
                                       "\"r:\"=\"ramdisk\"\n"
                                       "\"h:\"=\"hd\"\n");
    const struct {
        const char* root;
        unsigned type;
    } cases[] = {
        {"a:\\", 2}, {"c:\\", 3}, {"C:", 3},   {"d:\\", 5}, {"n:\\", 4},    {"r:\\", 6},
        {"h:\\", 3}, {"m:\\", 1}, {"x:\\", 1}, {"", 1},     {"c:\\sub", 1},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Drives::driveType(c.root), c.type) << c.root;
}

TEST_F(DrivesTest, LabelIsTheFirstLineOfTheLabelFile)
{
    link(temp() / "missing", "d:");
    EXPECT_EQ(Drives::volumeLabel("c:\\"), std::string()) << "no label file";
    writeFile(prefix() / "drive_c" / ".windows-label", "SYSTEM\nsecond line\n");
    EXPECT_EQ(Drives::volumeLabel("c:\\"), "SYSTEM");
    writeFile(prefix() / "drive_c" / ".windows-label", std::string(300, 'L'));
    EXPECT_EQ(Drives::volumeLabel("c:\\")->size(), 260u);
    EXPECT_EQ(Drives::volumeLabel("d:\\"), std::nullopt) << "no disc";
}

TEST(DrivesMountTable, NamesNetworkSharesOfCifsAndNfsMounts)
{
    const std::string table =
        "22 1 8:1 / / rw - ext4 /dev/sda1 rw\n"
        "40 22 0:50 / /mnt/pics rw,relatime shared:5 - cifs //server/Pictures rw\n"
        "41 22 0:51 / /mnt/my\\040docs rw - nfs4 nas:/export/docs/ rw\n"
        "42 22 0:52 / /mnt/usb rw - vfat /dev/sdb1 rw\n"
        "43 40 0:53 / /mnt/pics/local rw - tmpfs tmpfs rw\n"
        "garbage line\n";
    const struct {
        const char* path;
        std::optional<std::string> share;
    } cases[] = {
        {"/mnt/pics", "\\\\server\\Pictures"},
        {"/mnt/pics/2020/x", "\\\\server\\Pictures"},
        {"/mnt/picsx", std::nullopt},
        {"/mnt/my docs", "\\\\nas\\export\\docs"},
        {"/mnt/usb", std::nullopt},
        {"/mnt/pics/local", std::nullopt},
        {"/home", std::nullopt},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Drives::shareFromMountTable(table, c.path), c.share) << c.path;
}

TEST(DrivesErrorMode, SetReturnsThePreviousMode)
{
    const unsigned before = Drives::setErrorMode(platform::kSemFailCriticalErrors);
    EXPECT_EQ(Drives::setErrorMode(before), platform::kSemFailCriticalErrors);
}

} // namespace
