// The texts of oeminfo.ini in the system's ANSI code page: read as text, written in the code
// page, and left byte for byte when the user did not change them.
#include "oem/OemSystem.h"
#include "tests/support/TempPrefix.h"

namespace fs = std::filesystem;

namespace {

class CodePageTextTest : public TempPrefixTest {
protected:
    void SetUp() override
    {
        TempPrefixTest::SetUp();
        createDefaultPrefix();
    }

    // Names the system's ANSI code page in the machine registry of the fresh prefix.
    void setAnsiCodePage(const char* number)
    {
        std::string reg = readFile(prefix() / "system.reg");
        reg +=
            std::string("\n[System\\\\CurrentControlSet\\\\Control\\\\Nls\\\\CodePage] 1700000000\n"
                        "\"ACP\"=\"") +
            number + "\"\n";
        writeFile(prefix() / "system.reg", reg);
    }

    fs::path ini() const { return windowsDir() / "system" / "oeminfo.ini"; }
};

} // namespace

TEST_F(CodePageTextTest, TextsAreReadAndWrittenInTheSystemsCodePage)
{
    // Written on Windows: "Müller GmbH" in Windows-1252, a support line holding 0x81, which
    // Windows-1252 leaves undefined.
    writeFile(ini(), "[general]\r\nManufacturer=M\xFCller GmbH\r\nModel=Tower\r\n"
                     "[Support Information]\r\nLine1=Call \x81 us\r\nLine2=Mail us\r\n");
    const oem::OemSystem system = oem::OemSystem::describe();
    oem::OemInfo info = system.readInfo();
    EXPECT_EQ(info.manufacturer, "M\xC3\xBCller GmbH");
    EXPECT_EQ(info.model, "Tower");

    // A save of everything changes only what the user typed anew.
    info.model = "Caf\xC3\xA9";
    system.writeInfo(info, oem::FurtherSupportLines::Remove);
    EXPECT_EQ(readFile(ini()), "[general]\r\nManufacturer=M\xFCller GmbH\r\nModel=Caf\xE9\r\n"
                               "[Support Information]\r\nLine1=Call \x81 us\r\nLine2=Mail us\r\n");

    // What the code page cannot hold becomes "?"; another code page holds it.
    info.model = "\xCE\xA9mega";
    system.writeInfo(info, oem::FurtherSupportLines::Keep);
    EXPECT_NE(readFile(ini()).find("Model=?mega\r\n"), std::string::npos);

    setAnsiCodePage("1253");
    const oem::OemSystem greek = oem::OemSystem::describe();
    info = greek.readInfo();
    info.model = "\xCE\xA9mega";
    greek.writeInfo(info, oem::FurtherSupportLines::Keep);
    EXPECT_NE(readFile(ini()).find("Model=\xD9mega\r\n"), std::string::npos);
    EXPECT_EQ(greek.readInfo().model, "\xCE\xA9mega");
    EXPECT_EQ(greek.readSheet().model, "\xCE\xA9mega");
}
