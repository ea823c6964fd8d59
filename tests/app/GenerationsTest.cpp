#include "app/Unit1.h"
#include "controls/AdvImage.h"
#include "controls/TRxSpeedButton.h"
#include "desktop/TApplication.h"
#include "imaging/TBitmap.h"
#include "imaging/TPicture.h"
#include "shell/TShortcuts.h"
#include "tests/imaging/BmpBytes.h"
#include "tests/support/StockPrefix.h"
#include "tests/support/TempPrefix.h"

#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QTest>

#include <sys/stat.h>

#include <cstring>
#include <set>

namespace fs = std::filesystem;

// The main window on a machine of each Windows generation: what it shows at start, and what
// Save Info and Save Logo leave on disk, in the registry and in the System Properties sheet.
namespace {

// The header and "#time=" lines of a key changed at the second that header names.
std::pair<std::string, std::string> timeLinesOf(const std::string& header)
{
    const std::int64_t seconds = std::stoll(header.substr(header.rfind(' ') + 1));
    const auto fileTime = std::uint64_t((seconds + 11644473600LL) * 10000000LL);
    char hex[32];
    std::snprintf(hex, sizeof hex, "%x%08x", unsigned(fileTime >> 32), unsigned(fileTime));
    return {std::string(stock::kOemKeyHeader) + std::to_string(seconds),
            std::string("#time=") + hex};
}

class GenerationsTest : public TempPrefixTest {
protected:
    std::unique_ptr<TForm1> makeForm()
    {
        auto form = std::make_unique<TForm1>();
        form->ShowCentred();
        return form;
    }

    void typeInfo(TForm1& form)
    {
        form.Edit1->setText("Quillmere SoftHouse");
        form.Edit2->setText("Crestwick 1");
        form.Edit3->setText("Call us");
        form.Edit4->setText("any time");
    }

    void saveInfo(TForm1& form)
    {
        QTest::mouseClick(form.Button1, Qt::LeftButton, {}, QPoint(30, 30));
    }

    // Puts the red bitmap into the preview, as a picture from the list would be, and saves it.
    void saveLogo(TForm1& form)
    {
        writeFile(temp() / "red.bmp", stock::redBitmap());
        form.Image1->Picture().LoadFromFile("Z:" + (temp() / "red.bmp").string());
        Application().Guard([&] { form.LedButton2Click(form.LedButton2); });
    }

    fs::path systemReg() const { return prefix() / "system.reg"; }
    fs::path system32() const { return prefix() / "drive_c" / "windows" / "system32"; }

    std::string oemHeader() const
    {
        for (const std::string& line : stock::splitLines(readFile(systemReg())))
            if (line.starts_with(stock::kOemKeyHeader))
                return line;
        return {};
    }

    static std::string savedInfoFile()
    {
        return "[general]\r\nManufacturer=Quillmere SoftHouse\r\nModel=Crestwick 1\r\n"
               "[Support Information]\r\nLine1=Call us\r\nLine2=any time\r\n";
    }

    // The texts that the System Properties program shows for this machine.
    std::vector<std::string> systemProperties()
    {
#ifdef CRESTWICK_SYSPROPS
        QProcess process;
        process.setProcessEnvironment(QProcessEnvironment::systemEnvironment());
        process.start(CRESTWICK_SYSPROPS,
                      {"--grab", QString::fromStdString((temp() / "sysprops.png").string())});
        EXPECT_TRUE(process.waitForFinished(60000));
        EXPECT_EQ(process.exitCode(), 0);
        std::vector<std::string> lines;
        for (const QByteArray& line : process.readAllStandardOutput().split('\n'))
            if (!line.isEmpty())
                lines.push_back(line.toStdString());
        return lines;
#else
        return {"(the System Properties program is not built)"};
#endif
    }
};

} // namespace

