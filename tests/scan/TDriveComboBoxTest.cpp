#include "scan/TDriveComboBox.h"

#include "platform/Drives.h"
#include "tests/support/TempPrefix.h"

#include <QApplication>
#include <QFont>
#include <QPainter>
#include <QTest>

#include <set>

namespace fs = std::filesystem;

namespace {

class TDriveComboBoxTest : public TempPrefixTest {
protected:
    void SetUp() override
    {
        TempPrefixTest::SetUp();
        createDefaultPrefix();
        const fs::path dev = prefix() / "dosdevices";
        fs::remove(dev / "z:");
        // a: a floppy whose disk has a label that must never be read.
        fs::create_directories(temp() / "floppy");
        writeFile(temp() / "floppy" / ".windows-label", "FLOPPYLABEL\n");
        fs::create_directory_symlink(temp() / "floppy", dev / "a:");
        writeFile(prefix() / "drive_c" / ".windows-label", "SyStem\r\n");
        // d: a CD drive without a disc.
        fs::create_directory_symlink(temp() / "no-disc", dev / "d:");
        // n: a network drive on a cifs mount; r: a RAM disk; q: no root directory.
        fs::create_directories(temp() / "mnt" / "share");
        fs::create_directory_symlink(temp() / "mnt" / "share", dev / "n:");
        fs::create_directories(temp() / "ram");
        writeFile(temp() / "ram" / ".windows-label", "Scratch");
        fs::create_directory_symlink(temp() / "ram", dev / "r:");
        fs::create_directory_symlink(temp() / "gone", dev / "q:");
        writeFile(prefix() / "system.reg", "WINE REGISTRY Version 2\n"
                                           "[Software\\\\Wine\\\\Drives] 1700000000\n"
                                           "\"a:\"=\"floppy\"\n"
                                           "\"d:\"=\"cdrom\"\n"
                                           "\"n:\"=\"network\"\n"
                                           "\"r:\"=\"ramdisk\"\n");
        const std::string mountPoint = fs::canonical(temp() / "mnt").string();
        platform::Drives::setMountTableForTesting("22 1 8:1 / / rw - ext4 /dev/sda1 rw\n"
                                                  "40 22 0:50 / " +
                                                  mountPoint +
                                                  " rw - cifs //FileServer/Pictures rw\n");
        // The process works on drive c.
        fs::current_path(prefix() / "drive_c");
    }
    void TearDown() override
    {
        platform::Drives::setMountTableForTesting(std::nullopt);
        TempPrefixTest::TearDown();
    }

