// The OEM information of a Windows disk named by WINEPREFIX: read and written through its
// SOFTWARE hive and its system32 folder, and refused whole when the disk says no.
#include "core/Exceptions.h"
#include "oem/OemSystem.h"
#include "platform/HiveFile.h"
#include "platform/Registry.h"
#include "platform/WinPath.h"
#include "tests/support/FileSizeLimit.h"
#include "tests/support/TempPrefix.h"
#include "tests/support/TestHive.h"

#include <csignal>
#include <cstring>
#include <sys/resource.h>
#include <functional>

namespace fs = std::filesystem;

namespace {

const std::vector<Key> kWindows10 = {
    {"Microsoft\\Windows NT\\CurrentVersion",
     {{"SystemRoot", platform::REG_SZ, text("C:\\Windows")},
      {"CurrentMajorVersionNumber", platform::REG_DWORD, dword(10)},
      {"CurrentVersion", platform::REG_SZ, text("6.3")},
      {"ProductName", platform::REG_SZ, text("Windows 10 Pro")}}},
    {"Microsoft\\Windows\\CurrentVersion\\OEMInformation",
     {{"Manufacturer", platform::REG_SZ, text("Old Maker")},
      {"SupportPhone", platform::REG_SZ, text("555-0100")}}},
};

const std::vector<Key> kWindowsXp = {
    {"Microsoft\\Windows NT\\CurrentVersion",
     {{"SystemRoot", platform::REG_SZ, text("C:\\WINDOWS")},
      {"CurrentVersion", platform::REG_SZ, text("5.1")}}},
};

using WindowsDiskTest = TempPrefixTest;

} // namespace

TEST_F(WindowsDiskTest, SavesGoToTheHiveAndSystem32OfEachGeneration)
{
    struct Case {
        const std::vector<Key>* keys;
        const char* system32; // as the disk spells it
        oem::Generation generation;
        bool registry;
    };
    for (const Case& c : {Case{&kWindows10, "Windows/System32", oem::Generation::Nt6, true},
                          Case{&kWindowsXp, "WINDOWS/system32", oem::Generation::Nt5, false}}) {
        fs::remove_all(prefix());
        const fs::path hive = makeWindowsVolume(prefix(), *c.keys,
                                                c.registry ? "Windows/System32/config/SOFTWARE"
                                                           : "WINDOWS/system32/config/SOFTWARE");
        const oem::OemSystem system = oem::OemSystem::describe();
        ASSERT_EQ(system.generation(), c.generation) << c.system32;
        EXPECT_EQ(system.readInfo().manufacturer,
                  c.registry ? std::optional<std::string>("Old Maker") : std::nullopt);

        system.writeInfo({"Quillmere", "Tower", "Call us", "Mail us"},
                         oem::FurtherSupportLines::Remove);
        EXPECT_EQ(readFile(prefix() / c.system32 / "oeminfo.ini"),
                  "[general]\r\nManufacturer=Quillmere\r\nModel=Tower\r\n"
                  "[Support Information]\r\nLine1=Call us\r\nLine2=Mail us\r\n");
        const Dump dump = dumpHive(hive);
        const std::string key = "\\Microsoft\\Windows\\CurrentVersion\\OEMInformation|";
        if (c.registry) {
            EXPECT_EQ(dump.at(key + "Manufacturer").second, text("Quillmere"));
            EXPECT_EQ(dump.at(key + "Model").second, text("Tower"));
            EXPECT_EQ(dump.at(key + "SupportPhone").second, text("555-0100"));
        } else {
            EXPECT_EQ(dump.count(key + "Manufacturer"), 0u);
        }
        // Nothing of Wine's was made on the disk.
        EXPECT_FALSE(fs::exists(prefix() / "dosdevices"));
        EXPECT_FALSE(fs::exists(prefix() / "system.reg"));
    }
}

TEST_F(WindowsDiskTest, ADiskNotShutDownCleanlyRefusesEverySaveAndRestoreAndKeepsItsBytes)
{
    for (const std::vector<Key>* keys : {&kWindows10, &kWindowsXp}) {
        fs::remove_all(prefix());
        const fs::path hive = makeWindowsVolume(prefix(), *keys);
        const oem::OemSystem system = oem::OemSystem::describe();
        oem::OemSnapshot snapshot = system.snapshot();
        snapshot.files[0].bytes = "[general]\r\nManufacturer=Restored\r\n";
        markNotShutDownCleanly(hive);
        const std::string before = readFile(hive);

        try {
            system.writeInfo({"Quillmere", "Tower", std::nullopt, std::nullopt},
                             oem::FurtherSupportLines::Keep);
            ADD_FAILURE() << "a dirty hive took a save";
        } catch (const Exception& error) {
            EXPECT_EQ(error.Message, platform::HiveFile::kNotShutDownCleanly);
        }
        EXPECT_THROW(system.writeLogo([](const std::string&) { FAIL() << "logo written"; }),
                     Exception);
        try {
            system.restore(snapshot);
            ADD_FAILURE() << "a dirty hive took a restore";
        } catch (const Exception& error) {
            EXPECT_EQ(error.Message, platform::HiveFile::kNotShutDownCleanly);
        }
        EXPECT_EQ(readFile(hive), before);
        EXPECT_FALSE(fs::exists(prefix() / "Windows" / "System32" / "oeminfo.ini"));
    }
}

