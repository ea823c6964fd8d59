#include "platform/Registry.h"
#include "core/Exceptions.h"
#include "platform/TRegistry.h"
#include "tests/support/TempPrefix.h"
#include "tests/support/TestHive.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using namespace platform;

namespace {

const char* const kUserReg = R"(WINE REGISTRY Version 2
;; All keys relative to \\User\\S-1-5-21-0-0-0-1000

#arch=win32

[Software\\Test] 1700000000
"Plain"="C:\\WINDOWS"
"Accent"="caf\x00e9"
"Cut"="before\x0000after"
"Expand"=str(2):"%SystemRoot%\\system32"
"Multi"=str(7):"a\0b\0"
"Number"=dword:0000002a
"Bytes"=hex:01,02,03
"Nothing"=hex:
"Other"=hex(8):01
@="default"

[Software\\Test\\Sub] 1700000000
"Deep"="yes"
)";

class RegistryTest : public TempPrefixTest {
protected:
    void SetUp() override
    {
        TempPrefixTest::SetUp();
        createDefaultPrefix();
        writeFile(prefix() / "user.reg", kUserReg);
        handlesBefore_ = registryOpenHandleCount();
    }
    void TearDown() override
    {
        EXPECT_EQ(registryOpenHandleCount(), handlesBefore_) << "a registry handle leaked";
        TempPrefixTest::TearDown();
    }

    HKEY open(HKEY root, const char* path, REGSAM access = KEY_READ)
    {
        HKEY key = 0;
        EXPECT_EQ(RegOpenKeyExA(root, path, 0, access, &key), ERROR_SUCCESS) << path;
        return key;
    }

    // Reads a value through a size query and a fetch, as callers of the platform do.
    static std::string query(HKEY key, const char* name, DWORD* type = nullptr)
    {
        DWORD size = 0;
        if (RegQueryValueExA(key, name, nullptr, type, nullptr, &size) != ERROR_SUCCESS)
            return "<missing>";
        std::string data(size, '\0');
        EXPECT_EQ(
            RegQueryValueExA(key, name, nullptr, type, reinterpret_cast<BYTE*>(data.data()), &size),
            ERROR_SUCCESS);
        EXPECT_EQ(size, data.size());
        return data;
    }

    std::size_t handlesBefore_ = 0;
};

std::string errorOf(const std::function<void()>& action)
{
    try {
        action();
    } catch (const ERegistryException& e) {
        return e.Message;
    }
    return "";
}

} // namespace

TEST_F(RegistryTest, QueriesGiveKindAndSizeAndDataOfEveryKind)
{
    struct Case {
        const char* name;
        DWORD type;
        std::string data;
    };
    const std::vector<Case> cases = {
        {"Plain", REG_SZ, std::string("C:\\WINDOWS") + '\0'},
        {"Accent", REG_SZ, std::string("caf\xc3\xa9") + '\0'}, // sizes count UTF-8 bytes
        {"Cut", REG_SZ, std::string("before\0after", 12) + '\0'},
        {"Expand", REG_EXPAND_SZ, std::string("%SystemRoot%\\system32") + '\0'},
        {"Multi", REG_MULTI_SZ, std::string("a\0b\0\0", 5)},
        {"Number", REG_DWORD, std::string("\x2a\0\0\0", 4)},
        {"Bytes", REG_BINARY, "\x01\x02\x03"},
        {"Nothing", REG_BINARY, ""},
        {"Other", 8, "\x01"},
        {"", REG_SZ, std::string("default") + '\0'},
    };
    const HKEY key = open(HKEY_CURRENT_USER, "Software\\Test");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        DWORD type = 0;
        EXPECT_EQ(query(key, c.name, &type), c.data);
        EXPECT_EQ(type, c.type);
        if (!c.data.empty()) {
            // A buffer one byte short is refused and told the size it needs.
            std::string small(c.data.size() - 1, 'x');
            DWORD size = DWORD(small.size());
            EXPECT_EQ(RegQueryValueExA(key, c.name, nullptr, nullptr,
                                       reinterpret_cast<BYTE*>(small.data()), &size),
                      ERROR_MORE_DATA);
            EXPECT_EQ(size, c.data.size());
        }
    }
    EXPECT_EQ(query(key, nullptr), std::string("default") + '\0');
    DWORD size = 0;
    EXPECT_EQ(RegQueryValueExA(key, "Missing", nullptr, nullptr, nullptr, &size),
              ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
}

