#include "scan/TDriveComboBox.h"

#include "core/AsciiCase.h"
#include "core/Format.h"
#include "desktop/TApplication.h"
#include "platform/Drives.h"
#include "platform/WinPath.h"

#include <QAbstractItemView>
#include <QEvent>
#include <QPainter>
#include <QStyleOptionComboBox>
#include <QStylePainter>
#include <QStyledItemDelegate>

namespace {

// The 16 standard colours that the glyphs are drawn in.
const QColor kBlack(0x00, 0x00, 0x00);
const QColor kMaroon(0x80, 0x00, 0x00);
const QColor kGreen(0x00, 0x80, 0x00);
const QColor kOlive(0x80, 0x80, 0x00);
const QColor kNavy(0x00, 0x00, 0x80);
const QColor kTeal(0x00, 0x80, 0x80);
const QColor kGray(0x80, 0x80, 0x80);
const QColor kSilver(0xC0, 0xC0, 0xC0);
const QColor kLime(0x00, 0xFF, 0x00);
const QColor kYellow(0xFF, 0xFF, 0x00);
const QColor kAqua(0x00, 0xFF, 0xFF);
const QColor kWhite(0xFF, 0xFF, 0xFF);
// The colour that stands for transparent: it is the bottom-left pixel of every glyph and
// appears nowhere else.
const QColor kTransparentKey(0xFF, 0x00, 0xFF);

// The front of a drive bay: a raised silver box over most of the glyph.
void drawBay(QImage& image, int top, int bottom)
{
    for (int y = top; y <= bottom; ++y)
        for (int x = 1; x <= 14; ++x)
            image.setPixelColor(x, y, kSilver);
    for (int x = 1; x <= 14; ++x) {
        image.setPixelColor(x, top, kWhite);
        image.setPixelColor(x, bottom, kGray);
    }
    for (int y = top; y <= bottom; ++y) {
        image.setPixelColor(1, y, kWhite);
        image.setPixelColor(14, y, kGray);
    }
    image.setPixelColor(1, bottom, kGray);
}

void hline(QImage& image, int x0, int x1, int y, const QColor& c)
{
    for (int x = x0; x <= x1; ++x)
        image.setPixelColor(x, y, c);
}

QImage drawGlyph(TDriveGlyph glyph)
{
    QImage image(TDriveComboBox::kGlyphWidth, TDriveComboBox::kGlyphHeight, QImage::Format_RGB32);
    image.fill(kTransparentKey);
    switch (glyph) {
    case dgFloppy:
        // A 3.5" drive: the disk slot, its shutter and the eject button.
        drawBay(image, 2, 8);
        hline(image, 3, 12, 4, kBlack);
        hline(image, 5, 8, 5, kGray);
        hline(image, 11, 12, 6, kNavy);
        image.setPixelColor(3, 6, kLime);
        break;
    case dgHard:
        // A fixed disk: a plain front with its green activity light.
        drawBay(image, 2, 8);
        hline(image, 3, 9, 6, kGray);
        image.setPixelColor(11, 6, kGreen);
        image.setPixelColor(12, 6, kLime);
        break;
    case dgNetwork:
        // A drive hanging on its cable.
        drawBay(image, 0, 5);
        image.setPixelColor(11, 3, kLime);
        hline(image, 3, 8, 3, kGray);
        for (int y = 6; y <= 8; ++y)
            image.setPixelColor(7, y, kBlack);
        hline(image, 2, 13, 9, kTeal);
        hline(image, 6, 8, 8, kNavy);
        break;
    case dgCdRom:
        // A CD drive: its tray and a disc in front.
        drawBay(image, 1, 8);
        hline(image, 3, 12, 3, kBlack);
        hline(image, 6, 9, 5, kAqua);
        hline(image, 5, 10, 6, kYellow);
        hline(image, 6, 9, 7, kAqua);
        image.setPixelColor(7, 6, kWhite);
        image.setPixelColor(12, 6, kOlive);
        break;
    case dgRam:
        // A memory module: a green board with its chips and gold contacts.
        hline(image, 1, 14, 2, kGreen);
        for (int y = 3; y <= 6; ++y)
            hline(image, 1, 14, y, kGreen);
        for (int x : {2, 6, 10})
            for (int y = 3; y <= 5; ++y)
                hline(image, x, x + 2, y, kBlack);
        for (int x = 2; x <= 13; x += 2)
            for (int y = 7; y <= 8; ++y)
                image.setPixelColor(x, y, kYellow);
        image.setPixelColor(1, 7, kMaroon);
        break;
    case dgNone:
        break;
    }
    return image;
}

QPixmap transparentGlyph(const QImage& opaque)
{
    const QColor key = opaque.pixelColor(0, opaque.height() - 1);
    QImage image = opaque.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (image.pixelColor(x, y) == key)
                image.setPixelColor(x, y, Qt::transparent);
    return QPixmap::fromImage(image);
}

// Draws the list's lines with their glyphs, each of the control's item height.
class DriveLineDelegate : public QStyledItemDelegate {
public:
    explicit DriveLineDelegate(TDriveComboBox* box) : QStyledItemDelegate(box), box_(box) {}

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override
    {
        const bool selected = option.state & QStyle::State_Selected;
        box_->drawLine(*painter, option.rect, index.row(), selected);
    }

    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex&) const override
    {
        return QSize(option.rect.width(), box_->ItemHeight());
    }

private:
    TDriveComboBox* box_;
};

