// Times "crestwick-oem show" as a whole process on a copy of the stock Wine prefix against
// "wine reg query" of the OEMInformation key on the same prefix, each run after
// "wineserver -k" so that no Wine server is running, alternating the two (ours, theirs, ours
// …), and prints their medians, spreads and ratio; it also times reading the registry
// in-process, to tell how much of ours goes to parsing system.reg.
// Skips itself, saying so, where wine or the stock prefix is not there.
//   bench_oem [--runs N]
#include "oem/OemSystem.h"

#include "Stats.h"
#include "StockPrefix.h"

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

// Runs a shell command with its output discarded and waits for it to end.
void run(const std::string& command)
{
    const std::string quiet = command + " >/dev/null 2>&1";
    if (std::system(quiet.c_str()) == -1)
        std::fprintf(stderr, "could not start: %s\n", command.c_str());
}

template <class Work> double milliseconds(Work work)
{
    const auto start = std::chrono::steady_clock::now();
    work();
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
        .count();
}

} // namespace

int main(int argc, char** argv)
{
    int runs = 5;
    for (int i = 1; i + 1 < argc; ++i)
        if (std::string(argv[i]) == "--runs")
            runs = std::max(1, std::atoi(argv[i + 1]));
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
    bench::copyStockPrefix(stock, prefix);
    ::setenv("WINEPREFIX", prefix.c_str(), 1);
    ::setenv("WINEDEBUG", "-all", 1);

    const std::string oursCommand = std::string(CRESTWICK_OEM_TOOL) + " show";
    const std::string theirsCommand =
        "wine reg query \"HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\OEMInformation\"";
    // Wine's first start on the prefix brings it up to date (and rewrites system.reg): done
    // once before timing, so that both read the same prefix in every round.
    run("wineserver -k");
    run(theirsCommand);
    run(oursCommand);
    // The registry is parsed once per process and then kept: the first read is the parse.
    const double parseMs = milliseconds([] { (void)oem::OemSystem::describe().readInfo(); });
    std::vector<double> ours, theirs;
    for (int round = 0; round < runs; ++round) {
        run("wineserver -k");
        ours.push_back(milliseconds([&] { run(oursCommand); }));
        run("wineserver -k");
        theirs.push_back(milliseconds([&] { run(theirsCommand); }));
    }
    run("wineserver -k");

    std::printf("show the OEM information of a stock Wine prefix, %d runs each, median (min-max)\n",
                runs);
    std::printf("  crestwick-oem show          %s\n", bench::spread(ours, 1, 1).c_str());
    std::printf("  of which parsing system.reg %7.1f ms (first read, in-process)\n", parseMs);
    std::printf("  wine reg query              %s\n", bench::spread(theirs, 1, 1).c_str());
    std::printf("  ratio %.3f (target <= 0.03)\n", bench::median(ours) / bench::median(theirs));
    fs::remove_all(temp);
    return 0;
}
