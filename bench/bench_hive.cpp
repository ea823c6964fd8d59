// Times "crestwick-oem set --manufacturer --model" as a whole process on a Windows volume
// whose SOFTWARE hive is about 30 MB, against "hivexregedit --merge" of the same two values
// into the same hive, in alternating runs, and prints their medians and ratio. Ours also
// checks the disk, takes the system's lock, writes the hive to a new file, flushes it and
// renames it over the old one; hivexregedit rewrites the hive in place without flushing.
// Skips itself, saying so, where hivexregedit is not installed.
#include <hivex.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

double millisecondsOf(const std::string& command)
{
    const auto start = std::chrono::steady_clock::now();
    const int status = std::system((command + " >/dev/null 2>&1").c_str());
    const std::chrono::duration<double, std::milli> took = std::chrono::steady_clock::now() - start;
    if (status != 0)
        std::fprintf(stderr, "failed (%d): %s\n", status, command.c_str());
    return took.count();
}

std::string utf16(const std::string& ascii)
{
    std::string bytes;
    for (char c : ascii) {
        bytes += c;
        bytes += '\0';
    }
    return bytes + std::string(2, '\0');
}

hive_node_h child(hive_h* hive, hive_node_h parent, const char* name)
{
    const hive_node_h found = hivex_node_get_child(hive, parent, name);
    return found ? found : hivex_node_add_child(hive, parent, name);
}

// A SOFTWARE hive of an NT 6 system, grown with filler keys to about the size of a real one.
bool makeHive(const fs::path& base, const fs::path& out)
{
    hive_h* hive = hivex_open(base.c_str(), HIVEX_OPEN_WRITE);
    if (!hive)
        return false;
    const hive_node_h root = hivex_root(hive);
    const hive_node_h microsoft = child(hive, root, "Microsoft");
    const hive_node_h nt = child(hive, child(hive, microsoft, "Windows NT"), "CurrentVersion");
    std::string root9 = utf16("C:\\Windows"), version = utf16("6.3");
    std::string major("\x0a\0\0\0", 4);
    hive_set_value ntValues[] = {
        {const_cast<char*>("SystemRoot"), hive_t_REG_SZ, root9.size(), root9.data()},
        {const_cast<char*>("CurrentVersion"), hive_t_REG_SZ, version.size(), version.data()},
        {const_cast<char*>("CurrentMajorVersionNumber"), hive_t_REG_DWORD, 4, major.data()},
    };
    hivex_node_set_values(hive, nt, 3, ntValues, 0);
    child(hive, child(hive, microsoft, "Windows"), "CurrentVersion");
    const hive_node_h classes = child(hive, root, "Classes");
    std::string filler = utf16(std::string(400, 'f'));
    for (int group = 0; group < 100; ++group) {
        const hive_node_h parent = child(hive, classes, ("Group" + std::to_string(group)).c_str());
        for (int key = 0; key < 80; ++key) {
            const hive_node_h node =
                hivex_node_add_child(hive, parent, ("Key" + std::to_string(key)).c_str());
            std::vector<std::string> names;
            for (int v = 0; v < 4; ++v)
                names.push_back("Value" + std::to_string(v));
            std::vector<hive_set_value> values;
            for (std::string& name : names)
                values.push_back({name.data(), hive_t_REG_SZ, filler.size(), filler.data()});
            hivex_node_set_values(hive, node, values.size(), values.data(), 0);
        }
    }
    const bool ok = hivex_commit(hive, out.c_str(), 0) == 0;
    hivex_close(hive);
    return ok;
}

void printRow(const char* name, std::vector<double> times)
{
    std::sort(times.begin(), times.end());
    std::printf("  %-44s %8.1f ms (%.1f-%.1f)\n", name, times[times.size() / 2], times.front(),
                times.back());
}

double median(std::vector<double> times)
{
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

} // namespace

int main()
{
    if (std::system("command -v hivexregedit >/dev/null 2>&1") != 0) {
        std::printf("bench_hive: skipped, hivexregedit is not installed "
                    "(apt-get install libwin-hivex-perl)\n");
        return 0;
    }
    char pattern[] = "/tmp/crestwick-bench-hive-XXXXXX";
    const char* temp = ::mkdtemp(pattern);
    if (!temp)
        return 1;
    const fs::path volume = fs::path(temp) / "volume";
    const fs::path config = volume / "Windows" / "System32" / "config";
    fs::create_directories(config);
    const fs::path hive = config / "SOFTWARE";
    if (!makeHive(CRESTWICK_TESTDATA_DIR "/hives/minimal", hive)) {
        std::printf("bench_hive: could not make the test hive\n");
        return 1;
    }
    const fs::path reg = fs::path(temp) / "oem.reg";
    ::setenv("WINEPREFIX", volume.c_str(), 1);

    std::vector<double> ours, theirs;
    for (int round = 0; round < 5; ++round) {
        const std::string tag = std::to_string(round);
        ours.push_back(millisecondsOf(std::string(CRESTWICK_OEM_TOOL) +
                                      " set --manufacturer Maker" + tag + " --model Model" + tag));
        std::ofstream(reg, std::ios::trunc)
            << "Windows Registry Editor Version 5.00\r\n\r\n"
               "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\OEMInformation]\r\n"
               "\"Manufacturer\"=\"Other" + tag + "\"\r\n\"Model\"=\"Box" + tag + "\"\r\n";
        theirs.push_back(millisecondsOf("hivexregedit --merge --prefix 'HKEY_LOCAL_MACHINE\\SOFTWARE' " +
                                        hive.string() + " " + reg.string()));
    }
    std::printf("Save Info (two values) on a %.1f MB SOFTWARE hive, 5 alternating runs\n",
                double(fs::file_size(hive)) / 1e6);
    printRow("crestwick-oem set --manufacturer --model", ours);
    printRow("hivexregedit --merge", theirs);
    std::printf("  ratio %.2f (target <= 1.2)\n", median(ours) / median(theirs));
    fs::remove_all(temp);
    return 0;
}
