#include "sysprops/SysPropsWindow.h"

#include "desktop/QtImage.h"
#include "imaging/TBitmap.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPixmap>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

QString text(const std::string& s)
{
    return QString::fromUtf8(s.data(), qsizetype(s.size()));
}

// The heading of the NT 6 support part, named after the maker as the system names it.
std::string supportHeading(const OemDetails& details)
{
    return details.hasManufacturer && !details.manufacturer.empty()
               ? details.manufacturer + " support"
               : std::string("Support");
}

bool hasSupportPart(const OemDetails& details)
{
    return details.supportPhone || details.supportHours || details.supportUrl;
}

// The logo with every pixel of the key colour (the second pixel from the left in the bottom
// row) made transparent, so that the window shows through.
QImage withKeyColourTransparent(const QImage& logo)
{
    if (logo.width() < 2 || logo.height() < 1)
        return logo;
    QImage image = logo.convertToFormat(QImage::Format_ARGB32);
    const QRgb key = image.pixel(1, image.height() - 1) | 0xFF000000u;
    for (int y = 0; y < image.height(); ++y) {
        auto* row = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x)
            if ((row[x] | 0xFF000000u) == key)
                row[x] = 0;
    }
    return image;
}

} // namespace

OemDetails OemDetails::read()
{
    OemDetails details;
    // The sheet is the platform's own: without a SystemRoot it looks where the platform keeps
    // Windows.
    oem::OemSystem system;
    try {
        system = oem::OemSystem::describe(oem::OemSystem::MissingRoot::WindowsDirectory);
    } catch (const std::exception&) {
        // A SystemRoot that is not a text names no system: nothing of the maker shows.
        return details;
    }
    details.generation = system.generation();
    details.logoBox = system.logoBox();
    details.productName = system.productName();
    const oem::OemSheet sheet = system.readSheet();
    details.hasInfo = sheet.shown;
    details.hasManufacturer = sheet.manufacturer.has_value();
    details.hasModel = sheet.model.has_value();
    details.manufacturer = sheet.manufacturer.value_or("");
    details.model = sheet.model.value_or("");
    details.support = sheet.supportLines;
    details.supportPhone = sheet.supportPhone;
    details.supportHours = sheet.supportHours;
    details.supportUrl = sheet.supportUrl;
    if (!sheet.logoFile.empty()) {
        try {
            TBitmap logo;
            logo.LoadFromFile(sheet.logoFile);
            if (!logo.Empty())
                details.logo = system.generation() == oem::Generation::Windows9x &&
                                       logo.PixelFormat() == pf8bit
                                   ? withKeyColourTransparent(toQImage(logo))
                                   : toQImage(logo);
        } catch (const std::exception&) {
            // A missing or damaged logo shows no picture; the text still shows.
        }
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
    logo_->setFixedSize(details_.logoBox.width, details_.logoBox.height);
    logo_->setAlignment(Qt::AlignCenter);
    // A logo larger than the area is centred in it and clipped, as the system draws it.
    if (details_.hasInfo && !details_.logo.isNull())
        logo_->setPixmap(QPixmap::fromImage(details_.logo));
    row->addWidget(logo_, 0, Qt::AlignTop);

    auto* lines = new QVBoxLayout;
    lines->addWidget(new QLabel("System:", this));
    const std::string systemName =
        details_.productName.empty() ? std::string("Crestwick machine") : details_.productName;
    lines->addWidget(new QLabel("    " + text(systemName), this));
    if (details_.generation == oem::Generation::Nt6)
        addRegistryDetails(lines);
    else if (details_.hasInfo)
        addFileDetails(lines);
    lines->addStretch(1);
    row->addLayout(lines, 1);
    layout->addLayout(row, 1);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QWidget::close);
    layout->addWidget(buttons);
    resize(420, 300);
}

void SysPropsWindow::addFileDetails(QVBoxLayout* lines)
{
    lines->addSpacing(12);
    lines->addWidget(new QLabel("Manufactured and supported by:", this));
    lines->addWidget(new QLabel("    " + text(details_.manufacturer), this));
    lines->addWidget(new QLabel("    " + text(details_.model), this));
    if (!details_.support.empty()) {
        supportButton_ = new QPushButton("Support Information", this);
        connect(supportButton_, &QPushButton::clicked, this, [this] { showSupportInformation(); });
        lines->addSpacing(8);
        lines->addWidget(supportButton_, 0, Qt::AlignLeft);
    }
}

void SysPropsWindow::addRegistryDetails(QVBoxLayout* lines)
{
    lines->addSpacing(12);
    if (details_.hasManufacturer)
        lines->addWidget(new QLabel("Manufacturer:  " + text(details_.manufacturer), this));
    if (details_.hasModel)
        lines->addWidget(new QLabel("Model:  " + text(details_.model), this));
    if (!hasSupportPart(details_))
        return;
    lines->addSpacing(12);
    auto* heading = new QLabel(text(supportHeading(details_)), this);
    heading->setStyleSheet("font-weight: bold");
    lines->addWidget(heading);
    if (details_.supportPhone)
        lines->addWidget(new QLabel("Phone number:  " + text(*details_.supportPhone), this));
    if (details_.supportHours)
        lines->addWidget(new QLabel("Support hours:  " + text(*details_.supportHours), this));
    if (details_.supportUrl) {
        auto* website = new QLabel(this);
        website->setText("Website:  <a href=\"" + text(*details_.supportUrl).toHtmlEscaped() +
                         "\">" + text(*details_.supportUrl).toHtmlEscaped() + "</a>");
        website->setOpenExternalLinks(true);
        lines->addWidget(website);
    }
}

std::vector<std::string> SysPropsWindow::describe() const
{
    std::vector<std::string> out{"System Properties"};
    const std::string logo = details_.logo.isNull()
                                 ? std::string("logo: none")
                                 : "logo: " + std::to_string(details_.logo.width()) + "x" +
                                       std::to_string(details_.logo.height()) + " in " +
                                       std::to_string(details_.logoBox.width) + "x" +
                                       std::to_string(details_.logoBox.height);
    if (details_.generation == oem::Generation::Nt6) {
        if (!details_.logo.isNull())
            out.push_back(logo);
        if (details_.hasManufacturer)
            out.push_back("Manufacturer: " + details_.manufacturer);
        if (details_.hasModel)
            out.push_back("Model: " + details_.model);
        if (hasSupportPart(details_))
            out.push_back(supportHeading(details_));
        if (details_.supportPhone)
            out.push_back("Phone number: " + *details_.supportPhone);
        if (details_.supportHours)
            out.push_back("Support hours: " + *details_.supportHours);
        if (details_.supportUrl)
            out.push_back("Website: " + *details_.supportUrl);
        return out;
    }
    if (details_.hasInfo) {
        out.push_back(logo);
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
