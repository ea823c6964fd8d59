#include "app/Unit1.h"
#include "controls/TProLabel.h"
#include "controls/TRxLabel.h"
#include "controls/TRxSpeedButton.h"
#include "core/Exceptions.h"
#include "desktop/TApplication.h"
#include "platform/WinExec.h"
#include "shell/ASLink.h"
#include "tests/support/TempPrefix.h"

#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QTabWidget>
#include <QTest>

#include <sys/stat.h>

namespace fs = std::filesystem;

namespace {

const char* const kRegHeader = "WINE REGISTRY Version 2\n\n";
const char* const kCurrentVersion = "[Software\\\\Microsoft\\\\Windows\\\\CurrentVersion] 1700000000\n";

QString captionOf(QWidget* widget)
{
    if (auto* label = qobject_cast<QLabel*>(widget))
        return label->text();
    if (auto* button = dynamic_cast<TRxSpeedButton*>(widget))
        return button->Caption();
    if (auto* label = dynamic_cast<TRxLabel*>(widget))
        return label->Caption();
    if (auto* label = dynamic_cast<TProLabel*>(widget))
        return label->Caption();
    if (auto* link = dynamic_cast<TASLink*>(widget))
        return QString::fromStdString(link->Caption());
    return "(no caption)";
}

} // namespace

class Form1Test : public TempPrefixTest {
protected:
    void SetUp() override
    {
        TempPrefixTest::SetUp();
        createDefaultPrefix();
    }

    std::unique_ptr<TForm1> makeForm()
    {
        auto form = std::make_unique<TForm1>();
        form->ShowCentred();
        return form;
    }

    void setSystemRootLine(const std::string& line)
    {
        writeFile(prefix() / "system.reg",
                  std::string(kRegHeader) + kCurrentVersion + line + "\n");
    }

    fs::path oemInfo() const { return windowsDir() / "system" / "oeminfo.ini"; }
};

TEST_F(Form1Test, WindowHasItsCaptionPagesAndClientArea)
{
    auto form = makeForm();
    EXPECT_EQ(form->windowTitle(), "Crestwick --- Quillmere Softhouse");
    EXPECT_EQ(form->size(), QSize(526, 355));
    EXPECT_EQ(form->PageControl1->geometry(), QRect(0, 0, 526, 355));
    ASSERT_EQ(form->PageControl1->count(), 3);
    EXPECT_EQ(form->PageControl1->tabText(0), "OEM Logo Changer");
    EXPECT_EQ(form->PageControl1->tabText(1), "OEM Info Editor");
    EXPECT_EQ(form->PageControl1->tabText(2), "About");
    EXPECT_EQ(form->PageControl1->currentIndex(), 0);
    EXPECT_EQ(form->font().pixelSize(), 11);
}

