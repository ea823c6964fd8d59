#include "platform/ShellLink.h"

#include "platform/Registry.h"
#include "platform/WinPath.h"
#include "shell/TShortcuts.h"
#include "tests/support/TempPrefix.h"

#include <QProcess>
#include <QStandardPaths>

#include <cstdint>
#include <string>
#include <sys/stat.h>
#include <vector>

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

// What a link file says about where its target is, read by the format's layout: the header's
// size and flags, then the LinkInfo structure's offsets to the local base path in the system's
// ANSI code page and in UTF-16.
struct LinkTarget {
    std::uint32_t flags = 0;
    std::string ansiPath;       // LocalBasePath, without its NUL
    std::u16string unicodePath; // LocalBasePathUnicode, without its NUL
};

LinkTarget parseLinkTarget(const std::string& b)
{
    LinkTarget target;
    const std::size_t li = u32(b, 0); // HeaderSize: LinkInfo follows the header
    target.flags = u32(b, 0x14);
    if (!(target.flags & 0x02))
        return target;
    const std::size_t liEnd = li + u32(b, li); // LinkInfoSize
    EXPECT_LE(liEnd, b.size());
    const std::size_t ansi = li + u32(b, li + 16); // LocalBasePathOffset
    const std::size_t ansiEnd = b.find('\0', ansi);
    EXPECT_LT(ansiEnd, liEnd);
    target.ansiPath = b.substr(ansi, ansiEnd - ansi);
    if (u32(b, li + 4) >= 0x24) // LinkInfoHeaderSize: the Unicode offsets are present
        for (std::size_t at = li + u32(b, li + 28); at + 1 < liEnd && u16(b, at) != 0; at += 2)
            target.unicodePath += char16_t(u16(b, at));
    return target;
}

// The StringData entries that follow the header and LinkInfo, in the file's order.
std::vector<std::u16string> parseStringData(const std::string& b)
{
    const std::uint32_t flags = u32(b, 0x14);
    std::size_t at = u32(b, 0);
    if (flags & 0x02)
        at += u32(b, at); // LinkInfoSize
    std::vector<std::u16string> strings;
    for (std::uint32_t flag : {0x04u, 0x08u, 0x10u, 0x20u, 0x40u}) {
        if (!(flags & flag))
            continue;
        std::u16string text;
        const std::size_t count = u16(b, at);
        for (std::size_t i = 0; i < count; ++i)
            text += char16_t(u16(b, at + 2 + 2 * i));
        strings.push_back(text);
        at += 2 + 2 * count;
    }
    return strings;
}

class ShellLinkTest : public TempPrefixTest {
protected:
    // Names the system's ANSI code page in the machine registry.
    static void setAnsiCodePage(const char* number)
    {
        platform::HKEY key = 0;
        ASSERT_EQ(platform::RegCreateKeyExA(platform::HKEY_LOCAL_MACHINE,
                                            "System\\CurrentControlSet\\Control\\Nls\\CodePage", 0,
                                            nullptr, 0, platform::KEY_SET_VALUE, nullptr, &key,
                                            nullptr),
                  platform::ERROR_SUCCESS);
        const std::string acp = std::string(number) + '\0';
        EXPECT_EQ(platform::RegSetValueExA(key, "ACP", 0, platform::REG_SZ,
                                           reinterpret_cast<const platform::BYTE*>(acp.data()),
                                           platform::DWORD(acp.size())),
                  platform::ERROR_SUCCESS);
        platform::RegCloseKey(key);
    }
};

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
    // Without a code page named in the registry the 8-bit path is in Windows-1252.
    EXPECT_EQ(b.substr(li + u32(b, li + 16), 20),
              std::string("C:\\Spiele\\Gr\xFC\xDF") + std::string("e.exe\0", 6));
    const std::size_t wide = li + u32(b, li + 28);
    EXPECT_EQ(u16(b, wide + 2 * 12), 0x00FCu); // ü
    EXPECT_EQ(u16(b, wide + 2 * 13), 0x00DFu); // ß
}

