#include "oem/OemSystem.h"
#include "core/Exceptions.h"
#include "imaging/TBitmap.h"
#include "oem/WineServer.h"
#include "platform/Prefix.h"
#include "platform/Registry.h"
#include "tests/support/FileSizeLimit.h"
#include "tests/support/StockPrefix.h"
#include "tests/support/TempPrefix.h"

#include <QProcess>
#include <QStandardPaths>

#include <sys/stat.h>

#include <ctime>
#include <functional>

namespace fs = std::filesystem;
using oem::Generation;
using oem::OemInfo;
using oem::OemSystem;

namespace {

// The header and "#time=" lines that Wine writes for a key changed at the given second.
std::pair<std::string, std::string> timeLines(const std::string& headerStart, std::int64_t seconds)
{
    const auto fileTime = std::uint64_t((seconds + 11644473600LL) * 10000000LL);
    char hex[32];
    std::snprintf(hex, sizeof hex, "%x%08x", unsigned(fileTime >> 32), unsigned(fileTime));
    return {headerStart + std::to_string(seconds), std::string("#time=") + hex};
}

// The seconds in a header line "[...] 1700000000"; -1 when there is none.
std::int64_t secondsOf(const std::string& header)
{
    const std::size_t space = header.rfind(' ');
    return space == std::string::npos ? -1 : std::stoll(header.substr(space + 1));
}

template <class Action> std::string errorOf(Action&& action)
{
    try {
        action();
    } catch (const Exception& e) {
        return e.Message;
    }
    return "";
}

class OemSystemTest : public TempPrefixTest {
protected:
    fs::path systemReg() const { return prefix() / "system.reg"; }
    fs::path system32() const { return prefix() / "drive_c" / "windows" / "system32"; }

    // The header line of the OEMInformation key in system.reg, or "" when there is none.
    std::string oemHeader() const
    {
        for (const std::string& line : stock::splitLines(readFile(systemReg())))
            if (line.starts_with(stock::kOemKeyHeader))
                return line;
        return {};
    }
};

} // namespace