TEST_F(GenerationsTest, StockWinePrefixKeepsMakerAndModelInTheRegistry)
{
    stock::makeNt6(prefix());
    const std::string stockReg = readFile(systemReg());

    auto form = makeForm();
    EXPECT_TRUE(errors.empty());
    EXPECT_EQ(form->Label13->text(), "C:\\windows\\");
    EXPECT_EQ(form->System().generation(), oem::Generation::Nt6);
    EXPECT_EQ(form->Edit1->text(), "Made by");
    EXPECT_EQ(form->Edit4->text(), "Add another line here");
    EXPECT_EQ(form->Image1->Picture().Graphic(), nullptr);

    typeInfo(*form);
    saveInfo(*form);
    saveLogo(*form);
    EXPECT_TRUE(errors.empty()) << errors.front();

    EXPECT_EQ(readFile(system32() / "oeminfo.ini"), savedInfoFile());
    TBitmap logo;
    logo.LoadFromFile("C:\\windows\\system32\\oemlogo.bmp");
    EXPECT_EQ(logo.Width(), 4);
    // Every byte Wine wrote stays; the new key follows.
    const std::string saved = readFile(systemReg());
    ASSERT_TRUE(saved.starts_with(stockReg));
    const auto [header, time] = timeLinesOf(oemHeader());
    EXPECT_EQ(saved.substr(stockReg.size()),
              "\n" + header + "\n" + time +
                  "\n\"Manufacturer\"=\"Quillmere SoftHouse\"\n\"Model\"=\"Crestwick 1\"\n"
                  "\"Logo\"=\"C:\\\\windows\\\\system32\\\\oemlogo.bmp\"\n");
    EXPECT_FALSE(fs::exists(prefix() / "drive_c" / "windows" / "system"));

    EXPECT_EQ(systemProperties(), (std::vector<std::string>{
                                      "System Properties", "logo: 4x2 in 120x120",
                                      "Manufacturer: Quillmere SoftHouse", "Model: Crestwick 1"}));

    // The next start shows what was saved, the registry's values first.
    ASSERT_TRUE(stock::replaceLine(prefix(), "\"Model\"=\"Crestwick 1\"",
                                   "\"Model\"=\"From the registry\""));
    auto again = makeForm();
    EXPECT_EQ(again->Edit1->text(), "Quillmere SoftHouse");
    EXPECT_EQ(again->Edit2->text(), "From the registry");
    EXPECT_EQ(again->Edit3->text(), "Call us");
    ASSERT_NE(again->Image1->Picture().Graphic(), nullptr);
    EXPECT_EQ(again->Image1->Picture().Graphic()->Width(), 4);
    EXPECT_TRUE(errors.empty());
}

TEST_F(GenerationsTest, StockWinePrefixShowsTheMakersSupportValues)
{
    stock::makeNt6(prefix());
    writeFile(prefix() / "drive_c" / "OEM" / "brand.bmp", stock::redBitmap());
    stock::insertAfterSection(prefix(), "[Software\\\\Microsoft\\\\Windows\\\\CurrentVersion] ",
                              "\n" + std::string(stock::kOemKeyHeader) +
                                  "1796689520\n#time=1dd86aa9bc28e8a\n"
                                  "\"Logo\"=\"C:\\\\OEM\\\\brand.bmp\"\n"
                                  "\"Manufacturer\"=\"Maker Ltd\"\n"
                                  "\"SupportHours\"=\"9 to 5\"\n"
                                  "\"SupportPhone\"=\"555 0100\"\n"
                                  "\"SupportURL\"=\"http://maker.example/\"\n");
    const std::string before = readFile(systemReg());
    auto form = makeForm();
    EXPECT_EQ(form->Edit1->text(), "Maker Ltd");
    EXPECT_EQ(form->Edit2->text(), "Quillmere SoftHouse");
    ASSERT_NE(form->Image1->Picture().Graphic(), nullptr);
    typeInfo(*form);
    saveInfo(*form);
    EXPECT_TRUE(errors.empty());

    const auto [header, time] = timeLinesOf(oemHeader());
    const auto [removed, added] = stock::changedLines(before, readFile(systemReg()));
    EXPECT_EQ(removed, (std::vector<std::string>{std::string(stock::kOemKeyHeader) + "1796689520",
                                                 "#time=1dd86aa9bc28e8a",
                                                 "\"Manufacturer\"=\"Maker Ltd\""}));
    EXPECT_EQ(added,
              (std::vector<std::string>{header, time, "\"Manufacturer\"=\"Quillmere SoftHouse\"",
                                        "\"Model\"=\"Crestwick 1\""}));
    EXPECT_EQ(systemProperties(),
              (std::vector<std::string>{
                  "System Properties", "logo: 4x2 in 120x120", "Manufacturer: Quillmere SoftHouse",
                  "Model: Crestwick 1", "Quillmere SoftHouse support", "Phone number: 555 0100",
                  "Support hours: 9 to 5", "Website: http://maker.example/"}));
}

