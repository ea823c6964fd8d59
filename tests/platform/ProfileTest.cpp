#include "platform/Profile.h"
#include "platform/ProfileText.h"
#include "tests/support/TempPrefix.h"

#include <sys/stat.h>

namespace fs = std::filesystem;
using platform::GetPrivateProfileStringA;
using platform::WritePrivateProfileStringA;

namespace {

constexpr const char* kFile = "C:\\WINDOWS\\system\\oeminfo.ini";

class ProfileTest : public TempPrefixTest {
protected:
    void SetUp() override
    {
        TempPrefixTest::SetUp();
        createDefaultPrefix();
    }

    fs::path ini() const { return windowsDir() / "system" / "oeminfo.ini"; }

    // Reads through a buffer of the given size and checks the NUL after the copied characters.
    static std::string read(const char* section, const char* key, const char* defaultValue = "dflt",
                            unsigned size = 1024, const char* file = kFile)
    {
        std::string buffer(size + 1, '#');
        const unsigned count =
            GetPrivateProfileStringA(section, key, defaultValue, buffer.data(), size, file);
        EXPECT_LT(count, std::max(size, 1u));
        if (size > 0) {
            EXPECT_EQ(buffer[count], '\0');
        }
        EXPECT_EQ(buffer[size], '#') << "written past the buffer";
        return buffer.substr(0, count);
    }

    static bool write(const char* section, const char* key, const char* value,
                      const char* file = kFile)
    {
        return WritePrivateProfileStringA(section, key, value, file);
    }

    int entriesIn(const fs::path& folder) const
    {
        int count = 0;
        for ([[maybe_unused]] const auto& entry : fs::directory_iterator(folder))
            ++count;
        return count;
    }
};

struct LookupCase {
    const char* file;
    const char* section;
    const char* key;
    const char* expected; // "dflt" is the default
};

} // namespace

TEST_F(ProfileTest, ReadsTheFileAfreshAtEveryCall)
{
    EXPECT_EQ(read("general", "Model"), "dflt");
    writeFile(ini(), "[general]\r\nModel=one\r\n");
    EXPECT_EQ(read("general", "Model"), "one");
    writeFile(ini(), "[general]\r\nModel=two\r\n");
    EXPECT_EQ(read("general", "Model"), "two");
    fs::remove(ini());
    EXPECT_EQ(read("general", "Model"), "dflt");
}

