#include "app/ElidedPathDelegate.h"
#include "app/TStatusBar.h"
#include "app/Unit1.h"
#include "controls/AdvImage.h"
#include "controls/TRxSpeedButton.h"
#include "core/Exceptions.h"
#include "core/TStringList.h"
#include "desktop/DesignFont.h"
#include "desktop/TApplication.h"
#include "imaging/TBitmap.h"
#include "imaging/TPicture.h"
#include "imaging/jpeg.h"
#include "platform/FileAttributes.h"
#include "platform/ScreenDepth.h"
#include "scan/TDriveComboBox.h"
#include "scan/TFilesScan.h"
#include "tests/imaging/BmpBytes.h"
#include "tests/imaging/JpegFixtures.h"
#include "tests/support/TempPrefix.h"

#include <QFontMetrics>
#include <QHelpEvent>
#include <QLabel>
#include <QListWidget>
#include <QScrollBar>
#include <QTest>
#include <QTimer>
#include <QToolTip>

#include <sys/stat.h>

namespace fs = std::filesystem;

namespace {

struct BmpHeader {
    int width = 0;
    int height = 0;
    int bitCount = 0;
};

// The dimensions and depth that a BMP file's information header records.
BmpHeader readBmpHeader(const std::string& bytes)
{
    auto u32 = [&](std::size_t at) {
        return std::uint32_t(std::uint8_t(bytes[at])) |
               std::uint32_t(std::uint8_t(bytes[at + 1])) << 8 |
               std::uint32_t(std::uint8_t(bytes[at + 2])) << 16 |
               std::uint32_t(std::uint8_t(bytes[at + 3])) << 24;
    };
    if (bytes.size() < 30 || bytes.compare(0, 2, "BM") != 0)
        return {};
    return {int(u32(18)), int(std::int32_t(u32(22))),
            int(std::uint8_t(bytes[28]) | std::uint8_t(bytes[29]) << 8)};
}

} // namespace

// A machine with the default prefix and a drive D: holding pictures in nested folders.
class LogoPageTest : public TempPrefixTest {
protected:
    void SetUp() override
    {
        TempPrefixTest::SetUp();
        createDefaultPrefix();
        drive = temp() / "ddrive";
        fs::create_directories(drive);
        fs::create_directory_symlink(drive, prefix() / "dosdevices" / "d:");
    }

    std::unique_ptr<TForm1> makeForm()
    {
        auto form = std::make_unique<TForm1>();
        form->ShowCentred();
        return form;
    }

    void selectDrive(TForm1& form, char letter)
    {
        form.DriveComboBox1->SetDriveLetter(letter);
        ASSERT_EQ(form.DriveComboBox1->DriveLetter(), letter);
    }

    QStringList listed(const TForm1& form) const
    {
        QStringList rows;
        for (int i = 0; i < form.ListBox1->count(); ++i)
            rows << form.ListBox1->item(i)->text();
        return rows;
    }

    void clickRow(TForm1& form, const QString& path)
    {
        const auto found = form.ListBox1->findItems(path, Qt::MatchExactly);
        ASSERT_EQ(found.size(), 1) << path.toStdString();
        form.ListBox1->setCurrentItem(found.front());
    }

    fs::path logo() const { return windowsDir() / "system" / "oemlogo.bmp"; }

    fs::path drive;
};