TEST_F(RegistryTest, KeyPathsResolveFromTheHandleOrFromTheRoot)
{
    HKEY missing = 0;
    EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Nope", 0, KEY_READ, &missing),
              ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Test", 0, KEY_READ, &missing),
              ERROR_FILE_NOT_FOUND);
    const HKEY test = open(HKEY_CURRENT_USER, "\\SOFTWARE\\test");
    const HKEY sub = open(test, "sub");
    EXPECT_EQ(query(sub, "Deep"), std::string("yes") + '\0');
    const HKEY fromRoot = open(sub, "\\Software\\Test");
    EXPECT_EQ(query(fromRoot, "Number").size(), 4u);
    // A key that exists only as the parent of another can be opened.
    const HKEY parent = open(HKEY_CURRENT_USER, "Software");
    for (HKEY key : {test, sub, fromRoot, parent})
        EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(test), ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegCloseKey(HKEY_LOCAL_MACHINE), ERROR_SUCCESS);
    DWORD size = 0;
    EXPECT_EQ(RegQueryValueExA(12345, "Plain", nullptr, nullptr, nullptr, &size),
              ERROR_INVALID_HANDLE);
}

TEST_F(RegistryTest, WritesReplaceTheHiveAndKeepEverythingElse)
{
    HKEY key = 0;
    DWORD disposition = 0;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Crestwick\\Settings", 0, nullptr, 0,
                              KEY_ALL_ACCESS, nullptr, &key, &disposition),
              ERROR_SUCCESS);
    EXPECT_EQ(disposition, REG_CREATED_NEW_KEY);
    const std::string text = std::string("\xc3\xa9t\xc3\xa9") + '\0';
    const BYTE number[4] = {0x78, 0x56, 0x34, 0x12};
    EXPECT_EQ(RegSetValueExA(key, "Text", 0, REG_SZ, reinterpret_cast<const BYTE*>(text.data()),
                             DWORD(text.size())),
              ERROR_SUCCESS);
    EXPECT_EQ(RegSetValueExA(key, "Number", 0, REG_DWORD, number, 4), ERROR_SUCCESS);
    EXPECT_EQ(RegSetValueExA(key, "Empty", 0, REG_BINARY, nullptr, 0), ERROR_SUCCESS);
    EXPECT_EQ(RegSetValueExA(key, "Bad", 0, REG_BINARY, nullptr, 3), ERROR_NOACCESS);
    EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);

    const std::string written = readFile(prefix() / "user.reg");
    EXPECT_TRUE(written.starts_with(kUserReg)) << written;
    EXPECT_NE(written.find("\n[Software\\\\Crestwick\\\\Settings] "), std::string::npos);
    EXPECT_NE(written.find("\n\"Text\"=\"\\x00e9t\\x00e9\"\n\"Number\"=dword:12345678\n"
                           "\"Empty\"=hex:\n"),
              std::string::npos)
        << written;

    // Changing a value rewrites its line only.
    const HKEY test = open(HKEY_CURRENT_USER, "Software\\Test", KEY_ALL_ACCESS);
    const char plain[] = "D:\\WIN";
    EXPECT_EQ(RegSetValueExA(test, "PLAIN", 0, REG_EXPAND_SZ, reinterpret_cast<const BYTE*>(plain),
                             sizeof plain),
              ERROR_SUCCESS);
    HKEY sub = 0;
    EXPECT_EQ(RegCreateKeyExA(test, "Sub", 0, nullptr, 0, KEY_READ, nullptr, &sub, &disposition),
              ERROR_SUCCESS);
    EXPECT_EQ(disposition, REG_OPENED_EXISTING_KEY);
    EXPECT_EQ(RegSetValueExA(sub, "x", 0, REG_SZ, reinterpret_cast<const BYTE*>(plain), 1),
              ERROR_ACCESS_DENIED);
    RegCloseKey(sub);
    RegCloseKey(test);
    EXPECT_NE(readFile(prefix() / "user.reg").find("\n\"Plain\"=str(2):\"D:\\\\WIN\"\n\"Accent\""),
              std::string::npos);
    // No temporary file is left behind.
    for (const auto& entry : fs::directory_iterator(prefix()))
        EXPECT_FALSE(entry.path().filename().string().starts_with(".")) << entry.path();
}

