#include "platform/WinExec.h"

#include "desktop/ShellExecute.h"
#include "platform/Profile.h"
#include "tests/support/StockPrefix.h"
#include "tests/support/TempPrefix.h"

#include <QProcess>
#include <QProcessEnvironment>
#include <QTest>

#include <csignal>
#include <fstream>
#include <sys/stat.h>

namespace fs = std::filesystem;

namespace {

class WinExecTest : public TempPrefixTest {
protected:
    void TearDown() override
    {
        platform::setSystemPropertiesProgram({});
        TempPrefixTest::TearDown();
    }

    // A stand-in System Properties program that leaves a mark when it runs.
    fs::path markingProgram()
    {
        const fs::path script = temp() / "sysprops-stand-in";
        writeFile(script, "#!/bin/sh\necho started >> \"" + (temp() / "mark").string() + "\"\n");
        ::chmod(script.c_str(), 0755);
        return script;
    }
    bool markAppears()
    {
        return QTest::qWaitFor([&] { return fs::exists(temp() / "mark"); }, 10000);
    }
};

TEST_F(WinExecTest, ControlPanelSystemAppletStartsSystemProperties)
{
    platform::setSystemPropertiesProgram(markingProgram());
    const char* lines[] = {
        "rundll32.exe shell32.dll,Control_RunDLL Sysdm.cpl",
        "RUNDLL32.EXE SHELL32.DLL,CONTROL_RUNDLL SYSDM.CPL",
        "C:\\WINDOWS\\rundll32.exe shell32.dll,Control_RunDLL sysdm.cpl",
    };
    for (const char* line : lines) {
        SCOPED_TRACE(line);
        std::error_code ec;
        fs::remove(temp() / "mark", ec);
        std::int64_t pid = 0;
        EXPECT_EQ(platform::WinExec(line, platform::SW_SHOWNORMAL, pid), 33u);
        EXPECT_GT(pid, 0);
        EXPECT_TRUE(markAppears());
    }
}

TEST_F(WinExecTest, ResultCodesForOtherPrograms)
{
    platform::setSystemPropertiesProgram(markingProgram());
    const std::pair<const char*, unsigned> cases[] = {
        {"", 2},
        {"   ", 2},
        {"crestwick-no-such-program --now", 2},
        {"rundll32.exe shell32.dll,Control_RunDLL desk.cpl", 2}, // no other applet exists
        {"rundll32.exe shell32.dll,Control_RunDLL", 2},
        {"true", 33},
        {"\"true\" with arguments", 33},
    };
    for (const auto& [line, code] : cases)
        EXPECT_EQ(platform::WinExec(line, platform::SW_SHOWNORMAL), code) << line;
    EXPECT_FALSE(fs::exists(temp() / "mark"));
}

TEST_F(WinExecTest, MissingSystemPropertiesProgramGivesFileNotFound)
{
    platform::setSystemPropertiesProgram(temp() / "not-there");
    EXPECT_EQ(platform::WinExec("rundll32.exe shell32.dll,Control_RunDLL Sysdm.cpl", 1), 2u);
}

TEST_F(WinExecTest, ShellExecuteWithoutSchemeOpensOnlyExistingFiles)
{
    // A bare mail address names no file and has no scheme: nothing opens.
    EXPECT_EQ(desktop::ShellExecute(nullptr, "", "info@quillmere-softhouse.example", "", "",
                                    platform::SW_SHOWNOACTIVATE),
              2u);
}

#ifdef CRESTWICK_SYSPROPS

// Runs the System Properties program so that it draws itself into a file; its output lists
// the texts it shows.
std::vector<std::string> describeSystemProperties(const fs::path& picture)
{
    QProcess process;
    process.setProcessEnvironment(QProcessEnvironment::systemEnvironment());
    process.start(CRESTWICK_SYSPROPS, {"--grab", QString::fromStdString(picture.string())});
    EXPECT_TRUE(process.waitForFinished(60000));
    EXPECT_EQ(process.exitCode(), 0);
    std::vector<std::string> lines;
    for (const QByteArray& line : process.readAllStandardOutput().split('\n'))
        if (!line.isEmpty())
            lines.push_back(line.toStdString());
    return lines;
}

TEST_F(WinExecTest, SystemPropertiesShowsSavedInfoAndLogo)
{
    createDefaultPrefix();
    const std::string ini = "C:\\WINDOWS\\system\\oeminfo.ini";
    const char* const entries[][3] = {{"general", "Manufacturer", "Quillmere SoftHouse"},
                                      {"general", "Model", "Crestwick 1"},
                                      {"Support Information", "Line1", "Call us"},
                                      {"Support Information", "Line2", "any time"}};
    for (const auto& entry : entries)
        ASSERT_TRUE(platform::WritePrivateProfileStringA(entry[0], entry[1], entry[2], ini.c_str()));
    writeFile(windowsDir() / "system" / "oemlogo.bmp", stock::redBitmap());

    const auto lines = describeSystemProperties(temp() / "sysprops.png");
    EXPECT_EQ(lines,
              (std::vector<std::string>{"System Properties", "logo: 4x2 in 180x114",
                                        "Manufactured and supported by:", "Quillmere SoftHouse",
                                        "Crestwick 1", "support: Call us", "support: any time"}));
    EXPECT_TRUE(fs::exists(temp() / "sysprops.png"));
}

TEST_F(WinExecTest, SystemPropertiesShowsNoMakerWithoutInfoFile)
{
    createDefaultPrefix();
    writeFile(windowsDir() / "system" / "oemlogo.bmp", stock::redBitmap());
    EXPECT_EQ(describeSystemProperties(temp() / "sysprops.png"),
              std::vector<std::string>{"System Properties"});
}

TEST_F(WinExecTest, ControlPanelStartsTheRealSystemPropertiesProgram)
{
    createDefaultPrefix();
    platform::setSystemPropertiesProgram(CRESTWICK_SYSPROPS);
    std::int64_t pid = 0;
    ASSERT_EQ(platform::WinExec("rundll32.exe shell32.dll,Control_RunDLL Sysdm.cpl", 1, pid), 33u);
    ASSERT_GT(pid, 0);
    // It keeps running on its own until it is closed.
    QTest::qWait(300);
    EXPECT_EQ(::kill(pid_t(pid), 0), 0);
    ::kill(pid_t(pid), SIGTERM);
}

#endif

} // namespace
