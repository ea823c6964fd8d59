#pragma once

#include <QImage>
#include <QWidget>

#include <string>
#include <vector>

class QLabel;
class QPushButton;

// What the System Properties window shows of the machine's maker: the OEM logo and the
// "Manufactured and supported by" lines, read from the system folder's oemlogo.bmp and
// oeminfo.ini. Without oeminfo.ini none of it is shown.
struct OemDetails {
    bool hasInfo = false;              // oeminfo.ini exists
    QImage logo;                       // null when there is none to show
    std::string manufacturer;          // "general" "Manufacturer"
    std::string model;                 // "general" "Model"
    std::vector<std::string> support;  // "Support Information" Line1, Line2, … in order

    // Reads the details of the machine that WINEPREFIX names.
    static OemDetails read();
    // The Windows directory: the registry's SystemRoot, else C:\WINDOWS.
    static std::string windowsDirectory();
};

// The "System Properties" window.
class SysPropsWindow : public QWidget {
public:
    explicit SysPropsWindow(const OemDetails& details, QWidget* parent = nullptr);

    // The texts the window shows, in order from the top, one per line, then the support lines.
    std::vector<std::string> describe() const;
    // Shows the support lines in a box of their own.
    void showSupportInformation();

private:
    OemDetails details_;
    QLabel* logo_ = nullptr;
    QPushButton* supportButton_ = nullptr;
};
