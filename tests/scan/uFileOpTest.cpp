#include "scan/uFileOp.h"

#include "platform/FileAttributes.h"
#include "tests/support/TempPrefix.h"

#include <QDateTime>
#include <QLocale>

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>

namespace fs = std::filesystem;

namespace {

class TFileOperationsTest : public TempPrefixTest {
protected:
    void SetUp() override
    {
        TempPrefixTest::SetUp();
        createDefaultPrefix();
        ops.OnError = [this](TFileOperations* sender, const std::string& error,
                             const std::string& path) {
            EXPECT_EQ(sender, &ops);
            reported.push_back(error + "|" + path);
        };
        ops.ShowErrorBox = [this](const std::string& text) { boxes.push_back(text); };
    }

    fs::path c() const { return prefix() / "drive_c"; }
    void file(const std::string& relative, const std::string& bytes = "x")
    {
        writeFile(c() / relative, bytes);
    }
    static std::vector<std::string> sorted(std::vector<std::string> v)
    {
        std::sort(v.begin(), v.end());
        return v;
    }
    static void makeReadOnly(const fs::path& path)
    {
        fs::permissions(path,
                        fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                        fs::perm_options::remove);
    }
    // Every file below root, as relative paths, leaving directories out.
    std::vector<std::string> filesUnder(const fs::path& root)
    {
        std::vector<std::string> out;
        for (auto& e : fs::recursive_directory_iterator(root))
            if (!e.is_directory())
                out.push_back(e.path().lexically_relative(root).string());
        return sorted(out);
    }

