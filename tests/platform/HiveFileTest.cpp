#include "platform/HiveFile.h"
#include "core/Exceptions.h"
#include "platform/Drives.h"
#include "platform/Prefix.h"
#include "platform/Registry.h"
#include "platform/TRegistry.h"
#include "platform/WinPath.h"
#include "platform/WineRegistry.h"
#include "tests/support/TempPrefix.h"
#include "tests/support/TestHive.h"

#include <gtest/gtest.h>
#include <hivex.h>

#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using namespace platform;

namespace {

const std::vector<Key> kWindows10 = {
    {"Microsoft\\Windows NT\\CurrentVersion",
     {{"SystemRoot", REG_SZ, text("C:\\Windows")},
      {"CurrentMajorVersionNumber", REG_DWORD, dword(10)},
      {"CurrentMinorVersionNumber", REG_DWORD, dword(0)},
      {"CurrentVersion", REG_SZ, text("6.3")},
      {"ProductName", REG_SZ, text("Windows 10 Pro")},
      {"PathName", REG_EXPAND_SZ, text("%SystemRoot%")},
      {"Owners", REG_MULTI_SZ, utf8ToUtf16le(std::string("Ann\0B\xc3\xa9la\0\0", 10))},
      {"DigitalProductId", REG_BINARY, std::string("\xa4\x00\x01\xff", 4)},
      {"RegisteredOrganization", REG_SZ, text("M\xc3\xbcller & S\xc3\xb6hne")},
      // A lone surrogate and an odd final byte: not valid UTF-16.
      {"Broken", REG_SZ, std::string("A\0\x00\xd8!", 5)},
      {"Empty", REG_SZ, ""},
      // A kind that no Windows names: read back as it is stored.
      {"Odd", 0x00010002, "\x01\x02"}}},
    {"Microsoft\\Windows\\CurrentVersion",
     {{"ProgramFilesDir", REG_SZ, text("C:\\Program Files")}}},
};

const std::vector<Key> kWindowsXp = {
    {"Microsoft\\Windows NT\\CurrentVersion",
     {{"SystemRoot", REG_SZ, text("C:\\WINDOWS")},
      {"CurrentVersion", REG_SZ, text("5.1")},
      {"ProductName", REG_SZ, text("Microsoft Windows XP")}}},
};

std::string queryValue(const char* keyPath, const char* name, DWORD* type = nullptr)
{
    HKEY key = 0;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, keyPath, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return "<no key>";
    DWORD size = 0;
    std::string data;
    if (RegQueryValueExA(key, name, nullptr, type, nullptr, &size) != ERROR_SUCCESS) {
        data = "<missing>";
    } else {
        data.resize(size);
        EXPECT_EQ(
            RegQueryValueExA(key, name, nullptr, type, reinterpret_cast<BYTE*>(data.data()), &size),
            ERROR_SUCCESS);
    }
    RegCloseKey(key);
    return data;
}

std::set<std::string> listTree(const fs::path& folder)
{
    std::set<std::string> names;
    for (const auto& entry : fs::recursive_directory_iterator(folder))
        names.insert(fs::relative(entry.path(), folder).string());
    return names;
}

// The last-write time of a key as the hive file holds it (a FILETIME), or -1 without the key.
std::int64_t keyTime(const fs::path& hive, const std::vector<const char*>& path)
{
    hive_h* h = hivex_open(hive.c_str(), 0);
    if (!h)
        return -1;
    hive_node_h node = hivex_root(h);
    for (const char* name : path)
        node = node ? hivex_node_get_child(h, node, name) : 0;
    const std::int64_t time = node ? hivex_node_timestamp(h, node) : -1;
    hivex_close(h);
    return time;
}

std::int64_t fileTimeNow()
{
    return (std::int64_t(std::time(nullptr)) + 11644473600LL) * 10000000LL;
}

class HiveFileTest : public TempPrefixTest {
protected:
    void SetUp() override
    {
        TempPrefixTest::SetUp();
        handlesBefore_ = registryOpenHandleCount();
    }
    void TearDown() override
    {
        HiveFile::setBeforeReplaceForTesting({});
        EXPECT_EQ(registryOpenHandleCount(), handlesBefore_) << "a registry handle leaked";
        TempPrefixTest::TearDown();
    }