TEST_F(ProfileTest, ParsesLinesHeadersKeysQuotesCommentsAndDuplicates)
{
    using namespace std::string_literals;
    static const std::string nulFile = "[s]\r\nbad=x\0y\r\nk\0=1\r\nafter=ok"s;
    const LookupCase cases[] = {
        // Line endings of every kind, mixed, and a missing final break.
        {"[s]\r\na=1\r\nb=2\r\n", "s", "b", "2"},
        {"[s]\na=1\nb=2\n", "s", "b", "2"},
        {"[s]\ra=1\rb=2\r", "s", "b", "2"},
        {"[s]\ra=1\nb=2\r\nc=3", "s", "c", "3"},
        {"[s]\r\r\na=1", "s", "a", "1"},
        // A byte-order mark before the first header; bytes are not converted.
        {"\xEF\xBB\xBF[s]\r\na=1\r\n", "s", "a", "1"},
        {"[s]\r\na=\xE9t\xE9\r\n", "s", "a", "\xE9t\xE9"},
        // Headers: spaces and tabs inside the brackets, text after them, leading spaces.
        {"[ section1 ]\r\na=1\r\n", "section1", "a", "1"},
        {"[\tsection1\t]\r\na=1\r\n", "section1", "a", "1"},
        {"[s] trailing ; text\r\na=1\r\n", "s", "a", "1"},
        {"  [s]\r\na=1\r\n", "s", "a", "1"},
        // A line without its "]" is no header: the keys after it stay in the section before.
        {"[s]\r\n[nobracket\r\na=1\r\n", "s", "a", "1"},
        {"[s]\r\n[nobracket\r\na=1\r\n", "nobracket", "a", "dflt"},
        {"[s\r\na=1\r\n", "s", "a", "dflt"},
        // Section "" holds the keys before the first header; a header "[]" comes after it.
        {"a=1\r\n[s]\r\n", "", "a", "1"},
        {"a=1\r\n[s]\r\n", "  ", "a", "1"},
        {"[]\r\na=1\r\n", "", "a", "dflt"},
        // The caller's section name is trimmed for a key, as the file's is.
        {"[ a ]\r\nk=1\r\n", " a ", "k", "1"},
        // Case of ASCII letters is ignored; other bytes must match exactly.
        {"[GENERAL]\r\nMODEL=1\r\n", "general", "model", "1"},
        {"[general]\r\nmodel=1\r\n", "GeNeRaL", "MoDeL", "1"},
        {"[\xC9T\xC9]\r\na=1\r\n", "\xE9t\xE9", "a", "dflt"},
        // Key lines: spaces around key and value, one pair of matching quotes.
        {"[s]\r\n  name1 \t=\t val1  \r\n", "s", "name1", "val1"},
        {"[s]\r\nname2=\"val2\"\r\n", "s", "name2", "val2"},
        {"[s]\r\nname2='val2'\r\n", "s", "name2", "val2"},
        {"[s]\r\nname2= \"val2\" \r\n", "s", "name2", "val2"},
        {"[s]\r\nname2=\"\"val2\"\"\r\n", "s", "name2", "\"val2\""},
        {"[s]\r\nname2=\"val2'\r\n", "s", "name2", "\"val2'"},
        {"[s]\r\nname2=\"\r\n", "s", "name2", "\""},
        {"[s]\r\nname2=\"\"\r\n", "s", "name2", ""},
        {"[s]\r\nname2=a=b\r\n", "s", "name2", "a=b"},
        // Comments and lines without "=" never match.
        {"[s]\r\n;a=1\r\n", "s", ";a", "dflt"},
        {"[s]\r\n  ;a=1\r\n", "s", "a", "dflt"},
        {"[s]\r\nlonely\r\n", "s", "lonely", "dflt"},
        // Keys before the first header belong to no named section.
        {"a=1\r\n[s]\r\n", "s", "a", "dflt"},
        // The first occurrence of a key and of a section wins.
        {"[s]\r\na=1\r\na=2\r\n", "s", "a", "1"},
        {"[s]\r\na=1\r\n[S]\r\na=2\r\nb=3\r\n", "s", "a", "1"},
        {"[s]\r\na=1\r\n[S]\r\na=2\r\nb=3\r\n", "s", "b", "dflt"},
        // An empty value is a value.
        {"[s]\r\nname2=\r\n", "s", "name2", ""},
        {"[s]\r\nname2=  \r\n", "s", "name2", ""},
        // A NUL byte inside a line does no harm to the lines after it.
        {nulFile.c_str(), "s", "after", "ok"},
    };
    for (const LookupCase& c : cases) {
        std::string bytes = c.file;
        if (c.file == nulFile.c_str())
            bytes = nulFile;
        writeFile(ini(), bytes);
        EXPECT_EQ(read(c.section, c.key), c.expected) << c.file;
    }
    writeFile(ini(), nulFile);
    // A NUL byte ends the value: what follows it on the line is not part of it.
    EXPECT_EQ(read("s", "bad"), "x");
    writeFile(ini(), "[s]\r\nq=\"v\"\0junk\"\r\nsp=v \0 junk\r\n"s);
    EXPECT_EQ(read("s", "q"), "v");
    EXPECT_EQ(read("s", "sp"), "v");
}

