// The window on a machine whose drives hold FIFOs, sockets and links to devices: it starts,
// scans and previews without ever waiting on one of them.
#include "tests/support/SpecialFiles.h"
#include "app/Unit1.h"
#include "controls/AdvImage.h"
#include "controls/TRxSpeedButton.h"
#include "imaging/TPicture.h"
#include "scan/TDriveComboBox.h"
#include "tests/support/TempPrefix.h"
#include "tests/support/Watchdog.h"

#include <QLabel>
#include <QLineEdit>
#include <QListWidget>

namespace fs = std::filesystem;

namespace {

class WindowSpecialFiles : public TempPrefixTest {
protected:
    void SetUp() override
    {
        TempPrefixTest::SetUp();
        createDefaultPrefix();
        drive = temp() / "ddrive";
        fs::create_directories(drive);
        fs::create_directory_symlink(drive, prefix() / "dosdevices" / "d:");
    }

    fs::path system() const { return windowsDir() / "system"; }

    static QStringList listed(const TForm1& form)
    {
        QStringList rows;
        for (int i = 0; i < form.ListBox1->count(); ++i)
            rows << form.ListBox1->item(i)->text();
        return rows;
    }

    fs::path drive;
};

} // namespace

TEST_F(WindowSpecialFiles, OemFilesThatAreNotFilesLeaveTheDefaultsAndNoLogo)
{
    for (SpecialKind kind : kSpecialKinds) {
        SCOPED_TRACE(describe(kind));
        fs::remove(system() / "oeminfo.ini");
        fs::remove(system() / "oemlogo.bmp");
        makeSpecialFile(kind, system() / "oeminfo.ini");
        makeSpecialFile(kind, system() / "oemlogo.bmp");
        Watchdog watchdog("starting with oeminfo.ini and oemlogo.bmp as " + describe(kind));
        TForm1 form;
        form.ShowCentred();
        EXPECT_EQ(form.Edit1->text(), "Made by");
        EXPECT_EQ(form.Image1->Picture().Graphic(), nullptr);
        EXPECT_TRUE(errors.empty()) << errors.front();
    }
}

TEST_F(WindowSpecialFiles, TheScanSkipsThemAndAClickOnOneSwappedInReturns)
{
    writeFile(drive / "real.bmp", "not a picture");
    writeFile(drive / "later.jpg", "not a picture");
    int n = 0;
    for (SpecialKind kind : kSpecialKinds)
        for (const char* extension : {".bmp", ".jpg"})
            makeSpecialFile(kind, drive / ("trap" + std::to_string(n++) + extension));

    Watchdog watchdog("scanning and clicking special files");
    TForm1 form;
    form.ShowCentred();
    form.DriveComboBox1->SetDriveLetter('d');
    form.RxSpeedButton2Click(form.RxSpeedButton2);
    EXPECT_EQ(listed(form), (QStringList{"d:\\later.jpg", "d:\\real.bmp"}));

    // Each listed file is replaced by a special file before it is clicked: the preview
    // empties as for a file deleted since the scan, and the window goes on.
    for (SpecialKind kind : {SpecialKind::Fifo, SpecialKind::LinkToZero}) {
        const int row = kind == SpecialKind::Fifo ? 0 : 1;
        const fs::path path = drive / form.ListBox1->item(row)->text().mid(3).toStdString();
        fs::remove(path);
        makeSpecialFile(kind, path);
        form.ListBox1->setCurrentRow(row);
        form.ListBox1Click(form.ListBox1);
        EXPECT_EQ(form.Image1->Picture().Graphic(), nullptr);
        EXPECT_EQ(form.LabelX->text(), "FileSize: 0 Kb");
    }
    EXPECT_TRUE(errors.empty()) << errors.front();
}
