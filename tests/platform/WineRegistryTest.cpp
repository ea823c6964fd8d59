#include "platform/WineRegistry.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

using platform::WineRegistry;
using platform::WineRegValue;

namespace {

// UTF-16LE bytes of an ASCII text, with its NUL.
std::string wide(std::string_view ascii)
{
    std::string bytes;
    for (char c : ascii) {
        bytes.push_back(c);
        bytes.push_back('\0');
    }
    return bytes + std::string(2, '\0');
}

std::string text(const WineRegValue* value)
{
    return value ? platform::utf16leToUtf8(value->data) : "<missing>";
}

const char* const kKindsFile = R"(WINE REGISTRY Version 2
;; All keys relative to \\Machine

#arch=win32

[Software\\Kinds] 1700000000
#time=1d9a0b1c2d3e4f5
"Plain"="C:\\WINDOWS"
"Expand"=str(2):"%SystemRoot%\\system"
"Multi"=str(7):"one\0two\0"
"Number"=dword:0000002a
"Bytes"=hex:01,02,ff
"Empty"=hex:
"OddNumber"=hex(4):01,02
"WideHex"=hex(2):41,00,42,00,00,00
"None"=hex(0):07
"Long"=hex:00,01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,10,11,12,13,14,\
  15,16,17,18,19,1a,1b,1c
@="default"
)";

} // namespace

TEST(WineRegistry, ReadsEveryValueKind)
{
    const WineRegistry reg = WineRegistry::parse(kKindsFile);
    ASSERT_TRUE(reg.recognized());
    struct Case {
        const char* name;
        std::uint32_t type;
        std::string data;
    };
    const std::vector<Case> cases = {
        {"Plain", 1, wide("C:\\WINDOWS")},
        {"Expand", 2, wide("%SystemRoot%\\system")},
        {"Multi", 7, wide(std::string("one\0two\0", 8))},
        {"Number", 4, std::string("\x2a\0\0\0", 4)},
        {"Bytes", 3, "\x01\x02\xff"},
        {"Empty", 3, ""},
        {"OddNumber", 4, "\x01\x02"},
        {"WideHex", 2, std::string("A\0B\0\0\0", 6)},
        {"None", 0, "\x07"},
        {"", 1, wide("default")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const WineRegValue* value = reg.findValue("Software\\Kinds", c.name);
        ASSERT_NE(value, nullptr);
        EXPECT_EQ(value->type, c.type);
        EXPECT_EQ(value->data, c.data);
    }
    const WineRegValue* joined = reg.findValue("Software\\Kinds", "Long");
    ASSERT_NE(joined, nullptr);
    ASSERT_EQ(joined->data.size(), 29u);
    EXPECT_EQ(joined->data[28], '\x1c');
}

TEST(WineRegistry, DecodesEscapesInStrings)
{
    struct Case {
        const char* line;
        std::string expected;
    };
    const std::vector<Case> cases = {
        {R"("v"="a\\b")", "a\\b"},
        {R"("v"="say \"hi\"")", "say \"hi\""},
        {R"("v"="one\ntwo")", "one\ntwo"},
        {R"("v"="\x00e9t\x00e9")", "\xc3\xa9t\xc3\xa9"},
        {R"("v"="\x0041BC")", "ABC"},                  // four digits at most: "BC" is text
        {R"("v"="\x4g")", "\x04g"},                    // fewer digits end at a non-digit
        {R"("v"="\xd83d\xde00")", "\xf0\x9f\x98\x80"}, // a surrogate pair
        {R"("v"="\xd83d")", "\xef\xbf\xbd"},           // a lone surrogate
        {"\"v\"=\"caf\xc3\xa9\"", "caf\xc3\xa9"},      // UTF-8 as it is
        {R"("v"="tab\there")", "tab\there"},
        {R"("v"="x\]y")", "x]y"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        const std::string file = std::string("WINE REGISTRY Version 2\n[K]\n") + c.line + "\n";
        const WineRegistry reg = WineRegistry::parse(file);
        const WineRegValue* value = reg.findValue("K", "v");
        ASSERT_NE(value, nullptr);
        EXPECT_EQ(platform::utf16leToUtf8(value->data), c.expected + '\0');
    }
}

