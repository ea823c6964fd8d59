#pragma once

#include <QWidget>

#include <memory>
#include <string>

class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QComboBox;
class QTabWidget;
class TBevel;
class TShape;
class TStatusBar;
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

    void FormCreate(QObject* Sender);
    void LoadOemInfo();
    void SaveOemInfo();

    // Click handlers, named after their buttons.
    void Button1Click(QObject* Sender);
    void Button2Click(QObject* Sender);
    void LedButton3Click(QObject* Sender);
    void RxSpeedButton5Click(QObject* Sender);
    void RxSpeedButton1Click(QObject* Sender);
    void RxSpeedButton4Click(QObject* Sender);

    // The notebook and its pages.
    QTabWidget* PageControl1 = nullptr;
    QWidget* TabSheet1 = nullptr;
    QWidget* TabSheet2 = nullptr;
    QWidget* TabSheet3 = nullptr;

    // Logo page.
    TBevel* Bevel3 = nullptr;
    TShape* Shape1 = nullptr;
    QLabel* Image1 = nullptr;
    QLabel* Label4 = nullptr;
    QLabel* Label13 = nullptr;
    QLabel* LabelX = nullptr;
    QLabel* Label1 = nullptr;
    QComboBox* DriveComboBox1 = nullptr;
    QPushButton* RxSpeedButton2 = nullptr;
    QPushButton* RxSpeedButton3 = nullptr;
    QPushButton* RxSpeedButton6 = nullptr;
    TBevel* Bevel7 = nullptr;
    QLabel* RxLabel2 = nullptr;
    QLabel* Label5 = nullptr;
    QListWidget* ListBox1 = nullptr;
    QPushButton* RxSpeedButton1 = nullptr;
    QPushButton* LedButton2 = nullptr;
    QPushButton* LedButton3 = nullptr;
    TStatusBar* StatusBar1 = nullptr;

    // Info page.
    QLabel* RxLabel1 = nullptr;
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
    QPushButton* Button1 = nullptr;
    QPushButton* RxSpeedButton4 = nullptr;
    QPushButton* Button2 = nullptr;

    // About page.
    TBevel* Bevel1 = nullptr;
    QLabel* ProLabel1 = nullptr;
    QLabel* ASLink1 = nullptr;
    QLabel* ASLink2 = nullptr;
    TBevel* Bevel5 = nullptr;
    QLabel* Label12 = nullptr;
    QLabel* ASLink4 = nullptr;
    TBevel* Bevel2 = nullptr;
    QPushButton* RxSpeedButton7 = nullptr;
    QPushButton* RxSpeedButton5 = nullptr;

    // Components without a window.
    std::unique_ptr<TSysInfo> SysInfo1;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void createLogoPage();
    void createInfoPage();
    void createAboutPage();
    void createComponents();
    std::string oemInfoPath() const;

    // False until FormCreate has read the system root: paths are then built from "\".
    bool windowsDirectoryKnown_ = false;
};