// A save writes the hive once, with every value it sets, and only after the files are ready;
// a hive write that fails leaves the hive and oeminfo.ini as they were.
TEST_F(WindowsDiskTest, EachSaveWritesTheHiveOnceOrNotAtAll)
{
    const fs::path hive = makeWindowsVolume(prefix(), {kWindows10[0]});
    const fs::path info = prefix() / "Windows" / "System32" / "oeminfo.ini";
    writeFile(info, "[general]\r\nManufacturer=Old\r\n");
    const oem::OemSystem system = oem::OemSystem::describe();
    int commits = 0;
    bool failCommits = false;
    platform::HiveFile::setBeforeReplaceForTesting([&](const fs::path&) {
        ++commits;
        return !failCommits;
    });
    struct Case {
        const char* name;
        std::function<void()> save;
    };
    const std::vector<Case> cases = {
        {"Save Info", [&] {
             system.writeInfo({"Quillmere", "Tower", std::nullopt, std::nullopt},
                              oem::FurtherSupportLines::Keep);
         }},
        {"Save Logo", [&] {
             system.writeLogo([](const std::string& target) {
                 writeFile(*platform::WinPath::toHost(target), "BM");
             });
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        failCommits = true;
        commits = 0;
        const std::string hiveBefore = readFile(hive);
        const std::string infoBefore = readFile(info);
        EXPECT_THROW(c.save(), ERegistryException);
        EXPECT_EQ(commits, 1);
        EXPECT_EQ(readFile(hive), hiveBefore);
        EXPECT_EQ(readFile(info), infoBefore);

        failCommits = false;
        commits = 0;
        c.save();
        EXPECT_EQ(commits, 1);
    }
    platform::HiveFile::setBeforeReplaceForTesting(nullptr);
    const Dump dump = dumpHive(hive);
    const std::string key = "\\Microsoft\\Windows\\CurrentVersion\\OEMInformation|";
    EXPECT_EQ(dump.at(key + "Manufacturer").second, text("Quillmere"));
    EXPECT_EQ(dump.at(key + "Model").second, text("Tower"));
    EXPECT_EQ(dump.at(key + "Logo").second, text("C:\\Windows\\System32\\oemlogo.bmp"));
}

// A hive whose base block is damaged (its checksum wrong) is unreadable: the system is not
// taken for another one, and no save writes anything.
TEST_F(WindowsDiskTest, ADamagedHiveIsUnreadableForDescribingAndSaving)
{
    const fs::path hive = makeWindowsVolume(prefix(), kWindows10);
    const oem::OemSystem system = oem::OemSystem::describe();
    std::string bytes = readFile(hive);
    bytes[0x30] ^= 0x01; // in the hive's file name, which the checksum covers
    writeFile(hive, bytes);
    const auto errorOf = [](const std::function<void()>& action) {
        try {
            action();
        } catch (const Exception& error) {
            return error.Message;
        }
        return std::string("(no error)");
    };
    EXPECT_EQ(errorOf([] { oem::OemSystem::describe(); }), platform::HiveFile::kUnreadable);
    EXPECT_EQ(errorOf([&] {
                  system.writeInfo({"Quillmere", "Tower", std::nullopt, std::nullopt},
                                   oem::FurtherSupportLines::Keep);
              }),
              platform::HiveFile::kUnreadable);
    EXPECT_EQ(readFile(hive), bytes);
    EXPECT_FALSE(fs::exists(prefix() / "Windows" / "System32" / "oeminfo.ini"));
}

// A registry write that fails says why, in the system's words or the program's own, and
// changes nothing: a file size limit stands in for a full disk here.
TEST_F(WindowsDiskTest, AFailedRegistryWriteSaysWhyAndChangesNothing)
{
    const fs::path hive = makeWindowsVolume(prefix(), kWindows10);
    const fs::path info = prefix() / "Windows" / "System32" / "oeminfo.ini";
    writeFile(info, "[general]\r\nManufacturer=Old\r\n");
    const oem::OemSystem system = oem::OemSystem::describe();
    const std::string hiveBefore = readFile(hive);
    struct Case {
        const char* name;
        oem::OemInfo info;
        rlim_t fileSizeLimit;
        std::string message;
    };
    const std::vector<Case> cases = {
        {"a disk that takes no more", {"Quillmere", "Tower", std::nullopt, std::nullopt},
         rlim_t(hiveBefore.size() / 2), "Failed to set data for 'Manufacturer': File too large"},
        {"a value too long for one cell",
         {std::nullopt, std::string(platform::HiveFile::kMaxCellData / 2, 'x'), std::nullopt,
          std::nullopt},
         RLIM_INFINITY,
         "Failed to set data for 'Model': the value is longer than the 16344 bytes that this "
         "program can store in a Windows registry"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string message;
        try {
            const FileSizeLimit full(c.fileSizeLimit);
            system.writeInfo(c.info, oem::FurtherSupportLines::Keep);
        } catch (const Exception& error) {
            message = error.Message;
        }
        EXPECT_EQ(message, c.message);
        EXPECT_EQ(readFile(hive), hiveBefore);
        EXPECT_EQ(readFile(info), "[general]\r\nManufacturer=Old\r\n");
    }
}