TEST_F(RegistryTest, ReadOnlyHiveRefusesChangesButAllowsReading)
{
    const std::vector<std::pair<const char*, fs::path>> cases = {
        {"read-only file", prefix() / "system.reg"},
        {"read-only folder", prefix()},
    };
    for (const auto& [what, target] : cases) {
        SCOPED_TRACE(what);
        const std::string before = readFile(prefix() / "system.reg");
        fs::permissions(target,
                        fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                        fs::perm_options::remove);
        const char* path = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion";
        HKEY key = 0;
        EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, KEY_ALL_ACCESS, &key),
                  ERROR_ACCESS_DENIED);
        key = open(HKEY_LOCAL_MACHINE, path, KEY_READ);
        EXPECT_EQ(query(key, "SystemRoot"), std::string("C:\\WINDOWS") + '\0');
        EXPECT_EQ(
            RegSetValueExA(key, "SystemRoot", 0, REG_SZ, reinterpret_cast<const BYTE*>("x"), 2),
            ERROR_ACCESS_DENIED);
        RegCloseKey(key);
        HKEY created = 0;
        EXPECT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, "Software\\New", 0, nullptr, 0, KEY_READ,
                                  nullptr, &created, nullptr),
                  ERROR_ACCESS_DENIED);

        TRegistry registry;
        registry.SetRootKey(HKEY_LOCAL_MACHINE);
        EXPECT_TRUE(registry.OpenKey(std::string("\\") + path, false));
        EXPECT_EQ(registry.ReadString("SystemRoot"), "C:\\WINDOWS");
        EXPECT_EQ(errorOf([&] { registry.WriteString("SystemRoot", "D:"); }),
                  "Failed to set data for 'SystemRoot'");
        EXPECT_FALSE(registry.OpenKey("\\Software\\New", true));
        registry.CloseKey();

        // The system's reason, for the messages of those who write.
        EXPECT_EQ(registryWriteFailureReason(HKEY_LOCAL_MACHINE), "Permission denied");

        EXPECT_EQ(readFile(prefix() / "system.reg"), before);
        fs::permissions(target, fs::perms::owner_write, fs::perm_options::add);
        EXPECT_EQ(registryWriteFailureReason(HKEY_LOCAL_MACHINE), "");
    }
}

TEST_F(RegistryTest, ChangesOnDiskAreSeenAtTheNextCall)
{
    const HKEY key = open(HKEY_CURRENT_USER, "Software\\Test\\Sub");
    EXPECT_EQ(query(key, "Deep"), std::string("yes") + '\0');
    writeFile(prefix() / "user.reg",
              "WINE REGISTRY Version 2\n[Software\\\\Test\\\\Sub]\n\"Deep\"=\"no\"\n");
    EXPECT_EQ(query(key, "Deep"), std::string("no") + '\0');
    writeFile(prefix() / "user.reg", "WINE REGISTRY Version 2\n");
    DWORD size = 0;
    EXPECT_EQ(RegQueryValueExA(key, "Deep", nullptr, nullptr, nullptr, &size), ERROR_KEY_DELETED);
    fs::remove(prefix() / "user.reg");
    EXPECT_EQ(RegQueryValueExA(key, "Deep", nullptr, nullptr, nullptr, &size), ERROR_KEY_DELETED);
    RegCloseKey(key);

    // A missing hive is created by the first write.
    HKEY created = 0;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "A", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                              &created, nullptr),
              ERROR_SUCCESS);
    RegCloseKey(created);
    EXPECT_TRUE(readFile(prefix() / "user.reg").starts_with("WINE REGISTRY Version 2\n"));
}

