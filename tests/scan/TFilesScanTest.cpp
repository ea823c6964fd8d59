#include "scan/TFilesScan.h"

#include "core/Exceptions.h"
#include "tests/support/TempPrefix.h"

#include <QTimer>

#include <dirent.h>
#include <sys/mount.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <sched.h>
#include <cstring>
#include <fstream>

namespace fs = std::filesystem;

namespace {

TEST(TFilesScanMaskList, SplitsOnCommasAndTrimsOnlySpaces)
{
    using V = std::vector<std::string>;
    const struct {
        const char* text;
        V entries;
    } cases[] = {
        {"*.bmp, *.jpg", {"*.bmp", "*.jpg"}},
        {" *.bmp ,*.jpg ", {"*.bmp", "*.jpg"}},
        {"*.bmp;*.jpg", {"*.bmp;*.jpg"}},
        {"*.bmp,,*.jpg", {"*.bmp", "*.jpg"}},
        {",*.bmp", {"*.bmp"}},
        {"*.bmp,", {"*.bmp"}},
        {"", {}},
        {"   ", {}},
        {" , ,", {}},
        {"\t*.bmp", {"\t*.bmp"}},
        {"a b , c", {"a b", "c"}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(TFilesScan::SplitMaskList(c.text), c.entries) << "'" << c.text << "'";
}

TEST(TFilesScanMaskList, JoinsDirectoryAndNameWithOneBackslash)
{
    EXPECT_EQ(TFilesScan::JoinPath("c:\\", "x"), "c:\\x");
    EXPECT_EQ(TFilesScan::JoinPath("c:\\SUB", "x"), "c:\\SUB\\x");
    EXPECT_EQ(TFilesScan::JoinPath("C:", "x"), "C:\\x");
    EXPECT_EQ(TFilesScan::JoinPath("", "x"), "");
}

TEST(TFilesScanDefaults, StartsWithTheComponentDefaults)
{
    TFilesScan scan;
    EXPECT_EQ(scan.FileMask(), "*");
    EXPECT_EQ(scan.Attributes(), TFileAttributes{faArchive});
    EXPECT_EQ(scan.Attributes().PlatformBits(), 32u);
    EXPECT_TRUE(scan.BuildList());
    EXPECT_FALSE(scan.SortedList());
    EXPECT_EQ(scan.ScanOptions(), soGlobal);
    EXPECT_EQ(scan.ScanDir(), "");
    EXPECT_TRUE(scan.ProcessMsg());
    EXPECT_TRUE(scan.Recursive());
    EXPECT_EQ(scan.FilesCount(), 0);
    EXPECT_FALSE(scan.Stopped());
    EXPECT_EQ((TFileAttributes{faReadOnly, faHidden, faSysFile, faVolumeID, faDirectory, faArchive}
                   .PlatformBits()),
              63u);
}

class TFilesScanTest : public TempPrefixTest {
protected:
    void SetUp() override
    {
        TempPrefixTest::SetUp();
        createDefaultPrefix();
        scan.SetScanOptions(soSpecifiedDir);
        scan.SetScanDir("c:\\");
        scan.OnProcess = [this](TFilesScan*, const std::string& dir, std::int64_t, std::int64_t) {
            processed.push_back(dir);
        };
        scan.OnEndProcess = [this](TFilesScan*, TStringList& list, std::int64_t count,
                                   std::int64_t size) {
            ends.push_back({list.Texts(), count, size});
        };
    }

    fs::path c() const { return prefix() / "drive_c"; }
    void file(const std::string& relative, std::size_t bytes = 1)
    {
        writeFile(c() / relative, std::string(bytes, 'x'));
    }
    // Sets user.DOSATTRIB; false where the filesystem keeps no extended attributes.
    static bool setDosAttrib(const fs::path& path, const char* value)
    {
        return ::setxattr(path.c_str(), "user.DOSATTRIB", value, std::strlen(value), 0) == 0;
    }
    std::vector<std::string> sortedCopy(std::vector<std::string> v)
    {
        std::sort(v.begin(), v.end());
        return v;
    }

    struct End {
        std::vector<std::string> list;
        std::int64_t count;
        std::int64_t size;
    };

    TFilesScan scan;
    std::vector<std::string> processed;
    std::vector<End> ends;
};

TEST_F(TFilesScanTest, FindsEntriesMatchingAnyMaskOfTheList)
{
    fs::remove_all(c() / "WINDOWS");
    file("a.BMP", 3);
    file("b.jpg", 5);
    file("c.jpeg", 7);
    file("d.bmp;e.jpg", 11);
    scan.SetFileMask(" *.bmp ,*.jpg ");
    scan.StartScan();
    ASSERT_EQ(ends.size(), 1u);
    EXPECT_EQ(sortedCopy(ends[0].list),
              (std::vector<std::string>{"c:\\a.BMP", "c:\\b.jpg", "c:\\d.bmp;e.jpg"}));
    EXPECT_EQ(ends[0].count, 3);
    EXPECT_EQ(ends[0].size, 19);

    // A semicolon is part of a mask, not a separator.
    scan.SetFileMask("*.bmp;*.jpg");
    scan.StartScan();
    EXPECT_EQ(ends[1].list, (std::vector<std::string>{"c:\\d.bmp;e.jpg"}));
    scan.SetFileMask("   ");
    scan.StartScan();
    EXPECT_EQ(ends[2].count, 0);
}

TEST_F(TFilesScanTest, ReportsEachDirectoryBeforeOpeningItInPreOrder)
{
    fs::remove_all(c() / "WINDOWS");
    file("SUB/DEEP/x.bmp");
    file("y.bmp");
    scan.SetFileMask("*.bmp");
    scan.StartScan();
    EXPECT_EQ(processed, (std::vector<std::string>{"c:\\", "c:\\SUB", "c:\\SUB\\DEEP"}));
    EXPECT_EQ(sortedCopy(ends.at(0).list),
              (std::vector<std::string>{"c:\\SUB\\DEEP\\x.bmp", "c:\\y.bmp"}));
}

TEST_F(TFilesScanTest, ScansOnlyTheStartDirectoryWhenNotRecursive)
{
    file("SUB/x.bmp");
    file("y.bmp");
    scan.SetFileMask("*.bmp");
    scan.SetRecursive(false);
    scan.StartScan();
    EXPECT_EQ(processed, (std::vector<std::string>{"c:\\"}));
    EXPECT_EQ(ends.at(0).list, (std::vector<std::string>{"c:\\y.bmp"}));
}

TEST_F(TFilesScanTest, CountsWithoutListingWhenBuildListIsOff)
{
    file("a.bmp", 10);
    file("SUB/b.bmp", 20);
    scan.SetFileMask("*.bmp");
    scan.StartScan();
    scan.SetBuildList(false);
    scan.StartScan();
    ASSERT_EQ(ends.size(), 2u);
    EXPECT_TRUE(ends[1].list.empty());
    EXPECT_EQ(ends[1].count, ends[0].count);
    EXPECT_EQ(ends[1].size, ends[0].size);
    EXPECT_EQ(ends[1].count, 2);
    EXPECT_EQ(ends[1].size, 30);
}

TEST_F(TFilesScanTest, SortedListIsCaseInsensitiveAndDropsCaseDuplicates)
{
    fs::remove_all(c() / "WINDOWS");
    for (const char* name : {"b.bmp", "C.bmp", "a.bmp", "A.BMP", "SUB/z.bmp", "SUB/m.bmp"})
        file(name);
    scan.SetFileMask("*.bmp");
    scan.StartScan();
    // Unsorted: walk order, every entry.
    ASSERT_EQ(ends.at(0).list.size(), 6u);
    EXPECT_EQ(ends[0].count, 6);

    scan.SetSortedList(true);
    EXPECT_EQ(scan.FilesList().Count(), 5) << "sorting at once drops the case duplicate";
    scan.StartScan();
    ASSERT_EQ(ends.at(1).list.size(), 5u);
    EXPECT_EQ(ends[1].count, 6);
    const auto& l = ends[1].list;
    EXPECT_TRUE(l[0] == "c:\\a.bmp" || l[0] == "c:\\A.BMP");
    EXPECT_EQ(l[1], "c:\\b.bmp");
    EXPECT_EQ(l[2], "c:\\C.bmp");
    EXPECT_EQ(l[3], "c:\\SUB\\m.bmp");
    EXPECT_EQ(l[4], "c:\\SUB\\z.bmp");
    EXPECT_TRUE(scan.FilesList().Sorted());
}

TEST_F(TFilesScanTest, CountsOnlyEntriesCarryingEverySelectedAttribute)
{
    fs::remove_all(c() / "WINDOWS");
    file("plain.bmp");
    file("noarchive.bmp");
    file("hiddenarchive.bmp");
    fs::create_directories(c() / "x.bmp");
    fs::create_directories(c() / "dir.bmp");
    file("dir.bmp/inner.bmp");
    if (!setDosAttrib(c() / "noarchive.bmp", "0x0") ||
        !setDosAttrib(c() / "hiddenarchive.bmp", "0x22") || !setDosAttrib(c() / "x.bmp", "0x30"))
        GTEST_SKIP() << kNoExtendedAttributes;
    scan.SetFileMask("*.bmp");
    scan.StartScan();
    // dir.bmp lacks the archive bit: not counted, but walked into.
    EXPECT_EQ(sortedCopy(ends.at(0).list),
              (std::vector<std::string>{"c:\\dir.bmp\\inner.bmp", "c:\\hiddenarchive.bmp",
                                        "c:\\plain.bmp", "c:\\x.bmp"}));

    scan.SetAttributes({});
    scan.StartScan();
    EXPECT_EQ(ends.at(1).count, 6) << "every matching name, directories included";

    scan.SetAttributes({faArchive, faHidden});
    scan.StartScan();
    EXPECT_EQ(ends.at(2).list, (std::vector<std::string>{"c:\\hiddenarchive.bmp"}));
}

TEST_F(TFilesScanTest, KeepsNamesThatAreNotUtf8AsTheirBytes)
{
    fs::remove_all(c() / "WINDOWS");
    file("\xff\xfe.bmp");
    file("ok.bmp");
    scan.SetFileMask("*.bmp");
    scan.SetSortedList(true);
    scan.StartScan();
    EXPECT_EQ(sortedCopy(ends.at(0).list),
              (std::vector<std::string>{"c:\\ok.bmp", "c:\\\xff\xfe.bmp"}));
}

TEST_F(TFilesScanTest, AStartDirectoryThatNamesNoDriveReportsOnceAndFindsNothing)
{
    // The current folder has pictures below it, which neither start may reach: an empty
    // start, and the one that a drive list without a selected drive (letter 0) gives.
    file("a.bmp");
    fs::current_path(prefix());
    for (const std::string& start : {std::string(), std::string("\0:\\", 3)}) {
        processed.clear();
        ends.clear();
        scan.SetFileMask("*.bmp");
        scan.SetScanDir(start);
        scan.StartScan();
        EXPECT_EQ(processed, (std::vector<std::string>{start}));
        ASSERT_EQ(ends.size(), 1u);
        EXPECT_EQ(ends[0].count, 0);
        EXPECT_EQ(ends[0].size, 0);
    }
}

TEST_F(TFilesScanTest, MissingStartDirectoryIsReportedAndSkippedSilently)
{
    scan.SetScanDir("c:\\nowhere");
    scan.StartScan();
    EXPECT_EQ(processed, (std::vector<std::string>{"c:\\nowhere"}));
    EXPECT_EQ(ends.at(0).count, 0);
    EXPECT_TRUE(errors.empty());
}

TEST_F(TFilesScanTest, MalformedMaskRaisesBeforeAnyDirectoryIsOpened)
{
    file("a.bmp");
    scan.StartScan();
    scan.SetFileMask("*.bmp, [abc");
    const std::size_t before = processed.size();
    try {
        scan.StartScan();
        ADD_FAILURE() << "no error";
    } catch (const Exception& e) {
        EXPECT_EQ(e.Message, "'[abc' is an invalid mask at (5)");
    }
    EXPECT_EQ(processed.size(), before) << "no directory was reported";
    EXPECT_EQ(ends.size(), 1u) << "no end event for the failed scan";
    EXPECT_EQ(scan.FilesList().Count(), 0) << "the list was cleared";
    EXPECT_EQ(scan.FilesCount(), 0);
}

TEST_F(TFilesScanTest, StopEndsTheScanWithOneEndEventAndPartialTotals)
{
    fs::remove_all(c() / "WINDOWS");
    file("SUB/a.bmp");
    file("SUB/b.bmp");
    file("OTHER/c.bmp");
    scan.SetFileMask("*.bmp");
    scan.OnProcess = [this](TFilesScan* sender, const std::string& dir, std::int64_t,
                            std::int64_t) {
        processed.push_back(dir);
        if (dir != "c:\\")
            sender->StopScan();
    };
    scan.StartScan();
    ASSERT_EQ(ends.size(), 1u);
    EXPECT_EQ(processed.size(), 2u) << "the second directory is the last one entered";
    EXPECT_EQ(ends[0].count, 0);
    EXPECT_TRUE(scan.Stopped());

    // A stop made while idle does not carry over into the next scan.
    scan.OnProcess = nullptr;
    scan.StopScan();
    scan.StartScan();
    EXPECT_EQ(ends.at(1).count, 3);
}

TEST_F(TFilesScanTest, StopClickedDuringThePumpEndsTheScan)
{
    for (int i = 0; i < 50; ++i)
        file("d" + std::to_string(i) + "/x.bmp");
    scan.SetFileMask("*.bmp");
    QTimer::singleShot(0, &scan, [this] { scan.StopScan(); });
    scan.StartScan();
    ASSERT_EQ(ends.size(), 1u);
    EXPECT_LT(ends[0].count, 50);
}

TEST_F(TFilesScanTest, NestedScanSharesTheListAndTotals)
{
    fs::remove_all(c() / "WINDOWS");
    file("a.bmp", 1);
    file("b.bmp", 2);
    file("SUB/c.bmp", 4);
    scan.SetFileMask("*.bmp");
    bool nested = false;
    // The second click arrives during the first scan's message pumping.
    QTimer::singleShot(0, &scan, [&] {
        nested = true;
        scan.StartScan();
    });
    scan.StartScan();
    ASSERT_TRUE(nested);
    ASSERT_EQ(ends.size(), 2u);
    EXPECT_EQ(ends[0].count, 3);
    EXPECT_EQ(ends[0].size, 7);
    // The outer scan resumes where it was: its walk had handled nothing but "." yet.
    EXPECT_EQ(ends[1].count, 6);
    EXPECT_EQ(ends[1].size, 14);
    EXPECT_EQ(ends[1].list.size(), 6u);
}

TEST_F(TFilesScanTest, SumsSizesPastFourGibibytes)
{
    fs::remove_all(c() / "WINDOWS");
    const std::int64_t big = (std::int64_t(5) << 30) + 7;
    {
        std::ofstream out(c() / "huge.bmp");
    }
    if (::truncate((c() / "huge.bmp").c_str(), big) != 0)
        GTEST_SKIP() << kNoSparseFiles;
    file("small.bmp", 3);
    scan.SetFileMask("*.bmp");
    scan.StartScan();
    EXPECT_EQ(ends.at(0).count, 2);
    EXPECT_EQ(ends[0].size, big + 3);
}

TEST_F(TFilesScanTest, NeverDescendsIntoLinksToDirectories)
{
    fs::remove_all(c() / "WINDOWS");
    file("SUB/a.bmp");
    fs::create_directory_symlink("..", c() / "SUB" / "loop");
    fs::create_directory_symlink(c() / "SUB", c() / "alias");
    scan.SetFileMask("*");
    scan.SetAttributes({});
    scan.StartScan();
    EXPECT_EQ(processed, (std::vector<std::string>{"c:\\", "c:\\SUB"}));
    EXPECT_EQ(
        sortedCopy(ends.at(0).list),
        (std::vector<std::string>{"c:\\SUB", "c:\\SUB\\a.bmp", "c:\\SUB\\loop", "c:\\alias"}));
}

TEST_F(TFilesScanTest, SpecifiedDiskScansTheWholeDriveOfScanDir)
{
    fs::remove_all(c() / "WINDOWS");
    file("x.bmp");
    file("SUB/y.bmp");
    scan.SetScanOptions(soSpecifiedDisk);
    scan.SetScanDir("c:\\SUB");
    scan.SetFileMask("*.bmp");
    scan.StartScan();
    EXPECT_EQ(processed.at(0), "c:");
    EXPECT_EQ(sortedCopy(ends.at(0).list),
              (std::vector<std::string>{"c:\\SUB\\y.bmp", "c:\\x.bmp"}));
}

TEST_F(TFilesScanTest, GlobalScanWalksFixedNetworkCdAndRamDrivesOnly)
{
    fs::remove_all(c() / "WINDOWS");
    fs::remove(prefix() / "dosdevices" / "z:");
    file("x.bmp");
    for (const char* d : {"floppy", "cd", "net", "ram"}) {
        fs::create_directories(temp() / d);
        writeFile(temp() / d / (std::string(d) + ".bmp"), "x");
    }
    fs::create_directory_symlink(temp() / "floppy", prefix() / "dosdevices" / "a:");
    fs::create_directory_symlink(temp() / "cd", prefix() / "dosdevices" / "d:");
    fs::create_directory_symlink(temp() / "net", prefix() / "dosdevices" / "n:");
    fs::create_directory_symlink(temp() / "ram", prefix() / "dosdevices" / "r:");
    fs::create_directory_symlink(temp() / "gone", prefix() / "dosdevices" / "q:");
    writeFile(prefix() / "system.reg", "WINE REGISTRY Version 2\n"
                                       "[Software\\\\Wine\\\\Drives] 1700000000\n"
                                       "\"a:\"=\"floppy\"\n"
                                       "\"d:\"=\"cdrom\"\n"
                                       "\"n:\"=\"network\"\n"
                                       "\"r:\"=\"ramdisk\"\n");
    scan.SetScanOptions(soGlobal);
    scan.SetFileMask("*.bmp");
    scan.StartScan();
    EXPECT_EQ(processed, (std::vector<std::string>{"C:", "D:", "N:", "R:"}));
    EXPECT_EQ(sortedCopy(ends.at(0).list),
              (std::vector<std::string>{"C:\\x.bmp", "D:\\cd.bmp", "N:\\net.bmp", "R:\\ram.bmp"}));
}

TEST_F(TFilesScanTest, ExceptionFromOnProcessLeavesTheScan)
{
    file("SUB/a.bmp");
    scan.OnProcess = [](TFilesScan*, const std::string& dir, std::int64_t, std::int64_t) {
        if (dir != "c:\\")
            throw Exception("stop here");
    };
    EXPECT_THROW(scan.StartScan(), Exception);
    EXPECT_TRUE(ends.empty());
}

} // namespace

TEST_F(TFilesScanTest, NeverWalksIntoTheKernelsOwnFilesystems)
{
    fs::remove_all(c() / "WINDOWS");
    file("a.bmp");
    file("Pictures/b.bmp");
    fs::create_directories(c() / "proc");
    fs::create_directories(c() / "sys" / "x");
    if (::mount("proc", (c() / "proc").c_str(), "proc", 0, nullptr) != 0)
        GTEST_SKIP() << "cannot mount proc here (" << std::strerror(errno)
                     << "): run the tests as root, or in a container started with CAP_SYS_ADMIN";
    const bool sysfs = ::mount("sysfs", (c() / "sys").c_str(), "sysfs", 0, nullptr) == 0;
    scan.SetFileMask("*");
    scan.SetAttributes({});
    scan.StartScan();
    ::umount2((c() / "proc").c_str(), MNT_DETACH);
    if (sysfs)
        ::umount2((c() / "sys").c_str(), MNT_DETACH);

    // The mount points themselves are listed, as folders; nothing below them is looked at.
    std::vector<std::string> walked = {"c:\\", "c:\\Pictures"};
    std::vector<std::string> listed = {"c:\\Pictures", "c:\\Pictures\\b.bmp", "c:\\a.bmp",
                                       "c:\\proc", "c:\\sys"};
    if (!sysfs) {
        walked.insert(walked.end(), {"c:\\sys", "c:\\sys\\x"});
        listed.push_back("c:\\sys\\x");
    }
    EXPECT_EQ(sortedCopy(processed), sortedCopy(walked));
    EXPECT_EQ(sortedCopy(ends.at(0).list), sortedCopy(listed));

    // An ordinary folder that has a mount point's name is walked.
    processed.clear();
    scan.StartScan();
    EXPECT_EQ(sortedCopy(processed),
              sortedCopy({"c:\\", "c:\\Pictures", "c:\\proc", "c:\\sys", "c:\\sys\\x"}));
}

namespace {

// The walk of a plain depth-first reader: each directory's entries in the host's listing order,
// a subdirectory walked where it stands. What the scan must report, however it reads ahead.
void referenceWalk(const fs::path& host, const std::string& dir, std::vector<std::string>& dirs,
                   std::vector<std::string>& found)
{
    dirs.push_back(dir);
    DIR* d = ::opendir(host.c_str());
    ASSERT_NE(d, nullptr);
    while (const dirent* e = ::readdir(d)) {
        const std::string name = e->d_name;
        if (name == "." || name == "..")
            continue;
        const std::string path = TFilesScan::JoinPath(dir, name);
        if (name.size() > 4 && name.compare(name.size() - 4, 4, ".bmp") == 0)
            found.push_back(path);
        if (e->d_type == DT_DIR)
            referenceWalk(host / name, path, dirs, found);
    }
    ::closedir(d);
}

} // namespace

TEST_F(TFilesScanTest, ReadingAheadKeepsTheOrderOfAPlainDepthFirstWalk)
{
    // Wide and deep enough that the readers run well ahead of the walk and have to wait for
    // it; every scan of it, stopped or not, must come out as a plain walk would.
    fs::remove_all(c() / "WINDOWS");
    for (int a = 0; a < 12; ++a)
        for (int b = 0; b < 12; ++b) {
            const std::string folder = "a" + std::to_string(a) + "/b" + std::to_string(b);
            for (int f = 0; f < 3; ++f)
                file(folder + "/f" + std::to_string(f) + (f == 1 ? ".txt" : ".bmp"), f + 1);
            fs::create_directories(c() / folder / "empty");
        }
    std::vector<std::string> dirs, found;
    referenceWalk(c(), "c:\\", dirs, found);
    ASSERT_EQ(found.size(), 288u);

    scan.SetFileMask("*.bmp");
    scan.SetSortedList(false);
    for (int round = 0; round < 3; ++round) {
        processed.clear();
        scan.StartScan();
        EXPECT_EQ(processed, dirs);
        EXPECT_EQ(ends.back().list, found);
        EXPECT_EQ(ends.back().size, 144 * (1 + 3));
    }
    // Kept to one processor, the walk reads every folder itself, with the same result.
    cpu_set_t allowed, one;
    ASSERT_EQ(::sched_getaffinity(0, sizeof allowed, &allowed), 0);
    CPU_ZERO(&one);
    for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu)
        if (CPU_ISSET(cpu, &allowed)) {
            CPU_SET(cpu, &one);
            break;
        }
    ASSERT_EQ(::sched_setaffinity(0, sizeof one, &one), 0);
    processed.clear();
    scan.StartScan();
    ::sched_setaffinity(0, sizeof allowed, &allowed);
    EXPECT_EQ(processed, dirs);
    EXPECT_EQ(ends.back().list, found);

    // Stopped in the middle: exactly what the walk had reached, and the next scan is whole.
    scan.OnProcess = [this](TFilesScan* sender, const std::string& dir, std::int64_t,
                            std::int64_t) {
        processed.push_back(dir);
        if (dir == "c:\\a5\\b7")
            sender->StopScan();
    };
    processed.clear();
    scan.StartScan();
    const auto reached = std::find(dirs.begin(), dirs.end(), "c:\\a5\\b7");
    ASSERT_NE(reached, dirs.end());
    EXPECT_EQ(processed, std::vector<std::string>(dirs.begin(), reached + 1));
    const auto foundBefore = std::count_if(found.begin(), found.end(), [&](const std::string& p) {
        return std::find(dirs.begin(), reached, p.substr(0, p.rfind('\\'))) != reached;
    });
    EXPECT_EQ(ends.back().count, foundBefore);
    scan.OnProcess = nullptr;
    scan.StartScan();
    EXPECT_EQ(ends.back().list, found);
}
