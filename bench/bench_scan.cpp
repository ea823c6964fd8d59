// Scans generated trees for "*.bmp, *.jpg" and times `find DIR -iname '*.bmp' -o -iname
// '*.jpg'` over the same tree in the same run, alternating the two (ours, find, ours, find …)
// and printing medians and the spread, so that a noisy machine shows as a spread rather than
// as a wrong ratio:
//   1. TFilesScan with pumping on and the list sorted, as the window keeps it;
//   2. the same scan through the logo page (window offscreen, status bar updating);
//   3. a tree of about a million entries, with the scan's peak memory against the bytes of the
//      paths it found.
// Each tree lives in a temporary folder that serves as drive c: of a temporary prefix, and is
// removed at the end.
//   4. with --root, Autoscan Disks on drive z:, the Linux root, against `find /`.
//   bench_scan [--runs N] [--skip-large] [--root]
#include "app/Unit1.h"
#include "platform/TApplication.h"
#include "scan/TDriveComboBox.h"
#include "scan/TFilesScan.h"

#include <QApplication>
#include <QListWidget>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

constexpr int kSubDirectories = 99;    // below each top directory
constexpr int kFilesPerDirectory = 39; // in each of those

// A tree of topDirectories * (1 + 99 * 40) entries: 50 give about 198,000, 253 about a million.
std::size_t makeTree(const fs::path& root, int topDirectories)
{
    const char* const extensions[] = {".bmp",  ".jpg", ".txt", ".png", ".JPG",  ".dll", ".ini",
                                      ".jpeg", ".c",   ".h",   ".BMP", ".html", ".css"};
    std::size_t entries = 0;
    for (int top = 0; top < topDirectories; ++top) {
        const fs::path topDir = root / ("folder" + std::to_string(top));
        fs::create_directories(topDir);
        ++entries;
        for (int sub = 0; sub < kSubDirectories; ++sub) {
            const fs::path subDir = topDir / ("sub" + std::to_string(sub));
            fs::create_directory(subDir);
            ++entries;
            for (int f = 0; f < kFilesPerDirectory; ++f) {
                const std::string name = "file" + std::to_string(f) + extensions[f % 13];
                const int fd = ::open((subDir / name).c_str(), O_CREAT | O_WRONLY, 0644);
                if (fd >= 0) {
                    if (f % 13 < 2 && ::write(fd, "data", 4) != 4)
                        std::perror("write");
                    ::close(fd);
                }
                ++entries;
            }
        }
    }
    return entries;
}

double seconds(const std::function<void()>& work)
{
    const auto start = std::chrono::steady_clock::now();
    work();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// Runs ours and the peer alternately and prints their medians, spreads and ratio.
void compare(const char* what, int runs, const std::function<void()>& ours,
             const std::function<void()>& peer, double target)
{
    ours(); // warm the cache and the code
    peer();
    std::vector<double> a, b;
    for (int i = 0; i < runs; ++i) {
        a.push_back(seconds(ours));
        b.push_back(seconds(peer));
    }
    const auto [aMin, aMax] = std::minmax_element(a.begin(), a.end());
    const auto [bMin, bMax] = std::minmax_element(b.begin(), b.end());
    std::printf("%s\n", what);
    std::printf("  ours  median %8.1f ms  (%.1f to %.1f)\n", median(a) * 1000, *aMin * 1000,
                *aMax * 1000);
    std::printf("  find  median %8.1f ms  (%.1f to %.1f)\n", median(b) * 1000, *bMin * 1000,
                *bMax * 1000);
    std::printf("  ratio of medians %.2f (target <= %.1f), %d runs each\n", median(a) / median(b),
                target, runs);
    std::fflush(stdout);
}

std::function<void()> findOver(const fs::path& tree)
{
    const std::string command =
        "find '" + tree.string() + "' -iname '*.bmp' -o -iname '*.jpg' > /dev/null";
    return [command] {
        if (std::system(command.c_str()) != 0)
            std::fprintf(stderr, "find failed\n");
    };
}

struct Machine {
    fs::path temp;
    fs::path tree;
    std::size_t entries = 0;

    Machine(int topDirectories)
    {
        std::string pattern = (fs::temp_directory_path() / "crestwick-bench-XXXXXX").string();
        if (!::mkdtemp(pattern.data())) {
            std::perror("mkdtemp");
            std::exit(1);
        }
        temp = pattern;
        tree = temp / "tree";
        ::setenv("WINEPREFIX", (temp / "prefix").c_str(), 1);
        fs::create_directories(temp / "prefix" / "dosdevices");
        fs::create_directory_symlink(tree, temp / "prefix" / "dosdevices" / "c:");
        entries = makeTree(tree, topDirectories);
    }
    ~Machine()
    {
        std::error_code ec;
        fs::remove_all(temp, ec);
    }
};

void configure(TFilesScan& scan)
{
    scan.SetFileMask("*.bmp, *.jpg");
    scan.SetAttributes(TFileAttributes{faArchive});
    scan.SetScanOptions(soSpecifiedDir);
    scan.SetScanDir("c:\\");
    scan.SetProcessMsg(true);
    scan.SetSortedList(true);
}

// Autoscan Disks on a drive of the logo page (window offscreen) against find over its folder.
void compareAutoscan(const char* what, int runs, char drive, const fs::path& folder)
{
    TForm1 form;
    form.DriveComboBox1->SetDriveLetter(drive);
    compare(
        what, runs, [&] { form.RxSpeedButton2Click(nullptr); }, findOver(folder), 1.1);
    std::printf("  (the list box holds %d pictures)\n", form.ListBox1->count());
}

// The resident set of this process now, in bytes.
long residentBytes()
{
    long pages = 0, resident = 0;
    if (FILE* statm = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(statm, "%ld %ld", &pages, &resident) != 2)
            resident = 0;
        std::fclose(statm);
    }
    return resident * ::sysconf(_SC_PAGESIZE);
}

