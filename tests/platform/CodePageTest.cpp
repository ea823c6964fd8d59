#include "platform/CodePage.h"

#include "tests/support/TempPrefix.h"

#include <string>

using platform::CodePage;

namespace {

// A system.reg whose Nls key holds the given value line for the ANSI code page.
std::string systemRegWithAcp(const std::string& valueLine)
{
    return "WINE REGISTRY Version 2\n"
           ";; All keys relative to \\\\Machine\n"
           "\n"
           "[System\\\\CurrentControlSet\\\\Control\\\\Nls\\\\Codepage] 1700000000\n" +
           valueLine + "\n\"OEMCP\"=\"866\"\n";
}

} // namespace

TEST(CodePageTest, EncodesEachAnsiCodePageAndDecodesBack)
{
    const struct {
        unsigned number;
        std::string text;
        std::string bytes;
    } cases[] = {
        {1252, "C:\\Tést\\äpp€.exe", "C:\\T\xE9st\\\xE4pp\x80.exe"},
        {1250, "Łódź", "\xA3\xF3\x64\x9F"},
        {1251, "Дом", "\xC4\xEE\xEC"},
        {1253, "Ωμέγα", "\xD9\xEC\xDD\xE3\xE1"},
        {1254, "Şişli", "\xDE\x69\xFE\x6C\x69"},
        {1255, "אב", "\xE0\xE1"},
        {1256, "عرب", "\xDA\xD1\xC8"},
        {1257, "Žąsis", "\xDE\xE0\x73\x69\x73"},
        {1258, "₫", "\xFE"},
        {874, "กข", "\xA1\xA2"},
        // Microsoft's Shift-JIS: the backslash stays 0x5C, and so does the trail byte of ソ.
        {932, "C:\\日本\\ソ.exe", "C:\\\x93\xFA\x96\x7B\\\x83\x5C.exe"},
        {936, "中文", "\xD6\xD0\xCE\xC4"},
        {949, "한국", "\xC7\xD1\xB1\xB9"},
        {950, "中文", "\xA4\xA4\xA4\xE5"},
        {65001, "é€", "\xC3\xA9\xE2\x82\xAC"},
        // NULs are characters like any other.
        {1251, std::string("a\0Ж", 4), std::string("a\0\xC6", 3)},
    };
    for (const auto& c : cases) {
        const CodePage page(c.number);
        EXPECT_EQ(page.number(), c.number);
        EXPECT_EQ(page.encode(c.text), c.bytes) << c.number << " " << c.text;
        EXPECT_EQ(page.decode(c.bytes), c.text) << c.number << " " << c.text;
    }
}

TEST(CodePageTest, WritesAQuestionMarkForWhatItCannotConvert)
{
    const struct {
        unsigned number;
        std::string in;
        std::string out;
    } encodes[] =
        {
            // Characters the code page has no place for: one "?" each, never a look-alike letter.
            {1251, "Дé", "\xC4?"},
            {1252, "a😀b", "a?b"},
            {932, "é日", "?\x93\xFA"},
            {1252, "\xEF\xBB\xBF-", "?-"}, // a byte order mark is a character, not dropped
            // Malformed UTF-8: one "?" per broken sequence, the text around it intact.
            {1252, "a\xFF-", "a?-"},
            {1252, "a\xE4-", "a?-"},
            {1252, "ab\xE2\x82", "ab?"},
            {65001, "a\xED\xA0\x80-", "a?-"},
        },
      decodes[] = {
          // Bytes the code page does not define, and a lead byte without its trail byte.
          {1252, "a\x81-", "a?-"},
          {932, "\x81 x", "? x"},
          {932, "x\x93", "x?"},
          {65001, "\xC3(", "?("},
      };
    for (const auto& c : encodes)
        EXPECT_EQ(CodePage(c.number).encode(c.in), c.out) << c.number << " " << c.in;
    for (const auto& c : decodes)
        EXPECT_EQ(CodePage(c.number).decode(c.in), c.out) << c.number << " " << c.in;
    EXPECT_EQ(CodePage(1252).encode(""), "");
    EXPECT_EQ(CodePage(932).decode(""), "");
}

