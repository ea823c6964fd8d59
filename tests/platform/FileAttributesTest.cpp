#include "platform/FileAttributes.h"

#include "tests/support/TempPrefix.h"

#include <sys/stat.h>
#include <sys/xattr.h>

#include <cstring>

namespace fs = std::filesystem;
using platform::FileAttributes;

namespace {

class FileAttributesTest : public TempPrefixTest {};

TEST_F(FileAttributesTest, DerivesAttributesFromTheHostWithoutTheExtendedAttribute)
{
    writeFile(temp() / "plain", "x");
    writeFile(temp() / ".dot", "x");
    writeFile(temp() / "locked", "x");
    fs::permissions(temp() / "locked",
                    fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                    fs::perm_options::remove);
    fs::create_directories(temp() / "folder");
    EXPECT_EQ(FileAttributes::get(temp() / "plain"), 0x20u);
    EXPECT_EQ(FileAttributes::get(temp() / ".dot"), 0x22u);
    EXPECT_EQ(FileAttributes::get(temp() / "locked"), 0x21u);
    EXPECT_EQ(FileAttributes::get(temp() / "folder"), 0x10u);
    EXPECT_EQ(FileAttributes::get(temp() / "missing"), std::nullopt);
}

TEST_F(FileAttributesTest, ReadsTheStoredHexTextAsWineAndSambaWriteIt)
{
    writeFile(temp() / "f", "x");
    const struct {
        const char* stored;
        std::size_t length;
        std::uint32_t expected;
    } cases[] = {
        {"0x21", 4, 0x21}, {"0X4", 3, 0x04}, {"0x22\0", 5, 0x22}, {"0x0", 3, 0x00},
        {"0xfg", 4, 0x20}, {"12", 2, 0x20},  {"0x", 2, 0x20},     {"0x123456789", 11, 0x20},
    };
    for (const auto& c : cases) {
        if (::setxattr((temp() / "f").c_str(), "user.DOSATTRIB", c.stored, c.length, 0) != 0)
            GTEST_SKIP() << kNoExtendedAttributes;
        EXPECT_EQ(FileAttributes::get(temp() / "f"), c.expected) << c.stored;
    }
}

TEST_F(FileAttributesTest, SettingStoresTheTextAndTheWritePermission)
{
    writeFile(temp() / "f", "x");
    if (!FileAttributes::set(temp() / "f", 0x21))
        GTEST_SKIP() << kNoExtendedAttributes;
    char buffer[32] = {};
    const ssize_t n = ::getxattr((temp() / "f").c_str(), "user.DOSATTRIB", buffer, sizeof buffer);
    EXPECT_EQ(std::string(buffer, std::size_t(std::max<ssize_t>(n, 0))), "0x21");
    struct stat st {};
    ::stat((temp() / "f").c_str(), &st);
    EXPECT_EQ(st.st_mode & 0222, 0u);
    EXPECT_EQ(FileAttributes::get(temp() / "f"), 0x21u);

    EXPECT_TRUE(FileAttributes::set(temp() / "f", 0x20));
    ::stat((temp() / "f").c_str(), &st);
    EXPECT_NE(st.st_mode & S_IWUSR, 0u);
    EXPECT_EQ(FileAttributes::get(temp() / "f"), 0x20u);

    EXPECT_FALSE(FileAttributes::set(temp() / "missing", 0x20));
}

TEST_F(FileAttributesTest, SettingFailsWhereTheFilesystemKeepsNoExtendedAttributes)
{
    // /proc keeps no user attributes.
    EXPECT_FALSE(FileAttributes::set("/proc/self/status", 0x20));
}

} // namespace