    static std::vector<std::string> texts(const TDriveComboBox& box)
    {
        std::vector<std::string> out;
        for (const auto& line : box.Lines())
            out.push_back(line.text);
        return out;
    }
};

TEST_F(TDriveComboBoxTest, ListsEachDriveWithItsLabelOrShareInLowerCase)
{
    TDriveComboBox box;
    EXPECT_EQ(texts(box),
              (std::vector<std::string>{"a:", "c: [system]", "d: []", "n: \\\\fileserver\\pictures",
                                        "r: [scratch]"}));
    std::vector<TDriveGlyph> glyphs;
    for (const auto& line : box.Lines())
        glyphs.push_back(line.glyph);
    EXPECT_EQ(glyphs, (std::vector<TDriveGlyph>{dgFloppy, dgHard, dgCdRom, dgNetwork, dgRam}));
    EXPECT_EQ(box.count(), 5);
    EXPECT_EQ(box.DriveLetter(), 'c');
    EXPECT_EQ(box.currentIndex(), 1);
    // Reading labels left the error mode as it was.
    EXPECT_EQ(platform::Drives::setErrorMode(0), 0u);
}

TEST_F(TDriveComboBoxTest, UpperCaseTextCaseRaisesLettersLabelsAndDriveLetter)
{
    TDriveComboBox box;
    int changes = 0;
    box.OnChange = [&](QObject*) { ++changes; };
    box.SetTextCase(tcUpperCase);
    EXPECT_EQ(texts(box),
              (std::vector<std::string>{"A:", "C: [SYSTEM]", "D: []", "N: \\\\FILESERVER\\PICTURES",
                                        "R: [SCRATCH]"}));
    EXPECT_EQ(box.DriveLetter(), 'C');
    EXPECT_EQ(box.currentIndex(), 1);
    EXPECT_EQ(changes, 1);
    box.SetTextCase(tcUpperCase);
    EXPECT_EQ(changes, 1) << "setting the same case changes nothing";
}

TEST_F(TDriveComboBoxTest, NetworkDriveWithoutConnectionShowsItsLabel)
{
    platform::Drives::setMountTableForTesting("22 1 8:1 / / rw - ext4 /dev/sda1 rw\n");
    writeFile(temp() / "mnt" / "share" / ".windows-label", "Local");
    TDriveComboBox box;
    EXPECT_EQ(box.Lines().at(3).text, "n: [local]");
}

TEST_F(TDriveComboBoxTest, SettingDriveLetterFollowsTheCaseAndEventRules)
{
    TDriveComboBox box;
    std::vector<char> seen;
    box.OnChange = [&](QObject* sender) {
        EXPECT_EQ(sender, &box);
        seen.push_back(box.DriveLetter());
    };

    box.SetDriveLetter('D');
    EXPECT_EQ(box.DriveLetter(), 'd');
    EXPECT_EQ(box.currentIndex(), 2);
    box.SetDriveLetter('d');
    box.SetDriveLetter('D');
    EXPECT_EQ(seen, (std::vector<char>{'d'})) << "the same letter fires no event";

    // A letter without a line: held, but the old line stays selected.
    box.SetDriveLetter('x');
    EXPECT_EQ(box.DriveLetter(), 'x');
    EXPECT_EQ(box.currentIndex(), 2);

    box.SetDriveLetter(0);
    EXPECT_EQ(box.DriveLetter(), 0);
    EXPECT_EQ(box.currentIndex(), -1);
    EXPECT_EQ(seen, (std::vector<char>{'d', 'x', 0}));
}

TEST_F(TDriveComboBoxTest, PickingALineSetsItsLetter)
{
    TDriveComboBox box;
    int changes = 0;
    box.OnChange = [&](QObject*) { ++changes; };
    box.setCurrentIndex(4);
    emit box.activated(4);
    EXPECT_EQ(box.DriveLetter(), 'r');
    EXPECT_EQ(changes, 1);
}

TEST_F(TDriveComboBoxTest, NoDriveIsSelectedWhenTheCurrentDirectoryIsOnNoDrive)
{
    fs::current_path(temp());
    TDriveComboBox box;
    EXPECT_EQ(box.DriveLetter(), 0);
    EXPECT_EQ(box.currentIndex(), -1);
}

TEST_F(TDriveComboBoxTest, FontChangeRecomputesItemHeightAndRebuildsTheLines)
{
    TDriveComboBox box;
    EXPECT_EQ(box.ItemHeight(), std::max(box.fontMetrics().height(), 11));
    fs::create_directories(temp() / "extra");
    fs::create_directory_symlink(temp() / "extra", prefix() / "dosdevices" / "e:");
    EXPECT_EQ(box.count(), 5) << "drives that come later wait for the next rebuild";

    QFont big = box.font();
    big.setPixelSize(30);
    box.setFont(big);
    EXPECT_EQ(box.ItemHeight(), QFontMetrics(big).height());
    EXPECT_EQ(box.count(), 6);
    EXPECT_EQ(box.Lines().at(3).text, "e: []");
    EXPECT_EQ(box.DriveLetter(), 'c');
    EXPECT_EQ(box.currentIndex(), 1);

    QFont tiny = box.font();
    tiny.setPixelSize(4);
    box.setFont(tiny);
    EXPECT_EQ(box.ItemHeight(), 11);
}

TEST_F(TDriveComboBoxTest, GlyphsAreSixteenByElevenWithATransparentBottomLeftPixel)
{
    for (TDriveGlyph g : {dgFloppy, dgHard, dgNetwork, dgCdRom, dgRam}) {
        const QImage glyph = TDriveComboBox::GlyphImage(g);
        EXPECT_EQ(glyph.size(), QSize(16, 11));
        const QColor key = glyph.pixelColor(0, 10);
        int keyPixels = 0;
        std::set<QRgb> colours;
        for (int y = 0; y < 11; ++y)
            for (int x = 0; x < 16; ++x) {
                keyPixels += glyph.pixelColor(x, y) == key;
                colours.insert(glyph.pixel(x, y));
            }
        EXPECT_LT(keyPixels, 16 * 11) << "glyph " << g << " shows something";
        EXPECT_LE(colours.size(), 16u);
    }
    EXPECT_NE(TDriveComboBox::GlyphImage(dgFloppy), TDriveComboBox::GlyphImage(dgHard));
}

TEST_F(TDriveComboBoxTest, DrawsTheGlyphTransparentlyAndTheTextAfterIt)
{
    TDriveComboBox box;
    QImage canvas(120, 20, QImage::Format_RGB32);
    canvas.fill(Qt::white);
    {
        QPainter painter(&canvas);
        box.drawLine(painter, QRect(0, 0, 120, 20), 1, false);
    }
    const QColor base = box.palette().color(QPalette::Base);
    // The glyph's transparent corner shows the background at (2, top + 10), top = (0+20-11)/2.
    EXPECT_EQ(canvas.pixelColor(2, 4 + 10), base);
    bool glyphDrawn = false;
    for (int x = 2; x < 18; ++x)
        glyphDrawn |= canvas.pixelColor(x, 9) != base;
    EXPECT_TRUE(glyphDrawn);
    bool textLeftOfStart = false;
    for (int y = 0; y < 20; ++y)
        for (int x = 18; x < 22; ++x)
            textLeftOfStart |= canvas.pixelColor(x, y) != base;
    EXPECT_FALSE(textLeftOfStart) << "text begins 6 pixels after the glyph";
}

} // namespace