TEST_F(GenerationsTest, WindowsXpKeepsEverythingInSystem32)
{
    stock::makeNt5(prefix());
    const std::string stockReg = readFile(systemReg());
    const fs::path folder = prefix() / "drive_c" / "windows" / "System32";
    writeFile(folder / "OEMINFO.INI", "[General]\r\nModel=Old model\r\n");

    auto form = makeForm();
    EXPECT_EQ(form->System().generation(), oem::Generation::Nt5);
    EXPECT_EQ(form->Label13->text(), "C:\\windows\\");
    EXPECT_EQ(form->Edit2->text(), "Old model");
    typeInfo(*form);
    saveInfo(*form);
    saveLogo(*form);
    EXPECT_TRUE(errors.empty());

    EXPECT_EQ(readFile(folder / "OEMINFO.INI"),
              "[General]\r\nModel=Crestwick 1\r\nManufacturer=Quillmere SoftHouse\r\n"
              "[Support Information]\r\nLine1=Call us\r\nLine2=any time\r\n");
    EXPECT_TRUE(fs::exists(folder / "oemlogo.bmp"));
    EXPECT_EQ(readFile(systemReg()), stockReg);
    EXPECT_EQ(systemProperties(),
              (std::vector<std::string>{"System Properties", "logo: 4x2 in 180x114",
                                        "Manufactured and supported by:", "Quillmere SoftHouse",
                                        "Crestwick 1", "support: Call us", "support: any time"}));
}

TEST_F(GenerationsTest, TheProgramsOwn9xPrefixKeepsEverythingInSystem)
{
    createDefaultPrefix();
    const std::string freshReg = readFile(systemReg());
    auto form = makeForm();
    EXPECT_EQ(form->System().generation(), oem::Generation::Windows9x);
    EXPECT_EQ(form->Label13->text(), "C:\\WINDOWS\\");
    typeInfo(*form);
    saveInfo(*form);
    saveLogo(*form);
    EXPECT_TRUE(errors.empty());
    EXPECT_EQ(readFile(windowsDir() / "system" / "oeminfo.ini"), savedInfoFile());
    EXPECT_TRUE(fs::exists(windowsDir() / "system" / "oemlogo.bmp"));
    EXPECT_EQ(readFile(systemReg()), freshReg);
    EXPECT_EQ(systemProperties(),
              (std::vector<std::string>{"System Properties", "logo: 4x2 in 180x114",
                                        "Manufactured and supported by:", "Quillmere SoftHouse",
                                        "Crestwick 1", "support: Call us", "support: any time"}));
}

TEST_F(GenerationsTest, WithoutAnySystemRootTheFilesAreAtTheRootOfTheCurrentDrive)
{
    stock::makeWithoutSystemRoot(prefix());
    const std::string stockReg = readFile(systemReg());
    fs::create_directories(prefix() / "drive_c" / "system");
    fs::current_path(prefix() / "drive_c" / "windows");

    auto form = makeForm();
    EXPECT_EQ(form->System().generation(), oem::Generation::Windows9x);
    EXPECT_EQ(form->Label13->text(), "\\");
    typeInfo(*form);
    saveInfo(*form);
    saveLogo(*form);
    EXPECT_TRUE(errors.empty());
    EXPECT_EQ(readFile(prefix() / "drive_c" / "system" / "oeminfo.ini"), savedInfoFile());
    EXPECT_TRUE(fs::exists(prefix() / "drive_c" / "system" / "oemlogo.bmp"));
    EXPECT_EQ(readFile(systemReg()), stockReg);
    // The platform's sheet looks in C:\WINDOWS\system, where nothing was saved.
    EXPECT_EQ(systemProperties(), std::vector<std::string>{"System Properties"});
}