TEST_F(RegistryTest, AMachineHiveReadAheadGivesWhatTheFileHoldsAtEachCall)
{
    const auto write = [&](const char* value) {
        writeFile(prefix() / "system.reg",
                  std::string("WINE REGISTRY Version 2\n[Software\\\\Test]\n\"V\"=\"") + value +
                      "\"\n");
    };
    write("before");
    prefetchMachineRegistry();
    const HKEY key = open(HKEY_LOCAL_MACHINE, "Software\\Test");
    EXPECT_EQ(query(key, "V"), std::string("before") + '\0');
    write("after");
    EXPECT_EQ(query(key, "V"), std::string("after") + '\0');
    RegCloseKey(key);
}

TEST_F(RegistryTest, HiveNotInWineFormatReadsEmptyAndIsNeverReplaced)
{
    const std::string foreign = "REGEDIT4\n\n[Software\\Test]\n\"Plain\"=\"x\"\n";
    writeFile(prefix() / "user.reg", foreign);
    HKEY key = 0;
    EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Test", 0, KEY_READ, &key),
              ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Test", 0, nullptr, 0, KEY_ALL_ACCESS,
                              nullptr, &key, nullptr),
              ERROR_REGISTRY_CORRUPT);
    EXPECT_EQ(registryWriteFailureReason(HKEY_CURRENT_USER),
              "user.reg is not in Wine's registry format");
    EXPECT_EQ(readFile(prefix() / "user.reg"), foreign);
}

TEST_F(RegistryTest, ReadStringGivesStringsAndRefusesOtherKinds)
{
    struct Case {
        const char* name;
        std::string result; // or the error message
    };
    const std::vector<Case> cases = {
        {"Plain", "C:\\WINDOWS"},
        {"Accent", "caf\xc3\xa9"},
        {"Cut", "before"},
        {"Expand", "%SystemRoot%\\system32"},
        {"Missing", ""},
        {"Nothing", ""},
        {"Number", "Invalid data type for 'Number'"},
        {"Bytes", "Invalid data type for 'Bytes'"},
        {"Multi", "Invalid data type for 'Multi'"},
        {"Other", "Invalid data type for 'Other'"},
    };
    TRegistry registry;
    EXPECT_EQ(registry.RootKey(), HKEY_CURRENT_USER);
    EXPECT_EQ(registry.ReadString("Plain"), ""); // no key open
    ASSERT_TRUE(registry.OpenKey("Software\\Test", false));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string result;
        const std::string error = errorOf([&] { result = registry.ReadString(c.name); });
        EXPECT_EQ(error.empty() ? result : error, c.result);
    }
    EXPECT_EQ(registry.GetDataType("Plain"), rdString);
    EXPECT_EQ(registry.GetDataType("Expand"), rdExpandString);
    EXPECT_EQ(registry.GetDataType("Number"), rdInteger);
    EXPECT_EQ(registry.GetDataType("Bytes"), rdBinary);
    EXPECT_EQ(registry.GetDataType("Multi"), rdUnknown);
    EXPECT_EQ(registry.GetDataSize("Bytes"), 3);
    EXPECT_EQ(registry.GetDataSize("Missing"), -1);
}

TEST_F(RegistryTest, ReadBinaryDataCopiesOnlyBinaryValuesThatFit)
{
    struct Case {
        const char* name;
        int bufSize;
        int result; // -1: raises "Invalid data type"
        std::string buffer;
    };
    const std::vector<Case> cases = {
        {"Bytes", 4, 3, std::string("\x01\x02\x03\xee", 4)},
        {"Bytes", 3, 3, "\x01\x02\x03"},
        {"Bytes", 2, -1, "\xee\xee"},
        {"Nothing", 2, 0, "\xee\xee"},
        {"Missing", 2, 0, "\xee\xee"},
        {"Number", 4, -1, "\xee\xee\xee\xee"},
        {"Plain", 64, -1, std::string(64, '\xee')},
    };
    TRegistry registry;
    ASSERT_TRUE(registry.OpenKey("\\Software\\Test", false));
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.name) + " into " + std::to_string(c.bufSize));
        std::string buffer(std::size_t(c.bufSize), '\xee');
        int result = 0;
        const std::string error =
            errorOf([&] { result = registry.ReadBinaryData(c.name, buffer.data(), c.bufSize); });
        if (c.result < 0)
            EXPECT_EQ(error, std::string("Invalid data type for '") + c.name + "'");
        else
            EXPECT_EQ(result, c.result);
        EXPECT_EQ(buffer, c.buffer);
    }
}