    fs::path makeVolume(const fs::path& folder, const std::vector<Key>& keys,
                        const char* layout = "Windows/System32/config/SOFTWARE")
    {
        return makeWindowsVolume(folder, keys, layout);
    }

    std::size_t handlesBefore_ = 0;
};

TEST_F(HiveFileTest, AWindowsVolumeIsRecognisedAndGetsDrivesCAndZWithoutChanges)
{
    struct Case {
        const char* name;
        const char* layout;     // where the hive lies below the volume, "" for none
        bool systemReg;         // the prefix holds a system.reg too
        bool throughDosdevices; // the prefix is Wine-style, its c: leads to the volume
        bool volume;            // the prefix itself is taken for a Windows volume
        bool hive;              // HKEY_LOCAL_MACHINE\Software is the hive
    };
    const std::vector<Case> cases = {
        {"volume", "Windows/System32/config/SOFTWARE", false, false, true, true},
        {"any letter case", "WINDOWS/system32/Config/software", false, false, true, true},
        {"system.reg wins", "Windows/System32/config/SOFTWARE", true, false, false, false},
        {"no hive", "", false, false, false, false},
        {"hive is a folder", "Windows/System32/config/SOFTWARE/x", false, false, false, false},
        {"c: leads there", "Windows/System32/config/SOFTWARE", false, true, false, true},
        {"c: leads there, system.reg", "Windows/System32/config/SOFTWARE", true, true, false,
         false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(prefix());
        fs::remove_all(temp() / "disk");
        const fs::path volume = c.throughDosdevices ? temp() / "disk" : prefix();
        fs::create_directories(volume);
        if (*c.layout) {
            fs::create_directories((volume / c.layout).parent_path());
            fs::copy_file(kMinimalHive, volume / c.layout);
        }
        if (c.throughDosdevices) {
            fs::create_directories(prefix() / "dosdevices");
            fs::create_directory_symlink(volume, prefix() / "dosdevices" / "c:");
            fs::create_directory_symlink("/", prefix() / "dosdevices" / "z:");
        }
        if (c.systemReg)
            writeFile(prefix() / "system.reg", "WINE REGISTRY Version 2\n");
        const std::set<std::string> before = listTree(prefix());

        EXPECT_EQ(Prefix::isWindowsVolume(), c.volume);
        EXPECT_EQ(Prefix::softwareHive().has_value(), c.hive);
        EXPECT_TRUE(Prefix::ensureExists());
        if (c.volume) {
            EXPECT_EQ(Drives::logicalDrives(), (1u << 2) | (1u << 25));
            EXPECT_EQ(WinPath::driveTarget('C'), fs::canonical(prefix()));
            EXPECT_EQ(WinPath::driveTarget('z'), fs::path("/"));
            EXPECT_EQ(WinPath::driveTarget('d'), std::nullopt);
            EXPECT_EQ(Drives::driveType("c:\\"), unsigned(kDriveFixed));
            EXPECT_EQ(WinPath::toHost("C:\\windows\\SYSTEM32\\config"),
                      Prefix::softwareHive()->parent_path());
            EXPECT_EQ(WinPath::fromHost(prefix() / "x.bmp"), "C:\\x.bmp");
            // Writing the user's registry would create a file on the disk: refused.
            HKEY key = 0;
            EXPECT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Crestwick", 0, nullptr, 0,
                                      KEY_ALL_ACCESS, nullptr, &key, nullptr),
                      ERROR_ACCESS_DENIED);
        }
        EXPECT_EQ(listTree(prefix()), before);
    }
}

