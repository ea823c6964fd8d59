#include "app/TRegInfo.h"
#include "app/TSysInfo.h"
#include "core/Exceptions.h"
#include "platform/Registry.h"
#include "platform/TRegistry.h"
#include "tests/support/TempPrefix.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

// A system.reg whose CurrentVersion key holds the given value lines.
std::string systemReg(const std::string& values)
{
    return "WINE REGISTRY Version 2\n"
           ";; All keys relative to \\\\Machine\n\n#arch=win32\n\n"
           "[Software\\\\Microsoft\\\\Windows\\\\CurrentVersion] 1700000000\n" +
           values;
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

class SysInfoTest : public TempPrefixTest {
protected:
    void SetUp() override
    {
        TempPrefixTest::SetUp();
        createDefaultPrefix();
        handlesBefore_ = platform::registryOpenHandleCount();
    }
    void TearDown() override
    {
        EXPECT_EQ(platform::registryOpenHandleCount(), handlesBefore_);
        TempPrefixTest::TearDown();
    }
    fs::path hive() const { return prefix() / "system.reg"; }

    std::size_t handlesBefore_ = 0;
};

} // namespace

TEST_F(SysInfoTest, FreshMachineGivesTheWindowsDirectory)
{
    TSysInfo info;
    EXPECT_EQ(info.SystemRoot() + "\\", "C:\\WINDOWS\\");
    EXPECT_TRUE(info.ReadOnly());
    EXPECT_EQ(info.KeyPath(), "\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion");
    EXPECT_EQ(info.Registry().RootKey(), platform::HKEY_LOCAL_MACHINE);
    // Between operations no key stays open.
    EXPECT_EQ(info.Registry().CurrentKey(), 0u);
}

