#include "tests/support/SpecialFiles.h"
#include "platform/AtomicFile.h"
#include "platform/FileSearch.h"
#include "platform/OpenRegularFile.h"
#include "platform/Profile.h"
#include "platform/Registry.h"
#include "tests/support/TempPrefix.h"
#include "tests/support/Watchdog.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using namespace platform;

namespace {

// A prefix whose C:\WINDOWS\system holds FIFOs, sockets and links to devices under the names
// of pictures and of the OEM information file, one kind at a time.
class SpecialFilesTest : public TempPrefixTest {
protected:
    void SetUp() override
    {
        TempPrefixTest::SetUp();
        createDefaultPrefix();
    }

    fs::path system() const { return windowsDir() / "system"; }
};

TEST_F(SpecialFilesTest, OnlyRegularFilesOpen)
{
    writeFile(system() / "plain.bmp", "BM");
    fs::create_symlink("plain.bmp", system() / "link.bmp");
    fs::create_directory(system() / "folder.bmp");
    struct Case {
        fs::path path;
        int error; // 0 when the file opens
    };
    std::vector<Case> cases = {
        {system() / "plain.bmp", 0},
        {system() / "link.bmp", 0},
        {system() / "folder.bmp", EACCES},
        {system() / "missing.bmp", ENOENT},
    };
    int n = 0;
    for (SpecialKind kind : kSpecialKinds) {
        const fs::path path = system() / ("trap" + std::to_string(n++) + ".bmp");
        makeSpecialFile(kind, path);
        cases.push_back({path, EACCES});
    }
    for (FileAccess access : {FileAccess::ReadOnly, FileAccess::ReadWrite}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(c.path.filename().string());
            Watchdog watchdog("opening " + c.path.string());
            struct stat st {};
            errno = 0;
            const int fd = openRegularFile(c.path, access, &st);
            if (c.error == 0) {
                ASSERT_GE(fd, 0);
                EXPECT_TRUE(S_ISREG(st.st_mode));
                // Reads of the opened file wait for data again as usual.
                EXPECT_EQ(::fcntl(fd, F_GETFL) & O_NONBLOCK, 0);
                EXPECT_EQ(::fcntl(fd, F_GETFD) & FD_CLOEXEC, FD_CLOEXEC);
                ::close(fd);
            } else {
                EXPECT_EQ(fd, -1);
                EXPECT_EQ(errno, c.error);
            }
        }
    }
}

TEST_F(SpecialFilesTest, SearchListsOnlyFilesFoldersAndLinksToThem)
{
    writeFile(system() / "plain.bmp", "BM");
    fs::create_symlink("plain.bmp", system() / "link.jpg");
    fs::create_directory(system() / "folder");
    fs::create_directory_symlink("folder", system() / "folderlink");
    const fs::path dir = temp() / "special";
    fs::create_directory(dir);
    fs::create_directory_symlink(dir, prefix() / "dosdevices" / "s:");
    int n = 0;
    for (SpecialKind kind : kSpecialKinds)
        for (const char* name : {".bmp", ".jpg", ".ini"})
            makeSpecialFile(kind, system() / ("trap" + std::to_string(n++) + name));
    makeSpecialFile(SpecialKind::Fifo, dir / "oeminfo.ini");

    Watchdog watchdog("listing special files");
    for (const char* pattern : {"C:\\WINDOWS\\system\\*.*", "C:\\WINDOWS\\system\\trap*"}) {
        SCOPED_TRACE(pattern);
        std::vector<std::string> names;
        FileSearch search;
        for (bool ok = search.findFirst(pattern); ok; ok = search.findNext()) {
            names.push_back(search.name());
            search.attributes();
            search.size();
        }
        std::sort(names.begin(), names.end());
        if (std::string(pattern).ends_with("*.*"))
            EXPECT_EQ(names, (std::vector<std::string>{".", "..", "folder", "folderlink",
                                                       "link.jpg", "plain.bmp"}));
        else
            EXPECT_TRUE(names.empty());
    }
    FileSearch search;
    EXPECT_FALSE(search.findFirst("S:\\oeminfo.ini"));
}

TEST_F(SpecialFilesTest, ProfileAndRegistryReadersTreatThemAsUnreadable)
{
    const fs::path ini = system() / "oeminfo.ini";
    const std::string iniName = "C:\\WINDOWS\\system\\oeminfo.ini";
    for (SpecialKind kind : kSpecialKinds) {
        SCOPED_TRACE(describe(kind));
        makeSpecialFile(kind, ini);
        makeSpecialFile(kind, prefix() / "user.reg.special");
        fs::rename(prefix() / "user.reg.special", prefix() / "user.reg");
        Watchdog watchdog("reading " + describe(kind));

        std::string bytes = "old";
        EXPECT_FALSE(readWholeFile(ini, bytes));

        char buffer[64] = {};
        EXPECT_EQ(GetPrivateProfileStringA("general", "Model", "dflt", buffer, sizeof buffer,
                                           iniName.c_str()),
                  4u);
        EXPECT_STREQ(buffer, "dflt");
        EXPECT_FALSE(WritePrivateProfileStringA("general", "Model", "x", iniName.c_str()));

        HKEY key = 0;
        EXPECT_NE(RegOpenKeyExA(HKEY_CURRENT_USER, "Software", 0, KEY_READ, &key), ERROR_SUCCESS);
        EXPECT_NE(RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Crestwick", 0, nullptr, 0,
                                  KEY_ALL_ACCESS, nullptr, &key, nullptr),
                  ERROR_SUCCESS);

        // Nothing replaced them.
        EXPECT_FALSE(fs::is_regular_file(ini));
        EXPECT_FALSE(fs::is_regular_file(prefix() / "user.reg"));
        fs::remove(ini);
    }
}

} // namespace