// Switches the platform's critical-error dialogs off while it lives, then restores the
// previous mode, also when an exception passes.
class ErrorModeGuard {
public:
    ErrorModeGuard() : previous_(platform::Drives::setErrorMode(platform::kSemFailCriticalErrors))
    {
    }
    ~ErrorModeGuard() { platform::Drives::setErrorMode(previous_); }
    ErrorModeGuard(const ErrorModeGuard&) = delete;
    ErrorModeGuard& operator=(const ErrorModeGuard&) = delete;

private:
    unsigned previous_;
};

} // namespace

TDriveComboBox::TDriveComboBox(QWidget* parent) : QComboBox(parent)
{
    setEditable(false);
    setItemDelegate(new DriveLineDelegate(this));
    for (int g = dgFloppy; g <= dgRam; ++g)
        glyphs_[std::size_t(g)] = transparentGlyph(GlyphImage(TDriveGlyph(g)));
    const char current = platform::WinPath::currentDrive();
    driveLetter_ = textCase_ == tcUpperCase ? core::asciiUpper(current) : current;
    updateItemHeight();
    connect(this, &QComboBox::activated, this, &TDriveComboBox::lineActivated);
    RecreateWnd();
}

QImage TDriveComboBox::GlyphImage(TDriveGlyph glyph)
{
    return drawGlyph(glyph);
}

void TDriveComboBox::updateItemHeight()
{
    itemHeight_ = std::max(fontMetrics().height(), kGlyphHeight);
}

std::string TDriveComboBox::caseConverted(const std::string& text) const
{
    const QString q = QString::fromUtf8(text.data(), qsizetype(text.size()));
    return (textCase_ == tcUpperCase ? q.toUpper() : q.toLower()).toStdString();
}

std::string TDriveComboBox::bracketedLabel(char letter) const
{
    std::string label;
    {
        ErrorModeGuard quiet;
        const std::string root = std::string(1, letter) + ":\\";
        label = platform::Drives::volumeLabel(root).value_or(std::string());
    }
    return core::Format("[%s]", {caseConverted(label)});
}

void TDriveComboBox::buildLines()
{
    lines_.clear();
    clear();
    const std::uint32_t drives = platform::Drives::logicalDrives();
    for (char lower = 'a'; lower <= 'z'; ++lower) {
        if (!(drives & (1u << (lower - 'a'))))
            continue;
        const unsigned type = platform::Drives::driveType(std::string(1, lower) + ":\\");
        const char letter = textCase_ == tcUpperCase ? core::asciiUpper(lower) : lower;
        const std::string letterText(1, letter);
        switch (type) {
        case platform::kDriveRemovable:
            // A removable drive is never asked for its label, so an empty drive is not
            // touched.
            lines_.push_back({letterText + ":", dgFloppy});
            break;
        case platform::kDriveFixed:
            lines_.push_back(
                {core::Format("%s: %s", {letterText, bracketedLabel(letter)}), dgHard});
            break;
        case platform::kDriveRemote: {
            const std::string drive = std::string(1, core::asciiUpper(lower)) + ":";
            const auto share = platform::Drives::networkName(drive);
            const std::string shown = share ? caseConverted(*share) : bracketedLabel(letter);
            lines_.push_back({core::Format("%s: %s", {letterText, shown}), dgNetwork});
            break;
        }
        case platform::kDriveCdRom:
            lines_.push_back(
                {core::Format("%s: %s", {letterText, bracketedLabel(letter)}), dgCdRom});
            break;
        case platform::kDriveRamDisk:
            lines_.push_back({core::Format("%s: %s", {letterText, bracketedLabel(letter)}), dgRam});
            break;
        default:
            break;
        }
    }
    for (const Line& line : lines_)
        addItem(QString::fromUtf8(line.text.data(), qsizetype(line.text.size())));
    setCurrentIndex(-1);
}