TEST_F(LogoPageTest, TypicalUseScansPreviewsFitsAndSavesTheLogo)
{
    // A 300 x 150 colour JPEG, a small BMP and names that the masks must or must not take.
    const std::string jpeg = makeJpeg({300, 150, false, false, 90});
    writeFile(drive / "Photos" / "Holiday" / "beach.jpg", jpeg);
    writeFile(drive / "Photos" / "LOGO.BMP", makeBmp(BmpSpec{}));
    writeFile(drive / "b.Jpg", jpeg);
    writeFile(drive / "scan.jpeg", jpeg);
    writeFile(drive / "notes.txt", "x");
    writeFile(drive / "Photos" / "old.bmp", makeBmp(BmpSpec{}));
    const bool archiveCleared =
        platform::FileAttributes::set(drive / "Photos" / "old.bmp", 0 /* no archive bit */);

    auto form = makeForm();
    selectDrive(*form, 'd');
    form->RxSpeedButton2Click(form->RxSpeedButton2);

    QStringList expected = {"d:\\b.Jpg", "d:\\Photos\\Holiday\\beach.jpg", "d:\\Photos\\LOGO.BMP"};
    if (!archiveCleared)
        expected.insert(2, "d:\\Photos\\old.bmp");
    EXPECT_EQ(listed(*form), expected);
    EXPECT_TRUE(form->ListBox1->isVisible());
    const std::int64_t total = 2 * std::int64_t(jpeg.size()) +
                               std::int64_t(makeBmp(BmpSpec{}).size()) * (archiveCleared ? 1 : 2);
    EXPECT_EQ(form->StatusBar1->SimpleText().toStdString(),
              "Total files: " + std::to_string(expected.size()) +
                  " Size: " + std::to_string(total / 1024) + " Kb");

    clickRow(*form, "d:\\Photos\\Holiday\\beach.jpg");
    EXPECT_EQ(form->Image1->ImageName(), "d:\\Photos\\Holiday\\beach.jpg");
    EXPECT_TRUE(form->LabelX->isVisible());
    EXPECT_EQ(form->LabelX->text().toStdString(),
              "FileSize: " + std::to_string(jpeg.size() / 1024) + " Kb");
    EXPECT_EQ(form->StatusBar1->Panels[0].Text, "d:\\Photos\\Holiday\\beach.jpg");
    ASSERT_NE(form->Image1->Picture().Graphic(), nullptr);
    EXPECT_NE(dynamic_cast<TJPEGImage*>(form->Image1->Picture().Graphic()), nullptr);

    form->RxSpeedButton6Click(form->RxSpeedButton6);
    EXPECT_EQ(form->Image1->ImageName(), "");
    EXPECT_EQ(form->Image1->Picture().Graphic()->Width(), 180);
    EXPECT_EQ(form->Image1->Picture().Graphic()->Height(), 90);

    form->LedButton2Click(form->LedButton2);
    EXPECT_TRUE(errors.empty()) << errors.front();
    const BmpHeader saved = readBmpHeader(readFile(logo()));
    EXPECT_EQ(saved.width, 180);
    EXPECT_EQ(saved.height, 90);
    EXPECT_EQ(saved.bitCount, platform::screenBitsPerPixel());
}

TEST_F(LogoPageTest, JpegSavedWithoutFittingIsWrittenWholeAt24Bits)
{
    writeFile(drive / "big.JPG", makeJpeg({400, 250, false, false, 90}));
    auto form = makeForm();
    selectDrive(*form, 'd');
    form->RxSpeedButton2Click(form->RxSpeedButton2);
    clickRow(*form, "d:\\big.JPG");
    form->LedButton2Click(form->LedButton2);
    const std::string first = readFile(logo());
    const BmpHeader saved = readBmpHeader(first);
    EXPECT_EQ(saved.width, 400);
    EXPECT_EQ(saved.height, 250);
    EXPECT_EQ(saved.bitCount, 24);
    // The preview still holds the JPEG, and saving again writes the same file.
    EXPECT_NE(dynamic_cast<TJPEGImage*>(form->Image1->Picture().Graphic()), nullptr);
    form->LedButton2Click(form->LedButton2);
    EXPECT_EQ(readFile(logo()), first);
}

TEST_F(LogoPageTest, ExistingLogoShowsAtStartAndSavesBackUnchanged)
{
    BmpSpec spec;
    spec.width = 7;
    spec.height = 5;
    spec.bits = 8;
    spec.colors = colorTable(256);
    spec.clrUsed = 256; // a save records the colour count, so the fixture does too
    const std::string bmp = makeBmp(spec);
    writeFile(logo(), bmp);
    auto form = makeForm();
    EXPECT_TRUE(errors.empty());
    ASSERT_NE(form->Image1->Picture().Graphic(), nullptr);
    EXPECT_EQ(form->Image1->Picture().Graphic()->Width(), 7);
    EXPECT_EQ(form->Image1->ImageName(), "");
    EXPECT_FALSE(form->LabelX->isVisible());
    ::unlink(logo().c_str());
    form->LedButton2Click(form->LedButton2);
    EXPECT_EQ(readFile(logo()), bmp);
}

TEST_F(LogoPageTest, BadLogoAtStartIsReportedAndThePreviewStaysEmpty)
{
    writeFile(logo(), "BMnot a bitmap at all");
    auto form = makeForm();
    EXPECT_EQ(errors, std::vector<std::string>{"Bitmap image is not valid."});
    const TGraphic* graphic = form->Image1->Picture().Graphic();
    EXPECT_TRUE(graphic == nullptr || graphic->Empty());
}

TEST_F(LogoPageTest, SaveWithoutAPictureKeepsTheOldLogo)
{
    auto form = makeForm();
    writeFile(logo(), "old logo");
    Application().Guard([&] { form->LedButton2Click(form->LedButton2); });
    EXPECT_EQ(errors, std::vector<std::string>{"There is no picture to save."});
    EXPECT_EQ(readFile(logo()), "old logo");
}