TEST(WineRegistry, MatchesKeysAndNamesWithoutRegardToCase)
{
    const WineRegistry reg =
        WineRegistry::parse("WINE REGISTRY Version 2\n"
                            "[Software\\\\Microsoft\\\\Windows\\\\CurrentVersion] 1\n"
                            "\"SystemRoot\"=\"C:\\\\WINDOWS\"\n"
                            "[Software\\\\\\x00c4pfel]\n"
                            "\"\\x00dcber\"=\"ja\"\n");
    EXPECT_EQ(text(reg.findValue("SOFTWARE\\microsoft\\Windows\\CURRENTVERSION", "systemroot")),
              std::string("C:\\WINDOWS") + '\0');
    EXPECT_EQ(text(reg.findValue("\\Software\\Microsoft\\Windows\\CurrentVersion\\", "SystemRoot")),
              std::string("C:\\WINDOWS") + '\0');
    EXPECT_EQ(text(reg.findValue("software\\\xc3\xa4PFEL", "\xc3\xbc"
                                                           "BER")),
              std::string("ja") + '\0');
    // Keys above a section exist; siblings do not.
    EXPECT_TRUE(reg.keyExists("software\\MICROSOFT"));
    EXPECT_TRUE(reg.keyExists(""));
    EXPECT_FALSE(reg.keyExists("Software\\Microsoft\\Windows\\CurrentVersion\\Run"));
    EXPECT_FALSE(reg.keyExists("Software\\Micro"));
}

TEST(WineRegistry, LaterOccurrencesWinAsWhenWineLoadsTheFile)
{
    const WineRegistry reg = WineRegistry::parse("WINE REGISTRY Version 2\n"
                                                 "[K]\n\"a\"=\"1\"\n\"A\"=\"2\"\n\"b\"=\"x\"\n"
                                                 "[k]\n\"a\"=\"3\"\n");
    EXPECT_EQ(text(reg.findValue("K", "a")), std::string("3") + '\0');
    EXPECT_EQ(text(reg.findValue("K", "b")), std::string("x") + '\0');
    EXPECT_EQ(reg.values("K").size(), 2u);
}

