#include "platform/ShellLink.h"

#include "tests/support/TempPrefix.h"

#include <QProcess>
#include <QStandardPaths>

#include <cstdint>
#include <string>
#include <sys/stat.h>

namespace {

std::uint32_t u32(const std::string& b, std::size_t at)
{
    return std::uint32_t(std::uint8_t(b.at(at))) | std::uint32_t(std::uint8_t(b.at(at + 1))) << 8 |
           std::uint32_t(std::uint8_t(b.at(at + 2))) << 16 |
           std::uint32_t(std::uint8_t(b.at(at + 3))) << 24;
}
std::uint16_t u16(const std::string& b, std::size_t at)
{
    return std::uint16_t(std::uint8_t(b.at(at)) | std::uint8_t(b.at(at + 1)) << 8);
}
std::string utf16(const std::string& ascii)
{
    std::string out;
    for (char c : ascii) {
        out += c;
        out += '\0';
    }
    return out;
}

// Runs lnkinfo on a file; empty when the tool is not installed.
std::string lnkinfo(const std::filesystem::path& file)
{
    const QString tool = QStandardPaths::findExecutable("lnkinfo");
    if (tool.isEmpty())
        return {};
    QProcess process;
    process.start(tool, {QString::fromStdString(file.string())});
    process.waitForFinished(30000);
    return process.readAllStandardOutput().toStdString();
}

class ShellLinkTest : public TempPrefixTest {};

TEST_F(ShellLinkTest, WritesHeaderLinkInfoAndStringsFieldByField)
{
    createDefaultPrefix();
    writeFile(prefix() / "drive_c" / "Tools" / "App.exe", std::string(1234, 'x'));
    platform::ShellLink link;
    link.SetPath("C:\\Tools\\App.exe");
    link.SetWorkingDirectory("C:\\Tools\\");
    link.SetIconLocation("C:\\Tools\\App.ico", 0);
    const std::string b = link.bytes();

    // ShellLinkHeader
    EXPECT_EQ(u32(b, 0), 0x4Cu);                                     // HeaderSize
    EXPECT_EQ(b.substr(4, 16), std::string("\x01\x14\x02\x00\x00\x00\x00\x00"
                                           "\xC0\x00\x00\x00\x00\x00\x00\x46",
                                           16));                     // CLSID_ShellLink
    EXPECT_EQ(u32(b, 0x14), 0x02u | 0x10u | 0x40u | 0x80u);          // LinkInfo, WorkingDir, Icon, Unicode
    EXPECT_EQ(u32(b, 0x18), 0x20u);                                  // FileAttributes: archive
    EXPECT_NE(u32(b, 0x2C) | u32(b, 0x30), 0u);                      // WriteTime is set
    EXPECT_EQ(u32(b, 0x34), 1234u);                                  // FileSize
    EXPECT_EQ(u32(b, 0x38), 0u);                                     // IconIndex
    EXPECT_EQ(u32(b, 0x3C), 1u);                                     // ShowCommand: normal
    EXPECT_EQ(u16(b, 0x40), 0u);                                     // HotKey

    // LinkInfo
    const std::size_t li = 0x4C;
    const std::uint32_t liSize = u32(b, li);
    EXPECT_EQ(u32(b, li + 4), 0x24u);  // header size with Unicode offsets
    EXPECT_EQ(u32(b, li + 8), 1u);     // VolumeIDAndLocalBasePath
    const std::size_t volume = li + u32(b, li + 12);
    EXPECT_EQ(u32(b, volume + 4), 3u); // DriveType: fixed
    EXPECT_EQ(b.substr(li + u32(b, li + 16), 17), std::string("C:\\Tools\\App.exe\0", 17));
    EXPECT_EQ(u32(b, li + 20), 0u);    // no network location
    EXPECT_EQ(b.at(li + u32(b, li + 24)), '\0'); // empty common suffix
    EXPECT_EQ(b.substr(li + u32(b, li + 28), 34), utf16("C:\\Tools\\App.exe") + std::string(2, '\0'));

    // StringData: the working directory, then the icon location, then the terminal block.
    std::size_t at = li + liSize;
    ASSERT_EQ(u16(b, at), 9u);
    EXPECT_EQ(b.substr(at + 2, 18), utf16("C:\\Tools\\"));
    at += 2 + 18;
    ASSERT_EQ(u16(b, at), 16u);
    EXPECT_EQ(b.substr(at + 2, 32), utf16("C:\\Tools\\App.ico"));
    at += 2 + 32;
    EXPECT_EQ(u32(b, at), 0u);
    EXPECT_EQ(b.size(), at + 4);
}

TEST_F(ShellLinkTest, LeavesOutEmptyStringsAndKeepsUnicodeNames)
{
    platform::ShellLink link;
    link.SetPath("C:\\Spiele\\Grüße.exe");
    const std::string b = link.bytes();
    EXPECT_EQ(u32(b, 0x14), 0x02u | 0x80u); // no working directory, no icon
    EXPECT_EQ(u32(b, 0x18), 0u);            // the target does not exist here
    const std::size_t li = 0x4C;
    // The 8-bit path marks what the code page cannot hold; the Unicode path keeps it.
    EXPECT_EQ(b.substr(li + u32(b, li + 16), 20), std::string("C:\\Spiele\\Gr??e.exe\0", 20));
    const std::size_t wide = li + u32(b, li + 28);
    EXPECT_EQ(u16(b, wide + 2 * 12), 0x00FCu); // ü
    EXPECT_EQ(u16(b, wide + 2 * 13), 0x00DFu); // ß
}

TEST_F(ShellLinkTest, SaveReplacesAtomicallyAndFailsInReadOnlyOrMissingFolders)
{
    platform::ShellLink link;
    link.SetPath("C:\\App.exe");
    const auto folder = temp() / "links";
    std::filesystem::create_directories(folder);
    writeFile(folder / "A.lnk", "old");
    ASSERT_TRUE(link.Save(folder / "A.lnk"));
    EXPECT_EQ(readFile(folder / "A.lnk"), link.bytes());

    EXPECT_FALSE(link.Save(temp() / "missing" / "A.lnk"));

    writeFile(folder / "B.lnk", "old");
    ::chmod(folder.c_str(), 0555);
    EXPECT_FALSE(link.Save(folder / "B.lnk"));
    EXPECT_EQ(readFile(folder / "B.lnk"), "old");
    ::chmod(folder.c_str(), 0755);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder),
                            std::filesystem::directory_iterator()),
              2); // no temporary file is left behind
}

TEST_F(ShellLinkTest, LnkinfoReadsTargetWorkingDirectoryAndIcon)
{
    platform::ShellLink link;
    link.SetPath("Z:\\opt\\crestwick\\crestwick");
    link.SetWorkingDirectory("Z:\\opt\\crestwick\\");
    link.SetIconLocation("C:\\WINDOWS\\crestwick.ico", 0);
    ASSERT_TRUE(link.Save(temp() / "Crestwick.lnk"));
    const std::string info = lnkinfo(temp() / "Crestwick.lnk");
    if (info.empty())
        GTEST_SKIP() << "lnkinfo is not installed";
    EXPECT_NE(info.find("Local path\t\t\t: Z:\\opt\\crestwick\\crestwick\n"), std::string::npos)
        << info;
    EXPECT_NE(info.find("Working directory\t\t: Z:\\opt\\crestwick\\\n"), std::string::npos)
        << info;
    EXPECT_NE(info.find("Icon location\t\t\t: C:\\WINDOWS\\crestwick.ico\n"), std::string::npos)
        << info;
}

} // namespace