TEST_F(Form1Test, EveryControlSitsAtItsPlaceWithItsCaption)
{
    auto form = makeForm();
    const struct {
        const char* name;
        QRect geometry;
        const char* caption; // nullptr: no caption to check
    } controls[] = {
        {"Bevel3", {16, 8, 257, 289}, nullptr},
        {"Shape1", {57, 37, 180, 114}, nullptr},
        {"Image1", {57, 37, 180, 114}, nullptr},
        {"Label4", {65, 128, 168, 17}, "OEM Logo Preview"},
        {"Label13", {211, 1, 38, 13}, nullptr},
        {"Label1", {72, 174, 145, 13}, "Select drive to scan for images"},
        {"DriveComboBox1", {80, 195, 137, 19}, nullptr},
        {"RxSpeedButton2", {32, 224, 65, 65}, "Autoscan\nDisks"},
        {"RxSpeedButton3", {112, 224, 65, 65}, "Stop\nScanning"},
        {"RxSpeedButton6", {192, 224, 65, 65}, "Resize\nTo Fit"},
        {"Bevel7", {282, 8, 225, 289}, nullptr},
        {"RxLabel2", {289, 32, 213, 29}, "Crestwick"},
        {"Label5", {312, 77, 162, 91},
         "Choose your new Oem Logo for\nControl Panel -> System Properties\n"
         "Imaze size (max): 180x114\nFile Type: *.bmp or *.jpg\nLogo will not be displayed\n"
         "if you don't add some Infos\n(See next page)"},
        {"ListBox1", {288, 34, 212, 173}, nullptr},
        {"RxSpeedButton1", {290, 224, 65, 65}, "Control\nPanel"},
        {"LedButton2", {362, 224, 65, 65}, "Save\nLogo"},
        {"LedButton3", {434, 224, 65, 65}, "Exit\nNow"},
        {"RxLabel1", {35, 19, 110, 24}, "System Info"},
        {"Bevel4", {31, 48, 458, 185}, nullptr},
        {"Label7", {48, 65, 417, 26},
         "Add here your information in Control Panel -> System Properties:"},
        {"Edit1", {253, 100, 212, 21}, nullptr},
        {"Edit2", {253, 132, 212, 21}, nullptr},
        {"Edit3", {253, 164, 212, 21}, nullptr},
        {"Label11", {51, 201, 143, 16}, "Optional Support Information 2"},
        {"Edit4", {253, 196, 212, 21}, nullptr},
        {"Bevel8", {256, 242, 233, 79}, nullptr},
        {"Button1", {268, 247, 65, 65}, "Save\nInfo"},
        {"RxSpeedButton4", {340, 247, 65, 65}, "Control\nPanel"},
        {"Button2", {412, 247, 65, 65}, "Exit\nNow"},
        {"Bevel1", {35, 24, 334, 169}, nullptr},
        {"ProLabel1", {86, 37, 225, 29}, "Quillmere SoftHouse"},
        {"ASLink1", {58, 69, 276, 13}, "http://www.quillmere-softhouse.example/"},
        {"ASLink2", {135, 97, 122, 13}, "info@quillmere-softhouse.example"},
        {"Bevel5", {67, 120, 273, 17}, nullptr},
        {"Label12", {111, 137, 175, 26}, "Bugs, comments and feedback\nEmail to:"},
        {"ASLink4", {135, 169, 126, 13}, "crestwick@quillmere-softhouse.example"},
        {"Bevel2", {384, 158, 121, 159}, nullptr},
        {"RxSpeedButton7", {412, 174, 65, 65}, "Desktop\nShortcut"},
        {"RxSpeedButton5", {412, 239, 65, 65}, "Exit\nNow"},
    };
    for (const auto& c : controls) {
        auto* widget = form->findChild<QWidget*>(c.name);
        ASSERT_NE(widget, nullptr) << c.name;
        // Links size themselves to their captions; only their place is fixed.
        if (std::string_view(c.name).starts_with("ASLink"))
            EXPECT_EQ(widget->pos(), c.geometry.topLeft()) << c.name;
        else
            EXPECT_EQ(widget->geometry(), c.geometry) << c.name;
        if (!c.caption)
            continue;
        EXPECT_EQ(captionOf(widget), QString::fromUtf8(c.caption)) << c.name;
    }
    // Labels that size themselves keep their place.
    for (const char* name : {"Label8", "Label9", "Label10", "LabelX"}) {
        auto* label = form->findChild<QLabel*>(name);
        ASSERT_NE(label, nullptr) << name;
    }
    EXPECT_EQ(form->Label8->pos(), QPoint(51, 105));
    EXPECT_EQ(form->Label9->pos(), QPoint(51, 137));
    EXPECT_EQ(form->Label10->pos(), QPoint(51, 169));
    EXPECT_EQ(form->LabelX->pos(), QPoint(67, 155));
    EXPECT_EQ(form->Label8->text(), "Computer Manufacturer:");
    EXPECT_EQ(form->Label9->text(), "Computer Model:");
    EXPECT_EQ(form->Label10->text(), "Optional Support Information 1");
}

TEST_F(Form1Test, StartsWithTheListSizeLabelAndSystemFolderLabelHidden)
{
    auto form = makeForm();
    EXPECT_FALSE(form->ListBox1->isVisible());
    EXPECT_FALSE(form->LabelX->isVisible());
    EXPECT_FALSE(form->Label13->isVisible());
    EXPECT_EQ(form->LabelX->text(), "File Size");
    EXPECT_TRUE(errors.empty());
}

TEST_F(Form1Test, InfoPageEditsFollowTheirTabOrder)
{
    auto form = makeForm();
    form->PageControl1->setCurrentIndex(1);
    // The next widget that the Tab key would reach.
    auto nextTabStop = [](QWidget* widget) {
        QWidget* next = widget->nextInFocusChain();
        while (next != widget && !(next->focusPolicy() & Qt::TabFocus))
            next = next->nextInFocusChain();
        return next;
    };
    EXPECT_EQ(nextTabStop(form->Edit1), form->Edit2);
    EXPECT_EQ(nextTabStop(form->Edit2), form->Edit3);
    EXPECT_EQ(nextTabStop(form->Edit3), form->Edit4);
}

TEST_F(Form1Test, EachExitButtonAndTheCloseBoxEndTheProgram)
{
    for (const char* name :
         std::initializer_list<const char*>{"LedButton3", "Button2", "RxSpeedButton5", nullptr}) {
        Application().ResetTerminated();
        auto form = makeForm();
        if (name) {
            auto* button = form->findChild<QWidget*>(name);
            ASSERT_NE(button, nullptr);
            form->PageControl1->setCurrentWidget(button->parentWidget());
            QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(30, 30));
        } else {
            form->close();
        }
        EXPECT_TRUE(Application().Terminated()) << (name ? name : "close box");
        EXPECT_FALSE(form->isVisible()) << (name ? name : "close box");
    }
    EXPECT_TRUE(errors.empty());
}

