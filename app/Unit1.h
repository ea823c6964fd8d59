#pragma once

#include "app/TListBox.h"
#include "oem/OemSystem.h"

#include <QWidget>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

class QLabel;
class QLineEdit;
class QTabWidget;
class TASLink;
class TAdvImage;
class TBevel;
class TDriveComboBox;
class TFileOperations;
class TFilesScan;
class TProLabel;
class TRxLabel;
class TRxSpeedButton;
class TRxTrayIcon;
class TShape;
class TShortcuts;
class TStatusBar;
class TStringList;
class TSysInfo;

// Starts the System Properties sheet of the Control Panel with the given applet file name and
// returns the platform's result (31 or less is a failure).
int OpenControlPanelApplet(const std::string& Applet);

// The main window: three pages in a tabbed notebook. The logo page finds, previews, fits and
// saves the OEM logo; the info page edits the OEM support information; the about page shows
// the maker's links and writes the program's shortcuts.
class TForm1 : public QWidget {
public:
    explicit TForm1(QWidget* parent = nullptr);
    ~TForm1() override;

    // Shows the window centred on the screen with the logo page active.
    void ShowCentred();

    // The Windows directory path: the SystemRoot registry value followed by "\". Every OEM
    // file path is built from it.
    std::string WindowsDirectory() const;
    // The system that FormCreate recognised, which knows where its OEM data lives; a 9x
    // system with the Windows directory "\" until then.
    const oem::OemSystem& System() const { return system_; }

    void FormCreate(QObject* Sender);
    void LoadOemInfo();
    void SaveOemInfo();

    // The logo page.
    void RxSpeedButton2Click(QObject* Sender);
    void FilesScan1Process(TFilesScan* Sender, const std::string& Dir, std::int64_t FilesCount,
                           std::int64_t FilesSize);
    void FilesScan1EndProcess(TFilesScan* Sender, TStringList& FilesList,
                              std::int64_t FilesCount, std::int64_t FilesSize);
    void ListBox1Click(QObject* Sender);
    void RxSpeedButton3Click(QObject* Sender);
    void RxSpeedButton6Click(QObject* Sender);
    void LedButton2Click(QObject* Sender);

    // The other buttons.
    void Button1Click(QObject* Sender);
    void Button2Click(QObject* Sender);
    void LedButton3Click(QObject* Sender);
    void RxSpeedButton5Click(QObject* Sender);
    void RxSpeedButton1Click(QObject* Sender);
    void RxSpeedButton4Click(QObject* Sender);
    void RxSpeedButton7Click(QObject* Sender);

    // The notebook and its pages.
    QTabWidget* PageControl1 = nullptr;
    QWidget* TabSheet1 = nullptr;
    QWidget* TabSheet2 = nullptr;
    QWidget* TabSheet3 = nullptr;

    // Logo page.
    TBevel* Bevel3 = nullptr;
    TShape* Shape1 = nullptr;
    TAdvImage* Image1 = nullptr;
    QLabel* Label4 = nullptr;
    QLabel* Label13 = nullptr;
    QLabel* LabelX = nullptr;
    QLabel* Label1 = nullptr;
    TDriveComboBox* DriveComboBox1 = nullptr;
    TRxSpeedButton* RxSpeedButton2 = nullptr;
    TRxSpeedButton* RxSpeedButton3 = nullptr;
    TRxSpeedButton* RxSpeedButton6 = nullptr;
    TBevel* Bevel7 = nullptr;
    TRxLabel* RxLabel2 = nullptr;
    QLabel* Label5 = nullptr;
    TListBox* ListBox1 = nullptr;
    TRxSpeedButton* RxSpeedButton1 = nullptr;
    TRxSpeedButton* LedButton2 = nullptr;
    TRxSpeedButton* LedButton3 = nullptr;
    TStatusBar* StatusBar1 = nullptr;

    // Info page.
    TRxLabel* RxLabel1 = nullptr;
    TBevel* Bevel4 = nullptr;
    QLabel* Label7 = nullptr;
    QLabel* Label8 = nullptr;
    QLineEdit* Edit1 = nullptr;
    QLabel* Label9 = nullptr;
    QLineEdit* Edit2 = nullptr;
    QLabel* Label10 = nullptr;
    QLineEdit* Edit3 = nullptr;
    QLabel* Label11 = nullptr;
    QLineEdit* Edit4 = nullptr;
    TBevel* Bevel8 = nullptr;
    TRxSpeedButton* Button1 = nullptr;
    TRxSpeedButton* RxSpeedButton4 = nullptr;
    TRxSpeedButton* Button2 = nullptr;

    // About page.
    TBevel* Bevel1 = nullptr;
    TProLabel* ProLabel1 = nullptr;
    TASLink* ASLink1 = nullptr;
    TASLink* ASLink2 = nullptr;
    TBevel* Bevel5 = nullptr;
    QLabel* Label12 = nullptr;
    TASLink* ASLink4 = nullptr;
    TBevel* Bevel2 = nullptr;
    TRxSpeedButton* RxSpeedButton7 = nullptr;
    TRxSpeedButton* RxSpeedButton5 = nullptr;

    // Components without a window, owned by the window.
    TFilesScan* FilesScan1 = nullptr;
    std::unique_ptr<TSysInfo> SysInfo1;
    TShortcuts* Shortcuts1 = nullptr;
    TRxTrayIcon* RxTrayIcon1 = nullptr;
    TFileOperations* FileOperations1 = nullptr;

protected:
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void createLogoPage();
    void createInfoPage();
    void createAboutPage();
    void createComponents();
    void loadStartupLogo();
    void connectListBoxClicks();

    // True while the program itself fills or clears the list box, whose selection changes
    // then are not the user's.
    bool fillingList_ = false;
    int rowBeforePress_ = -1;

    // The Windows directory as the system gives it, in its own bytes; nothing until
    // FormCreate has read the system root, and paths are then built from "\". Label13 shows it.
    std::optional<std::string> windowsDirectory_;
    // False until LoadOemInfo has filled the info page from the system. Until then the page
    // holds its design texts ("Edit1" ...), which must never be saved over the stored values:
    // Save Info then writes only the fields that the user has typed into.
    bool infoLoaded_ = false;
    bool typed_[4] = {};
    oem::OemSystem system_;
};
