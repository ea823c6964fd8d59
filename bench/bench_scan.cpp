// Scans a generated tree of 200,000 entries (about 5,000 directories) for "*.bmp, *.jpg" with
// message pumping on, and times `find DIR -iname '*.bmp' -o -iname '*.jpg'` over the same
// tree in the same run. Prints both times and their ratio. The tree lives in a temporary
// folder that serves as drive c: of a temporary prefix, and is removed at the end.
#include "scan/TFilesScan.h"

#include <QApplication>

#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace fs = std::filesystem;

namespace {

constexpr int kTopDirectories = 50;
constexpr int kSubDirectories = 99;    // 50 + 50 * 99 = 5,000 directories
constexpr int kFilesPerDirectory = 39; // 4,950 * 39 + 5,000 = about 198,000 entries

std::size_t makeTree(const fs::path& root)
{
    const char* const extensions[] = {".bmp",  ".jpg", ".txt", ".png", ".JPG",  ".dll", ".ini",
                                      ".jpeg", ".c",   ".h",   ".BMP", ".html", ".css"};
    std::size_t entries = 0;
    for (int top = 0; top < kTopDirectories; ++top) {
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

template <class Work> double bestSeconds(Work work)
{
    double best = 1e9;
    for (int round = 0; round < 3; ++round) {
        const auto start = std::chrono::steady_clock::now();
        work();
        const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
        best = std::min(best, took.count());
    }
    return best;
}

} // namespace

int main(int argc, char** argv)
{
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);

    std::string pattern = (fs::temp_directory_path() / "crestwick-bench-XXXXXX").string();
    if (!::mkdtemp(pattern.data()))
        return 1;
    const fs::path temp = pattern;
    const fs::path tree = temp / "tree";
    ::setenv("WINEPREFIX", (temp / "prefix").c_str(), 1);
    fs::create_directories(temp / "prefix" / "dosdevices");
    fs::create_directory_symlink(tree, temp / "prefix" / "dosdevices" / "c:");
    const std::size_t entries = makeTree(tree);

    TFilesScan scan;
    scan.SetFileMask("*.bmp, *.jpg");
    scan.SetScanOptions(soSpecifiedDir);
    scan.SetScanDir("c:\\");
    scan.SetProcessMsg(true);
    std::int64_t found = 0;
    scan.OnEndProcess = [&](TFilesScan*, TStringList&, std::int64_t count, std::int64_t) {
        found = count;
    };

    const std::string findCommand =
        "find '" + tree.string() + "' -iname '*.bmp' -o -iname '*.jpg' > /dev/null";
    // Warm the cache once with each.
    scan.StartScan();
    if (std::system(findCommand.c_str()) != 0)
        std::fprintf(stderr, "find failed\n");

    const double unsorted = bestSeconds([&] { scan.StartScan(); });
    scan.SetSortedList(true);
    const double sorted = bestSeconds([&] { scan.StartScan(); });
    const double peer = bestSeconds([&] {
        if (std::system(findCommand.c_str()) != 0)
            std::fprintf(stderr, "find failed\n");
    });

    std::printf("scan %zu entries for \"*.bmp, *.jpg\", pumping on (%lld found)\n", entries,
                (long long)found);
    std::printf("  TFilesScan, list unsorted  %8.1f ms\n", unsorted * 1000);
    std::printf("  TFilesScan, list sorted    %8.1f ms\n", sorted * 1000);
    std::printf("  find -iname ... -o -iname  %8.1f ms\n", peer * 1000);
    std::printf("  ratio unsorted %.2f, sorted %.2f (target <= 1.3)\n", unsorted / peer,
                sorted / peer);

    std::error_code ec;
    fs::remove_all(temp, ec);
    return 0;
}