TEST_F(HiveFileTest, ReadsTheMachineRegistryFromTheHive)
{
    makeVolume(prefix(), kWindows10);
    const char* nt = "Software\\Microsoft\\Windows NT\\CurrentVersion";
    struct Case {
        const char* key;
        const char* name;
        DWORD type;
        std::string data;
    };
    const std::vector<Case> cases = {
        {nt, "SystemRoot", REG_SZ, std::string("C:\\Windows") + '\0'},
        {"\\SOFTWARE\\microsoft\\WINDOWS NT\\currentversion", "systemroot", REG_SZ,
         std::string("C:\\Windows") + '\0'},
        {nt, "CurrentMajorVersionNumber", REG_DWORD, dword(10)},
        {nt, "PathName", REG_EXPAND_SZ, std::string("%SystemRoot%") + '\0'},
        {nt, "Owners", REG_MULTI_SZ, std::string("Ann\0B\xc3\xa9la\0\0", 10)},
        {nt, "DigitalProductId", REG_BINARY, std::string("\xa4\x00\x01\xff", 4)},
        {nt, "RegisteredOrganization", REG_SZ, std::string("M\xc3\xbcller & S\xc3\xb6hne") + '\0'},
        {nt, "Broken", REG_SZ, "A\xef\xbf\xbd"},
        {nt, "Empty", REG_SZ, ""},
        {nt, "Odd", 0x00010002, "\x01\x02"},
        {nt, "Missing", 0, "<missing>"},
        {"Software\\Microsoft\\Windows\\CurrentVersion", "SystemRoot", 0, "<missing>"},
        {"Software\\Microsoft\\Windows\\CurrentVersion\\OEMInformation", "Model", 0, "<no key>"},
        {"System\\CurrentControlSet\\Control", "x", 0, "<no key>"},
        {"", "SystemRoot", 0, "<missing>"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.key) + " " + c.name);
        DWORD type = 0;
        EXPECT_EQ(queryValue(c.key, c.name, &type), c.data);
        if (c.type) {
            EXPECT_EQ(type, c.type);
        }
    }

    TRegistry registry;
    registry.SetRootKey(HKEY_LOCAL_MACHINE);
    ASSERT_TRUE(registry.OpenKey(nt, false));
    EXPECT_EQ(registry.ReadString("ProductName"), "Windows 10 Pro");
    EXPECT_EQ(registry.GetDataType("CurrentMajorVersionNumber"), rdInteger);
    EXPECT_FALSE(registry.OpenKey("\\Software\\Nope", false));
    registry.CloseKey();

    // The XP layout reads the same way.
    fs::remove_all(prefix());
    makeVolume(prefix(), kWindowsXp);
    EXPECT_EQ(queryValue(nt, "CurrentVersion"), std::string("5.1") + '\0');
    EXPECT_EQ(queryValue(nt, "CurrentMajorVersionNumber"), "<missing>");
}

