// crestwick-oem on WIM images (made here with wimlib's tools from test volumes) and on answer
// files: what changes reads back through wimlib and libhivex, and nothing else changes.
#include "platform/Registry.h"
#include "tests/support/TempPrefix.h"
#include "tests/support/TestHive.h"

#include <cstdint>
#include <cstdlib>
#include <string>

namespace fs = std::filesystem;

namespace {

const std::vector<Key> kWindows10 = {
    {"Microsoft\\Windows NT\\CurrentVersion",
     {{"SystemRoot", platform::REG_SZ, text("C:\\Windows")},
      {"CurrentMajorVersionNumber", platform::REG_DWORD, dword(10)},
      {"CurrentVersion", platform::REG_SZ, text("6.3")},
      {"ProductName", platform::REG_SZ, text("Windows 10 Pro")}}},
    {"Microsoft\\Windows\\CurrentVersion\\OEMInformation",
     {{"Manufacturer", platform::REG_SZ, text("Old Maker")}}},
};

std::uint64_t little(const std::string& bytes, std::size_t at, int count)
{
    std::uint64_t value = 0;
    for (int i = count - 1; i >= 0; --i)
        value = value << 8 | std::uint8_t(bytes[at + i]);
    return value;
}

// The WIM file with the compressed blob of the given size claiming some 138 TB instead: its
// chunk table alone would take 33 GB. The blob table's resource header is at 48 in the file
// header; each entry is 50 bytes, its flags at 7 (0x04: compressed) and its original size at 16.
std::string withHugeBlob(std::string wim, std::uint64_t size)
{
    const std::uint64_t table = little(wim, 56, 8);
    const std::uint64_t tableSize = little(wim, 48, 7);
    for (std::uint64_t entry = table; entry + 50 <= table + tableSize; entry += 50) {
        if ((std::uint8_t(wim[entry + 7]) & 0x04) && little(wim, entry + 16, 8) == size) {
            const std::uint64_t huge = 0xfc000000ull << 15;
            for (int i = 0; i < 8; ++i)
                wim[entry + 16 + i] = char(huge >> (8 * i));
            return wim;
        }
    }
    ADD_FAILURE() << "no compressed blob of " << size << " bytes in the file";
    return wim;
}

class ImageTest : public TempPrefixTest {
protected:
    // Runs a shell command line in the temporary folder; its status, and what it printed.
    int sh(const std::string& line, std::string* out = nullptr)
    {
        const fs::path file = temp() / "out.txt";
        const int status = std::system(("cd '" + temp().string() + "' && (" + line + ") >'" +
                                        file.string() + "' 2>&1")
                                           .c_str());
        if (out)
            *out = readFile(file);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    int tool(const std::string& args, std::string* out = nullptr)
    {
        // The tool needs no display: it runs without one, and without Qt's platform setting.
        return sh(std::string("env -u QT_QPA_PLATFORM -u DISPLAY -u WAYLAND_DISPLAY '") +
                      CRESTWICK_OEM_TOOL + "' " + args,
                  out);
    }
    // A Windows 10 volume with one more file beside the OEM files.
    void makeVolume(const fs::path& folder)
    {
        makeWindowsVolume(folder, kWindows10);
        writeFile(folder / "Windows/System32/other.dll", std::string(70000, 'x') + "end");
    }
    void SetUp() override
    {
        TempPrefixTest::SetUp();
        if (std::system("command -v wimcapture >/dev/null 2>&1") != 0)
            GTEST_SKIP() << "wimlib's tools (Debian wimtools) are not installed";
        makeVolume(temp() / "volume");
    }
};

} // namespace

TEST_F(ImageTest, SetAndLogoGoIntoTheImageAndEverythingElseStays)
{
    struct Case {
        const char* what;
        const char* capture; // wimcapture's options
        const char* name;    // as the tool names the image
        const char* info;    // a line wiminfo prints before and after
    };
    const Case cases[] = {
        {"LZX", "--compress=LZX", "x.wim", "Compression: LZX"},
        {"XPRESS with an integrity table", "--compress=XPRESS --check", "x.wim",
         "Attributes: Integrity info"},
        {"the second of two images", "--compress=LZX", "x.wim:2", "Image Count: 2"},
    };
    writeFile(temp() / "logo.bmp", readFile(fs::path(CRESTWICK_TESTDATA_DIR) /
                                            "bmpsuite/g/rgb24.bmp"));
    for (const Case& c : cases) {
        fs::remove(temp() / "x.wim");
        ASSERT_EQ(sh(std::string("wimcapture volume x.wim First ") + c.capture), 0) << c.what;
        const bool two = std::string(c.name).ends_with(":2");
        if (two) {
            ASSERT_EQ(sh("echo first > volume/first.txt && wimappend volume x.wim Second"), 0);
        }
        std::string before;
        sh("wiminfo x.wim | tr -s ' '", &before);
        EXPECT_NE(before.find(c.info), std::string::npos) << before;

        std::string out;
        ASSERT_EQ(tool(std::string("--image ") + c.name +
                           " set --model 'Tower 7' --support-url http://x.example/",
                       &out),
                  0)
            << c.what << out;
        ASSERT_EQ(tool(std::string("--image ") + c.name + " logo logo.bmp", &out), 0) << out;

        std::string after;
        sh("wiminfo x.wim | tr -s ' '", &after);
        for (const char* line : {"Compression:", "Attributes:", "Image Count:"}) {
            const auto field = [&](const std::string& all) {
                const std::size_t at = all.find(line);
                return all.substr(at, all.find('\n', at) - at);
            };
            EXPECT_EQ(field(after), field(before)) << c.what;
        }
        const std::string image = two ? "2" : "1";
        fs::remove_all(temp() / "out");
        ASSERT_EQ(sh("wimapply x.wim " + image + " out"), 0) << c.what;
        const Dump dump = dumpHive(temp() / "out/Windows/System32/config/SOFTWARE");
        const std::string key = "\\Microsoft\\Windows\\CurrentVersion\\OEMInformation|";
        EXPECT_EQ(dump.at(key + "Model").second, text("Tower 7")) << c.what;
        EXPECT_EQ(dump.at(key + "Manufacturer").second, text("Old Maker")) << c.what;
        EXPECT_EQ(dump.at(key + "SupportURL").second, text("http://x.example/")) << c.what;
        EXPECT_EQ(dump.at(key + "Logo").second, text("C:\\Windows\\System32\\oemlogo.bmp"));
        EXPECT_TRUE(readFile(temp() / "out/Windows/System32/oemlogo.bmp").starts_with("BM"));
        EXPECT_EQ(readFile(temp() / "out/Windows/System32/other.dll"),
                  readFile(temp() / "volume/Windows/System32/other.dll"));
        if (two) {
            // The other image still holds the hive it was captured with.
            fs::remove_all(temp() / "out");
            ASSERT_EQ(sh("wimapply x.wim 1 out"), 0);
            EXPECT_EQ(readFile(temp() / "out/Windows/System32/config/SOFTWARE"),
                      readFile(temp() / "volume/Windows/System32/config/SOFTWARE"));
            fs::remove(temp() / "volume/first.txt");
        }
        std::string show;
        ASSERT_EQ(tool(std::string("--image ") + c.name + " show --json", &show), 0);
        EXPECT_NE(show.find("\"model\":\"Tower 7\""), std::string::npos) << show;
        EXPECT_EQ(sh("wimverify x.wim"), 0) << c.what;
    }
}

TEST_F(ImageTest, ImagesAreNamedListedAndRefusedWhenUnusable)
{
    ASSERT_EQ(sh("wimcapture volume x.wim First && wimappend volume x.wim Second"), 0);
    std::string out;
    EXPECT_EQ(tool("--image x.wim show --list-images", &out), 0);
    EXPECT_EQ(out, "1\tFirst\tWindows 10 Pro (10.0)\n2\tSecond\tWindows 10 Pro (10.0)\n");

    writeFile(temp() / "bad.wim", "MSWIM\0\0\0 not really a WIM file");
    fs::copy_file(temp() / "volume/Windows/System32/config/SOFTWARE", temp() / "unclean");
    markNotShutDownCleanly(temp() / "volume/Windows/System32/config/SOFTWARE");
    ASSERT_EQ(sh("wimcapture volume unclean.wim Unclean && wimcapture --solid volume y.esd"), 0);
    writeFile(temp() / "huge.wim",
              withHugeBlob(readFile(temp() / "x.wim"),
                           fs::file_size(temp() / "volume/Windows/System32/config/SOFTWARE")));
    struct Case {
        const char* args;
        int status;
        const char* message;
    };
    const Case cases[] = {
        {"--image x.wim show", 2, "x.wim holds 2 images: name one as x.wim:INDEX"},
        {"--image x.wim:3 show", 2, "no image 3 in x.wim"},
        {"show --list-images", 2, "--list-images needs --image"},
        {"--image bad.wim show", 1, "bad.wim cannot be used: "},
        {"--image huge.wim:1 show", 1, "huge.wim cannot be read: "},
        {"--image missing.wim show", 1, "missing.wim cannot be used: "},
        {"--image unclean.wim set --model M", 1, "not shut down cleanly"},
        {"--image y.esd set --model M", 1,
         "y.esd is a solid (ESD) image file: it can be shown and backed up but not written"},
    };
    std::string wim = readFile(temp() / "x.wim");
    std::string unclean = readFile(temp() / "unclean.wim");
    for (const Case& c : cases) {
        EXPECT_EQ(tool(c.args, &out), c.status) << c.args << out;
        EXPECT_NE(out.find(c.message), std::string::npos) << c.args << ": " << out;
    }
    EXPECT_EQ(readFile(temp() / "x.wim"), wim);
    EXPECT_EQ(readFile(temp() / "unclean.wim"), unclean);
    // A solid file is read.
    EXPECT_EQ(tool("--image y.esd show", &out), 0) << out;
    EXPECT_NE(out.find("Old Maker"), std::string::npos) << out;
}

TEST_F(ImageTest, AnswerFilesAreShownAndSetAndRefuseTheRest)
{
    const std::string plain = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
                              "<unattend xmlns=\"urn:schemas-microsoft-com:unattend\">\n"
                              "    <!-- keep -->\n"
                              "</unattend>\n";
    writeFile(temp() / "a.xml", plain);
    std::string out;
    EXPECT_EQ(tool("--unattend a.xml set --manufacturer Q --model 'T 7' --support-phone '+1 5'",
                   &out),
              0)
        << out;
    EXPECT_EQ(tool("--unattend a.xml logo 'C:\\Windows\\oem.bmp'", &out), 0) << out;
    EXPECT_EQ(tool("--unattend a.xml show --json", &out), 0) << out;
    EXPECT_EQ(out, "{\"answerFile\":\"a.xml\",\"helpCustomized\":null,\"logo\":"
                   "\"C:\\\\Windows\\\\oem.bmp\",\"manufacturer\":\"Q\",\"model\":\"T 7\","
                   "\"pass\":\"specialize\",\"supportHours\":null,\"supportPhone\":\"+1 5\","
                   "\"supportUrl\":null}\n");
    const std::string written = readFile(temp() / "a.xml");
    struct Case {
        const char* args;
        const char* message;
    };
    for (const Case& c : {Case{"--unattend a.xml backup b", "'backup' does not work on an answer file"},
                          Case{"--unattend a.xml set --line1 x", "an answer file has no support lines"},
                          Case{"--unattend a.xml set --clear model", "'--clear' does not work"},
                          Case{"--unattend a.xml logo --fit x.bmp", "--fit needs a picture"},
                          Case{"--unattend a.xml --image x.wim show", "not both"}}) {
        EXPECT_EQ(tool(c.args, &out), 2) << c.args;
        EXPECT_NE(out.find(c.message), std::string::npos) << out;
    }
    writeFile(temp() / "bad.xml", "<unattend");
    EXPECT_EQ(tool("--unattend bad.xml set --model M", &out), 1);
    EXPECT_NE(out.find("bad.xml is not well-formed XML"), std::string::npos) << out;
    EXPECT_EQ(readFile(temp() / "bad.xml"), "<unattend");
    EXPECT_EQ(readFile(temp() / "a.xml"), written);
}

TEST_F(ImageTest, WritersToOneImageFileKeepEachOthersChanges)
{
    ASSERT_EQ(sh("wimcapture volume x.wim First"), 0);
    const std::string tool = std::string("'") + CRESTWICK_OEM_TOOL + "' --image x.wim set ";
    for (int round = 0; round < 3; ++round)
        ASSERT_EQ(sh(tool + "--model M" + std::to_string(round) + " & " + tool +
                     "--manufacturer Q" + std::to_string(round) + " & " + tool + "--line1 L" +
                     std::to_string(round) + " & wait"),
                  0);
    fs::remove_all(temp() / "out");
    ASSERT_EQ(sh("wimapply x.wim 1 out"), 0);
    const Dump dump = dumpHive(temp() / "out/Windows/System32/config/SOFTWARE");
    const std::string key = "\\Microsoft\\Windows\\CurrentVersion\\OEMInformation|";
    EXPECT_EQ(dump.at(key + "Model").second, text("M2"));
    EXPECT_EQ(dump.at(key + "Manufacturer").second, text("Q2"));
    EXPECT_NE(readFile(temp() / "out/Windows/System32/oeminfo.ini").find("Line1=L2"),
              std::string::npos);
}