TEST_F(LogoPageTest, SaveIntoAReadOnlySystemFolderFailsAndLeavesTheLogo)
{
    writeFile(drive / "a.bmp", makeBmp(BmpSpec{}));
    writeFile(logo(), "old logo");
    auto form = makeForm();
    errors.clear();
    selectDrive(*form, 'd');
    form->RxSpeedButton2Click(form->RxSpeedButton2);
    clickRow(*form, "d:\\a.bmp");
    ::chmod((windowsDir() / "system").c_str(), 0555);
    Application().Guard([&] { form->LedButton2Click(form->LedButton2); });
    EXPECT_EQ(errors,
              std::vector<std::string>{"Cannot create file C:\\WINDOWS\\system\\oemlogo.bmp."});
    EXPECT_EQ(readFile(logo()), "old logo");
}

TEST_F(LogoPageTest, TotalsTruncateKilobytesAndAnEmptyDriveListsNothing)
{
    for (const char* name : {"a.bmp", "b.bmp", "c.jpg"})
        writeFile(drive / name, std::string(700, 'x'));
    auto form = makeForm();
    selectDrive(*form, 'd');
    form->RxSpeedButton2Click(form->RxSpeedButton2);
    EXPECT_EQ(form->StatusBar1->SimpleText(), "Total files: 3 Size: 2 Kb");

    for (const char* name : {"a.bmp", "b.bmp", "c.jpg"})
        fs::remove(drive / name);
    form->RxSpeedButton2Click(form->RxSpeedButton2);
    EXPECT_EQ(form->StatusBar1->SimpleText(), "Total files: 0 Size: 0 Kb");
    EXPECT_TRUE(form->ListBox1->isVisible());
    EXPECT_EQ(form->ListBox1->count(), 0);
}

TEST_F(LogoPageTest, FileSizeLabelTruncatesAndAMissingFileEmptiesThePreview)
{
    writeFile(drive / "small.bmp", std::string(1023, 'x'));
    writeFile(drive / "exact.bmp",
              makeBmp(BmpSpec{}) + std::string(1024 - makeBmp(BmpSpec{}).size(), '\0'));
    auto form = makeForm();
    selectDrive(*form, 'd');
    form->RxSpeedButton2Click(form->RxSpeedButton2);
    clickRow(*form, "d:\\exact.bmp");
    EXPECT_EQ(form->LabelX->text(), "FileSize: 1 Kb");
    // Not a picture: the preview shows "Empty" without a message.
    clickRow(*form, "d:\\small.bmp");
    EXPECT_EQ(form->LabelX->text(), "FileSize: 0 Kb");
    EXPECT_TRUE(errors.empty());
    // Deleted since the scan: empty preview, the size label keeps the last size.
    fs::remove(drive / "exact.bmp");
    clickRow(*form, "d:\\exact.bmp");
    const TGraphic* graphic = form->Image1->Picture().Graphic();
    EXPECT_TRUE(graphic == nullptr || graphic->Empty());
    EXPECT_EQ(form->LabelX->text(), "FileSize: 0 Kb");
}

TEST_F(LogoPageTest, ClickWithoutSelectionReportsIndexMinusOne)
{
    auto form = makeForm();
    Application().Guard([&] { form->ListBox1Click(form->ListBox1); });
    EXPECT_EQ(errors, std::vector<std::string>{"List index out of bounds (-1)"});
}

TEST_F(LogoPageTest, StopDuringAScanReportsWhatWasFoundSoFar)
{
    for (int i = 0; i < 200; ++i)
        writeFile(drive / ("dir" + std::to_string(i)) / "p.bmp", "x");
    auto form = makeForm();
    selectDrive(*form, 'd');
    int ends = 0;
    auto original = form->FilesScan1->OnEndProcess;
    form->FilesScan1->OnEndProcess = [&](TFilesScan* s, TStringList& l, std::int64_t c,
                                         std::int64_t z) {
        ++ends;
        original(s, l, c, z);
    };
    QTimer::singleShot(0, form.get(), [&] { form->RxSpeedButton3Click(form->RxSpeedButton3); });
    form->RxSpeedButton2Click(form->RxSpeedButton2);
    EXPECT_EQ(ends, 1);
    EXPECT_LT(form->ListBox1->count(), 200);
    EXPECT_TRUE(form->StatusBar1->SimpleText().startsWith("Total files: "));
}