    TFileOperations ops;
    std::vector<std::string> reported;
    std::vector<std::string> boxes;
};

TEST_F(TFileOperationsTest, StartsWithItsStoredValuesAndAnEmptyDetailFileSetterDoesNothing)
{
    EXPECT_FALSE(ops.ShowDirsOnSearch());
    EXPECT_EQ(ops.Mask(), "*.*");
    EXPECT_EQ(ops.FileList().Count(), 0);
    EXPECT_EQ(ops.DirList().Count(), 0);
    ops.SetShowDirsOnSearch(false);
    ops.SetMask("*.*");
    ops.SetDetailFileAttr({});
    EXPECT_TRUE(boxes.empty());
    EXPECT_TRUE(ops.DetailFileAttr().Empty());
}

TEST_F(TFileOperationsTest, ListsFilesByMaskWithAndWithoutTheirDirectory)
{
    file("dir/a.txt");
    file("dir/README");
    file("dir/b.TXT");
    fs::create_directories(c() / "dir" / "sub.txt");
    ops.SetSourcePath("c:\\dir");
    ops.GetFiles(false);
    EXPECT_EQ(sorted(ops.FileList().Texts()),
              (std::vector<std::string>{"README", "a.txt", "b.TXT"}))
        << "the platform's *.* matches names without a dot";
    ops.SetMask("*.txt");
    ops.SetSourcePath("c:\\dir\\");
    ops.GetFiles(true);
    EXPECT_EQ(sorted(ops.FileList().Texts()),
              (std::vector<std::string>{"c:\\dir\\a.txt", "c:\\dir\\b.TXT"}));
    EXPECT_TRUE(reported.empty());
}

TEST_F(TFileOperationsTest, ListsSubdirectoriesAndCountsThem)
{
    file("dir/a.txt");
    fs::create_directories(c() / "dir" / "one");
    fs::create_directories(c() / "dir" / "two" / "deeper");
    ops.SetSourcePath("c:\\dir");
    EXPECT_EQ(ops.GetDirs(), 2);
    EXPECT_EQ(sorted(ops.DirList().Texts()), (std::vector<std::string>{"one", "two"}));
}

TEST_F(TFileOperationsTest, EveryOperationOnAMissingSourceReportsItAndGoesOn)
{
    ops.SetSourcePath("c:\\missing");
    ops.SetDestPath("c:\\out\\");
    ops.GetFiles(false);
    ops.GetDirs();
    EXPECT_TRUE(ops.DeleteFiles());
    EXPECT_TRUE(ops.DeleteTree());
    EXPECT_TRUE(ops.CopyFiles(false));
    ops.CopyTree(false);
    EXPECT_EQ(reported, std::vector<std::string>(6, "Directory does not exists|c:\\missing"));
}

TEST_F(TFileOperationsTest, EmptyPathsNameNoDirectoryAndTouchNothing)
{
    file("keep.txt");
    fs::current_path(c());
    ops.SetSourcePath("");
    ops.SetDestPath("");
    ops.FileList().Add("keep.txt");
    EXPECT_TRUE(ops.DeleteTree());
    EXPECT_TRUE(fs::exists(c() / "keep.txt"));
    ops.GetFiles(false);
    EXPECT_EQ(ops.FileList().Count(), 0);
    ops.FileList().Add("keep.txt");
    EXPECT_FALSE(ops.CopyFiles(false));
    ops.CopyTree(false);
    EXPECT_EQ(ops.FindFile("keep.txt", ""), "");
    ops.SearchFiles("*", "");
    EXPECT_EQ(ops.FileList().Count(), 1);
    EXPECT_EQ(reported,
              (std::vector<std::string>{"Directory does not exists|", "Directory does not exists|",
                                        "Directory does not exists|", "Error creating directory|",
                                        "Directory does not exists|"}));
    ops.SetSourcePath("c:\\");
    ops.CopyTree(false);
    EXPECT_EQ(reported.back(), "Error creating directory|");
    EXPECT_EQ(filesUnder(c()).size(), 1u) << "nothing was copied anywhere";
}

TEST_F(TFileOperationsTest, CopiesAListCreatingTheDestinationAndOverwriting)
{
    file("src/a.txt", "new a");
    file("src/b.txt", "new b");
    file("dst/b.txt", "old b");
    ops.SetSourcePath("c:\\src\\");
    ops.SetDestPath("c:\\dst\\made\\");
    ops.FileList().Add("a.txt");
    EXPECT_TRUE(ops.CopyFiles(false));
    EXPECT_EQ(readFile(c() / "dst" / "made" / "a.txt"), "new a");

    ops.SetDestPath("c:\\dst\\");
    ops.FileList().Add("b.txt");
    ops.FileList().Add("gone.txt");
    EXPECT_FALSE(ops.CopyFiles(false));
    EXPECT_EQ(readFile(c() / "dst" / "b.txt"), "new b");
    EXPECT_EQ(readFile(c() / "src" / "a.txt"), "new a") << "a copy keeps its source";
    EXPECT_EQ(reported, (std::vector<std::string>{"Error copying file|c:\\src\\gone.txt"}));
    EXPECT_EQ(filesUnder(c() / "dst"), (std::vector<std::string>{"a.txt", "b.txt", "made/a.txt"}))
        << "no temporary files are left behind";
}

TEST_F(TFileOperationsTest, ReportsADestinationThatCannotBeCreatedAndStillTriesTheFiles)
{
    file("src/a.txt");
    ops.SetSourcePath("c:\\src\\");
    ops.SetDestPath("c:\\no\\such\\");
    ops.FileList().Add("a.txt");
    EXPECT_FALSE(ops.CopyFiles(false));
    EXPECT_EQ(reported, (std::vector<std::string>{"Error creating directory|c:\\no\\such\\",
                                                  "Error copying file|c:\\src\\a.txt"}));
}

TEST_F(TFileOperationsTest, CopyNeverReplacesAReadOnlyFile)
{
    file("src/a.txt", "new");
    file("dst/a.txt", "old");
    makeReadOnly(c() / "dst" / "a.txt");
    ops.SetSourcePath("c:\\src\\");
    ops.SetDestPath("c:\\dst\\");
    ops.FileList().Add("a.txt");
    EXPECT_FALSE(ops.CopyFiles(false));
    EXPECT_EQ(readFile(c() / "dst" / "a.txt"), "old");
    EXPECT_EQ(reported, (std::vector<std::string>{"Error copying file|c:\\src\\a.txt"}));
}

TEST_F(TFileOperationsTest, MovesAListReplacingExistingFiles)
{
    file("src/a.txt", "a");
    file("src/b.txt", "b");
    file("dst/b.txt", "old");
    ops.SetSourcePath("c:\\src\\");
    ops.SetDestPath("c:\\dst\\");
    ops.FileList().Add("a.txt");
    ops.FileList().Add("b.txt");
    ops.FileList().Add("gone.txt");
    EXPECT_FALSE(ops.CopyFiles(true));
    EXPECT_EQ(readFile(c() / "dst" / "a.txt"), "a");
    EXPECT_EQ(readFile(c() / "dst" / "b.txt"), "b");
    EXPECT_FALSE(fs::exists(c() / "src" / "a.txt"));
    EXPECT_FALSE(fs::exists(c() / "src" / "b.txt"));
    EXPECT_EQ(reported, (std::vector<std::string>{"Error moving file|c:\\src\\gone.txt"}));
}

TEST_F(TFileOperationsTest, CopiesAndMovesATreeByMask)
{
    file("src/a.txt");
    file("src/skip.bin");
    file("src/one/b.txt", "b");
    file("src/one/two/c.txt", "c");
    ops.SetSourcePath("c:\\src");
    ops.SetDestPath("c:\\copy");
    ops.SetMask("*.txt");
    ops.CopyTree(false);
    EXPECT_EQ(filesUnder(c() / "copy"),
              (std::vector<std::string>{"a.txt", "one/b.txt", "one/two/c.txt"}));
    EXPECT_EQ(filesUnder(c() / "src").size(), 4u);

    ops.SetDestPath("c:\\moved\\");
    ops.CopyTree(true);
    EXPECT_EQ(filesUnder(c() / "moved"),
              (std::vector<std::string>{"a.txt", "one/b.txt", "one/two/c.txt"}));
    EXPECT_EQ(filesUnder(c() / "src"), (std::vector<std::string>{"skip.bin"}));
    EXPECT_TRUE(fs::is_directory(c() / "src" / "one" / "two")) << "directories stay";
    EXPECT_TRUE(reported.empty());
}

TEST_F(TFileOperationsTest, DeletesMatchingFilesOfATreeAndLeavesDirectories)
{
    file("tree/a.tmp");
    file("tree/keep.txt");
    file("tree/sub/b.tmp");
    file("tree/sub/deep/c.TMP");
    file("tree/sub/locked.tmp");
    makeReadOnly(c() / "tree" / "sub" / "locked.tmp");
    file("outside/d.tmp");
    fs::create_directory_symlink(c() / "outside", c() / "tree" / "link");
    ops.SetSourcePath("c:\\tree");
    ops.SetMask("*.tmp");
    EXPECT_FALSE(ops.DeleteTree());
    EXPECT_EQ(filesUnder(c() / "tree"), (std::vector<std::string>{"keep.txt", "sub/locked.tmp"}));
    EXPECT_TRUE(fs::exists(c() / "outside" / "d.tmp")) << "links to directories are not walked";
    EXPECT_TRUE(fs::is_directory(c() / "tree" / "sub" / "deep"));
    EXPECT_EQ(reported,
              (std::vector<std::string>{"Error deleting file|c:\\tree\\sub\\locked.tmp"}));
}

TEST_F(TFileOperationsTest, DeletesTheListedPathsAndReportsFailures)
{
    file("a.txt");
    fs::create_directories(c() / "folder");
    ops.SetSourcePath("c:\\");
    ops.FileList().Add("c:\\a.txt");
    ops.FileList().Add("c:\\folder");
    ops.FileList().Add("c:\\none.txt");
    EXPECT_FALSE(ops.DeleteFiles());
    EXPECT_FALSE(fs::exists(c() / "a.txt"));
    EXPECT_EQ(reported, (std::vector<std::string>{"Error deleting file|c:\\folder",
                                                  "Error deleting file|c:\\none.txt"}));
}

TEST_F(TFileOperationsTest, FindFileReturnsTheFirstHitInPreOrder)
{
    file("root/one/x.dat");
    file("root/one/deep/y.dat");
    fs::create_directories(c() / "root" / "two" / "z.dat");
    ops.SetShowDirsOnSearch(true);
    EXPECT_EQ(ops.FindFile("y.dat", "c:\\root"), "c:\\root\\one\\deep\\y.dat");
    EXPECT_EQ(ops.FindFile("x.*", "c:\\root\\"), "c:\\root\\one\\x.dat");
    EXPECT_EQ(ops.FindFile("z.dat", "c:\\root"), "") << "a directory is not a hit";
    EXPECT_EQ(ops.FindFile("*", "c:\\root\\one"), "c:\\root\\one\\x.dat");
    EXPECT_EQ(ops.FindFile("nothing", "c:\\missing"), "");
    const auto& dirs = ops.DirList().Texts();
    EXPECT_EQ(dirs.front(), "c:\\root\\");
    EXPECT_NE(std::find(dirs.begin(), dirs.end(), "c:\\root\\one\\deep\\"), dirs.end());
}

TEST_F(TFileOperationsTest, SearchFilesAppendsEveryMatchBelowTheStart)
{
    file("root/a.dat");
    file("root/sub/b.DAT");
    file("root/sub/c.txt");
    fs::create_directories(c() / "root" / "d.dat");
    ops.FileList().Add("already");
    ops.SearchFiles("*.dat", "c:\\root");
    EXPECT_EQ(sorted(ops.FileList().Texts()),
              (std::vector<std::string>{"already", "c:\\root\\a.dat", "c:\\root\\sub\\b.DAT"}));
    EXPECT_EQ(ops.DirList().Count(), 0);

    ops.SetShowDirsOnSearch(true);
    ops.SearchFiles("*.txt", "c:\\root\\");
    EXPECT_EQ(sorted(ops.DirList().Texts()),
              (std::vector<std::string>{"c:\\root\\", "c:\\root\\d.dat\\", "c:\\root\\sub\\"}));
    EXPECT_EQ(ops.FileList().Count(), 4);
}

TEST_F(TFileOperationsTest, ReadsTheDetailsOfAFile)
{
    file("d/pic.bmp", "12345");
    const QDateTime when(QDate(2021, 3, 4), QTime(5, 6, 7));
    const timespec times[2] = {{0, UTIME_OMIT}, {time_t(when.toSecsSinceEpoch()), 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, (c() / "d" / "pic.bmp").c_str(), times, 0), 0);
    ops.SetDetailFileName("c:\\d\\pic.bmp");
    EXPECT_EQ(ops.DetailFileAttr(), TMyFileType{ftArchive});
    EXPECT_EQ(ops.DetailFileSize(), 5);
    EXPECT_EQ(ops.DetailFileDateTime(),
              QLocale::system()
                  .toString(when, QString::fromStdString(TFileOperations::DateTimeFormat()))
                  .toStdString());
    EXPECT_NE(ops.DetailFileDateTime().find("2021"), std::string::npos);

    file("d/locked.bmp", "123");
    makeReadOnly(c() / "d" / "locked.bmp");
    ops.SetDetailFileName("c:\\d\\locked.bmp");
    EXPECT_EQ(ops.DetailFileAttr(), (TMyFileType{ftReadOnly, ftArchive}));
    EXPECT_EQ(ops.DetailFileSize(), 3);

    ops.SetDetailFileName("c:\\d\\missing.bmp");
    EXPECT_TRUE(ops.DetailFileAttr().Empty());
    EXPECT_EQ(ops.DetailFileDateTime(), "");
    EXPECT_EQ(ops.DetailFileSize(), 3) << "the size of the last file found stays";
    EXPECT_TRUE(boxes.empty());
}

TEST_F(TFileOperationsTest, WritesTheDateAndAttributesOfTheDetailFile)
{
    file("d/pic.bmp");
    ops.SetDetailFileName("c:\\d\\pic.bmp");
    const QDateTime when(QDate(2019, 12, 31), QTime(23, 59, 58));
    const std::string text =
        QLocale::system()
            .toString(when, QString::fromStdString(TFileOperations::DateTimeFormat()))
            .toStdString();
    ops.SetDetailFileDateTime(text);
    EXPECT_EQ(ops.DetailFileDateTime(), text);
    struct stat st {};
    ::stat((c() / "d" / "pic.bmp").c_str(), &st);
    EXPECT_EQ(st.st_mtim.tv_sec, when.toSecsSinceEpoch());

    ops.SetDetailFileDateTime("not a date");
    EXPECT_EQ(ops.DetailFileDateTime(), text);

    if (!platform::FileAttributes::set(c() / "d" / "pic.bmp", 0x20))
        GTEST_SKIP() << kNoExtendedAttributes;
    ops.SetDetailFileAttr({ftHidden, ftSystem, ftReadOnly});
    EXPECT_EQ(ops.DetailFileAttr(), (TMyFileType{ftHidden, ftSystem, ftReadOnly}));
    EXPECT_EQ(platform::FileAttributes::get(c() / "d" / "pic.bmp"), 0x07u);

    ops.SetDetailFileDateTime(text);
    EXPECT_EQ(boxes, (std::vector<std::string>{"Invalid date/time",
                                               "Unable to set date/time on file: c:\\d\\pic.bmp"}));
}

TEST_F(TFileOperationsTest, ReportsAttributesThatCannotBeWritten)
{
    // The machine's z: drive reaches /proc, whose files keep no attributes.
    ops.SetDetailFileName("z:\\proc\\self\\status");
    ops.SetDetailFileAttr({ftArchive, ftHidden});
    EXPECT_EQ(boxes, (std::vector<std::string>{
                         "Unable to set file attributes to Detail File: z:\\proc\\self\\status"}));
}

TEST(TMyFileType, MapsToThePlatformBits)
{
    EXPECT_EQ((TMyFileType{ftReadOnly, ftHidden, ftSystem, ftArchive}.PlatformBits()), 0x27u);
    EXPECT_EQ(TMyFileType::FromPlatformBits(0x3F),
              (TMyFileType{ftReadOnly, ftHidden, ftSystem, ftArchive}));
    EXPECT_TRUE(TMyFileType::FromPlatformBits(0x18).Empty());
}

} // namespace