TEST_F(RegistryTest, OpenKeyChangesTheCurrentKeyOnlyOnSuccess)
{
    TRegistry registry;
    ASSERT_TRUE(registry.OpenKey("Software\\Test", false));
    const HKEY first = registry.CurrentKey();
    EXPECT_FALSE(registry.OpenKey("Missing", false));
    EXPECT_EQ(registry.CurrentKey(), first);
    EXPECT_EQ(registry.CurrentPath(), "Software\\Test");
    // Relative to the current key, then from the root.
    ASSERT_TRUE(registry.OpenKey("Sub", false));
    EXPECT_EQ(registry.CurrentPath(), "Software\\Test\\Sub");
    EXPECT_EQ(registry.ReadString("Deep"), "yes");
    EXPECT_EQ(registryOpenHandleCount(), handlesBefore_ + 1);
    ASSERT_TRUE(registry.OpenKey("\\Software\\Test", false));
    EXPECT_EQ(registry.ReadString("Plain"), "C:\\WINDOWS");

    // Creating opens with full access; the written data reads back.
    ASSERT_TRUE(registry.OpenKey("\\Software\\Made\\Here", true));
    registry.WriteString("Name", "value");
    const unsigned char bytes[3] = {9, 8, 7};
    registry.WriteBinaryData("Data", bytes, 3);
    unsigned char back[3] = {};
    EXPECT_EQ(registry.ReadBinaryData("Data", back, 3), 3);
    EXPECT_EQ(std::memcmp(back, bytes, 3), 0);
    EXPECT_EQ(registry.ReadString("Name"), "value");

    registry.SetRootKey(HKEY_LOCAL_MACHINE);
    EXPECT_EQ(registry.CurrentKey(), 0u);
    EXPECT_EQ(errorOf([&] { registry.WriteString("Name", "x"); }), "Failed to set data for 'Name'");
    EXPECT_EQ(errorOf([&] { registry.WriteBinaryData("Data", bytes, 3); }),
              "Failed to set data for 'Data'");
    ASSERT_TRUE(registry.OpenKey("Software", false));
    EXPECT_EQ(registry.ReadString("Name"), "");
}

// A value is removed from Wine's file and from a Windows hive alike, and nothing else with it.
TEST_F(RegistryTest, DeletingAValueRemovesItFromTheFileAndKeepsTheOthers)
{
    struct Case {
        const char* name;
        std::function<fs::path()> make;
        std::function<bool(const fs::path&, const std::string&)> fileHolds;
    };
    const std::vector<Case> cases = {
        {"Wine's system.reg", [&] { return prefix() / "system.reg"; },
         [](const fs::path& file, const std::string& name) {
             return readFile(file).find("\"" + name + "\"=") != std::string::npos;
         }},
        {"a SOFTWARE hive",
         [&] {
             fs::remove_all(prefix());
             return makeWindowsVolume(prefix(), {{"Microsoft", {}}});
         },
         [](const fs::path& file, const std::string& name) {
             return dumpHive(file).contains("\\Del|" + name);
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path file = c.make();
        HKEY key = 0;
        ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, "Software\\Del", 0, nullptr, 0,
                                  KEY_ALL_ACCESS, nullptr, &key, nullptr),
                  ERROR_SUCCESS);
        for (const char* name : {"Gone", "Kept"})
            ASSERT_EQ(RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>("x"), 2),
                      ERROR_SUCCESS);
        EXPECT_EQ(RegDeleteValueA(key, "gone"), ERROR_SUCCESS);
        EXPECT_EQ(query(key, "Gone"), "<missing>");
        EXPECT_FALSE(c.fileHolds(file, "Gone"));
        EXPECT_TRUE(c.fileHolds(file, "Kept"));
        EXPECT_EQ(RegDeleteValueA(key, "Gone"), ERROR_FILE_NOT_FOUND);
        RegCloseKey(key);
        const HKEY reading = open(HKEY_LOCAL_MACHINE, "Software\\Del");
        EXPECT_EQ(RegDeleteValueA(reading, "Kept"), ERROR_ACCESS_DENIED);
        EXPECT_EQ(query(reading, "Kept"), std::string("x\0", 2));
        RegCloseKey(reading);
    }
}