TEST_F(LogoPageTest, ClosingDuringAScanLetsItFinishAndThenEndsTheProgram)
{
    for (int i = 0; i < 50; ++i)
        writeFile(drive / ("dir" + std::to_string(i)) / "p.jpg", "x");
    auto form = makeForm();
    selectDrive(*form, 'd');
    QTimer::singleShot(0, form.get(), [&] { form->close(); });
    form->RxSpeedButton2Click(form->RxSpeedButton2);
    EXPECT_EQ(form->ListBox1->count(), 50);
    EXPECT_EQ(form->StatusBar1->SimpleText(), "Total files: 50 Size: 0 Kb");
    EXPECT_TRUE(Application().Terminated());
}

TEST_F(LogoPageTest, ListClicksFromTheUserReachTheHandlerButFillingTheListDoesNot)
{
    writeFile(drive / "one.bmp", makeBmp(BmpSpec{}));
    writeFile(drive / "two.bmp", makeBmp(BmpSpec{}));
    auto form = makeForm();
    selectDrive(*form, 'd');
    form->RxSpeedButton2Click(form->RxSpeedButton2);
    // Filling the list selected nothing and previewed nothing.
    EXPECT_FALSE(form->LabelX->isVisible());
    form->ListBox1->setFocus();
    form->ListBox1->setCurrentRow(0);
    EXPECT_EQ(errors, std::vector<std::string>{});
    EXPECT_EQ(form->Image1->ImageName(), "d:\\one.bmp");
    // The keyboard moves the selection and previews the next file.
    QTest::keyClick(form->ListBox1, Qt::Key_Down);
    EXPECT_EQ(form->Image1->ImageName(), "d:\\two.bmp");
}

TEST_F(LogoPageTest, ASecondScanDuringAScanReportsFirstThenTheOuterScanReportsAgain)
{
    for (int i = 0; i < 20; ++i)
        writeFile(drive / ("dir" + std::to_string(i)) / "p.bmp", "x");
    auto form = makeForm();
    selectDrive(*form, 'd');
    std::vector<std::int64_t> reports;
    auto original = form->FilesScan1->OnEndProcess;
    form->FilesScan1->OnEndProcess = [&](TFilesScan* s, TStringList& l, std::int64_t c,
                                         std::int64_t z) {
        reports.push_back(c);
        original(s, l, c, z);
    };
    QTimer::singleShot(0, form.get(), [&] { form->RxSpeedButton2Click(form->RxSpeedButton2); });
    form->RxSpeedButton2Click(form->RxSpeedButton2);
    ASSERT_EQ(reports.size(), 2u);
    // The nested scan found everything; the outer one then went on adding to the same totals.
    EXPECT_EQ(reports[0], 20);
    EXPECT_GE(reports[1], 20);
    EXPECT_EQ(form->StatusBar1->SimpleText().toStdString(),
              "Total files: " + std::to_string(reports[1]) + " Size: 0 Kb");
}

TEST_F(LogoPageTest, AJpegIsSavedAsA24BitBitmapWhateverTheCaseOfItsExtension)
{
    // The same picture under names whose extensions differ in letter case only; each must
    // take the JPEG save path and give the same file.
    const std::string jpeg = makeJpeg({200, 130, false, false, 90});
    const char* const names[] = {"d:\\photo.JPG", "d:\\x\\photo.jpg", "d:\\y\\photo.jPg"};
    writeFile(drive / "photo.JPG", jpeg);
    writeFile(drive / "x" / "photo.jpg", jpeg);
    writeFile(drive / "y" / "photo.jPg", jpeg);
    auto form = makeForm();
    selectDrive(*form, 'd');
    form->RxSpeedButton2Click(form->RxSpeedButton2);
    std::string first;
    for (const char* name : names) {
        SCOPED_TRACE(name);
        ::unlink(logo().c_str());
        clickRow(*form, name);
        Application().Guard([&] { form->LedButton2Click(form->LedButton2); });
        EXPECT_TRUE(errors.empty()) << errors.front();
        errors.clear();
        const std::string written = readFile(logo());
        const BmpHeader saved = readBmpHeader(written);
        EXPECT_EQ(saved.width, 200);
        EXPECT_EQ(saved.height, 130);
        EXPECT_EQ(saved.bitCount, 24);
        if (first.empty())
            first = written;
        else
            EXPECT_EQ(written, first);
        // The viewer still shows the JPEG picture.
        EXPECT_NE(dynamic_cast<TJPEGImage*>(form->Image1->Picture().Graphic()), nullptr);
        EXPECT_EQ(form->Image1->ImageName(), name);
    }
}