TEST(WineRegistry, DamagedContentReadsAsMissing)
{
    struct Case {
        const char* what;
        std::string body; // follows the header line
        bool keyPresent;
        bool valuePresent;
    };
    const std::vector<Case> cases = {
        {"header without closing bracket", "[Soft\\\\Key\n\"v\"=\"x\"\n", false, false},
        {"empty key name", "[Soft\\\\\\\\Key]\n\"v\"=\"x\"\n", false, false},
        {"unterminated string", "[Soft\\\\Key]\n\"v\"=\"C:\\\\WIN\n", true, false},
        {"unterminated name", "[Soft\\\\Key]\n\"v=\"x\"\n", true, false},
        {"no equals sign", "[Soft\\\\Key]\n\"v\" \"x\"\n", true, false},
        {"text after string", "[Soft\\\\Key]\n\"v\"=\"x\"y\n", true, false},
        {"bad hex", "[Soft\\\\Key]\n\"v\"=hex:01,zz\n", true, false},
        {"three-digit hex byte", "[Soft\\\\Key]\n\"v\"=hex:100\n", true, false},
        {"long dword", "[Soft\\\\Key]\n\"v\"=dword:123456789\n", true, false},
        {"empty dword", "[Soft\\\\Key]\n\"v\"=dword:\n", true, false},
        {"unknown form", "[Soft\\\\Key]\n\"v\"=qword:1\n", true, false},
        {"bad kind", "[Soft\\\\Key]\n\"v\"=hex(zz):01\n", true, false},
        {"missing data", "[Soft\\\\Key]\n\"v\"=\n", true, false},
        {"value before any key", "\"v\"=\"x\"\n[Soft\\\\Key]\n", true, false},
        {"continuation before a key", "[Soft\\\\Key]\n\"v\"=hex:01,\\\n", true, true},
        {"NUL byte in a string", std::string("[Soft\\\\Key]\n\"v\"=\"a") + '\0' + "b\"\n", true,
         true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string file = "WINE REGISTRY Version 2\n" + c.body + "[Other]\n\"w\"=\"ok\"\n";
        const WineRegistry reg = WineRegistry::parse(file);
        EXPECT_EQ(reg.keyExists("Soft\\Key"), c.keyPresent);
        EXPECT_EQ(reg.findValue("Soft\\Key", "v") != nullptr, c.valuePresent);
        // The damage stays where it is: the next section reads normally.
        EXPECT_EQ(text(reg.findValue("Other", "w")), std::string("ok") + '\0');
        // Damaged lines are kept when the file is written back.
        EXPECT_EQ(reg.serialize(), file);
    }
}

TEST(WineRegistry, KeysBeyondTheLimitsOfWindowsAreKeptButNotRead)
{
    // A path of levels keys, each named name; as the file writes it and as a lookup names it.
    const auto key = [](int levels, const std::string& name) {
        std::pair<std::string, std::string> forms;
        for (int i = 0; i < levels; ++i) {
            forms.first += (i ? "\\\\" : "") + name;
            forms.second += (i ? "\\" : "") + name;
        }
        return forms;
    };
    struct Case {
        const char* what;
        std::pair<std::string, std::string> path;
        bool read;
    };
    const std::vector<Case> cases = {
        {"512 levels", key(512, "k"), true},
        {"513 levels", key(513, "k"), false},
        {"a name of 255 characters", key(2, std::string(255, 'n')), true},
        {"a name of 256 characters", key(2, std::string(256, 'n')), false},
        {"255 characters of two bytes each", key(1, [] {
             std::string name;
             for (int i = 0; i < 255; ++i)
                 name += "\xC3\xA9";
             return name;
         }()), true},
        {"40,000 levels", key(40000, "k"), false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string file = "WINE REGISTRY Version 2\n[" + c.path.first +
                                 "] 0\n\"v\"=\"x\"\n[Other]\n\"w\"=\"ok\"\n";
        const WineRegistry reg = WineRegistry::parse(file);
        EXPECT_EQ(reg.keyExists(c.path.second), c.read);
        EXPECT_EQ(reg.findValue(c.path.second, "v") != nullptr, c.read);
        EXPECT_EQ(text(reg.findValue("Other", "w")), std::string("ok") + '\0');
        EXPECT_EQ(reg.serialize(), file);
    }
}

TEST(WineRegistry, InputWithoutTheHeaderLineReadsAsEmpty)
{
    for (std::string_view bytes :
         {std::string_view("REGEDIT4\n[K]\n\"v\"=\"x\"\n"), std::string_view("[K]\n\"v\"=\"x\"\n"),
          std::string_view("WINE REGISTRY Version 1\n[K]\n"), std::string_view("\n"),
          std::string_view("\xff\xfe\x00\x00", 4)}) {
        const WineRegistry reg = WineRegistry::parse(std::string(bytes));
        EXPECT_FALSE(reg.recognized());
        EXPECT_FALSE(reg.keyExists("K"));
        EXPECT_TRUE(reg.keyPaths().empty());
    }
    EXPECT_TRUE(WineRegistry::parse("").recognized());
    EXPECT_TRUE(WineRegistry::parse("WINE REGISTRY Version 2\r\n[K]\r\n").keyExists("K"));
}

TEST(WineRegistry, UnchangedContentIsWrittenBackByteForByte)
{
    for (std::string file :
         {std::string(kKindsFile),
          std::string("WINE REGISTRY Version 2\r\n[A] 5\r\n\"x\"=\"y\"\r\n"),
          std::string("WINE REGISTRY Version 2\n[A]\n\"x\"=dword:1"),
          std::string("WINE REGISTRY Version 2\n;; comment \\\n#meta=1\n\n\n[A]\ngarbage\n")})
        EXPECT_EQ(WineRegistry::parse(file).serialize(), file);
}

TEST(WineRegistry, ChangedValuesAreWrittenInWineFormAndReadBack)
{
    WineRegistry reg = WineRegistry::parse(kKindsFile);
    std::string longBytes;
    for (int i = 0; i < 100; ++i)
        longBytes.push_back(char(i * 7));
    const std::vector<WineRegValue> values = {
        {"Plain", 1, platform::utf8ToUtf16le(std::string("D:\\W\"IN\n\xc3\xa9\x01") + '\0')},
        {"Expand", 2, wide("%windir%")},
        {"Multi", 7, wide(std::string("a\0b0\0", 5))},
        {"Number", 4, "\x78\x56\x34\x12"},
        {"New binary", 3, longBytes},
        {"New \"odd\" = name", 4, "\x01"},
        {"Unterminated", 1, "A"},
        {"", 1, wide("new default")},
        {"Kind 1234", 0x1234, std::string("\x00\xff", 2)},
    };
    for (const WineRegValue& v : values)
        reg.setValue("software\\KINDS", v, 1800000000);
    const std::string written = reg.serialize();

    EXPECT_NE(written.find("\n\"Plain\"=\"D:\\\\W\\\"IN\\n\\x00e9\\x0001\"\n"), std::string::npos);
    EXPECT_NE(written.find("\n\"Expand\"=str(2):\"%windir%\"\n"), std::string::npos);
    EXPECT_NE(written.find("\n\"Multi\"=str(7):\"a\\x0000b0\\x0000\"\n"), std::string::npos);
    EXPECT_NE(written.find("\n\"Number\"=dword:12345678\n"), std::string::npos);
    EXPECT_NE(written.find("\n\"Unterminated\"=hex(1):41\n"), std::string::npos);
    EXPECT_NE(written.find("\n@=\"new default\"\n"), std::string::npos);
    EXPECT_NE(written.find("\n\"Kind 1234\"=hex(1234):00,ff\n"), std::string::npos);
    // Values that were not changed keep their lines, meta lines included.
    EXPECT_NE(written.find("\n#time=1d9a0b1c2d3e4f5\n"), std::string::npos);
    EXPECT_NE(written.find("\n\"Bytes\"=hex:01,02,ff\n"), std::string::npos);
    // Long byte lists are continued on further lines, none of them overlong.
    std::size_t lineStart = 0;
    while (lineStart < written.size()) {
        const std::size_t end = written.find('\n', lineStart);
        EXPECT_LE(end - lineStart, 82u);
        lineStart = end + 1;
    }

    const WineRegistry reread = WineRegistry::parse(written);
    for (const WineRegValue& v : values) {
        SCOPED_TRACE(v.name);
        const WineRegValue* back = reread.findValue("Software\\Kinds", v.name);
        ASSERT_NE(back, nullptr);
        EXPECT_EQ(back->type, v.type);
        EXPECT_EQ(back->data, v.data);
    }
    EXPECT_EQ(reread.serialize(), written);
}

TEST(WineRegistry, NewKeysAreAppendedAsSectionsWithATimestamp)
{
    WineRegistry reg = WineRegistry::parse("WINE REGISTRY Version 2\n[A]\n\"x\"=\"1\"\n");
    EXPECT_FALSE(reg.createKey("a", 5));
    EXPECT_TRUE(reg.createKey("\\New\\Br[ack]et\\\xc3\xa9", 1700000000));
    reg.setValue("Parent", {"v", 3, "\x01"}, 1700000001);
    EXPECT_EQ(reg.serialize(), "WINE REGISTRY Version 2\n[A]\n\"x\"=\"1\"\n"
                               "\n[New\\\\Br\\x005back\\x005det\\\\\\x00e9] 1700000000\n"
                               "\n[Parent] 1700000001\n\"v\"=hex:01\n");
    const WineRegistry reread = WineRegistry::parse(reg.serialize());
    EXPECT_TRUE(reread.keyExists("new\\br[ack]et\\\xc3\xa9"));
    EXPECT_EQ(reread.keyPaths().size(), 3u);

    // An empty registry becomes a whole file with its header.
    WineRegistry fresh;
    fresh.setFreshPreamble({";; All keys relative to \\\\Machine"});
    fresh.setValue("K", {"v", 1, wide("x")}, 7);
    EXPECT_EQ(
        fresh.serialize(),
        "WINE REGISTRY Version 2\n;; All keys relative to \\\\Machine\n\n[K] 7\n\"v\"=\"x\"\n");
}

TEST(WineRegistry, NewValuesGoAfterTheLastValueOfTheirKey)
{
    WineRegistry reg =
        WineRegistry::parse("WINE REGISTRY Version 2\n[A]\n\"x\"=\"1\"\n\n[B]\n\"y\"=\"2\"\n");
    reg.setValue("A", {"z", 4, std::string(4, '\0')}, 0);
    reg.setValue("A", {"w", 4, std::string(4, '\0')}, 0);
    EXPECT_EQ(reg.serialize(), "WINE REGISTRY Version 2\n[A]\n\"x\"=\"1\"\n\"z\"=dword:00000000\n"
                               "\"w\"=dword:00000000\n\n[B]\n\"y\"=\"2\"\n");
}

TEST(WineRegistry, TouchingAKeyRenewsOnlyItsTimes)
{
    // Wine writes a key's last change twice: seconds since 1970 after the header, and the
    // FILETIME (100 ns units since 1601) in hexadecimal on the "#time=" line.
    const auto fileTime = std::uint64_t((1800000000LL + 11644473600LL) * 10000000LL);
    char hex[32];
    std::snprintf(hex, sizeof hex, "%llx", static_cast<unsigned long long>(fileTime));
    const std::string timeLine = std::string("#time=") + hex;

    const std::string file =
        "WINE REGISTRY Version 2\n;; All keys relative to REGISTRY\\\\Machine\n"
        "\n#arch=win64\n\n[A] 1700000000\n#time=1d9a0b1c2d3e4f5\n\"x\"=\"1\"\n"
        "\n[B] 1700000000\n#time=1d9a0b1c2d3e4f5\n\"y\"=\"2\"\n";
    WineRegistry reg = WineRegistry::parse(file);
    reg.setValue("b", {"y", 1, wide("3")}, 1800000000);
    reg.touchKey("b", 1800000000);
    EXPECT_EQ(reg.serialize(),
              "WINE REGISTRY Version 2\n;; All keys relative to REGISTRY\\\\Machine\n"
              "\n#arch=win64\n\n[A] 1700000000\n#time=1d9a0b1c2d3e4f5\n\"x\"=\"1\"\n"
              "\n[B] 1800000000\n" +
                  timeLine + "\n\"y\"=\"3\"\n");

    // A new key of such a file gets its "#time=" line; files without them get none.
    reg.setValue("C\\D", {"z", 1, wide("4")}, 1800000000);
    reg.touchKey("C\\D", 1800000000);
    EXPECT_TRUE(
        reg.serialize().ends_with("\n\n[C\\\\D] 1800000000\n" + timeLine + "\n\"z\"=\"4\"\n"))
        << reg.serialize();
    WineRegistry plain = WineRegistry::parse("WINE REGISTRY Version 2\n[A] 5\n\"x\"=\"1\"\n[B]\n");
    plain.touchKey("A", 7);
    plain.touchKey("B", 7);
    plain.setValue("C", {"z", 1, wide("4")}, 7);
    plain.touchKey("C", 8);
    EXPECT_EQ(plain.serialize(),
              "WINE REGISTRY Version 2\n[A] 7\n\"x\"=\"1\"\n[B]\n\n[C] 8\n\"z\"=\"4\"\n");

    // Line ends of the file stay; a missing key changes nothing.
    WineRegistry crlf =
        WineRegistry::parse("WINE REGISTRY Version 2\r\n[A] 5\r\n#time=1\r\n\"x\"=\"1\"\r\n");
    crlf.touchKey("missing", 9);
    EXPECT_EQ(crlf.serialize(), "WINE REGISTRY Version 2\r\n[A] 5\r\n#time=1\r\n\"x\"=\"1\"\r\n");
    crlf.touchKey("a", 1800000000);
    EXPECT_EQ(crlf.serialize(),
              "WINE REGISTRY Version 2\r\n[A] 1800000000\r\n" + timeLine + "\r\n\"x\"=\"1\"\r\n");
}

TEST(WineRegistry, ChangesToTheStockWinePrefixKeepEveryOtherByte)
{
    std::ifstream in(std::string(CRESTWICK_TESTDATA_DIR) + "/wine8-prefix/system.reg",
                     std::ios::binary);
    ASSERT_TRUE(in);
    const std::string stock((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(WineRegistry::parse(stock).serialize(), stock);

    // A value of an existing key: its line, the key's header and its "#time=" line change.
    WineRegistry reg = WineRegistry::parse(stock);
    reg.setValue("Software\\Microsoft\\Windows NT\\CurrentVersion",
                 {"RegisteredOwner", 1, wide("Crestwick")}, 1800000000);
    reg.touchKey("software\\microsoft\\windows nt\\currentversion", 1800000000);
    const std::string changed = reg.serialize();
    ASSERT_EQ(changed.size(),
              stock.size() + std::string("Crestwick").size() + std::string("1800000000").size() -
                  std::string("1796689520").size() + std::string("1dda4c66b338000").size() -
                  std::string("1dd86aa9bd7c5b6").size());
    const std::string before =
        "[Software\\\\Microsoft\\\\Windows NT\\\\CurrentVersion] 1796689520\n"
        "#time=1dd86aa9bd7c5b6\n";
    const std::size_t at = stock.find(before);
    ASSERT_NE(at, std::string::npos);
    EXPECT_EQ(changed.substr(0, at), stock.substr(0, at));
    const std::string renewed = "[Software\\\\Microsoft\\\\Windows NT\\\\CurrentVersion] "
                                "1800000000\n#time=1dda4c66b338000\n\"CSDVersion\"";
    EXPECT_EQ(changed.substr(at, renewed.size()), renewed);
    EXPECT_NE(changed.find("\n\"RegisteredOwner\"=\"Crestwick\"\n\"SystemRoot\""),
              std::string::npos);
    const std::size_t tail = stock.find("\"SystemRoot\"=\"C:\\\\windows\"", at);
    EXPECT_EQ(changed.substr(changed.size() - (stock.size() - tail)), stock.substr(tail));
}

TEST(WineRegistry, SectionsNeverLookedAtAreWrittenBackAroundAChange)
{
    struct Case {
        const char* what;
        std::string file; // follows the header line
        const char* key;  // where a value "z" is set, then the key touched at 8
        std::string expected;
    };
    const std::string header = "WINE REGISTRY Version 2\n";
    const std::vector<Case> cases = {
        {"line ends and a last line without one", "[A] 1\r\n\"x\"=\"1\"\r\n[B]\r\n\"y\"=\"2\"", "A",
         "[A] 8\r\n\"x\"=\"1\"\r\n\"z\"=\"4\"\n[B]\r\n\"y\"=\"2\"\n"},
        {"a new key after them", "[A]\n\"x\"=\"1\"", "C",
         "[A]\n\"x\"=\"1\"\n\n[C] 8\n\"z\"=\"4\"\n"},
        {"a continued value whose next line reads like a time line",
         "[A] 1\n\"v\"=hex:01,\\\n#time=02\n", "C",
         "[A] 1\n\"v\"=hex:01,\\\n#time=02\n\n[C] 8\n\"z\"=\"4\"\n"},
        {"a key named twice", "[K]\n\"z\"=\"1\"\n[L]\n\"y\"=\"2\"\n[k]\n\"b\"=\"2\"\n", "K",
         "[K]\n\"z\"=\"4\"\n[L]\n\"y\"=\"2\"\n[k]\n\"b\"=\"2\"\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        WineRegistry reg = WineRegistry::parse(header + c.file);
        reg.setValue(c.key, {"z", 1, wide("4")}, 8);
        reg.touchKey(c.key, 8);
        EXPECT_EQ(reg.serialize(), header + c.expected);
        EXPECT_EQ(text(WineRegistry::parse(reg.serialize()).findValue(c.key, "z")),
                  std::string("4") + '\0');
    }
}