TEST_F(GenerationsTest, NothingIsSavedWhileWineRunsInTheStockPrefix)
{
    stock::makeNt6(prefix());
    const std::string stockReg = readFile(systemReg());
    stock::FakeWineServer server(prefix());
    auto form = makeForm();
    typeInfo(*form);
    {
        stock::LockHolder wine(server.lockFile());
        ASSERT_TRUE(wine.holding());
        saveInfo(*form);
        saveLogo(*form);
        EXPECT_EQ(errors, (std::vector<std::string>{stock::kWineRunning, stock::kWineRunning}));
        EXPECT_EQ(readFile(systemReg()), stockReg);
        EXPECT_FALSE(fs::exists(system32() / "oeminfo.ini"));
        EXPECT_FALSE(fs::exists(system32() / "oemlogo.bmp"));
        EXPECT_EQ(form->Edit1->text(), "Quillmere SoftHouse");
    }
    // Wine has ended: the same clicks save.
    errors.clear();
    saveInfo(*form);
    EXPECT_TRUE(errors.empty());
    EXPECT_EQ(readFile(system32() / "oeminfo.ini"), savedInfoFile());
}

TEST_F(GenerationsTest, ReadOnlySystem32GivesTheSaveErrorsAndWritesNothing)
{
    stock::makeNt6(prefix());
    const std::string stockReg = readFile(systemReg());
    auto form = makeForm();
    typeInfo(*form);
    ::chmod(system32().c_str(), 0555);
    saveInfo(*form);
    saveLogo(*form);
    EXPECT_EQ(errors,
              (std::vector<std::string>{"Unable to write to C:\\windows\\system32\\oeminfo.ini.",
                                        "Cannot create file C:\\windows\\system32\\oemlogo.bmp."}));
    EXPECT_EQ(readFile(systemReg()), stockReg);
    EXPECT_TRUE(fs::is_empty(system32()));
    EXPECT_EQ(form->Edit2->text(), "Crestwick 1");
}

namespace {

// Every file below the folders, with its path.
std::set<std::string> filesBelow(const std::vector<fs::path>& folders)
{
    std::set<std::string> files;
    for (const fs::path& folder : folders)
        for (const auto& entry : fs::recursive_directory_iterator(folder))
            if (!entry.is_directory())
                files.insert(entry.path().string());
    return files;
}

// Runs lnkinfo on a file; empty when the tool is not installed.
std::string lnkinfo(const fs::path& file)
{
    QProcess process;
    process.start("lnkinfo", {QString::fromStdString(file.string())});
    if (!process.waitForFinished(30000))
        return {};
    return process.readAllStandardOutput().toStdString();
}

} // namespace

// Desktop Shortcut writes into the folders that the user's registry names on NT (Wine links
// the desktop to the user's own), its Shell Folders first, then its User Shell Folders; no
// folder is made there. On 9x the Windows directory's own folders take the shortcuts.
TEST_F(GenerationsTest, DesktopShortcutGoesToTheUsersOwnFolders)
{
    const std::string roaming = "drive_c/users/root/AppData/Roaming/Microsoft/Windows/";
    const struct {
        const char* name;
        bool nt;
        const char* userRegLine; // removed from user.reg
        bool makeFolders;
        std::vector<std::string> expected; // relative to the test's folder
    } cases[] = {
        {"Shell Folders",
         true,
         "",
         true,
         {"home-desktop/Crestwick.lnk", "prefix/" + roaming + "Start Menu/Programs/Crestwick.lnk"}},
        {"User Shell Folders",
         true,
         "\"Desktop\"=\"C:\\\\users\\\\root\\\\Desktop\"",
         true,
         {"home-desktop/Crestwick.lnk", "prefix/" + roaming + "Start Menu/Programs/Crestwick.lnk"}},
        {"folders missing", true, "", false, {}},
        {"9x",
         false,
         "",
         false,
         {"prefix/drive_c/WINDOWS/Desktop/Crestwick.lnk",
          "prefix/drive_c/WINDOWS/Start Menu/Programs/Crestwick.lnk"}},
    };
    bool lnkinfoMissing = false;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(prefix());
        fs::remove_all(temp() / "home-desktop");
        fs::create_directories(temp() / "home-desktop");
        if (!c.nt) {
            createDefaultPrefix();
        } else {
            stock::makeNt6(prefix());
            std::string user = readFile(prefix() / "user.reg");
            if (*c.userRegLine) {
                const auto at = user.find(std::string(c.userRegLine) + "\n");
                ASSERT_NE(at, std::string::npos);
                user.erase(at, std::strlen(c.userRegLine) + 1);
                writeFile(prefix() / "user.reg", user);
            }
            if (c.makeFolders) {
                fs::create_directories(prefix() / roaming / "Start Menu" / "Programs");
                fs::create_symlink(temp() / "home-desktop",
                                   prefix() / "drive_c" / "users" / "root" / "Desktop");
            }
        }
        const auto before = filesBelow({prefix(), temp() / "home-desktop"});
        auto form = makeForm();
        form->RxSpeedButton7Click(form->RxSpeedButton7);
        EXPECT_TRUE(errors.empty());
        std::set<std::string> added;
        for (const std::string& file : filesBelow({prefix(), temp() / "home-desktop"}))
            if (!before.contains(file))
                added.insert(fs::relative(file, temp()).string());
        EXPECT_EQ(added, std::set<std::string>(c.expected.begin(), c.expected.end()));
        // Each link's target is the program, as the link reader sees it.
        for (const std::string& file : c.expected) {
            const std::string info = lnkinfo(temp() / file);
            if (info.empty())
                lnkinfoMissing = true;
            else
                EXPECT_NE(info.find("Local path\t\t\t: " + TShortcuts::RunningProgram() + "\n"),
                          std::string::npos)
                    << info;
        }
    }
    if (lnkinfoMissing)
        GTEST_SKIP() << "lnkinfo is not installed (apt-get install liblnk-utils): the links' "
                        "targets were not read";
}