TEST_F(ProfileTest, MissingFileSectionOrKeyGiveTheDefaultWithoutTrailingSpaces)
{
    struct {
        const char* file; // nullptr: no file
        const char* section;
        const char* key;
        const char* defaultValue;
        const char* expected;
    } const cases[] = {
        {nullptr, "s", "a", "default  ", "default"},
        {"[s]\r\na=1\r\n", "t", "a", "  default", "  default"},
        {"[s]\r\na=1\r\n", "s", "b", "de fault\t", "de fault\t"},
        {"[s]\r\na=1\r\n", "s", "b", nullptr, ""},
        // A default made only of spaces keeps one, as Windows returns it: the trailing spaces
        // go, but not the whole default. A caller that passes spaces as its default gets what it
        // gets on Windows, and the program's own defaults hold no such value.
        {"[s]\r\na=1\r\n", "s", "b", "   ", " "},
        {"[s]\r\na=1\r\n", "s", "b", " ", " "},
    };
    for (const auto& c : cases) {
        fs::remove(ini());
        if (c.file)
            writeFile(ini(), c.file);
        EXPECT_EQ(read(c.section, c.key, c.defaultValue), c.expected);
    }
    // A file on a drive that does not exist, and a directory in the file's place.
    EXPECT_EQ(read("s", "a", "d", 1024, "Q:\\x.ini"), "d");
    fs::remove(ini());
    fs::create_directories(ini());
    EXPECT_EQ(read("s", "a", "d"), "d");
}

TEST_F(ProfileTest, CopiesAtMostSizeMinusOneCharactersFollowedByANul)
{
    const std::string huge(5000, 'v');
    writeFile(ini(), "[s]\r\nkey=" + huge + "x\r\nshort=abc\r\n");
    EXPECT_EQ(read("s", "key"), huge.substr(0, 1023));
    EXPECT_EQ(read("s", "short", "dflt", 4), "abc");
    EXPECT_EQ(read("s", "short", "dflt", 3), "ab");
    EXPECT_EQ(read("s", "short", "dflt", 1), "");
    EXPECT_EQ(read("s", "missing", "default", 4), "def");

    // A quoted value is cut to the buffer first and loses its quotes afterwards: one character
    // fewer than a plain value fits.
    writeFile(ini(), "[s]\r\nq=\"abcd\"\r\n");
    const struct {
        unsigned size;
        const char* expected;
    } quoted[] = {{5, "abc"}, {6, "abcd"}, {7, "abcd"}, {3, "a"}, {2, ""}, {1, ""}};
    for (const auto& c : quoted)
        EXPECT_EQ(read("s", "q", "dflt", c.size), c.expected) << "size " << c.size;

    char untouched[2] = {'#', '#'};
    EXPECT_EQ(GetPrivateProfileStringA("s", "short", "d", untouched, 0, kFile), 0u);
    EXPECT_EQ(untouched[0], '#');
}

TEST_F(ProfileTest, NullSectionOrKeyListsTheNamesEachEndingInANul)
{
    using namespace std::string_literals;
    const char* names = "[one]\r\na=1\r\nB=2\r\nA=3\r\n[Two]\r\n[ONE]\r\nc=4\r\n";
    const char* empties = "[]\r\n=v\r\n[s]\r\n=v\r\n  =w\r\nk=1\r\n=x\r\n";
    struct {
        const char* file; // nullptr: no file
        const char* section;
        const char* defaultValue;
        std::string expected;
    } const cases[] = {
        {names, nullptr, "d", "one\0Two\0"s},
        {names, "one", "d", "a\0B\0"s},
        {names, "two", "d", ""},
        // The key list of a section or a file that is not there is the default, as a value's is.
        {names, "three", "dflt", "dflt"},
        {names, "three", nullptr, ""},
        {nullptr, "one", "dflt", "dflt"},
        {nullptr, nullptr, "dflt", ""},
        // The section of a key list is compared as given: " a " is not the file's "[ a ]".
        {"[ a ]\r\nk=1\r\n", "a", "d", "k\0"s},
        {"[ a ]\r\nk=1\r\n", " a ", nullptr, ""},
        // Section "" lists the keys before the first header.
        {"a=1\r\n[s]\r\n", "", "d", "a\0"s},
        {empties, "", "d", ""},
        // Empty names are left out. Windows puts an empty key name into the list, which ends the
        // list at its start (result 0) and hides every name after it; its documentation promises
        // the names of all keys and says nothing of empty ones, so the rule that leaves them out
        // stays: "=v" before "k=w" lists "k".
        {empties, nullptr, "d", "s\0"s},
        {empties, "s", "d", "k\0"s},
        {"[s]\r\n=v\r\nk=w\r\n", "s", "d", "k\0"s},
    };
    for (const auto& c : cases) {
        fs::remove(ini());
        if (c.file)
            writeFile(ini(), c.file);
        EXPECT_EQ(read(c.section, nullptr, c.defaultValue, 64), c.expected)
            << (c.file ? c.file : "(no file)") << " " << (c.section ? c.section : "(null)");
    }
}

