#include "sysprops/SysPropsWindow.h"

#include "core/AsciiCase.h"
#include "imaging/TBitmap.h"
#include "platform/Profile.h"
#include "platform/Registry.h"
#include "platform/TRegistry.h"
#include "platform/WinPath.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPixmap>
#include <QPushButton>
#include <QVBoxLayout>

#include <system_error>

namespace {

// The logo area of the window, the size the OEM logo is made for.
constexpr int kLogoWidth = 180;
constexpr int kLogoHeight = 114;
constexpr unsigned kProfileBuffer = 1024;
// The most support lines the window lists.
constexpr int kMaxSupportLines = 99;

std::string profileString(const char* section, const char* key, const std::string& file)
{
    char buffer[kProfileBuffer] = {};
    platform::GetPrivateProfileStringA(section, key, "", buffer, kProfileBuffer, file.c_str());
    return buffer;
}

// The key names of a section, as the profile functions list them.
std::vector<std::string> sectionKeys(const char* section, const std::string& file)
{
    std::vector<char> buffer(32768);
    const unsigned length = platform::GetPrivateProfileStringA(
        section, nullptr, "", buffer.data(), unsigned(buffer.size()), file.c_str());
    std::vector<std::string> keys;
    std::size_t start = 0;
    for (std::size_t i = 0; i < length; ++i)
        if (buffer[i] == '\0') {
            keys.emplace_back(buffer.data() + start, i - start);
            start = i + 1;
        }
    if (start < length)
        keys.emplace_back(buffer.data() + start, length - start);
    return keys;
}

bool containsKey(const std::vector<std::string>& keys, const std::string& key)
{
    for (const std::string& k : keys)
        if (core::asciiEqualsIgnoreCase(k, key))
            return true;
    return false;
}

QString text(const std::string& s) { return QString::fromUtf8(s.data(), qsizetype(s.size())); }

} // namespace

std::string OemDetails::windowsDirectory()
{
    TRegistry registry;
    registry.SetRootKey(platform::HKEY_LOCAL_MACHINE);
    std::string root;
    if (registry.OpenKey("\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion", false))
        root = registry.ReadString("SystemRoot");
    return root.empty() ? std::string("C:\\WINDOWS") : root;
}

OemDetails OemDetails::read()
{
    OemDetails details;
    const std::string system = windowsDirectory() + "\\system\\";
    const std::string info = system + "oeminfo.ini";
    const auto infoHost = platform::WinPath::toHost(info);
    std::error_code ec;
    details.hasInfo = infoHost && std::filesystem::is_regular_file(*infoHost, ec);
    if (!details.hasInfo)
        return details;

    details.manufacturer = profileString("general", "Manufacturer", info);
    details.model = profileString("general", "Model", info);
    // The support lines are Line1, Line2, … up to the first one that is missing.
    const std::vector<std::string> keys = sectionKeys("Support Information", info);
    for (int n = 1; n <= kMaxSupportLines; ++n) {
        const std::string key = "Line" + std::to_string(n);
        if (!containsKey(keys, key))
            break;
        details.support.push_back(profileString("Support Information", key.c_str(), info));
    }

    try {
        TBitmap logo;
        logo.LoadFromFile(system + "oemlogo.bmp");
        if (!logo.Empty())
            details.logo = logo.toImage();
    } catch (const std::exception&) {
        // A missing or damaged logo shows no picture; the text still shows.
    }
    return details;
}

SysPropsWindow::SysPropsWindow(const OemDetails& details, QWidget* parent)
    : QWidget(parent), details_(details)
{
    setWindowTitle("System Properties");
    auto* layout = new QVBoxLayout(this);
    auto* general = new QLabel("General", this);
    general->setStyleSheet("font-weight: bold");
    layout->addWidget(general);

    auto* row = new QHBoxLayout;
    logo_ = new QLabel(this);
    logo_->setFixedSize(kLogoWidth, kLogoHeight);
    logo_->setAlignment(Qt::AlignCenter);
    // A logo larger than the area is centred in it and clipped, as the system draws it.
    if (details_.hasInfo && !details_.logo.isNull())
        logo_->setPixmap(QPixmap::fromImage(details_.logo));
    row->addWidget(logo_, 0, Qt::AlignTop);

    auto* lines = new QVBoxLayout;
    lines->addWidget(new QLabel("System:", this));
    lines->addWidget(new QLabel("    Crestwick machine", this));
    if (details_.hasInfo) {
        lines->addSpacing(12);
        lines->addWidget(new QLabel("Manufactured and supported by:", this));
        lines->addWidget(new QLabel("    " + text(details_.manufacturer), this));
        lines->addWidget(new QLabel("    " + text(details_.model), this));
        if (!details_.support.empty()) {
            supportButton_ = new QPushButton("Support Information", this);
            connect(supportButton_, &QPushButton::clicked, this,
                    [this] { showSupportInformation(); });
            lines->addSpacing(8);
            lines->addWidget(supportButton_, 0, Qt::AlignLeft);
        }
    }
    lines->addStretch(1);
    row->addLayout(lines, 1);
    layout->addLayout(row, 1);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QWidget::close);
    layout->addWidget(buttons);
    resize(420, 300);
}

std::vector<std::string> SysPropsWindow::describe() const
{
    std::vector<std::string> out{"System Properties"};
    if (details_.hasInfo) {
        out.push_back(details_.logo.isNull()
                          ? std::string("logo: none")
                          : "logo: " + std::to_string(details_.logo.width()) + "x" +
                                std::to_string(details_.logo.height()));
        out.push_back("Manufactured and supported by:");
        out.push_back(details_.manufacturer);
        out.push_back(details_.model);
        for (const std::string& line : details_.support)
            out.push_back("support: " + line);
    }
    return out;
}

void SysPropsWindow::showSupportInformation()
{
    QDialog dialog(this);
    dialog.setWindowTitle("Support Information");
    auto* layout = new QVBoxLayout(&dialog);
    auto* list = new QListWidget(&dialog);
    for (const std::string& line : details_.support)
        list->addItem(text(line));
    layout->addWidget(list);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, &dialog);
    connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    layout->addWidget(buttons);
    dialog.exec();
}