void TDriveComboBox::RecreateWnd()
{
    buildLines();
    const char letter = driveLetter_;
    SetDriveLetter(letter);
}

void TDriveComboBox::SetDriveLetter(char letter)
{
    if (currentIndex() >= 0 && core::asciiLower(letter) == core::asciiLower(driveLetter_))
        return;
    if (letter == 0) {
        driveLetter_ = 0;
        setCurrentIndex(-1);
    } else {
        driveLetter_ =
            textCase_ == tcUpperCase ? core::asciiUpper(letter) : core::asciiLower(letter);
        for (std::size_t i = 0; i < lines_.size(); ++i) {
            const std::string& text = lines_[i].text;
            if (text.size() >= 2 && text[1] == ':' &&
                core::asciiLower(text[0]) == core::asciiLower(driveLetter_)) {
                setCurrentIndex(int(i));
                break;
            }
        }
    }
    update();
    if (OnChange)
        OnChange(this);
}

void TDriveComboBox::SetTextCase(TTextCase textCase)
{
    if (textCase == textCase_)
        return;
    textCase_ = textCase;
    const char letter = driveLetter_;
    buildLines();
    SetDriveLetter(letter);
}

void TDriveComboBox::lineActivated(int index)
{
    Application().Guard([&] {
        if (index >= 0 && std::size_t(index) < lines_.size() &&
            !lines_[std::size_t(index)].text.empty())
            SetDriveLetter(lines_[std::size_t(index)].text[0]);
    });
}

void TDriveComboBox::drawLine(QPainter& painter, const QRect& rect, int index, bool selected) const
{
    painter.save();
    const QPalette& p = palette();
    painter.fillRect(rect, selected ? p.highlight() : p.base());
    int textLeft = rect.left() + kGlyphWidth + 6;
    if (index >= 0 && std::size_t(index) < lines_.size()) {
        const Line& line = lines_[std::size_t(index)];
        if (line.glyph != dgNone) {
            const QPixmap& glyph = glyphs_[std::size_t(line.glyph)];
            // The bottom is exclusive, as the platform counts it.
            const int bottom = rect.top() + rect.height();
            const int top = (rect.top() + bottom - glyph.height()) / 2;
            painter.drawPixmap(rect.left() + 2, top, glyph);
            textLeft = rect.left() + glyph.width() + 6;
        }
        painter.setPen(selected ? p.color(QPalette::HighlightedText) : p.color(QPalette::Text));
        painter.setFont(font());
        const QRect textRect(textLeft, rect.top(), std::max(0, rect.right() - textLeft + 1),
                             rect.height());
        painter.drawText(textRect, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
                         QString::fromUtf8(line.text.data(), qsizetype(line.text.size())));
    }
    painter.restore();
}

void TDriveComboBox::paintEvent(QPaintEvent*)
{
    QStylePainter painter(this);
    QStyleOptionComboBox option;
    initStyleOption(&option);
    option.currentText.clear();
    option.currentIcon = QIcon();
    painter.drawComplexControl(QStyle::CC_ComboBox, option);
    const QRect field =
        style()->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField, this);
    drawLine(painter, field, currentIndex(), hasFocus());
}

void TDriveComboBox::changeEvent(QEvent* event)
{
    QComboBox::changeEvent(event);
    if (event->type() == QEvent::FontChange) {
        updateItemHeight();
        RecreateWnd();
    }
}