TEST_F(HiveFileTest, WritesChangeOnlyTheirValuesAndKeepThePermissions)
{
    const fs::path hive = makeVolume(prefix(), kWindows10);
    fs::permissions(hive, fs::perms(0640));
    const Dump before = dumpHive(hive);
    ASSERT_FALSE(before.empty());
    EXPECT_EQ(registryWriteRefusal(HKEY_LOCAL_MACHINE), "");
    const std::vector<const char*> untouched = {"Microsoft", "Windows NT", "CurrentVersion"};
    const std::int64_t untouchedTime = keyTime(hive, untouched);
    const std::int64_t start = fileTimeNow();

    const std::string oem = "\\Microsoft\\Windows\\CurrentVersion\\OEMInformation";
    TRegistry registry;
    registry.SetRootKey(HKEY_LOCAL_MACHINE);
    ASSERT_TRUE(registry.OpenKey("\\Software" + oem, true));
    registry.WriteString("Manufacturer", "Fabrikam B\xc3\xbcro \xe2\x84\xa2");
    registry.WriteString("Model", "");
    registry.WriteString("Logo", "C:\\Windows\\System32\\oemlogo.bmp");
    registry.WriteString("Model", "X-1");
    const BYTE raw[3] = {0, 1, 2};
    registry.WriteBinaryData("Raw", raw, 3);
    const BYTE number[4] = {0x2a, 0, 0, 0};
    EXPECT_EQ(RegSetValueExA(registry.CurrentKey(), "Number", 0, REG_DWORD, number, 4),
              ERROR_SUCCESS);
    // Kinds libhivex does not know, and names that are not UTF-8, are not stored.
    EXPECT_EQ(RegSetValueExA(registry.CurrentKey(), "Odd", 0, 0x100, number, 4),
              ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegSetValueExA(registry.CurrentKey(), "\xc4o", 0, REG_DWORD, number, 4),
              ERROR_ACCESS_DENIED);
    registry.CloseKey();

    Dump expected = before;
    expected[oem + "|Manufacturer"] = {REG_SZ, text("Fabrikam B\xc3\xbcro \xe2\x84\xa2")};
    expected[oem + "|Model"] = {REG_SZ, text("X-1")};
    expected[oem + "|Logo"] = {REG_SZ, text("C:\\Windows\\System32\\oemlogo.bmp")};
    expected[oem + "|Raw"] = {REG_BINARY, std::string("\0\1\2", 3)};
    expected[oem + "|Number"] = {REG_DWORD, dword(42)};
    EXPECT_EQ(dumpHive(hive), expected);
    EXPECT_EQ(fs::status(hive).permissions(), fs::perms(0640));
    EXPECT_EQ(queryValue(("Software" + oem).c_str(), "Model"), std::string("X-1") + '\0');
    // The new key and the key that gained it carry the time of the write; others keep theirs.
    for (const auto& path : {std::vector<const char*>{"Microsoft", "Windows", "CurrentVersion",
                                                      "OEMInformation"},
                             std::vector<const char*>{"Microsoft", "Windows", "CurrentVersion"}})
        EXPECT_GE(keyTime(hive, path), start - 10000000) << path.back();
    EXPECT_EQ(keyTime(hive, untouched), untouchedTime);

    // Keys beside Software are not in this hive and are not made.
    HKEY key = 0;
    EXPECT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, "System\\Crestwick", 0, nullptr, 0,
                              KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_ACCESS_DENIED);
    // No temporary file is left behind, and nothing else appeared on the disk.
    EXPECT_EQ(listTree(prefix()),
              (std::set<std::string>{"Windows", "Windows/System32", "Windows/System32/config",
                                     "Windows/System32/config/SOFTWARE"}));
}