TEST_F(OemSystemTest, RecognisesEachGenerationAndWhereItKeepsTheOemFiles)
{
    struct Case {
        const char* what;
        std::function<void(const fs::path&)> make;
        Generation generation;
        const char* version;
        const char* productName;
        const char* windowsDirectory;
        const char* infoFile;
        const char* logoFile;
    };
    const Case cases[] = {
        {"the program's own 9x prefix", [](const fs::path&) { platform::Prefix::ensureExists(); },
         Generation::Windows9x, "", "", "C:\\WINDOWS\\", "C:\\WINDOWS\\system\\oeminfo.ini",
         "C:\\WINDOWS\\system\\oemlogo.bmp"},
        {"stock Wine 8", stock::makeNt6, Generation::Nt6, "6.1", "Microsoft Windows 7",
         "C:\\windows\\", "C:\\windows\\system32\\oeminfo.ini",
         "C:\\windows\\system32\\oemlogo.bmp"},
        {"Windows XP", stock::makeNt5, Generation::Nt5, "5.1", "Microsoft Windows XP",
         "C:\\windows\\", "C:\\windows\\System32\\oeminfo.ini",
         "C:\\windows\\System32\\oemlogo.bmp"},
        {"no SystemRoot", stock::makeWithoutSystemRoot, Generation::Windows9x, "", "", "\\",
         "\\system\\oeminfo.ini", "\\system\\oemlogo.bmp"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove_all(prefix());
        c.make(prefix());
        const std::string registry = readFile(systemReg());
        const OemSystem system = OemSystem::describe();
        EXPECT_EQ(system.generation(), c.generation);
        EXPECT_EQ(system.version(), c.version);
        EXPECT_EQ(system.productName(), c.productName);
        EXPECT_EQ(system.windowsDirectory(), c.windowsDirectory);
        EXPECT_EQ(system.infoFile(), c.infoFile);
        EXPECT_EQ(system.logoFile(), c.logoFile);
        EXPECT_EQ(system.currentLogoFile(), c.logoFile);
        EXPECT_EQ(system.keepsInfoInRegistry(), c.generation == Generation::Nt6);
        // Looking wrote nothing.
        EXPECT_EQ(readFile(systemReg()), registry);
    }
    // Without any SystemRoot, the platform's own Windows directory can stand in.
    EXPECT_EQ(OemSystem::describe(OemSystem::MissingRoot::WindowsDirectory).infoFile(),
              "C:\\WINDOWS\\system\\oeminfo.ini");
    EXPECT_EQ(oem::generationName(Generation::Nt5), std::string("NT 5"));
}

TEST_F(OemSystemTest, TheNtVersionDecidesWhereTheInformationLives)
{
    const struct {
        const char* versionLines; // replace the stock "CurrentVersion"="6.1" line
        Generation generation;
        const char* version;
    } cases[] = {
        {"\"CurrentVersion\"=\"4.0\"", Generation::Nt5, "4.0"},
        {"\"CurrentVersion\"=\"5.0\"", Generation::Nt5, "5.0"},
        {"\"CurrentVersion\"=\"5.2\"", Generation::Nt5, "5.2"},
        {"\"CurrentVersion\"=\"6.0\"", Generation::Nt6, "6.0"},
        {"\"CurrentVersion\"=\"6.3\"\n\"CurrentMajorVersionNumber\"=dword:0000000a\n"
         "\"CurrentMinorVersionNumber\"=dword:00000000",
         Generation::Nt6, "10.0"},
        {"\"CurrentMajorVersionNumber\"=dword:0000000a", Generation::Nt6, "10.0"},
        {"\"CurrentVersion\"=\"\"", Generation::Nt6, ""},
        {"\"CurrentVersion\"=dword:00000005", Generation::Nt6, ""},
        {"\"Other\"=\"5.1\"", Generation::Nt6, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.versionLines);
        fs::remove_all(prefix());
        stock::makeNt6(prefix());
        ASSERT_TRUE(stock::replaceLine(prefix(), "\"CurrentVersion\"=\"6.1\"", c.versionLines));
        const OemSystem system = OemSystem::describe();
        EXPECT_EQ(system.generation(), c.generation);
        EXPECT_EQ(system.version(), c.version);
    }

    // A 9x SystemRoot beside an NT key: the NT key of version 6 or later wins (an older Wine
    // wrote both), an NT 5 key does not, and without the NT SystemRoot the 9x one is taken.
    const struct {
        const char* ntVersionLine; // replaces "CurrentVersion"="6.1"
        bool ntRoot;
        Generation generation;
        const char* infoFile;
    } both[] = {
        {"\"CurrentVersion\"=\"6.1\"", true, Generation::Nt6, "C:\\windows\\system32\\oeminfo.ini"},
        {"\"CurrentMajorVersionNumber\"=dword:0000000a", true, Generation::Nt6,
         "C:\\windows\\system32\\oeminfo.ini"},
        {"\"CurrentVersion\"=\"6.1\"", false, Generation::Nt6, "D:\\WIN98\\system32\\oeminfo.ini"},
        {"\"CurrentVersion\"=\"5.1\"", true, Generation::Windows9x,
         "D:\\WIN98\\system\\oeminfo.ini"},
        {"\"Other\"=\"6.1\"", true, Generation::Windows9x, "D:\\WIN98\\system\\oeminfo.ini"},
    };
    for (const auto& c : both) {
        SCOPED_TRACE(c.ntVersionLine);
        fs::remove_all(prefix());
        stock::makeNt6(prefix());
        ASSERT_TRUE(stock::replaceLine(prefix(), "\"CurrentVersion\"=\"6.1\"", c.ntVersionLine));
        if (!c.ntRoot) {
            ASSERT_TRUE(stock::replaceLine(prefix(), "\"SystemRoot\"=\"C:\\\\windows\"", ""));
        }
        stock::insertAfterSection(prefix(), "[Software\\\\Microsoft\\\\Windows\\\\CurrentVersion] ",
                                  "\"SystemRoot\"=\"D:\\\\WIN98\"\n");
        EXPECT_EQ(OemSystem::describe().generation(), c.generation);
        EXPECT_EQ(OemSystem::describe().infoFile(), c.infoFile);
    }

    // An NT SystemRoot that is not a text is reported as the 9x one is.
    fs::remove_all(prefix());
    stock::makeNt6(prefix());
    ASSERT_TRUE(stock::replaceLine(prefix(), "\"SystemRoot\"=\"C:\\\\windows\"",
                                   "\"SystemRoot\"=dword:00000001"));
    EXPECT_EQ(errorOf([] { OemSystem::describe(); }), "Invalid data type for 'SystemRoot'");
}

TEST_F(OemSystemTest, Nt6ReadsTheRegistryFirstThenTheFileThenTheDefaults)
{
    stock::makeNt6(prefix());
    const OemInfo defaults{"d1", "d2", "d3", "d4"};
    // Nothing stored anywhere: the defaults, or no value at all.
    OemInfo info = OemSystem::describe().readInfo(defaults);
    EXPECT_EQ(info.manufacturer, "d1");
    EXPECT_EQ(info.supportLine2, "d4");
    info = OemSystem::describe().readInfo();
    EXPECT_FALSE(info.manufacturer || info.model || info.supportLine1 || info.supportLine2);

    writeFile(system32() / "oeminfo.ini",
              "[general]\r\nManufacturer=Ini maker\r\nModel=Ini model\r\n"
              "[Support Information]\r\nLine1=Ini line\r\n");
    stock::insertAfterSection(prefix(), "[Software\\\\Microsoft\\\\Windows\\\\CurrentVersion] ",
                              "\n[Software\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\"
                              "OEMInformation] 1796689520\n#time=1dd86aa9bc28e8a\n"
                              "\"Model\"=\"Registry model\"\n");
    const std::string before = readFile(systemReg());
    info = OemSystem::describe().readInfo(defaults);
    EXPECT_EQ(info.manufacturer, "Ini maker");
    EXPECT_EQ(info.model, "Registry model");
    EXPECT_EQ(info.supportLine1, "Ini line");
    EXPECT_EQ(info.supportLine2, "d4");
    EXPECT_EQ(OemSystem::describe().readInfo().supportLine2, std::nullopt);
    EXPECT_EQ(readFile(systemReg()), before);

    // On NT 5 the registry's values are not the system's.
    fs::remove_all(prefix());
    stock::makeNt5(prefix());
    stock::insertAfterSection(prefix(), "[Software\\\\Microsoft\\\\Windows\\\\CurrentVersion] ",
                              "\n[Software\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\"
                              "OEMInformation] 1796689520\n\"Model\"=\"Registry model\"\n");
    EXPECT_EQ(OemSystem::describe().readInfo(defaults).model, "d2");

    // A registry value that is not a text is reported.
    fs::remove_all(prefix());
    stock::makeNt6(prefix());
    stock::insertAfterSection(prefix(), "[Software\\\\Microsoft\\\\Windows\\\\CurrentVersion] ",
                              "\n[Software\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\"
                              "OEMInformation] 1796689520\n\"Manufacturer\"=dword:00000001\n");
    EXPECT_EQ(errorOf([&] { OemSystem::describe().readInfo(defaults); }),
              "Invalid data type for 'Manufacturer'");
}

TEST_F(OemSystemTest, Nt6SaveAddsTheKeyAndChangesNoOtherByteOfTheRegistry)
{
    stock::makeNt6(prefix());
    const std::string stockReg = readFile(systemReg());
    const std::int64_t start = std::time(nullptr);
    OemSystem::describe().writeInfo({"Quillmere SoftHouse", "Crestwick 1", "Call us", "any time"},
                                    oem::FurtherSupportLines::Remove);

    EXPECT_EQ(readFile(system32() / "oeminfo.ini"),
              "[general]\r\nManufacturer=Quillmere SoftHouse\r\nModel=Crestwick 1\r\n"
              "[Support Information]\r\nLine1=Call us\r\nLine2=any time\r\n");
    const std::string first = readFile(systemReg());
    // The preamble, "#arch=win64" included, and every key are as Wine wrote them; the new key
    // follows them.
    EXPECT_TRUE(first.starts_with(stockReg));
    const std::string header = oemHeader();
    const std::int64_t seconds = secondsOf(header);
    EXPECT_GE(seconds, start);
    EXPECT_LE(seconds, std::int64_t(std::time(nullptr)));
    const auto [headerLine, timeLine] = timeLines(stock::kOemKeyHeader, seconds);
    EXPECT_EQ(first.substr(stockReg.size()),
              "\n" + headerLine + "\n" + timeLine +
                  "\n\"Manufacturer\"=\"Quillmere SoftHouse\"\n\"Model\"=\"Crestwick 1\"\n");

    // Saving again, later, changes the two values in place, and the key's times.
    ASSERT_TRUE(
        stock::replaceLine(prefix(), headerLine, std::string(stock::kOemKeyHeader) + "1796689520"));
    ASSERT_TRUE(stock::replaceLine(prefix(), timeLine, "#time=1dd86aa9bc28e8a"));
    const std::string saved = readFile(systemReg());
    OemSystem::describe().writeInfo({"Maker \"Ltd\" \xc3\xa9", "Model 2", "a", "b"},
                                    oem::FurtherSupportLines::Remove);
    const std::string again = readFile(systemReg());
    const auto [renewedHeader, renewedTime] =
        timeLines(stock::kOemKeyHeader, secondsOf(oemHeader()));
    const auto [removed, added] = stock::changedLines(saved, again);
    EXPECT_EQ(removed, (std::vector<std::string>{std::string(stock::kOemKeyHeader) + "1796689520",
                                                 "#time=1dd86aa9bc28e8a",
                                                 "\"Manufacturer\"=\"Quillmere SoftHouse\"",
                                                 "\"Model\"=\"Crestwick 1\""}));
    EXPECT_EQ(added, (std::vector<std::string>{renewedHeader, renewedTime,
                                               "\"Manufacturer\"=\"Maker \\\"Ltd\\\" \\x00e9\"",
                                               "\"Model\"=\"Model 2\""}));
    EXPECT_EQ(OemSystem::describe().readInfo().manufacturer, "Maker \"Ltd\" \xc3\xa9");
}

TEST_F(OemSystemTest, Nt6SaveKeepsTheKeysOtherValues)
{
    stock::makeNt6(prefix());
    stock::insertAfterSection(prefix(), "[Software\\\\Microsoft\\\\Windows\\\\CurrentVersion] ",
                              "\n[Software\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\"
                              "OEMInformation] 1796689520\n#time=1dd86aa9bc28e8a\n"
                              "\"Logo\"=\"C:\\\\OEM\\\\brand.bmp\"\n"
                              "\"Manufacturer\"=\"Maker Ltd\"\n"
                              "\"SupportHours\"=\"9 to 5\"\n"
                              "\"SupportPhone\"=\"555 0100\"\n"
                              "\"SupportURL\"=\"http://maker.example/\"\n");
    const std::string before = readFile(systemReg());
    OemSystem::describe().writeInfo({"New maker", "New model", "x", "y"},
                                    oem::FurtherSupportLines::Remove);
    const std::string after = readFile(systemReg());
    const auto [header, time] = timeLines(stock::kOemKeyHeader, secondsOf(oemHeader()));
    const auto [removed, added] = stock::changedLines(before, after);
    EXPECT_EQ(removed, (std::vector<std::string>{std::string(stock::kOemKeyHeader) + "1796689520",
                                                 "#time=1dd86aa9bc28e8a",
                                                 "\"Manufacturer\"=\"Maker Ltd\""}));
    EXPECT_EQ(added, (std::vector<std::string>{header, time, "\"Manufacturer\"=\"New maker\"",
                                               "\"Model\"=\"New model\""}));

    // The sheet shows the registry's values and the logo the Logo value names.
    writeFile(prefix() / "drive_c" / "OEM" / "brand.bmp", stock::redBitmap());
    const oem::OemSheet sheet = OemSystem::describe().readSheet();
    EXPECT_TRUE(sheet.shown);
    EXPECT_EQ(sheet.manufacturer, "New maker");
    EXPECT_EQ(sheet.model, "New model");
    EXPECT_EQ(sheet.logoFile, "C:\\OEM\\brand.bmp");
    EXPECT_EQ(sheet.supportPhone, "555 0100");
    EXPECT_EQ(sheet.supportHours, "9 to 5");
    EXPECT_EQ(sheet.supportUrl, "http://maker.example/");
    EXPECT_TRUE(sheet.supportLines.empty());
    const auto logo = OemSystem::describe().readLogo();
    ASSERT_NE(logo, nullptr);
    EXPECT_EQ(logo->Width(), 4);
}

TEST_F(OemSystemTest, Nt6LogoSaveWritesTheFileAndNamesItInTheRegistry)
{
    stock::makeNt6(prefix());
    const std::string stockReg = readFile(systemReg());
    writeFile(temp() / "red.bmp", stock::redBitmap());
    TBitmap bitmap;
    bitmap.LoadFromFile("Z:" + (temp() / "red.bmp").string());
    OemSystem::describe().writeLogo(bitmap);
    TBitmap saved;
    saved.LoadFromFile("C:\\windows\\system32\\oemlogo.bmp");
    EXPECT_EQ(saved.Width(), 4);
    EXPECT_EQ(saved.Height(), 2);
    const auto [header, time] = timeLines(stock::kOemKeyHeader, secondsOf(oemHeader()));
    EXPECT_EQ(readFile(systemReg()).substr(stockReg.size()),
              "\n" + header + "\n" + time +
                  "\n\"Logo\"=\"C:\\\\windows\\\\system32\\\\oemlogo.bmp\"\n");
    EXPECT_EQ(OemSystem::describe().currentLogoFile(), "C:\\windows\\system32\\oemlogo.bmp");

    // Logo values name their file with the system's variables too.
    const struct {
        const char* value;
        const char* file;
    } cases[] = {
        {"%SystemRoot%\\\\System32\\\\oemlogo.bmp", "C:\\windows\\System32\\oemlogo.bmp"},
        {"%WINDIR%\\\\OEM\\\\a.bmp", "C:\\windows\\OEM\\a.bmp"},
        {"%SystemDrive%\\\\OEM\\\\b.bmp", "C:\\OEM\\b.bmp"},
        {"%Other%\\\\c.bmp", "%Other%\\c.bmp"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.value);
        ASSERT_TRUE(stock::replaceLine(prefix(), stock::splitLines(readFile(systemReg())).back(),
                                       std::string("\"Logo\"=str(2):\"") + c.value + "\""));
        EXPECT_EQ(OemSystem::describe().currentLogoFile(), c.file);
    }
}

TEST_F(OemSystemTest, Nt5And9xKeepEverythingInTheSystemFolder)
{
    stock::makeNt5(prefix());
    const std::string stockReg = readFile(systemReg());
    const OemSystem xp = OemSystem::describe();
    xp.writeInfo({"Maker", "Model", "L1", "L2"}, oem::FurtherSupportLines::Remove);
    xp.writeLogo([&](const std::string& target) {
        EXPECT_EQ(target, "C:\\windows\\System32\\oemlogo.bmp");
        writeFile(prefix() / "drive_c" / "windows" / "System32" / "oemlogo.bmp",
                  stock::redBitmap());
    });
    EXPECT_EQ(readFile(prefix() / "drive_c" / "windows" / "System32" / "oeminfo.ini"),
              "[general]\r\nManufacturer=Maker\r\nModel=Model\r\n"
              "[Support Information]\r\nLine1=L1\r\nLine2=L2\r\n");
    EXPECT_EQ(readFile(systemReg()), stockReg);
    const oem::OemSheet sheet = xp.readSheet();
    EXPECT_TRUE(sheet.shown);
    EXPECT_EQ(sheet.manufacturer, "Maker");
    EXPECT_EQ(sheet.supportLines, (std::vector<std::string>{"L1", "L2"}));
    EXPECT_EQ(sheet.logoFile, "C:\\windows\\System32\\oemlogo.bmp");
    EXPECT_FALSE(sheet.supportPhone);

    // The same on 9x, also while a Wine server runs: no registry is written there.
    fs::remove_all(prefix());
    createDefaultPrefix();
    const std::string freshReg = readFile(systemReg());
    stock::FakeWineServer server(prefix());
    stock::LockHolder holder(server.lockFile());
    ASSERT_TRUE(holder.holding());
    OemSystem::describe().writeInfo({"Maker", std::nullopt, std::nullopt, "L2"},
                                    oem::FurtherSupportLines::Keep);
    EXPECT_EQ(readFile(windowsDir() / "system" / "oeminfo.ini"),
              "[general]\r\nManufacturer=Maker\r\n[Support Information]\r\nLine2=L2\r\n");
    EXPECT_EQ(readFile(systemReg()), freshReg);
}

TEST_F(OemSystemTest, Nt6WritesNothingWhileWineRuns)
{
    stock::makeNt6(prefix());
    const std::string stockReg = readFile(systemReg());
    stock::FakeWineServer server(prefix());
    const OemSystem system = OemSystem::describe();
    {
        stock::LockHolder holder(server.lockFile());
        ASSERT_TRUE(holder.holding());
        const std::string running =
            "Wine is running in this prefix. Close its programs (wineserver -k) and save again.";
        EXPECT_EQ(errorOf([&] {
                      system.writeInfo({"a", "b", "c", "d"}, oem::FurtherSupportLines::Remove);
                  }),
                  running);
        bool saved = false;
        EXPECT_EQ(errorOf([&] { system.writeLogo([&](const std::string&) { saved = true; }); }),
                  running);
        EXPECT_FALSE(saved);
        EXPECT_EQ(readFile(systemReg()), stockReg);
        EXPECT_FALSE(fs::exists(system32() / "oeminfo.ini"));
    }
    // Once the server has ended, the save goes through.
    system.writeInfo({"a", "b", "c", "d"}, oem::FurtherSupportLines::Remove);
    EXPECT_TRUE(fs::exists(system32() / "oeminfo.ini"));
    EXPECT_NE(readFile(systemReg()), stockReg);
}

TEST_F(OemSystemTest, Nt6RefusedWritesLeaveNothingHalfWritten)
{
    stock::makeNt6(prefix());
    const std::string stockReg = readFile(systemReg());
    const OemSystem system = OemSystem::describe();

    // A read-only system folder: the file write fails first, and the registry stays.
    ::chmod(system32().c_str(), 0555);
    EXPECT_EQ(errorOf([&] {
                  system.writeInfo({"a", "b", "c", "d"}, oem::FurtherSupportLines::Remove);
              }),
              "Unable to write to C:\\windows\\system32\\oeminfo.ini");
    TBitmap bitmap;
    writeFile(temp() / "red.bmp", stock::redBitmap());
    bitmap.LoadFromFile("Z:" + (temp() / "red.bmp").string());
    EXPECT_EQ(errorOf([&] { system.writeLogo(bitmap); }),
              "Cannot create file C:\\windows\\system32\\oemlogo.bmp");
    EXPECT_EQ(readFile(systemReg()), stockReg);
    EXPECT_FALSE(fs::exists(system32() / "oeminfo.ini"));
    EXPECT_FALSE(fs::exists(system32() / "oemlogo.bmp"));
    ::chmod(system32().c_str(), 0755);

    // A registry that cannot be written: refused before any file is written.
    ::chmod(systemReg().c_str(), 0444);
    EXPECT_EQ(errorOf([&] {
                  system.writeInfo({"a", "b", "c", "d"}, oem::FurtherSupportLines::Remove);
              }),
              "Failed to set data for 'Manufacturer': Permission denied");
    EXPECT_EQ(errorOf([&] { system.writeLogo(bitmap); }),
              "Failed to set data for 'Logo': Permission denied");
    EXPECT_FALSE(fs::exists(system32() / "oeminfo.ini"));
    EXPECT_FALSE(fs::exists(system32() / "oemlogo.bmp"));
    EXPECT_EQ(readFile(systemReg()), stockReg);
}

// A file write that fails keeps the specified message and carries the system's reason
// beside it, for the tool to print; a file size limit stands in for a full disk.
TEST_F(OemSystemTest, FailedFileWritesCarryTheSystemsReason)
{
    createDefaultPrefix();
    const fs::path system = windowsDir() / "system";
    writeFile(temp() / "red.bmp", stock::redBitmap());
    const OemSystem oem = OemSystem::describe();
    const auto saveInfo = [&] {
        oem.writeInfo({"Maker", "Model", std::nullopt, std::nullopt},
                      oem::FurtherSupportLines::Keep);
    };
    const auto saveLogo = [&] {
        TBitmap bitmap;
        bitmap.LoadFromFile("Z:" + (temp() / "red.bmp").string());
        oem.writeLogo(bitmap);
    };
    const std::string info = "Unable to write to C:\\WINDOWS\\system\\oeminfo.ini";
    const std::string logo = "Cannot create file C:\\WINDOWS\\system\\oemlogo.bmp";
    struct Case {
        const char* name;
        std::function<void()> save;
        std::string message;
        std::string reason;
    };
    const std::vector<Case> cases = {
        {"info", saveInfo, info, "File too large"},
        {"logo", saveLogo, logo, "File too large"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Exception caught("");
        try {
            const FileSizeLimit full(10);
            c.save();
        } catch (const Exception& e) {
            caught = e;
        }
        EXPECT_EQ(caught.Message, c.message);
        EXPECT_EQ(caught.SystemReason, c.reason);
        EXPECT_FALSE(fs::exists(system / "oeminfo.ini"));
        EXPECT_FALSE(fs::exists(system / "oemlogo.bmp"));
    }
}

TEST_F(OemSystemTest, ASaveThatLeavesNoFileWhereTheSystemLooksIsAnError)
{
    // A 9x system whose drive C: is gone: its Windows paths lead to no file of the prefix, and
    // the save names the drive rather than writing anywhere else.
    createDefaultPrefix();
    fs::remove(prefix() / "dosdevices" / "c:");
    const OemSystem system = OemSystem::describe();
    EXPECT_EQ(errorOf([&] {
                  system.writeInfo({"a", "b", "c", "d"}, oem::FurtherSupportLines::Remove);
              }),
              "Drive C: of this system cannot be found");
    // A save that writes nothing, on a system that is whole.
    fs::create_directory_symlink("../drive_c", prefix() / "dosdevices" / "c:");
    EXPECT_EQ(errorOf([&] { system.writeLogo([](const std::string&) {}); }),
              "Cannot create file C:\\WINDOWS\\system\\oemlogo.bmp");
}

TEST_F(OemSystemTest, SheetsShowWhatEachGenerationShows)
{
    // A stock Wine prefix shows no maker at all.
    stock::makeNt6(prefix());
    oem::OemSheet sheet = OemSystem::describe().readSheet();
    EXPECT_FALSE(sheet.shown);
    EXPECT_FALSE(sheet.manufacturer);
    // The files of NT 5 do not show on NT 6.
    writeFile(system32() / "oeminfo.ini", "[general]\r\nManufacturer=Ini\r\n");
    writeFile(system32() / "oemlogo.bmp", stock::redBitmap());
    sheet = OemSystem::describe().readSheet();
    EXPECT_FALSE(sheet.shown);
    EXPECT_EQ(sheet.logoFile, "");

    // On 9x, nothing shows without oeminfo.ini, not even the logo.
    fs::remove_all(prefix());
    createDefaultPrefix();
    writeFile(windowsDir() / "system" / "oemlogo.bmp", stock::redBitmap());
    sheet = OemSystem::describe().readSheet();
    EXPECT_FALSE(sheet.shown);
    EXPECT_EQ(sheet.logoFile, "");
    writeFile(windowsDir() / "system" / "oeminfo.ini",
              "[Support Information]\r\nLine1=a\r\nLine2=b\r\nLine4=d\r\n");
    sheet = OemSystem::describe().readSheet();
    EXPECT_TRUE(sheet.shown);
    EXPECT_EQ(sheet.manufacturer, "");
    EXPECT_EQ(sheet.supportLines, (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(sheet.logoFile, "C:\\WINDOWS\\system\\oemlogo.bmp");
}

// Wine itself reads the registry that a save leaves.
TEST_F(OemSystemTest, WineReadsTheSavedRegistry)
{
    const QString program = QStandardPaths::findExecutable("wine");
    if (program.isEmpty())
        GTEST_SKIP() << "wine is not installed: apt-get install wine";
    stock::makeNt6(prefix());
    const OemSystem system = OemSystem::describe();
    system.writeInfo({"Quillmere \"SoftHouse\"", "Crestwick 1", "a", "b"},
                     oem::FurtherSupportLines::Remove);
    writeFile(temp() / "red.bmp", stock::redBitmap());
    TBitmap bitmap;
    bitmap.LoadFromFile("Z:" + (temp() / "red.bmp").string());
    system.writeLogo(bitmap);

    // Wine loads the registry files as they are, then brings the prefix up to date (its DLLs
    // in system32) before the query runs.
    QProcess wine;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("WINEPREFIX", QString::fromStdString(prefix().string()));
    environment.insert("WINEDEBUG", "-all");
    environment.insert("WINEDLLOVERRIDES", "mscoree,mshtml=");
    environment.remove("DISPLAY");
    wine.setProcessEnvironment(environment);
    wine.start(
        program,
        {"reg", "query",
         "HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\OEMInformation"});
    ASSERT_TRUE(wine.waitForFinished(240000));
    const QString output = QString::fromUtf8(wine.readAllStandardOutput());
    // The Wine server keeps running for a moment; it must not outlive the test's prefix, and
    // Debian's Wine leaves its server folder under /tmp.
    QProcess::execute("wineserver", {"-k"});
    if (const std::string folder = readFile(prefix() / "wineserver");
        folder.starts_with("wine-") && folder.find('/') == std::string::npos) {
        std::error_code ec;
        fs::remove_all(fs::path("/tmp") / folder, ec);
    }
    if (wine.exitCode() != 0 && output.isEmpty())
        GTEST_SKIP() << "wine does not run here (apt-get install wine wine64): "
                     << wine.readAllStandardError().toStdString();
    EXPECT_TRUE(output.contains("Manufacturer    REG_SZ    Quillmere \"SoftHouse\""))
        << output.toStdString();
    EXPECT_TRUE(output.contains("Model    REG_SZ    Crestwick 1")) << output.toStdString();
    EXPECT_TRUE(output.contains("Logo    REG_SZ    C:\\windows\\system32\\oemlogo.bmp"))
        << output.toStdString();
}