TEST_F(ShellLinkTest, AnsiPathIsInTheSystemCodePageAndTheUnicodePathAsGiven)
{
    createDefaultPrefix();
    const struct {
        const char* acp; // the system's ANSI code page; none named when null
        const char* path;
        std::u16string unicode;
        std::string ansi;
    } cases[] = {
        {nullptr, "C:\\Tést\\äpp.exe", u"C:\\Tést\\äpp.exe", "C:\\T\xE9st\\\xE4pp.exe"},
        {"1251", "C:\\Дом\\é.exe", u"C:\\Дом\\é.exe", "C:\\\xC4\xEE\xEC\\?.exe"},
        // Shift-JIS: trail bytes may be 0x5C, the byte of the backslash.
        {"932", "C:\\日本\\ソフト.exe", u"C:\\日本\\ソフト.exe",
         "C:\\\x93\xFA\x96\x7B\\\x83\x5C\x83\x74\x83\x67.exe"},
        {"866", "C:\\Tést\\Дом", u"C:\\Tést\\Дом", "C:\\T\xE9st\\???"}, // not an ANSI page
    };
    for (const auto& c : cases) {
        if (c.acp)
            setAnsiCodePage(c.acp);
        platform::ShellLink link;
        link.SetPath(c.path);
        const LinkTarget target = parseLinkTarget(link.bytes());
        EXPECT_EQ(target.flags & 0x82u, 0x82u) << c.path; // LinkInfo, Unicode
        EXPECT_EQ(target.ansiPath, c.ansi) << c.path;
        EXPECT_TRUE(target.unicodePath == c.unicode) << c.path;
    }
}

TEST_F(ShellLinkTest, AProgramUnderAFolderNamedInTheAnsiCodePageKeepsTheFoldersBytes)
{
    // "café" as a system in Windows-1252 names it: the byte 0xE9 alone is not UTF-8. The
    // shortcut button's way: the program as the drives show it, then the shortcut files.
    createDefaultPrefix();
    const std::filesystem::path program = prefix() / "drive_c" / "caf\xE9" / "App.exe";
    writeFile(program, std::string(4321, 'x'));
    const std::string windowsPath = platform::WinPath::fromHost(program);
    ASSERT_EQ(windowsPath, "C:\\caf\xE9\\App.exe");

    const struct {
        const char* acp; // none named: Windows-1252
        std::u16string folder;
    } cases[] = {{nullptr, u"C:\\café\\"}, {"1251", u"C:\\cafй\\"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.acp ? c.acp : "1252");
        if (c.acp)
            setAnsiCodePage(c.acp);
        TShortcuts shortcuts;
        shortcuts.RunProgram = windowsPath;
        shortcuts.ProgramName = "App";
        shortcuts.IconFile = "C:\\caf\xE9\\App.ico";
        shortcuts.CreateShortcuts();
        const std::string b = readFile(windowsDir() / "Start Menu" / "Programs" / "App.lnk");

        // The 8-bit path holds the folder's own byte; the Unicode strings its letter in the
        // system's code page; the target's size was read through the same bytes.
        const LinkTarget target = parseLinkTarget(b);
        EXPECT_EQ(target.ansiPath, "C:\\caf\xE9\\App.exe");
        EXPECT_TRUE(target.unicodePath == c.folder + u"App.exe");
        EXPECT_EQ(u32(b, 0x34), 4321u);
        const std::vector<std::u16string> strings = parseStringData(b);
        ASSERT_EQ(strings.size(), 2u);
        EXPECT_TRUE(strings[0] == c.folder); // working directory
        EXPECT_TRUE(strings[1] == c.folder + u"App.ico");
    }
}

TEST_F(ShellLinkTest, ANameOutsideTheDrivesKeepsItsLettersInTheRelativePath)
{
    // A target that is no drive path is stored as the relative path, a Unicode string alone.
    platform::ShellLink link;
    link.SetPath("caf\xE9\\\xC3\xA9t\xE9.exe");
    const std::string b = link.bytes();
    EXPECT_EQ(u32(b, 0x14), 0x08u | 0x80u);
    EXPECT_TRUE(parseStringData(b) == std::vector<std::u16string>{u"café\\été.exe"});
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
        GTEST_SKIP() << "lnkinfo is not installed: apt-get install liblnk-utils";
    EXPECT_NE(info.find("Local path\t\t\t: Z:\\opt\\crestwick\\crestwick\n"), std::string::npos)
        << info;
    EXPECT_NE(info.find("Working directory\t\t: Z:\\opt\\crestwick\\\n"), std::string::npos)
        << info;
    EXPECT_NE(info.find("Icon location\t\t\t: C:\\WINDOWS\\crestwick.ico\n"), std::string::npos)
        << info;
}

} // namespace