TEST_F(HiveFileTest, RefusedWritesLeaveTheHiveByteForByte)
{
    struct Case {
        const char* name;
        std::function<void(const fs::path& hive)> spoil;
        const char* refusal;
    };
    const std::vector<Case> cases = {
        {"sequence numbers differ", [](const fs::path& hive) { markNotShutDownCleanly(hive); },
         HiveFile::kNotShutDownCleanly},
        {"not a hive", [](const fs::path& hive) { writeFile(hive, std::string(8192, 'x')); },
         HiveFile::kUnreadable},
        {"cut short", [](const fs::path& hive) { fs::resize_file(hive, 100); },
         HiveFile::kUnreadable},
        {"interrupted before the rename",
         [](const fs::path&) {
             HiveFile::setBeforeReplaceForTesting([](const fs::path& temp) {
                 EXPECT_TRUE(fs::is_regular_file(temp));
                 return false;
             });
         },
         ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(prefix());
        const fs::path hive = makeVolume(prefix(), kWindows10);
        c.spoil(hive);
        const std::string bytes = readFile(hive);
        const std::set<std::string> files = listTree(prefix());

        EXPECT_EQ(registryWriteRefusal(HKEY_LOCAL_MACHINE), c.refusal);
        // What the hive holds is read all the same.
        if (c.refusal != HiveFile::kUnreadable) {
            EXPECT_EQ(queryValue("Software\\Microsoft\\Windows NT\\CurrentVersion", "ProductName"),
                      std::string("Windows 10 Pro") + '\0');
        }
        HKEY key = 0;
        EXPECT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE,
                                  "Software\\Microsoft\\Windows\\CurrentVersion\\OEMInformation", 0,
                                  nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
                  ERROR_ACCESS_DENIED);
        const std::string model = "X-1";
        if (*c.refusal) {
            // Opening for a change is refused as well, so a caller learns it before writing.
            EXPECT_NE(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "", 0, KEY_SET_VALUE, &key), ERROR_SUCCESS);
        } else {
            ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE,
                                    "Software\\Microsoft\\Windows NT\\CurrentVersion", 0,
                                    KEY_ALL_ACCESS, &key),
                      ERROR_SUCCESS);
            EXPECT_EQ(RegSetValueExA(key, "ProductName", 0, REG_SZ,
                                     reinterpret_cast<const BYTE*>(model.c_str()), 4),
                      ERROR_ACCESS_DENIED);
            RegCloseKey(key);
            // What failed to reach the disk is not read back either.
            EXPECT_EQ(queryValue("Software\\Microsoft\\Windows NT\\CurrentVersion", "ProductName"),
                      std::string("Windows 10 Pro") + '\0');
        }
        EXPECT_EQ(readFile(hive), bytes);
        EXPECT_EQ(listTree(prefix()), files);
        HiveFile::setBeforeReplaceForTesting({});
    }
    // A hive that cannot be opened reads as empty.
    writeFile(prefix() / "Windows/System32/config/SOFTWARE", "regf");
    EXPECT_EQ(queryValue("Software\\Microsoft\\Windows NT\\CurrentVersion", "SystemRoot"),
              "<no key>");
}

// A read-only mount is made in a private mount namespace of a child process, so that the test
// needs no privileges of its own where user namespaces are allowed.
TEST_F(HiveFileTest, AReadOnlyMountIsRefusedAndNothingWritten)
{
    const fs::path hive = makeVolume(prefix(), kWindows10);
    const std::string bytes = readFile(hive);
    int channel[2];
    ASSERT_EQ(::pipe(channel), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::close(channel[0]);
        std::string report;
        const std::string volume = prefix().string();
        if (::unshare(CLONE_NEWNS) != 0 && ::unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0) {
            report = std::string("skip: no mount namespace: ") + std::strerror(errno);
        } else if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
                   ::mount(volume.c_str(), volume.c_str(), nullptr, MS_BIND, nullptr) != 0 ||
                   ::mount(nullptr, volume.c_str(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY,
                           nullptr) != 0) {
            report = std::string("skip: no read-only bind mount: ") + std::strerror(errno);
        } else {
            report = registryWriteRefusal(HKEY_LOCAL_MACHINE);
            HKEY key = 0;
            const LONG rc = RegCreateKeyExA(
                HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows\\CurrentVersion\\OEMInformation",
                0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
            report += "|" + std::to_string(rc);
        }
        (void)!::write(channel[1], report.data(), report.size());
        ::_exit(0);
    }
    ::close(channel[1]);
    std::string report;
    char buffer[512];
    for (ssize_t n; (n = ::read(channel[0], buffer, sizeof buffer)) > 0;)
        report.append(buffer, std::size_t(n));
    ::close(channel[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    if (report.starts_with("skip:"))
        GTEST_SKIP() << report.substr(6)
                     << ": allow unprivileged user namespaces "
                        "(sysctl kernel.unprivileged_userns_clone=1) or run the tests as root";
    EXPECT_EQ(report,
              std::string(HiveFile::kReadOnlyDisk) + "|" + std::to_string(ERROR_ACCESS_DENIED));
    EXPECT_EQ(readFile(hive), bytes);
}

} // namespace