TEST_F(Form1Test, FormCreateReadsTheWindowsDirectoryFromTheRegistry)
{
    const struct {
        const char* line; // the SystemRoot line of system.reg, or nullptr for none
        const char* label13;
    } cases[] = {
        {"\"SystemRoot\"=\"C:\\\\WINDOWS\"", "C:\\WINDOWS\\"},
        {"\"SystemRoot\"=str(2):\"%SystemDrive%\\\\WINDOWS\"", "%SystemDrive%\\WINDOWS\\"},
        {"\"Other\"=\"x\"", "\\"},
    };
    for (const auto& c : cases) {
        setSystemRootLine(c.line);
        auto form = makeForm();
        EXPECT_EQ(form->Label13->text().toStdString(), c.label13) << c.line;
        EXPECT_EQ(form->WindowsDirectory(), c.label13);
    }
    // No CurrentVersion key at all: the same "\" and no message, and the key is not created.
    writeFile(prefix() / "system.reg", kRegHeader);
    auto form = makeForm();
    EXPECT_EQ(form->Label13->text(), "\\");
    EXPECT_EQ(readFile(prefix() / "system.reg"), kRegHeader);
    EXPECT_TRUE(errors.empty());
}

TEST_F(Form1Test, SystemRootOfTheWrongKindIsReportedAndSkipsTheRestOfFormCreate)
{
    for (const char* line : {"\"SystemRoot\"=hex:43,3a,5c", "\"SystemRoot\"=dword:00000001"}) {
        errors.clear();
        setSystemRootLine(line);
        auto form = makeForm();
        ASSERT_EQ(errors, std::vector<std::string>{"Invalid data type for 'SystemRoot'"}) << line;
        EXPECT_EQ(form->Label13->text(), "Label13");
        EXPECT_EQ(form->Edit1->text(), "Edit1");
        EXPECT_EQ(form->Edit4->text(), "Edit4");
        EXPECT_TRUE(form->isVisible());
        // Paths are then built from "\": a save looks for the root's system folder.
        EXPECT_EQ(form->WindowsDirectory(), "\\");
    }
}

TEST_F(Form1Test, DamagedRegistryStillStarts)
{
    writeFile(prefix() / "system.reg", std::string("\x00\xff[[[\n\"SystemRoot\"=\n", 17));
    auto form = makeForm();
    EXPECT_TRUE(form->isVisible());
    EXPECT_EQ(form->Label13->text(), "\\");
}

TEST_F(Form1Test, MissingOemInfoShowsTheDefaultsAndCreatesNothing)
{
    auto form = makeForm();
    EXPECT_EQ(form->Edit1->text(), "Made by");
    EXPECT_EQ(form->Edit2->text(), "Quillmere SoftHouse");
    EXPECT_EQ(form->Edit3->text(), "Add first line here");
    EXPECT_EQ(form->Edit4->text(), "Add another line here");
    EXPECT_FALSE(fs::exists(oemInfo()));
}

TEST_F(Form1Test, StoredValuesLoadAndMissingOnesTakeTheirDefaults)
{
    writeFile(oemInfo(), "[General]\r\nManufacturer=Acme \"Best\" Corp\r\n");
    auto form = makeForm();
    EXPECT_EQ(form->Edit1->text(), "Acme \"Best\" Corp");
    EXPECT_EQ(form->Edit2->text(), "Quillmere SoftHouse");
    EXPECT_EQ(form->Edit4->text(), "Add another line here");

    const std::string longValue(1500, 'x');
    writeFile(oemInfo(), "[general]\nModel=" + longValue + "\n[Support Information]\nLine1=\n");
    auto second = makeForm();
    EXPECT_EQ(second->Edit2->text().toStdString(), longValue.substr(0, 1023));
    EXPECT_EQ(second->Edit3->text(), "");
}

TEST_F(Form1Test, SavingFromNothingWritesTheFourEntriesInOrder)
{
    auto form = makeForm();
    form->Edit3->setText("");
    form->SaveOemInfo();
    const std::string expected = "[general]\r\nManufacturer=Made by\r\nModel=Quillmere SoftHouse\r\n"
                                 "[Support Information]\r\nLine1=\r\nLine2=Add another line here\r\n";
    EXPECT_EQ(readFile(oemInfo()), expected);
    // The empty value is kept as such, not replaced by the default.
    auto reloaded = makeForm();
    EXPECT_EQ(reloaded->Edit3->text(), "");
    // Saving again gives the same file.
    reloaded->SaveOemInfo();
    EXPECT_EQ(readFile(oemInfo()), expected);
}

