// Times "crestwick-oem show" as a whole process on a copy of the stock Wine prefix against
// "wine reg query" of the OEMInformation key on the same prefix, each run after
// "wineserver -k" so that no Wine server is running, and prints their ratio; it also times
// reading the registry in-process, to tell how much of ours goes to parsing system.reg.
// Skips itself, saying so, where wine or the stock prefix is not there.
#include "oem/OemSystem.h"

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace fs = std::filesystem;

namespace {

// Runs a shell command with its output discarded and waits for it to end.
void run(const std::string& command)
{
    const std::string quiet = command + " >/dev/null 2>&1";
    if (std::system(quiet.c_str()) == -1)
        std::fprintf(stderr, "could not start: %s\n", command.c_str());
}

template <class Work> double bestMilliseconds(int rounds, Work work, bool stopWine)
{
    double best = 1e12;
    for (int round = 0; round < rounds; ++round) {
        if (stopWine)
            run("wineserver -k");
        const auto start = std::chrono::steady_clock::now();
        work();
        const std::chrono::duration<double, std::milli> took =
            std::chrono::steady_clock::now() - start;
        best = std::min(best, took.count());
    }
    return best;
}

} // namespace

int main()
{
    if (std::system("command -v wine >/dev/null 2>&1") != 0) {
        std::printf("bench_oem: skipped, wine is not installed\n");
        return 0;
    }
    const fs::path stock = CRESTWICK_TESTDATA_DIR "/wine8-prefix";
    if (!fs::exists(stock / "system.reg")) {
        std::printf("bench_oem: skipped, %s is not there\n", stock.c_str());
        return 0;
    }
    char pattern[] = "/tmp/crestwick-bench-oem-XXXXXX";
    const char* temp = ::mkdtemp(pattern);
    if (!temp)
        return 1;
    const fs::path prefix = fs::path(temp) / "prefix";
    fs::create_directories(prefix / "dosdevices");
    fs::create_directories(prefix / "drive_c" / "windows" / "system32");
    for (const char* name : {"system.reg", "user.reg", "userdef.reg"})
        fs::copy_file(stock / name, prefix / name);
    fs::create_directory_symlink("../drive_c", prefix / "dosdevices" / "c:");
    ::setenv("WINEPREFIX", prefix.c_str(), 1);
    ::setenv("WINEDEBUG", "-all", 1);

    const std::string ours = std::string(CRESTWICK_OEM_TOOL) + " show";
    const std::string theirs =
        "wine reg query \"HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\OEMInformation\"";
    const double oursMs = bestMilliseconds(
        10, [&] { run(ours); }, true);
    // The registry is parsed once per process and then kept: the first read is the parse.
    const double parseMs = bestMilliseconds(
        1, [] { (void)oem::OemSystem::describe().readInfo(); }, false);
    const double theirsMs = bestMilliseconds(
        5, [&] { run(theirs); }, true);
    run("wineserver -k");

    std::printf("show the OEM information of a stock Wine prefix\n");
    std::printf("  crestwick-oem show          %8.1f ms\n", oursMs);
    std::printf("  of which parsing system.reg %8.1f ms (first read, in-process)\n", parseMs);
    std::printf("  wine reg query              %8.1f ms\n", theirsMs);
    std::printf("  ratio %.3f (target <= 0.1)\n", oursMs / theirsMs);
    fs::remove_all(temp);
    return 0;
}
