// Times starting a process that shows the main window (application set-up, registry and info
// file reads, every control and component) against a process that shows a bare Qt window of
// the same size, alternating the two, and prints their medians, spreads and ratio. Both are
// this benchmark started again as a child, so they load the same libraries. Runs headless on
// a temporary machine whose prefix holds the stock Wine prefix's registry files (a fresh
// prefix where the test data is not there).
//   bench_startup [--runs N]
#include "app/Unit1.h"
#include "desktop/DesignFont.h"
#include "desktop/TApplication.h"
#include "platform/Prefix.h"
#include "platform/Registry.h"

#include "Stats.h"
#include "StockPrefix.h"

#include <QApplication>
#include <QWindow>

#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

// Pumps messages until the window is on screen.
void waitUntilShown(QWidget& window)
{
    for (int i = 0; i < 10000; ++i) {
        QCoreApplication::processEvents();
        if (window.windowHandle() && window.windowHandle()->isExposed())
            return;
    }
}

// Starts this program again with one argument and waits for it to end.
void runChild(const char* self, const char* mode)
{
    const pid_t child = ::fork();
    if (child == 0) {
        ::execl(self, self, mode, static_cast<char*>(nullptr));
        ::_exit(127);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
}

template <class Show> double milliseconds(Show show)
{
    const auto start = std::chrono::steady_clock::now();
    show();
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
        .count();
}

} // namespace

int main(int argc, char** argv)
{
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    if (argc == 2 && argv[1][0] != '-') {
        // A child: start, show one window, end, as the program's own main does.
        const bool ours = std::string(argv[1]) == "ours";
        if (ours)
            platform::prefetchMachineRegistry();
        QApplication application(argc, argv);
        if (ours) {
            TApplication::RegisterFontSubstitutes();
            DesignFont::Install(application.devicePixelRatio());
            TApplication::UseClassicPalette();
            TApplication::UseScreenDepth();
            platform::Prefix::ensureExists();
            TForm1 form;
            form.ShowCentred();
            waitUntilShown(form);
        } else {
            QWidget window;
            window.resize(526, 355);
            window.show();
            waitUntilShown(window);
        }
        return 0;
    }

    int runs = 5;
    for (int i = 1; i + 1 < argc; ++i)
        if (std::string(argv[i]) == "--runs")
            runs = std::max(1, std::atoi(argv[i + 1]));
    std::string temp = (fs::temp_directory_path() / "crestwick-bench-XXXXXX").string();
    if (!::mkdtemp(temp.data()))
        return 1;
    const fs::path prefix = fs::path(temp) / "prefix";
    const fs::path stock = CRESTWICK_TESTDATA_DIR "/wine8-prefix";
    const bool stockPrefix = fs::exists(stock / "system.reg");
    if (stockPrefix)
        bench::copyStockPrefix(stock, prefix);
    ::setenv("WINEPREFIX", prefix.c_str(), 1);
    ::setenv("HOME", temp.c_str(), 1);
    const char* self = "/proc/self/exe";
    std::string selfPath = fs::read_symlink(self).string();
    runChild(selfPath.c_str(), "ours"); // the prefix made, the libraries in the page cache
    std::vector<double> ours, peer;
    for (int round = 0; round < runs; ++round) {
        ours.push_back(milliseconds([&] { runChild(selfPath.c_str(), "ours"); }));
        peer.push_back(milliseconds([&] { runChild(selfPath.c_str(), "bare"); }));
    }
    std::printf("start a process and show its window, on %s, %d runs each, median (min-max)\n",
                stockPrefix ? "the stock Wine prefix" : "a fresh prefix", runs);
    std::printf("  crestwick main window     %s\n", bench::spread(ours, 1, 1).c_str());
    std::printf("  bare Qt window            %s\n", bench::spread(peer, 1, 1).c_str());
    std::printf("  ratio %.2f (target <= 1.5)\n", bench::median(ours) / bench::median(peer));
    std::error_code ec;
    fs::remove_all(temp, ec);
    return 0;
}
