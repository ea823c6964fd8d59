#include "core/Exceptions.h"
#include "oem/TIniFile.h"
#include "tests/support/TempPrefix.h"

#include <sys/stat.h>

namespace fs = std::filesystem;

namespace {

constexpr const char* kPath = "C:\\WINDOWS\\system\\oeminfo.ini";

class IniFileTest : public TempPrefixTest {
protected:
    void SetUp() override
    {
        TempPrefixTest::SetUp();
        createDefaultPrefix();
    }

    fs::path ini() const { return windowsDir() / "system" / "oeminfo.ini"; }
};

} // namespace

TEST_F(IniFileTest, ReadsGoToTheFileEachTimeAndStopAt1023Characters)
{
    TIniFile file(kPath);
    EXPECT_EQ(file.FileName(), kPath);
    EXPECT_EQ(file.ReadString("general", "Model", "Quillmere SoftHouse"), "Quillmere SoftHouse");
    EXPECT_FALSE(fs::exists(ini()));

    const std::string huge(2000, 'm');
    writeFile(ini(), "[general]\r\nModel=" + huge + "\r\nManufacturer=\r\n");
    EXPECT_EQ(file.ReadString("general", "Model", "d"), huge.substr(0, 1023));
    EXPECT_EQ(file.ReadString("GENERAL", "manufacturer", "Made by"), "");

    // A value ends at a NUL byte; nothing after it reaches the caller.
    writeFile(ini(), std::string("[general]\r\nModel=Tower\0junk\r\n", 29));
    EXPECT_EQ(file.ReadString("general", "Model", "d"), "Tower");
}

TEST_F(IniFileTest, WritesAndDeletesThroughTheProfileFunctions)
{
    TIniFile file(kPath);
    file.WriteString("general", "Manufacturer", "Me");
    file.WriteString("Support Information", "Line3", "gone soon");
    file.DeleteKey("Support Information", "Line3");
    file.DeleteKey("Support Information", "Line4");
    EXPECT_EQ(readFile(ini()), "[general]\r\nManufacturer=Me\r\n[Support Information]\r\n");
    EXPECT_EQ(file.ReadString("general", "Manufacturer", "d"), "Me");
}

TEST_F(IniFileTest, ARefusedWriteRaisesUnableToWriteWithTheFullPath)
{
    const std::string missingFolder = "C:\\WINDOWS\\nowhere\\oeminfo.ini";
    try {
        TIniFile(missingFolder).WriteString("general", "Model", "x");
        FAIL() << "no exception";
    } catch (const EIniFileException& e) {
        EXPECT_EQ(e.Message, "Unable to write to C:\\WINDOWS\\nowhere\\oeminfo.ini");
    }

    writeFile(ini(), "[Support Information]\r\nLine3=x\r\n");
    ::chmod(ini().parent_path().c_str(), 0555);
    TIniFile file(kPath);
    try {
        file.WriteString("general", "Model", "x");
        FAIL() << "no exception";
    } catch (const EIniFileException& e) {
        EXPECT_EQ(e.Message, "Unable to write to C:\\WINDOWS\\system\\oeminfo.ini");
    }
    // A deletion that fails is silent.
    EXPECT_NO_THROW(file.DeleteKey("Support Information", "Line3"));
    EXPECT_EQ(readFile(ini()), "[Support Information]\r\nLine3=x\r\n");
}