TEST_F(ProfileTest, ListsThatDoNotFitOrFitExactlyAreCutToTwoBelowTheSize)
{
    using namespace std::string_literals;
    writeFile(ini(), "[one]\r\n[Two]\r\n");
    // The whole list "one\0Two\0\0" is 9 bytes.
    struct {
        unsigned size;
        unsigned result;
        std::string bytes; // the whole buffer afterwards
    } const cases[] = {
        {64, 8, "one\0Two\0\0"s}, {10, 8, "one\0Two\0\0#"s}, // one byte to spare: whole, and
                                                             // nothing more written
        {9, 7, "one\0Two\0\0"s},                             // an exact fit counts as cut
        {8, 6, "one\0Tw\0\0"s},   {6, 4, "one\0\0\0"s},      {5, 3, "one\0\0"s},
        {3, 1, "o\0\0"s},         {2, 0, "\0\0"s},           {1, 0, "\0"s},
    };
    for (const auto& c : cases) {
        std::string buffer(c.bytes.size() + 4, '#');
        EXPECT_EQ(GetPrivateProfileStringA(nullptr, nullptr, "d", buffer.data(), c.size, kFile),
                  c.result)
            << "size " << c.size;
        EXPECT_EQ(buffer, c.bytes + "####") << "size " << c.size;
    }

    // Key lists follow the same rule.
    writeFile(ini(), "[s]\r\nab=1\r\ncd=2\r\n");
    std::string buffer(10, '#');
    EXPECT_EQ(GetPrivateProfileStringA("s", nullptr, "d", buffer.data(), 7, kFile), 5u);
    EXPECT_EQ(buffer, "ab\0cd\0\0###"s);
    EXPECT_EQ(GetPrivateProfileStringA("s", nullptr, "d", buffer.data(), 6, kFile), 4u);
    EXPECT_EQ(buffer.substr(0, 6), "ab\0c\0\0"s);
}

TEST_F(ProfileTest, NewFileOrEmptyFileBecomesExactlyTheSectionAndTheKey)
{
    EXPECT_TRUE(write("App", "key", "string"));
    EXPECT_EQ(readFile(ini()), "[App]\r\nkey=string\r\n");
    writeFile(ini(), "");
    EXPECT_TRUE(write("App", "key", ""));
    EXPECT_EQ(readFile(ini()), "[App]\r\nkey=\r\n");
    EXPECT_EQ(read("App", "key"), "");
}