TEST_F(Form1Test, SaveRemovesLinesThreeToSixAndKeepsEverythingElse)
{
    const std::string original = "; maker's notes\r\n[GENERAL]\r\nManufacturer=Old\r\nLogo=x\r\n\r\n"
                                 "[Support Information]\r\nLine1=a\r\nLine3=c\r\nLine4=d\r\n"
                                 "Line6=f\r\nLine7=g\r\n[Other]\r\nLine3=keep\r\n";
    writeFile(oemInfo(), original);
    auto form = makeForm();
    form->Edit1->setText("New");
    QTest::mouseClick(form->Button1, Qt::LeftButton, {}, QPoint(30, 30));
    EXPECT_TRUE(errors.empty());
    EXPECT_EQ(readFile(oemInfo()),
              "; maker's notes\r\n[GENERAL]\r\nManufacturer=New\r\nLogo=x\r\n"
              "Model=Quillmere SoftHouse\r\n\r\n"
              "[Support Information]\r\nLine1=a\r\nLine7=g\r\nLine2=Add another line here\r\n"
              "[Other]\r\nLine3=keep\r\n");
}

TEST_F(Form1Test, RefusedSaveReportsWhyAndLeavesFileAndEditsAlone)
{
    const struct {
        const char* model;
        mode_t folderMode;
        const char* message;
    } cases[] = {
        {"Box", 0555, "Unable to write to C:\\WINDOWS\\system\\oeminfo.ini."},
        {"Box\nTwo lines", 0755,
         "The text for 'Model' holds a line break, which an INI file cannot store."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.message);
        writeFile(oemInfo(), "[general]\r\nManufacturer=Kept\r\n");
        auto form = makeForm();
        errors.clear();
        form->Edit1->setText("Typed");
        form->Edit2->setText(c.model);
        ::chmod((windowsDir() / "system").c_str(), c.folderMode);
        QTest::mouseClick(form->Button1, Qt::LeftButton, {}, QPoint(30, 30));
        EXPECT_EQ(errors, std::vector<std::string>{c.message});
        EXPECT_EQ(readFile(oemInfo()), "[general]\r\nManufacturer=Kept\r\n");
        EXPECT_EQ(form->Edit1->text(), "Typed");
        ::chmod((windowsDir() / "system").c_str(), 0755);
    }
}

TEST_F(Form1Test, WithoutSystemRootTheFilesAreLookedForAtTheRootOfTheCurrentDrive)
{
    setSystemRootLine("");
    fs::current_path(prefix() / "drive_c" / "WINDOWS");
    writeFile(prefix() / "drive_c" / "system" / "oeminfo.ini", "[general]\nModel=Root\n");
    auto form = makeForm();
    EXPECT_EQ(form->Edit2->text(), "Root");
    // On a drive without a system folder at its root, the save fails with the path.
    fs::remove(prefix() / "dosdevices" / "z:");
    fs::create_directories(temp() / "zroot");
    fs::create_directory_symlink(temp() / "zroot", prefix() / "dosdevices" / "z:");
    fs::current_path(temp() / "zroot");
    try {
        form->SaveOemInfo();
        ADD_FAILURE() << "the save should fail";
    } catch (const EIniFileException& e) {
        EXPECT_EQ(e.Message, "Unable to write to \\system\\oeminfo.ini");
    }
    EXPECT_FALSE(fs::exists(temp() / "zroot" / "system"));
}

TEST_F(Form1Test, ResizingMovesNoControlAndTheNotebookFollows)
{
    auto form = makeForm();
    const QRect before = form->RxSpeedButton2->geometry();
    form->resize(700, 500);
    EXPECT_EQ(form->PageControl1->geometry(), QRect(0, 0, 700, 500));
    EXPECT_EQ(form->RxSpeedButton2->geometry(), before);
}

TEST_F(Form1Test, ControlPanelButtonsStartTheSystemPropertiesCommand)
{
    // The System Properties program is replaced by one that starts and ends at once.
    platform::setSystemPropertiesProgram("/bin/true");
    auto form = makeForm();
    EXPECT_EQ(OpenControlPanelApplet("Sysdm.cpl"), 33);
    QTest::mouseClick(form->RxSpeedButton1, Qt::LeftButton, {}, QPoint(30, 30));
    form->PageControl1->setCurrentIndex(1);
    QTest::mouseClick(form->RxSpeedButton4, Qt::LeftButton, {}, QPoint(30, 30));
    EXPECT_TRUE(errors.empty());
    platform::setSystemPropertiesProgram({});
}
