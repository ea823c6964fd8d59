// Times reading one value from the stock Wine prefix's system.reg (1.7 MB: the file read,
// parsed and the value looked up, in-process) against `grep -c ''` over the same file, which
// reads every byte of it once, alternating the two (ours, grep, ours, grep …) and printing
// medians with their spread. grep's time includes starting a process, so a process that does
// nothing (`true`) is timed beside it, and the ratio is also given against grep's own work.
// Skips itself, saying so, where the stock prefix is not there.
//   bench_registry [--runs N]
#include "platform/AtomicFile.h"
#include "platform/WineRegistry.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

double milliseconds(const std::function<void()>& work)
{
    const auto start = std::chrono::steady_clock::now();
    work();
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
        .count();
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const std::size_t middle = values.size() / 2;
    return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

std::string spread(const std::vector<double>& values)
{
    const auto [low, high] = std::minmax_element(values.begin(), values.end());
    char text[64];
    std::snprintf(text, sizeof text, "%7.2f ms (%.2f-%.2f)", median(values), *low, *high);
    return text;
}

void run(const std::string& command)
{
    if (std::system((command + " >/dev/null 2>&1").c_str()) == -1)
        std::fprintf(stderr, "could not start: %s\n", command.c_str());
}

} // namespace

int main(int argc, char** argv)
{
    int runs = 5;
    for (int i = 1; i + 1 < argc; ++i)
        if (std::string(argv[i]) == "--runs")
            runs = std::max(1, std::atoi(argv[i + 1]));
    const fs::path file = CRESTWICK_TESTDATA_DIR "/wine8-prefix/system.reg";
    if (!fs::exists(file)) {
        std::printf("bench_registry: skipped, %s is not there\n", file.c_str());
        return 0;
    }
    const std::string key = "Software\\Microsoft\\Windows NT\\CurrentVersion";
    const auto readOneValue = [&] {
        std::string bytes;
        if (!platform::readWholeFile(file, bytes))
            std::abort();
        const platform::WineRegistry registry = platform::WineRegistry::parse(bytes);
        if (!registry.findValue(key, "SystemRoot"))
            std::abort();
    };
    // std::system starts a shell, which then becomes grep (or true) by exec; the shell's
    // start is in both times and drops out of their difference.
    const std::string grep = "exec grep -c '' '" + file.string() + "'";
    const std::string nothing = "exec true";
    readOneValue(); // the file in the page cache, as for grep
    run(grep);

    std::vector<double> ours, theirs, empty;
    for (int round = 0; round < runs; ++round) {
        ours.push_back(milliseconds(readOneValue));
        theirs.push_back(milliseconds([&] { run(grep); }));
        empty.push_back(milliseconds([&] { run(nothing); }));
    }
    const double work = median(theirs) - median(empty);
    std::printf("read one value from the stock system.reg (%.1f MB), %d runs each, median "
                "(min-max)\n",
                double(fs::file_size(file)) / 1e6, runs);
    std::printf("  ours, in-process      %s   target <= 9 ms\n", spread(ours).c_str());
    std::printf("  grep -c '', process   %s\n", spread(theirs).c_str());
    std::printf("  true, process         %s\n", spread(empty).c_str());
    std::printf("  ratio to grep %.2f (target <= 3); to grep less process start %.2f\n",
                median(ours) / median(theirs), work > 0 ? median(ours) / work : 0.0);
    std::printf("  %.0f MB/s\n", double(fs::file_size(file)) / 1e3 / median(ours));
    return 0;
}