// The System Properties program draws an 8-bit logo of a 9x system as that system's sheet
// does: the colour of the bottom row's second pixel is transparent wherever it is. Other
// logos are drawn as they are.
TEST_F(GenerationsTest, SystemPropertiesMakesTheKeyColourOfA9xLogoTransparent)
{
    // 40x20 pixels of magenta with a green block; rows bottom-up, so the bottom row is first.
    constexpr int kWidth = 40, kHeight = 20;
    const auto logo = [&](int bits) {
        BmpSpec spec;
        spec.width = kWidth;
        spec.height = kHeight;
        spec.bits = bits;
        std::string pixels;
        for (int y = 0; y < kHeight; ++y)
            for (int x = 0; x < kWidth; ++x) {
                const bool green = x >= 10 && x < 30 && y >= 5 && y < 15;
                if (bits == 8)
                    pixels += char(green ? 1 : 0);
                else
                    pixels +=
                        green ? std::string("\x00\xFF\x00", 3) : std::string("\xFF\x00\xFF", 3);
            }
        if (bits == 8)
            spec.colors = {0xFF00FF, 0x00FF00}, spec.clrUsed = 2;
        return makeBmp(spec, pixels);
    };
    const struct {
        const char* name;
        bool nt6;
        int bits;
        bool magentaShown;
    } cases[] = {
        {"9x, 8 bits", false, 8, false},
        {"9x, 24 bits", false, 24, true},
        {"NT 6, 8 bits", true, 8, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(prefix());
        fs::path folder;
        if (c.nt6) {
            stock::makeNt6(prefix());
            folder = system32();
        } else {
            createDefaultPrefix();
            folder = windowsDir() / "system";
        }
        fs::create_directories(folder);
        writeFile(folder / "oeminfo.ini", savedInfoFile());
        writeFile(folder / "oemlogo.bmp", logo(c.bits));
        if (c.nt6) {
            auto form = makeForm();
            form->Image1->Picture().LoadFromFile("Z:" + (folder / "oemlogo.bmp").string());
            Application().Guard([&] { form->LedButton2Click(form->LedButton2); });
        }
        const std::vector<std::string> shown = systemProperties();
        ASSERT_GE(shown.size(), 2u);
        EXPECT_EQ(shown[1], std::string("logo: 40x20 in ") + (c.nt6 ? "120x120" : "180x114"));
        const QImage grab(QString::fromStdString((temp() / "sysprops.png").string()));
        ASSERT_FALSE(grab.isNull());
        bool magenta = false, green = false;
        for (int y = 0; y < grab.height(); ++y)
            for (int x = 0; x < grab.width(); ++x) {
                magenta = magenta || grab.pixel(x, y) == qRgb(255, 0, 255);
                green = green || grab.pixel(x, y) == qRgb(0, 255, 0);
            }
        EXPECT_TRUE(green);
        EXPECT_EQ(magenta, c.magentaShown);
    }
}