TEST_F(ProfileTest, NewKeysFollowTheSectionsLastLineAndNewSectionsGoAtTheEnd)
{
    struct {
        const char* before;
        const char* section;
        const char* after;
    } const cases[] = {
        // After the last key, before the blank lines and comments that end the section.
        {"[s]\r\na=1\r\n\r\n; note\r\n[t]\r\n", "s", "[s]\r\na=1\r\nk=v\r\n\r\n; note\r\n[t]\r\n"},
        {"[s]\r\n\r\n[t]\r\n", "s", "[s]\r\nk=v\r\n\r\n[t]\r\n"},
        {"[s]\na=1\n", "s", "[s]\na=1\nk=v\r\n"},
        {"[s]\na=1", "s", "[s]\na=1\r\nk=v\r\n"},
        {"[s]", "s", "[s]\r\nk=v\r\n"},
        {"[s]\r\njunk line\r\n;c\r\n", "s", "[s]\r\njunk line\r\nk=v\r\n;c\r\n"},
        // The first of two sections of the same name takes the key.
        {"[s]\r\na=1\r\n[S]\r\n", "S", "[s]\r\na=1\r\nk=v\r\n[S]\r\n"},
        // A new section: no blank line before it, a line break added when the file lacks one.
        {"[s]\r\na=1\r\n", "new", "[s]\r\na=1\r\n[new]\r\nk=v\r\n"},
        {"[s]\r\na=1\r\n\r\n", "new", "[s]\r\na=1\r\n\r\n[new]\r\nk=v\r\n"},
        {"[s]\na=1", "new", "[s]\na=1\r\n[new]\r\nk=v\r\n"},
        {"[s]\ra=1\r", "new", "[s]\ra=1\r[new]\r\nk=v\r\n"},
        {"; only a comment", "new", "; only a comment\r\n[new]\r\nk=v\r\n"},
        {"\xEF\xBB\xBF", "new", "\xEF\xBB\xBF[new]\r\nk=v\r\n"},
        // Section "" is the part before the first header; it has no header to write.
        {"a=1\r\n; c\r\n[s]\r\n", "", "a=1\r\nk=v\r\n; c\r\n[s]\r\n"},
        {"\xEF\xBB\xBF[s]\r\n", "", "\xEF\xBB\xBFk=v\r\n[s]\r\n"},
        {"a=1", "", "a=1\r\nk=v\r\n"},
        {"", "", "k=v\r\n"},
    };
    for (const auto& c : cases) {
        writeFile(ini(), c.before);
        EXPECT_TRUE(write(c.section, "k", "v"));
        EXPECT_EQ(readFile(ini()), c.after) << c.before;
        EXPECT_EQ(read(c.section, "k"), "v");
    }
}

TEST_F(ProfileTest, AnExistingKeyChangesInPlaceKeepingItsSpellingAndLineEnding)
{
    struct {
        const char* before;
        const char* after;
    } const cases[] = {
        {"[s]\r\nKey=old\r\nz=1\r\n", "[s]\r\nKey=new\r\nz=1\r\n"},
        {"[s]\nKEY=old\nz=1\n", "[s]\nKEY=new\nz=1\n"},
        {"[s]\rkey=old\rz=1\r", "[s]\rkey=new\rz=1\r"},
        {"[s]\r\n  key = \"old\" \r\n", "[s]\r\n  key =new\r\n"},
        {"[s]\r\nkey=", "[s]\r\nkey=new"},
        {"[s]\r\nkey=old\r\nkey=second\r\n", "[s]\r\nkey=new\r\nkey=second\r\n"},
    };
    for (const auto& c : cases) {
        writeFile(ini(), c.before);
        EXPECT_TRUE(write("s", "key", "new"));
        EXPECT_EQ(readFile(ini()), c.after) << c.before;
    }
}

TEST_F(ProfileTest, EverythingTheEditDoesNotTouchIsKeptByteForByte)
{
    using namespace std::string_literals;
    const std::string head = "\xEF\xBB\xBF"
                             "preamble=1\r\n"
                             "; comment\n"
                             "[Other]\r\n"
                             "MiXed=Case\r"
                             "no equals here\n"
                             "nul=a\0b\r\n"s;
    const std::string tail = "\r\n"
                             "\t\r\n"
                             "[Last]\n"
                             "x = 'q'";
    writeFile(ini(), head + "[general]\r\nModel=old\n" + tail);
    EXPECT_TRUE(write("GENERAL", "model", "new value"));
    EXPECT_TRUE(write("General", "Manufacturer", "Me"));
    EXPECT_EQ(readFile(ini()), head + "[general]\r\nModel=new value\nManufacturer=Me\r\n" + tail);
    EXPECT_TRUE(write("general", "Manufacturer", nullptr));
    EXPECT_EQ(readFile(ini()), head + "[general]\r\nModel=new value\n" + tail);
}

