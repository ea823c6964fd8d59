#pragma once

#include "oem/OemSystem.h"

#include <QImage>
#include <QWidget>

#include <optional>
#include <string>
#include <vector>

class QLabel;
class QPushButton;
class QVBoxLayout;

// What the System Properties window shows of the machine's maker, as the machine's generation
// of Windows shows it. 9x and NT 5: the OEM logo and the "Manufactured and supported by" lines
// from the system folder's oemlogo.bmp and oeminfo.ini, none of it without oeminfo.ini. NT 6
// and later: "Manufacturer:" and "Model:", the logo and a support part, from the registry's
// OEMInformation values, each when it exists.
struct OemDetails {
    oem::Generation generation = oem::Generation::Windows9x;
    bool hasInfo = false;         // 9x, NT 5: oeminfo.ini exists; NT 6: any value does
    QImage logo;                  // null when there is none to show
    oem::LogoBox logoBox{oem::OemSystem::kLogoWidth, oem::OemSystem::kLogoHeight}; // its area
    std::string manufacturer;     // "general" "Manufacturer", or the registry value
    std::string model;            // "general" "Model", or the registry value
    bool hasManufacturer = false; // NT 6: the values exist
    bool hasModel = false;
    std::vector<std::string> support; // 9x, NT 5: "Support Information" Line1, Line2, …
    std::string productName;          // NT: the system's name for itself
    // NT 6: the support part; each line shows when its value exists.
    std::optional<std::string> supportPhone;
    std::optional<std::string> supportHours;
    std::optional<std::string> supportUrl;

    // Reads the details of the machine that WINEPREFIX names. An 8-bit logo of a 9x system
    // is drawn as that system draws it: the colour of the second pixel from the left in its
    // bottom row is transparent wherever it is.
    static OemDetails read();
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
    // The maker part as 9x and NT 5 show it, and as NT 6 shows it.
    void addFileDetails(QVBoxLayout* lines);
    void addRegistryDetails(QVBoxLayout* lines);

    OemDetails details_;
    QLabel* logo_ = nullptr;
    QPushButton* supportButton_ = nullptr;
};