TEST(CodePageTest, BytesThatAreNotUtf8ReadInTheCodePageAndEncodeBackToThemselves)
{
    const struct {
        unsigned number;
        std::string bytes;
        std::string text;
        bool encodesBack; // encode(text) gives the bytes again
    } cases[] = {
        // A Latin-1 name beside UTF-8 ones: each part read as what it is.
        {1252, "C:\\caf\xE9\\", "C:\\café\\", true},
        {1252, "caf\xC3\xA9/caf\xE9", "café/café", false},
        {1251, "caf\xE9", "cafй", true},
        {1253, "\xD9mega", "Ωmega", true},
        // Not UTF-8 by the standard's rules: overlong forms, surrogates, cut sequences, bytes
        // beyond U+10FFFF.
        {1252, "\xC0\xAF", "À¯", true},
        {1252, "\xE0\x80\xAF", "à€¯", true},
        {1252, "a\xED\xA0\x80", "aí\xC2\xA0€", true}, // í, no-break space, €
        {1252, "x\xC3", "xÃ", true},
        {1252, "\xF4\x90\x80", "ô?€", false}, // 0x90 is not defined
        {1252, "\xF5\x80", "õ€", true},
        {1252, "\xF0\x9F\x98", "ðŸ˜", true},
        // Valid UTF-8 at its limits stays UTF-8.
        {1252, "\xF4\x8F\xBF\xBF\xEF\xBF\xBD\xC2\x80", "\xF4\x8F\xBF\xBF\xEF\xBF\xBD\xC2\x80",
         false},
        {1252, std::string("a\0\xE9", 3), std::string("a\0é", 4), true},
        // A byte the code page does not define becomes "?".
        {1252, "M\x81\xFC", "M?ü", false},
        // Shift-JIS: a lead byte takes its trail byte, even a backslash or an ASCII letter.
        {932, "C:\\\x83\x5C\\\x93\xFA\x96\x7B", "C:\\ソ\\日本", true},
        {932, "\x83\x74x", "フx", true},
        {936, "\xD6\xD0\xCE\xC4.txt", "中文.txt", true},
    };
    for (const auto& c : cases) {
        const CodePage page(c.number);
        const std::string text = page.decodeUtf8OrPage(c.bytes);
        EXPECT_EQ(text, c.text) << c.number << " " << c.bytes;
        if (c.encodesBack) {
            EXPECT_EQ(page.encode(text), c.bytes) << c.number << " " << c.bytes;
        }
    }
    EXPECT_EQ(CodePage(1252).decodeUtf8OrPage(""), "");
}

TEST(CodePageTest, LongTextsConvertWhole)
{
    // Many characters that grow, and many that cannot be held, in one text.
    std::string text;
    std::string expected;
    std::string decoded;
    for (int i = 0; i < 5000; ++i) {
        text += "日é";
        expected += "\x93\xFA?";
        decoded += "日?";
    }
    EXPECT_EQ(CodePage(932).encode(text), expected);
    EXPECT_EQ(CodePage(932).decode(expected), decoded);
    std::string euros;
    for (int i = 0; i < 10000; ++i)
        euros += "€";
    EXPECT_EQ(CodePage(1252).decode(std::string(10000, '\x80')), euros);
}

TEST(CodePageTest, NumbersThatAreNoAnsiCodePageStandForWindows1252)
{
    for (unsigned number : {0u, 437u, 850u, 1200u, 1259u, 20127u, 65000u, 4294967295u}) {
        EXPECT_FALSE(CodePage::isSupported(number)) << number;
        EXPECT_EQ(CodePage(number).number(), 1252u) << number;
    }
}

class CodePageRegistryTest : public TempPrefixTest {};

TEST_F(CodePageRegistryTest, SystemAnsiCodePageComesFromTheMachineRegistry)
{
    // Without a registry, and in a fresh prefix, the system is a Western one.
    EXPECT_EQ(CodePage::systemAnsi().number(), 1252u);
    createDefaultPrefix();
    EXPECT_EQ(CodePage::systemAnsi().number(), 1252u);

    // The stock Wine prefix names 1252 itself.
    const std::filesystem::path stock = CRESTWICK_TESTDATA_DIR "/wine8-prefix/system.reg";
    ASSERT_TRUE(std::filesystem::exists(stock));
    writeFile(prefix() / "system.reg", readFile(stock));
    EXPECT_EQ(CodePage::systemAnsi().number(), 1252u);

    const struct {
        const char* line;
        unsigned expected;
    } cases[] = {
        {"\"ACP\"=\"1251\"", 1251},
        {"\"acp\"=\"932\"", 932},
        {"\"ACP\"=str(2):\"1250\"", 1250},
        {"\"ACP\"=\"65001\"", 65001},
        {"\"ACP\"=\"437\"", 1252},                     // an OEM code page, not an ANSI one
        {"\"ACP\"=\"\"", 1252},                        // empty
        {"\"ACP\"=\"1251x\"", 1252},                   // not a number
        {"\"ACP\"=\"4294967297\"", 1252},              // out of range
        {"\"ACP\"=\"12510000000000000000000\"", 1252}, // longer than any number
        {"\"ACP\"=dword:000004e3", 1252},              // a number, not the text the system keeps
        {"\"OEM\"=\"1251\"", 1252},                    // no ACP value
    };
    for (const auto& c : cases) {
        // Replaced as Wine replaces it, by a new file renamed over the old one.
        writeFile(prefix() / "system.reg.new", systemRegWithAcp(c.line));
        std::filesystem::rename(prefix() / "system.reg.new", prefix() / "system.reg");
        EXPECT_EQ(CodePage::systemAnsi().number(), c.expected) << c.line;
    }
}