TEST_F(ProfileTest, NullValueDeletesTheKeyAndNullKeyTheSection)
{
    const std::string file = "[s]\r\na=1\r\nb=2\r\na=3\r\n[t]\r\nc=4\r\n";
    struct {
        const char* section;
        const char* key;
        std::string after;
    } const cases[] = {
        {"S", "A", "[s]\r\nb=2\r\na=3\r\n[t]\r\nc=4\r\n"},
        {"s", "missing", file},
        {"missing", "a", file},
        {"t", "c", "[s]\r\na=1\r\nb=2\r\na=3\r\n[t]\r\n"},
        {"s", nullptr, "[t]\r\nc=4\r\n"},
        {"T", nullptr, "[s]\r\na=1\r\nb=2\r\na=3\r\n"},
        {"missing", nullptr, file},
        // A key's section is trimmed, a section to delete is taken as it is.
        {" s ", "b", "[s]\r\na=1\r\na=3\r\n[t]\r\nc=4\r\n"},
        {" t ", nullptr, file},
        // Section "" is the part before the first header, here empty.
        {"", nullptr, file},
    };
    for (const auto& c : cases) {
        writeFile(ini(), file);
        EXPECT_TRUE(write(c.section, c.key, nullptr));
        EXPECT_EQ(readFile(ini()), c.after);
    }
    // Deleting section "" takes the lines before the first header.
    writeFile(ini(), "a=1\r\n; c\r\n[s]\r\nb=2\r\n");
    EXPECT_TRUE(write("", nullptr, nullptr));
    EXPECT_EQ(readFile(ini()), "[s]\r\nb=2\r\n");
    // A null key deletes the section whatever the value.
    writeFile(ini(), file);
    EXPECT_TRUE(write("s", nullptr, "ignored"));
    EXPECT_EQ(readFile(ini()), "[t]\r\nc=4\r\n");

    // Deleting in a file that does not exist creates nothing.
    fs::remove(ini());
    const int before = entriesIn(ini().parent_path());
    EXPECT_TRUE(write("s", "a", nullptr));
    EXPECT_TRUE(write("s", nullptr, nullptr));
    EXPECT_TRUE(write("s", "a", nullptr, "C:\\WINDOWS\\no folder\\x.ini"));
    EXPECT_FALSE(fs::exists(ini()));
    EXPECT_FALSE(fs::exists(windowsDir() / "no folder"));
    EXPECT_EQ(entriesIn(ini().parent_path()), before);
}

TEST_F(ProfileTest, WritesThatCannotBeDoneFailAndChangeNothing)
{
    const std::string content = "[s]\r\na=1\r\n";
    const fs::path readOnlyFolder = windowsDir() / "locked";
    writeFile(readOnlyFolder / "oeminfo.ini", content);
    ::chmod(readOnlyFolder.c_str(), 0555);
    writeFile(ini(), content);
    ::chmod(ini().c_str(), 0444);
    fs::create_directories(windowsDir() / "folder.ini");

    struct {
        const char* file;
        const char* section;
        const char* key;
        const char* value;
    } const cases[] = {
        {"C:\\WINDOWS\\missing\\oeminfo.ini", "s", "a", "2"},
        {"C:\\WINDOWS\\locked\\oeminfo.ini", "s", "a", "2"},
        {"C:\\WINDOWS\\locked\\oeminfo.ini", "s", "a", nullptr},
        {"C:\\WINDOWS\\locked\\oeminfo.ini", "s", nullptr, nullptr},
        {"C:\\WINDOWS\\locked\\new.ini", "s", "a", "2"},
        {kFile, "s", "a", "2"},
        {kFile, "s", "a", nullptr},
        {kFile, "new", "a", "2"},
        {"C:\\WINDOWS\\folder.ini", "s", "a", "2"},
        {"C:\\WINDOWS\\folder.ini", "s", "a", nullptr},
        {"Q:\\nodrive.ini", "s", "a", "2"},
        // A null section, and names or values that cannot be stored on one line.
        {"C:\\WINDOWS\\fresh.ini", nullptr, "a", "2"},
        {"C:\\WINDOWS\\fresh.ini", nullptr, nullptr, nullptr},
        {"C:\\WINDOWS\\fresh.ini", "s", "a", "two\r\n[lines]"},
        {"C:\\WINDOWS\\fresh.ini", "s\n", "a", "2"},
        {"C:\\WINDOWS\\fresh.ini", "s]x", "a", "2"},
        {"C:\\WINDOWS\\fresh.ini", "s", "a=b", "2"},
        {"C:\\WINDOWS\\fresh.ini", "s", ";a", "2"},
        {"C:\\WINDOWS\\fresh.ini", "s", " [a", "2"},
        {"C:\\WINDOWS\\fresh.ini", "", "\xEF\xBB\xBFk", "2"},
    };
    for (const auto& c : cases)
        EXPECT_FALSE(write(c.section, c.key, c.value, c.file)) << c.file << " " << c.key;

    EXPECT_EQ(readFile(readOnlyFolder / "oeminfo.ini"), content);
    EXPECT_EQ(entriesIn(readOnlyFolder), 1);
    EXPECT_EQ(readFile(ini()), content);
    EXPECT_FALSE(fs::exists(windowsDir() / "missing"));
    EXPECT_FALSE(fs::exists(windowsDir() / "fresh.ini"));
    EXPECT_TRUE(fs::is_directory(windowsDir() / "folder.ini"));
    EXPECT_TRUE(fs::is_empty(windowsDir() / "folder.ini"));
}