TEST_F(SysInfoTest, SystemRootReadsAsStoredOrFailsOnOtherKinds)
{
    struct Case {
        const char* what;
        std::string file;     // system.reg; empty: no file at all
        std::string expected; // the value, or the error message
    };
    const std::string invalid = "Invalid data type for 'SystemRoot'";
    const std::vector<Case> cases = {
        {"plain string", systemReg("\"SystemRoot\"=\"D:\\\\WIN98\"\n"), "D:\\WIN98"},
        {"name in other case", systemReg("\"SYSTEMROOT\"=\"E:\\\\W\"\n"), "E:\\W"},
        {"expandable string", systemReg("\"SystemRoot\"=str(2):\"%windir%\\\\x\"\n"),
         "%windir%\\x"},
        {"expandable as hex", systemReg("\"SystemRoot\"=hex(2):25,00,41,00,25,00,00,00\n"), "%A%"},
        {"binary", systemReg("\"SystemRoot\"=hex:43,3a,00\n"), invalid},
        {"number", systemReg("\"SystemRoot\"=dword:00000043\n"), invalid},
        {"multi-string", systemReg("\"SystemRoot\"=str(7):\"C:\\0\"\n"), invalid},
        {"empty binary", systemReg("\"SystemRoot\"=hex:\n"), ""},
        {"missing value", systemReg("\"ProductName\"=\"Windows\"\n"), ""},
        {"damaged value", systemReg("\"SystemRoot\"=\"C:\\\\WIN\n"), ""},
        {"missing key", "WINE REGISTRY Version 2\n[Software\\\\Other]\n\"SystemRoot\"=\"C:\"\n",
         ""},
        {"damaged key",
         "WINE REGISTRY Version 2\n[Software\\\\Microsoft\\\\Windows\\\\Current\n"
         "\"SystemRoot\"=\"C:\\\\WINDOWS\"\n",
         ""},
        {"not a registry file",
         "\x7f"
         "ELF\x01\x01",
         ""},
        {"no file", "", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        if (c.file.empty())
            fs::remove(hive());
        else
            writeFile(hive(), c.file);
        TSysInfo info;
        std::string value;
        const std::string error = errorOf([&] { value = info.SystemRoot(); });
        EXPECT_EQ(error.empty() ? value : error, c.expected);
        // Reading never creates anything.
        if (c.file.empty())
            EXPECT_FALSE(fs::exists(hive()));
        else
            EXPECT_EQ(readFile(hive()), c.file);
    }
}

TEST_F(SysInfoTest, ReadOnlyHiveIsReadThroughTheReadAccessRetry)
{
    for (const fs::path& target : {hive(), prefix()}) {
        SCOPED_TRACE(target);
        fs::permissions(target,
                        fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                        fs::perm_options::remove);
        TSysInfo info;
        EXPECT_EQ(info.SystemRoot(), "C:\\WINDOWS");
        fs::permissions(target, fs::perms::owner_write, fs::perm_options::add);
    }
}

TEST_F(SysInfoTest, EverySetterIsRefusedBeforeTheKeyIsTouched)
{
    TSysInfo info;
    const std::vector<std::function<void()>> setters = {
        [&] { info.SetInstallType(1); },
        [&] { info.SetDevicePath("x"); },
        [&] { info.SetProductType("x"); },
        [&] { info.SetRegisteredOwner("x"); },
        [&] { info.SetRegisteredOrganization("x"); },
        [&] { info.SetProductId("x"); },
        [&] { info.SetLicensingInfo("x"); },
        [&] { info.SetSubVersionNumber("x"); },
        [&] { info.SetInventoryPath("x"); },
        [&] { info.SetProgramFilesDir("x"); },
        [&] { info.SetCommonFilesDir("x"); },
        [&] { info.SetMediaPath("x"); },
        [&] { info.SetConfigPath("x"); },
        [&] { info.SetSystemRoot("x"); },
        [&] { info.SetOldWinDir("x"); },
        [&] { info.SetProductName("x"); },
        [&] { info.SetFirstInstallDateTime(1); },
        [&] { info.SetVersion("x"); },
        [&] { info.SetVersionNumber("x"); },
        [&] { info.SetBootCount("x"); },
        [&] { info.SetOtherDevicePath("x"); },
        [&] { info.SetPlus__VersionNumber("x"); },
        [&] { info.SetPlus__ProductId("x"); },
        [&] { info.SetProgramFilesPath("x"); },
        [&] { info.SetSM_AccessoriesName("x"); },
        [&] { info.SetPF_AccessoriesName("x"); },
        [&] { info.SetWallPaperDir("x"); },
    };
    // Also when the key is missing: it must not be created.
    for (const std::string& file : {readFile(hive()), std::string("WINE REGISTRY Version 2\n")}) {
        writeFile(hive(), file);
        const auto stamp = fs::last_write_time(hive());
        for (std::size_t i = 0; i < setters.size(); ++i) {
            SCOPED_TRACE(i);
            EXPECT_EQ(errorOf(setters[i]), "Property is read-only");
            EXPECT_EQ(info.Registry().CurrentKey(), 0u);
        }
        EXPECT_EQ(readFile(hive()), file);
        EXPECT_EQ(fs::last_write_time(hive()), stamp);
    }
}

TEST_F(SysInfoTest, ValueNamesAreFixedAndIndexesAreChecked)
{
    TSysInfo info;
    const TStringList& names = info.ValueNames();
    ASSERT_EQ(names.Count(), 28);
    EXPECT_EQ(names[0], "InstallType");
    EXPECT_EQ(names[1], "SetupFlags");
    EXPECT_EQ(names[14], "SystemRoot");
    EXPECT_EQ(names[22], "Plus! VersionNumber");
    EXPECT_EQ(names[23], "Plus! ProductId");
    EXPECT_EQ(names[27], "WallPaperDir");
    for (int index : {28, -1, 1000}) {
        EXPECT_EQ(errorOf([&] { info.GetStringValue(index); }),
                  "List index out of bounds (" + std::to_string(index) + ")");
        EXPECT_EQ(errorOf([&] { info.SetStringValue(index, "x"); }),
                  "List index out of bounds (" + std::to_string(index) + ")");
    }
}

TEST_F(SysInfoTest, PropertiesReadTheirOwnValues)
{
    writeFile(hive(), systemReg("\"Plus! ProductId\"=\"plus-id\"\n"
                                "\"ProductId\"=\"id\"\n"
                                "\"RegisteredOwner\"=\"Ann\"\n"
                                "\"WallPaperDir\"=str(2):\"%WinDir%\\\\Web\"\n"
                                "\"InstallType\"=hex:05,01\n"
                                "\"FirstInstallDateTime\"=hex:fe,ff,ff,ff\n"));
    TSysInfo info;
    EXPECT_EQ(info.Plus__ProductId(), "plus-id");
    EXPECT_EQ(info.ProductId(), "id");
    EXPECT_EQ(info.RegisteredOwner(), "Ann");
    EXPECT_EQ(info.WallPaperDir(), "%WinDir%\\Web");
    EXPECT_EQ(info.Plus__VersionNumber(), "");
    EXPECT_EQ(info.InstallType(), 0x0105);
    EXPECT_EQ(info.FirstInstallDateTime(), -2);
}

TEST_F(SysInfoTest, NumberPropertiesGiveZeroWhenMissingAndRefuseOtherKinds)
{
    struct Case {
        std::string lines;
        std::uint16_t installType;
        std::string error; // raised by InstallType
    };
    const std::vector<Case> cases = {
        {"", 0, ""},
        {"\"InstallType\"=hex:07\n", 7, ""}, // a shorter value fills the low bytes
        {"\"InstallType\"=hex:\n", 0, ""},
        {"\"InstallType\"=hex:01,02,03\n", 0, "Invalid data type for 'InstallType'"},
        {"\"InstallType\"=dword:00000001\n", 0, "Invalid data type for 'InstallType'"},
        {"\"InstallType\"=\"1\"\n", 0, "Invalid data type for 'InstallType'"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.lines);
        writeFile(hive(), systemReg(c.lines));
        TSysInfo info;
        std::uint16_t value = 0xFFFF;
        EXPECT_EQ(errorOf([&] { value = info.InstallType(); }), c.error);
        if (c.error.empty()) {
            EXPECT_EQ(value, c.installType);
        }
        EXPECT_EQ(info.FirstInstallDateTime(), 0);
    }
}

TEST_F(SysInfoTest, KeyLeftOpenByAnErrorIsClosedByTheNextRead)
{
    writeFile(hive(), systemReg("\"SystemRoot\"=dword:00000001\n\"Version\"=\"4.10\"\n"));
    TSysInfo info;
    EXPECT_EQ(errorOf([&] { info.SystemRoot(); }), "Invalid data type for 'SystemRoot'");
    EXPECT_NE(info.Registry().CurrentKey(), 0u);
    EXPECT_EQ(info.Version(), "4.10");
    EXPECT_EQ(info.Registry().CurrentKey(), 0u);
    EXPECT_EQ(errorOf([&] { info.SystemRoot(); }), "Invalid data type for 'SystemRoot'");
    // The component closes it when it is destroyed; TearDown checks that.
}

TEST_F(SysInfoTest, WritableInfoCreatesItsKeyAndStoresTypedValues)
{
    TRegInfo info;
    info.SetKeyPath("Software\\Crestwick");
    EXPECT_EQ(info.Registry().RootKey(), platform::HKEY_CURRENT_USER);
    const std::string before = readFile(prefix() / "user.reg");
    // Read-only, reading a missing key creates nothing.
    EXPECT_EQ(info.ReadStringValue("Name"), "");
    EXPECT_EQ(readFile(prefix() / "user.reg"), before);

    info.SetReadOnly(false);
    info.WriteStringValue("Name", "Crestwick");
    info.WriteIntegerValue("Big", -123456789);
    info.WriteSmallIntValue("Small", -2);
    const unsigned char bytes[3] = {1, 2, 3};
    info.WriteBinaryValue("Raw", bytes, 3);
    EXPECT_EQ(info.ReadStringValue("Name"), "Crestwick");
    EXPECT_EQ(info.ReadIntegerValue("Big"), -123456789);
    EXPECT_EQ(info.ReadSmallIntValue("Small"), -2);
    unsigned char back[4] = {9, 9, 9, 9};
    EXPECT_EQ(info.ReadBinaryValue("Raw", back, 4), 3);
    EXPECT_EQ(back[2], 3);
    EXPECT_EQ(back[3], 9);
    const std::string after = readFile(prefix() / "user.reg");
    EXPECT_NE(after.find("\"Big\"=hex:eb,32,a4,f8\n\"Small\"=hex:fe,ff\n"), std::string::npos)
        << after;

    // Not read-only, a read creates the missing key.
    info.SetKeyPath("\\Software\\Made by reading");
    EXPECT_EQ(info.ReadIntegerValue("Nothing"), 0);
    EXPECT_NE(readFile(prefix() / "user.reg").find("[Software\\\\Made by reading]"),
              std::string::npos);
}
