// Times starting a process that shows the main window (application set-up, registry and info
// file reads, every control and component) against a process that shows a bare Qt window of
// the same size, and prints their ratio. Both are this benchmark started again as a child, so
// they load the same libraries. Runs on a temporary machine with a fresh prefix, headless.
#include "app/Unit1.h"
#include "desktop/DesignFont.h"
#include "desktop/TApplication.h"
#include "platform/Prefix.h"

#include <QApplication>
#include <QWindow>

#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

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

template <class Show> double bestMilliseconds(Show show)
{
    double best = 1e12;
    for (int round = 0; round < 15; ++round) {
        const auto start = std::chrono::steady_clock::now();
        show();
        const std::chrono::duration<double, std::milli> took =
            std::chrono::steady_clock::now() - start;
        best = std::min(best, took.count());
    }
    return best;
}

} // namespace

int main(int argc, char** argv)
{
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    if (argc == 2) {
        // A child: start, show one window, end.
        QApplication application(argc, argv);
        if (std::string(argv[1]) == "ours") {
            TApplication::RegisterFontSubstitutes();
            DesignFont::Install(application.devicePixelRatio());
            TApplication::UseClassicPalette();
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

    std::string temp = (fs::temp_directory_path() / "crestwick-bench-XXXXXX").string();
    if (!::mkdtemp(temp.data()))
        return 1;
    ::setenv("WINEPREFIX", (fs::path(temp) / "prefix").c_str(), 1);
    ::setenv("HOME", temp.c_str(), 1);
    const char* self = "/proc/self/exe";
    std::string selfPath = fs::read_symlink(self).string();
    const double ours = bestMilliseconds([&] { runChild(selfPath.c_str(), "ours"); });
    const double peer = bestMilliseconds([&] { runChild(selfPath.c_str(), "bare"); });
    std::printf("start a process and show its window\n");
    std::printf("  crestwick main window     %7.1f ms\n", ours);
    std::printf("  bare Qt window            %7.1f ms\n", peer);
    std::printf("  ratio %.2f (target <= 1.5)\n", ours / peer);
    std::error_code ec;
    fs::remove_all(temp, ec);
    return 0;
}
