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
//   5. with --walk-only, only the sorted scan of the first tree, timed alone, for a profiler,
//      with the processor time it took beside the elapsed time.
// Every comparison runs first with every processor free to use, then with ours and find both
// kept to one processor (as `taskset -c 0` would), and prints the two side by side.
//   bench_scan [--runs N] [--skip-large] [--root] [--walk-only]
#include "app/Unit1.h"
#include "desktop/TApplication.h"
#include "scan/TDriveComboBox.h"
#include "scan/TFilesScan.h"

#include "Stats.h"

#include <QApplication>

#include <fcntl.h>
#include <sched.h>
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

using bench::median;

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

// The processor time of the whole process so far, user and system, in seconds.
double processorSeconds()
{
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    const auto toSeconds = [](const timeval& t) { return double(t.tv_sec) + t.tv_usec * 1e-6; };
    return toSeconds(usage.ru_utime) + toSeconds(usage.ru_stime);
}

// Medians and spreads of ours and the peer, run alternately.
struct Timings {
    std::vector<double> ours, peer;
};

Timings timeAlternately(int runs, const std::function<void()>& ours,
                        const std::function<void()>& peer)
{
    ours(); // warm the cache and the code
    peer();
    Timings t;
    for (int i = 0; i < runs; ++i) {
        t.ours.push_back(seconds(ours));
        t.peer.push_back(seconds(peer));
    }
    return t;
}

// Keeps this thread, and the threads and processes it starts, to the first processor it may
// run on, as `taskset -c 0` would; the destructor gives back the processors it had.
class OneProcessor {
public:
    OneProcessor()
    {
        CPU_ZERO(&before_);
        ::sched_getaffinity(0, sizeof before_, &before_);
        cpu_set_t one;
        CPU_ZERO(&one);
        for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu)
            if (CPU_ISSET(cpu, &before_)) {
                CPU_SET(cpu, &one);
                cpu_ = cpu;
                break;
            }
        ::sched_setaffinity(0, sizeof one, &one);
    }
    ~OneProcessor() { ::sched_setaffinity(0, sizeof before_, &before_); }
    int cpu() const { return cpu_; }

private:
    cpu_set_t before_;
    int cpu_ = 0;
};

// Times in seconds, printed in milliseconds.
std::string spread(const std::vector<double>& values)
{
    return bench::spread(values, 1000, 1);
}

// A ratio of medians and its target; a target of 0 is none.
std::string ratio(double value, double target)
{
    char text[64];
    if (target > 0)
        std::snprintf(text, sizeof text, "%.2f (target <= %.1f)", value, target);
    else
        std::snprintf(text, sizeof text, "%.2f", value);
    return text;
}

// Runs ours and the peer alternately, first free to use every processor, then both kept to
// one processor, and prints the medians, spreads and ratios side by side: the machine may be
// busy, and a free processor hides what the walk itself costs.
void compare(const char* what, int runs, const std::function<void()>& ours,
             const std::function<void()>& peer, double freeTarget, double oneTarget)
{
    const Timings free = timeAlternately(runs, ours, peer);
    Timings one;
    int cpu = 0;
    {
        const OneProcessor pinned;
        cpu = pinned.cpu();
        one = timeAlternately(runs, ours, peer);
    }
    char pinnedTitle[48];
    std::snprintf(pinnedTitle, sizeof pinnedTitle, "one processor (cpu %d)", cpu);
    std::printf("%s, %d runs each, median (min-max)\n", what, runs);
    std::printf("        %-28s  %s\n", "free processors", pinnedTitle);
    std::printf("  ours  %-28s  %s\n", spread(free.ours).c_str(), spread(one.ours).c_str());
    std::printf("  find  %-28s  %s\n", spread(free.peer).c_str(), spread(one.peer).c_str());
    std::printf("  ratio %-28s  %s\n",
                ratio(median(free.ours) / median(free.peer), freeTarget).c_str(),
                ratio(median(one.ours) / median(one.peer), oneTarget).c_str());
    std::fflush(stdout);
}

// find's complaints (over /, about every folder of /proc it may not read) are left out; that
// it failed is said once, and its runs are timed all the same.
std::function<void()> findOver(const fs::path& tree)
{
    const std::string command =
        "find '" + tree.string() + "' -iname '*.bmp' -o -iname '*.jpg' > /dev/null 2>&1";
    return [command, told = false]() mutable {
        if (std::system(command.c_str()) != 0 && !told) {
            told = true;
            std::fprintf(stderr, "find failed over some folders (it is timed all the same)\n");
        }
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
void compareAutoscan(const char* what, int runs, char drive, const fs::path& folder,
                     double freeTarget, double oneTarget)
{
    TForm1 form;
    form.DriveComboBox1->SetDriveLetter(drive);
    compare(
        what, runs, [&] { form.RxSpeedButton2Click(nullptr); }, findOver(folder), freeTarget,
        oneTarget);
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
    bool walkOnly = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--runs") == 0 && i + 1 < argc)
            runs = std::max(1, std::atoi(argv[++i]));
        else if (std::strcmp(argv[i], "--skip-large") == 0)
            large = false;
        else if (std::strcmp(argv[i], "--root") == 0)
            root = true;
        else if (std::strcmp(argv[i], "--walk-only") == 0)
            walkOnly = true;
    }
    QApplication app(argc, argv);
    TApplication::UseClassicPalette();

    if (walkOnly) {
        // The sorted scan alone, with nothing else in the process between its runs, for a
        // profiler: `taskset -c 0 valgrind --tool=callgrind
        // --toggle-collect='TFilesScan::StartScan()' bench_scan --walk-only --runs 1`.
        Machine machine(50);
        TFilesScan scan;
        configure(scan);
        std::vector<double> times, processorTimes;
        for (int i = 0; i < runs; ++i) {
            const double before = processorSeconds();
            times.push_back(seconds([&] { scan.StartScan(); }));
            processorTimes.push_back(processorSeconds() - before);
        }
        // Processor time above the elapsed time is what the read-ahead threads cost.
        std::printf("tree of %zu entries, %d pictures: scan %s, processor time %s\n",
                    machine.entries, scan.FilesList().Count(), spread(times).c_str(),
                    spread(processorTimes).c_str());
        return 0;
    }

    {
        Machine machine(50);
        std::printf("tree of %zu entries\n", machine.entries);
        TFilesScan scan;
        configure(scan);
        compare(
            "TFilesScan, pumping on, list sorted", runs, [&] { scan.StartScan(); },
            findOver(machine.tree), 1.0, 1.0);

        compareAutoscan("Autoscan Disks on the logo page, status bar updating", runs, 'c',
                        machine.tree, 0.8, 1.1);
    }
    if (large) {
        Machine machine(253);
        std::printf("tree of %zu entries\n", machine.entries);
        TFilesScan scan;
        configure(scan);
        compare(
            "TFilesScan, pumping on, list sorted", runs, [&] { scan.StartScan(); },
            findOver(machine.tree), 1.0, 1.0);
        measureMemory();
    }
    if (root) {
        // Drive z: of a prefix maps the Linux root, as Wine's does; nothing is created there.
        Machine machine(0);
        fs::create_directory_symlink("/", machine.temp / "prefix" / "dosdevices" / "z:");
        compareAutoscan("Autoscan Disks on drive z:, the Linux root", runs, 'z', "/", 0.5, 0);
    }
    return 0;
}
