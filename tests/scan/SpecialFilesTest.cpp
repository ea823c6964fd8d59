// Trees holding FIFOs, sockets and links to devices: the scanner and the file operations pass
// over them as a Windows drive holds none, and naming one directly fails like a file that
// cannot be opened.
#include "scan/TFilesScan.h"
#include "scan/uFileOp.h"

#include "tests/support/SpecialFiles.h"
#include "tests/support/TempPrefix.h"
#include "tests/support/Watchdog.h"

#include <algorithm>

namespace fs = std::filesystem;

namespace {

class ScanSpecialFiles : public TempPrefixTest {
protected:
    void SetUp() override
    {
        TempPrefixTest::SetUp();
        createDefaultPrefix();
        // C:\tree: three real pictures (one a link), and every special kind under picture and
        // INI names beside them and in a subfolder of its own, there also as oeminfo.ini.
        writeFile(tree() / "a.bmp", "BMa");
        writeFile(tree() / "sub" / "b.jpg", "jpeg b");
        fs::create_symlink("a.bmp", tree() / "c.bmp");
        int n = 0;
        for (SpecialKind kind : kSpecialKinds) {
            for (const fs::path& folder : {tree(), tree() / "sub" / ("s" + std::to_string(n))}) {
                fs::create_directories(folder);
                for (const char* name : {".bmp", ".jpg", ".ini"})
                    makeSpecialFile(kind, folder / ("trap" + std::to_string(n) + name));
            }
            makeSpecialFile(kind, tree() / "sub" / ("s" + std::to_string(n)) / "oeminfo.ini");
            ++n;
        }
        ops.OnError = [this](TFileOperations*, const std::string& error, const std::string& path) {
            reported.push_back(error + "|" + path);
        };
        ops.ShowErrorBox = [this](const std::string& text) { boxes.push_back(text); };
    }

    fs::path c() const { return prefix() / "drive_c"; }
    fs::path tree() const { return c() / "tree"; }

    // Every entry below root that is not a folder, as relative paths.
    static std::vector<std::string> filesUnder(const fs::path& root)
    {
        std::vector<std::string> out;
        for (const auto& e : fs::recursive_directory_iterator(root))
            if (!e.is_directory())
                out.push_back(e.path().lexically_relative(root).string());
        std::sort(out.begin(), out.end());
        return out;
    }

    TFileOperations ops;
    std::vector<std::string> reported;
    std::vector<std::string> boxes;
};

} // namespace

TEST_F(ScanSpecialFiles, TheScanCountsAndListsOnlyRegularFiles)
{
    for (const char* mask : {"*.bmp, *.jpg, *.ini", "*"}) {
        SCOPED_TRACE(mask);
        Watchdog watchdog(std::string("scanning for ") + mask);
        TFilesScan scan;
        scan.SetFileMask(mask);
        scan.SetScanOptions(soSpecifiedDir);
        scan.SetScanDir("C:\\tree");
        scan.SetSortedList(true);
        scan.StartScan();
        EXPECT_EQ(scan.FilesList().Texts(),
                  (std::vector<std::string>{"C:\\tree\\a.bmp", "C:\\tree\\c.bmp",
                                            "C:\\tree\\sub\\b.jpg"}));
        EXPECT_EQ(scan.FilesCount(), 3);
        EXPECT_EQ(scan.FilesSize(), 3 + 3 + 6);
    }
}

TEST_F(ScanSpecialFiles, TreeOperationsNeitherHangNorCopyThem)
{
    Watchdog watchdog("copying and searching a tree with special files");
    ops.SetSourcePath("c:\\tree");
    ops.SetDestPath("c:\\copy");
    ops.SetMask("*.*");
    ops.CopyTree(false);
    EXPECT_EQ(filesUnder(c() / "copy"), (std::vector<std::string>{"a.bmp", "c.bmp", "sub/b.jpg"}));
    EXPECT_TRUE(fs::is_regular_file(c() / "copy" / "c.bmp")) << "a link is copied as its file";

    ops.SearchFiles("*.ini", "c:\\tree");
    EXPECT_EQ(ops.FileList().Count(), 0);
    EXPECT_EQ(ops.FindFile("oeminfo.ini", "c:\\tree"), "");
    ops.SetMask("*.*");
    ops.GetFiles(false);
    std::vector<std::string> listed = ops.FileList().Texts();
    std::sort(listed.begin(), listed.end());
    EXPECT_EQ(listed, (std::vector<std::string>{"a.bmp", "c.bmp"}));

    ops.SetDestPath("c:\\moved");
    ops.CopyTree(true);
    EXPECT_EQ(filesUnder(c() / "moved"), (std::vector<std::string>{"a.bmp", "c.bmp", "sub/b.jpg"}));
    EXPECT_TRUE(reported.empty()) << reported.front();
}

TEST_F(ScanSpecialFiles, NamingOneDirectlyFailsAsAFileThatCannotBeOpened)
{
    Watchdog watchdog("copying special files by name");
    ops.SetSourcePath("c:\\tree\\");
    ops.SetDestPath("c:\\out\\");
    std::vector<std::string> expected;
    for (int n = 0; n < int(std::size(kSpecialKinds)); ++n) {
        const std::string name = "trap" + std::to_string(n) + ".bmp";
        ops.FileList().Add(name);
        expected.push_back("Error copying file|c:\\tree\\" + name);
    }
    EXPECT_FALSE(ops.CopyFiles(false));
    EXPECT_EQ(reported, expected);
    EXPECT_TRUE(filesUnder(c() / "out").empty()) << "no temporary files are left behind";

    for (int n = 0; n < int(std::size(kSpecialKinds)); ++n) {
        const std::string name = "c:\\tree\\trap" + std::to_string(n) + ".jpg";
        SCOPED_TRACE(describe(kSpecialKinds[n]));
        boxes.clear();
        ops.SetDetailFileName(name);
        EXPECT_EQ(ops.DetailFileDateTime(), "");
        ops.SetDetailFileDateTime("01/02/2021 10:00:00");
        EXPECT_EQ(boxes, (std::vector<std::string>{"Unable to set date/time on file: " + name}));
    }
}