TEST_F(ProfileTest, WritesReplaceTheFileAtomicallyAndKeepItsPermissions)
{
    writeFile(ini(), "[s]\r\na=1\r\n");
    ::chmod(ini().c_str(), 0640);
    struct stat before {};
    ::stat(ini().c_str(), &before);
    const int entries = entriesIn(ini().parent_path());

    EXPECT_TRUE(write("s", "a", "2"));

    struct stat after {};
    ::stat(ini().c_str(), &after);
    EXPECT_EQ(after.st_mode & 07777, 0640u);
    EXPECT_NE(after.st_ino, before.st_ino) << "the file was rewritten in place";
    EXPECT_EQ(entriesIn(ini().parent_path()), entries) << "a temporary file was left behind";
    EXPECT_EQ(readFile(ini()), "[s]\r\na=2\r\n");
}

TEST_F(ProfileTest, ABareFileNameLiesInTheWindowsDirectory)
{
    EXPECT_TRUE(write("s", "a", "1", "bare.ini"));
    EXPECT_EQ(readFile(windowsDir() / "bare.ini"), "[s]\r\na=1\r\n");
    EXPECT_FALSE(fs::exists(temp() / "bare.ini"));
    EXPECT_EQ(read("s", "a", "d", 1024, "BARE.INI"), "1");
    // A relative path with a folder is taken from the current directory.
    fs::create_directories(temp() / "sub");
    EXPECT_TRUE(write("s", "a", "2", "sub\\rel.ini"));
    EXPECT_EQ(readFile(temp() / "sub" / "rel.ini"), "[s]\r\na=2\r\n");
}

TEST(ProfileTextTest, EditsOfHugeFilesStayLinear)
{
    // A hundred thousand sections of a few keys each: lookups and edits at the far end.
    std::string text;
    for (int i = 0; i < 100000; ++i)
        text += "[s" + std::to_string(i) + "]\r\na=" + std::to_string(i) + "\r\nb=x\r\n";
    using platform::ProfileText;
    EXPECT_EQ(ProfileText::value(text, "S99999", "A"), "99999");
    const std::string edited = ProfileText::writeValue(text, "s99999", "c", "new");
    EXPECT_EQ(edited.size(), text.size() + 7);
    EXPECT_EQ(ProfileText::value(edited, "s99999", "c"), "new");
    EXPECT_EQ(ProfileText::deleteSection(edited, "s0")->size(), text.size() + 7 - 16);
    EXPECT_EQ(ProfileText::sectionNames(text).size(), 100000u);
    // A single line of a million bytes with no line break at all.
    const std::string junk(1000000, '[');
    EXPECT_EQ(ProfileText::value(junk, std::string(999999, '['), "a"), std::nullopt);
    EXPECT_EQ(ProfileText::keyNames(junk, "x"), std::nullopt);
}
