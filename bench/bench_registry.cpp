// Times reading one value from the stock Wine prefix's system.reg (1.7 MB: the file read,
// parsed and the value looked up, in-process) against `grep -c ''` over the same file, which
// reads every byte of it once, alternating the two (ours, grep, ours, grep …) and printing
// medians with their spread. grep's time includes starting a process, so a process that does
// nothing (`true`) is timed beside it, and the ratio is also given against grep's own work.
// Processor time (user and system) is printed beside the time on the clock, since on a busy
// machine the latter is mostly time spent waiting for a processor.
// Skips itself, saying so, where the stock prefix is not there.
//   bench_registry [--runs N]
#include "platform/AtomicFile.h"
#include "platform/WineRegistry.h"

#include "Stats.h"

#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace fs = std::filesystem;

using bench::median;
using bench::spread;

namespace {

double milliseconds(const std::function<void()>& work)
{
    const auto start = std::chrono::steady_clock::now();
    work();
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
        .count();
}

double seconds(const timeval& t)
{
    return double(t.tv_sec) + double(t.tv_usec) / 1e6;
}

// Processor time used so far, in milliseconds, by this process or by its ended children.
double processorMilliseconds(int who)
{
    rusage usage{};
    ::getrusage(who, &usage);
    return (seconds(usage.ru_utime) + seconds(usage.ru_stime)) * 1000;
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
        const platform::WineRegistry registry = platform::WineRegistry::parse(std::move(bytes));
        if (!registry.findValue(key, "SystemRoot"))
            std::abort();
    };
    // std::system starts a shell, which then becomes grep (or true) by exec; the shell's
    // start is in both times and drops out of their difference.
    const std::string grep = "exec grep -c '' '" + file.string() + "'";
    const std::string nothing = "exec true";
    readOneValue(); // the file in the page cache, as for grep
    run(grep);

    std::vector<double> ours, theirs, empty, oursCpu, theirsCpu, emptyCpu;
    // Each time on the clock, and the processor time the same work used.
    const auto measure = [](const std::function<void()>& work, int who, std::vector<double>& clock,
                            std::vector<double>& processor) {
        const double before = processorMilliseconds(who);
        clock.push_back(milliseconds(work));
        processor.push_back(processorMilliseconds(who) - before);
    };
    for (int round = 0; round < runs; ++round) {
        measure(readOneValue, RUSAGE_SELF, ours, oursCpu);
        measure([&] { run(grep); }, RUSAGE_CHILDREN, theirs, theirsCpu);
        measure([&] { run(nothing); }, RUSAGE_CHILDREN, empty, emptyCpu);
    }
    const double work = median(theirs) - median(empty);
    std::printf("read one value from the stock system.reg (%.1f MB), %d runs each, median "
                "(min-max)\n",
                double(fs::file_size(file)) / 1e6, runs);
    std::printf("                        on the clock                processor\n");
    std::printf("  ours, in-process      %s  %s   target <= 9 ms\n", spread(ours).c_str(),
                spread(oursCpu).c_str());
    std::printf("  grep -c '', process   %s  %s\n", spread(theirs).c_str(),
                spread(theirsCpu).c_str());
    std::printf("  true, process         %s  %s\n", spread(empty).c_str(),
                spread(emptyCpu).c_str());
    std::printf("  ratio to grep %.2f (target <= 3); to grep less process start %.2f\n",
                median(ours) / median(theirs), work > 0 ? median(ours) / work : 0.0);
    const double cpuWork = median(theirsCpu) - median(emptyCpu);
    std::printf("  by processor time: ratio to grep %.2f; to grep less process start %.2f\n",
                median(oursCpu) / median(theirsCpu), cpuWork > 0 ? median(oursCpu) / cpuWork : 0.0);
    std::printf("  %.0f MB/s on the clock, %.0f MB/s of processor time\n",
                double(fs::file_size(file)) / 1e3 / median(ours),
                double(fs::file_size(file)) / 1e3 / median(oursCpu));
    return 0;
}