// The scan of the memory measure, run in a process of its own (this program started again
// with --memory-child), so that no memory freed by earlier scans hides what this one needs:
// prints how far the scan raised the resident set against the bytes of the paths it found.
int memoryChild(int argc, char** argv)
{
    QApplication app(argc, argv);
    const long before = residentBytes();
    std::size_t pathBytes = 0, found = 0;
    TFilesScan scan;
    configure(scan);
    scan.OnEndProcess = [&](TFilesScan*, TStringList& list, std::int64_t, std::int64_t) {
        for (const std::string_view path : list)
            pathBytes += path.size();
        found = std::size_t(list.Count());
    };
    scan.StartScan();
    struct rusage usage {};
    ::getrusage(RUSAGE_SELF, &usage);
    const long peak = usage.ru_maxrss * 1024L;
    std::printf("  peak memory of the scan %.1f MB for %zu paths of %.1f MB: %.2f times "
                "(target <= 2)\n",
                (peak - before) / 1e6, found, pathBytes / 1e6,
                double(peak - before) / double(pathBytes));
    return 0;
}

void measureMemory()
{
    std::fflush(stdout);
    const pid_t child = ::fork();
    if (child == 0) {
        char name[] = "bench_scan";
        char flag[] = "--memory-child";
        char* arguments[] = {name, flag, nullptr};
        ::execv("/proc/self/exe", arguments);
        std::perror("execv");
        ::_exit(1);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
}

} // namespace

int main(int argc, char** argv)
{
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    if (argc > 1 && std::strcmp(argv[1], "--memory-child") == 0)
        return memoryChild(argc, argv);
    int runs = 5;
    bool large = true;
    bool root = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--runs") == 0 && i + 1 < argc)
            runs = std::max(1, std::atoi(argv[++i]));
        else if (std::strcmp(argv[i], "--skip-large") == 0)
            large = false;
        else if (std::strcmp(argv[i], "--root") == 0)
            root = true;
    }
    QApplication app(argc, argv);
    TApplication::UseClassicPalette();

    {
        Machine machine(50);
        std::printf("tree of %zu entries\n", machine.entries);
        TFilesScan scan;
        configure(scan);
        compare(
            "TFilesScan, pumping on, list sorted", runs, [&] { scan.StartScan(); },
            findOver(machine.tree), 1.0);

        compareAutoscan("Autoscan Disks on the logo page, status bar updating", runs, 'c',
                        machine.tree);
    }
    if (large) {
        Machine machine(253);
        std::printf("tree of %zu entries\n", machine.entries);
        TFilesScan scan;
        configure(scan);
        compare(
            "TFilesScan, pumping on, list sorted", runs, [&] { scan.StartScan(); },
            findOver(machine.tree), 1.0);
        measureMemory();
    }
    if (root) {
        // Drive z: of a prefix maps the Linux root, as Wine's does; nothing is created there.
        Machine machine(0);
        fs::create_directory_symlink("/", machine.temp / "prefix" / "dosdevices" / "z:");
        compareAutoscan("Autoscan Disks on drive z:, the Linux root", runs, 'z', "/");
    }
    return 0;
}