TEST_F(LogoPageTest, ANameThatIsNotUtf8IsListedReadablyAndOpenedByItsBytes)
{
    // "café.bmp" as an old disk in Latin-1 names it: the byte 0xE9 alone is not UTF-8.
    const std::string picture = makeBmp(BmpSpec{});
    writeFile(drive / "caf\xE9.bmp", picture);
    writeFile(drive / "caf\xC3\xA9.bmp", picture + picture);
    auto form = makeForm();
    selectDrive(*form, 'd');
    form->RxSpeedButton2Click(form->RxSpeedButton2);
    ASSERT_EQ(form->ListBox1->count(), 2);
    EXPECT_TRUE(listed(*form).contains(QString::fromUtf8("d:\\caf\xEF\xBF\xBD.bmp")));
    EXPECT_TRUE(listed(*form).contains(QString::fromUtf8("d:\\café.bmp")));

    clickRow(*form, QString::fromUtf8("d:\\caf\xEF\xBF\xBD.bmp"));
    EXPECT_EQ(form->Image1->ImageName(), "d:\\caf\xE9.bmp");
    EXPECT_EQ(form->LabelX->text(), QString("FileSize: %1 Kb").arg(picture.size() / 1024));
    const TGraphic* graphic = form->Image1->Picture().Graphic();
    ASSERT_TRUE(graphic != nullptr && !graphic->Empty());
    form->LedButton2Click(form->LedButton2);
    EXPECT_EQ(readFile(logo()), picture);

    // The UTF-8 name opens the other file.
    clickRow(*form, QString::fromUtf8("d:\\café.bmp"));
    EXPECT_EQ(form->Image1->ImageName(), "d:\\caf\xC3\xA9.bmp");
    EXPECT_TRUE(errors.empty());
}

TEST(ElidedPathDelegate, ALongPathLosesTheMiddleOfItsFoldersAndKeepsItsFileName)
{
    const QFontMetrics metrics(DesignFont::Font());
    const QString ellipsis(QChar(0x2026));
    const QString deep = "z:\\home\\ann\\pictures\\2019\\summer\\by the sea\\beach-at-dusk.jpg";
    const QString longName = "d:\\a-picture-whose-name-alone-is-far-too-long-for-the-list.jpg";
    const struct {
        QString path;
        QString start; // what the shown text begins with
        QString end;   // and ends with
        bool shortened;
    } cases[] = {
        {"d:\\short.bmp", "d:\\short.bmp", "d:\\short.bmp", false},
        {deep, "z:\\", "\\beach-at-dusk.jpg", true},
        {longName, "a-picture", ".jpg", true},
        {"no-folders-at-all-but-a-very-long-name-indeed-here.jpg", "no-folders", ".jpg", true},
    };
    const int width = 200;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path.toStdString());
        const QString shown = ElidedPathDelegate::elide(c.path, metrics, width);
        EXPECT_LE(metrics.horizontalAdvance(shown), width);
        EXPECT_TRUE(shown.startsWith(c.start)) << shown.toStdString();
        EXPECT_TRUE(shown.endsWith(c.end)) << shown.toStdString();
        EXPECT_EQ(shown.contains(ellipsis), c.shortened) << shown.toStdString();
    }
}

TEST_F(LogoPageTest, LongPathsShowTheirFileNamesAndTheWholePathAsTooltip)
{
    const fs::path deep = drive / "a folder with a long name" / "another long folder name" / "2019";
    writeFile(deep / "beach-at-dusk.jpg", makeJpeg({20, 10, false, false, 90}));
    auto form = makeForm();
    selectDrive(*form, 'd');
    form->RxSpeedButton2Click(form->RxSpeedButton2);
    const QString path =
        "d:\\a folder with a long name\\another long folder name\\2019\\beach-at-dusk.jpg";
    ASSERT_EQ(listed(*form), QStringList{path});
    // The list keeps its place and size, and its rows fit it: nothing scrolls sideways.
    EXPECT_EQ(form->ListBox1->geometry(), QRect(288, 34, 212, 173));
    const QModelIndex row = form->ListBox1->model()->index(0, 0);
    EXPECT_LE(form->ListBox1->visualRect(row).width(), form->ListBox1->viewport()->width());
    EXPECT_EQ(form->ListBox1->horizontalScrollBar()->maximum(), 0);
    // The row still holds the whole path, and shows it as its tooltip.
    const QPoint at = form->ListBox1->visualRect(row).center();
    QHelpEvent tip(QEvent::ToolTip, at, form->ListBox1->viewport()->mapToGlobal(at));
    QApplication::sendEvent(form->ListBox1->viewport(), &tip);
    EXPECT_EQ(QToolTip::text(), path);
    clickRow(*form, path);
    EXPECT_EQ(form->Image1->ImageName(), path.toStdString());
}
