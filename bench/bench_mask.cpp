// Matches 1,000,000 file names against "*.bmp" with TMask and with fnmatch(FNM_CASEFOLD),
// the matcher a C program would pick, and prints both times and their ratio.
#include "scan/TMask.h"

#include <fnmatch.h>

#include <chrono>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

namespace {

std::vector<std::string> makeNames(std::size_t count)
{
    const char* const extensions[] = {".bmp", ".BMP", ".jpg", ".txt", ".png", ".bmpx", "", ".c"};
    std::mt19937 random(7);
    std::vector<std::string> names;
    names.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        std::string name = "IMG_" + std::to_string(random() % 100000);
        if (random() % 4 == 0)
            name += "_holiday.edit";
        name += extensions[random() % 8];
        names.push_back(std::move(name));
    }
    return names;
}

template <class Match>
double bestSeconds(const std::vector<std::string>& names, Match match, std::size_t& hits)
{
    double best = 1e9;
    for (int round = 0; round < 5; ++round) {
        std::size_t count = 0;
        const auto start = std::chrono::steady_clock::now();
        for (const std::string& name : names)
            count += match(name) ? 1 : 0;
        const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
        best = std::min(best, took.count());
        hits = count;
    }
    return best;
}

} // namespace

int main()
{
    const auto names = makeNames(1000000);
    const TMask mask("*.bmp");
    std::size_t ourHits = 0;
    std::size_t peerHits = 0;
    const double ours = bestSeconds(
        names, [&](const std::string& n) { return mask.MatchName(n); }, ourHits);
    const double peer = bestSeconds(
        names,
        [](const std::string& n) { return ::fnmatch("*.bmp", n.c_str(), FNM_CASEFOLD) == 0; },
        peerHits);
    std::printf("match 1,000,000 names against \"*.bmp\"\n");
    std::printf("  TMask::MatchName        %8.1f ms  (%zu matches)\n", ours * 1000, ourHits);
    std::printf("  fnmatch(FNM_CASEFOLD)   %8.1f ms  (%zu matches)\n", peer * 1000, peerHits);
    std::printf("  ratio %.2f (target <= 1.0)\n", ours / peer);
    return ourHits == peerHits ? 0 : 1;
}
