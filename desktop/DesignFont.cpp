#include "desktop/DesignFont.h"

#include "desktop/DesignStyle.h"

#include <QApplication>
#include <QFontDatabase>
#include <QFontInfo>
#include <QPainter>
#include <QPointF>
#include <QRect>

#include <cstdio>
#include <filesystem>

namespace {

// Set once the bitmap face is an application font of this process.
bool bitmapFaceLoaded = false;
bool missingFileReported = false;

// The scalable faces, in order of preference, that stand for MS Sans Serif at sizes its bitmap
// strikes do not cover.
const QStringList& scalableFamilies()
{
    static const QStringList families = {"Liberation Sans", "Arimo", "Nimbus Sans", "DejaVu Sans"};
    return families;
}

// Liberation Sans is about six per cent wider than MS Sans Serif in bold; narrowed by that much,
// the title texts fill the boxes laid out for them as they did on Windows.
constexpr int kTitleStretch = 94;

} // namespace

bool DesignFont::Install(double devicePixelRatio, const std::string& directory)
{
    if (bitmapFaceLoaded)
        return true;
    // The bitmap strike is drawn at its own size inside scaled spacing on a screen of any other
    // ratio, which cannot be read; the scalable face is used there instead.
    if (devicePixelRatio != 1.0)
        return false;
    const std::filesystem::path file = std::filesystem::path(directory) / kBitmapFontFile;
    std::error_code error;
    const int id = std::filesystem::is_regular_file(file, error)
                       ? QFontDatabase::addApplicationFont(QString::fromStdString(file.string()))
                       : -1;
    if (id < 0 || !QFontDatabase::applicationFontFamilies(id).contains(kFamily)) {
        if (id >= 0)
            QFontDatabase::removeApplicationFont(id);
        if (!missingFileReported) {
            missingFileReported = true;
            std::fprintf(stderr,
                         "%s: %s is missing (Debian package fonts-wine); \"%s\" is drawn with a "
                         "scalable substitute, and some captions may not fit their boxes.\n",
                         qPrintable(QCoreApplication::applicationName()), file.c_str(), kFamily);
        }
        return false;
    }
    bitmapFaceLoaded = true;
    if (qobject_cast<QApplication*>(QCoreApplication::instance()))
        QApplication::setStyle(new DesignStyle);
    return true;
}

bool DesignFont::BitmapFaceLoaded()
{
    return bitmapFaceLoaded;
}

QFont DesignFont::Font(int pixelSize, bool bold)
{
    QFont font(kFamily);
    if (pixelSize != kPixelSize) {
        font.setFamilies(scalableFamilies());
        if (bold)
            font.setStretch(kTitleStretch);
    }
    font.setPixelSize(pixelSize);
    return bold ? Bold(font) : font;
}

QFont DesignFont::Bold(QFont font)
{
    font.setBold(true);
    if (bitmapFaceLoaded && QFontInfo(font).family() == kFamily)
        font.setLetterSpacing(QFont::AbsoluteSpacing, 1);
    return font;
}

bool DesignFont::NeedsEmboldening(const QFont& font)
{
    return bitmapFaceLoaded && font.bold() && font.letterSpacingType() == QFont::AbsoluteSpacing &&
           font.letterSpacing() >= 1 && QFontInfo(font).family() == kFamily;
}

void DesignFont::DrawText(QPainter& painter, const QRect& rect, int flags, const QString& text)
{
    painter.drawText(rect, flags, text);
    if (NeedsEmboldening(painter.font()))
        painter.drawText(rect.translated(1, 0), flags, text);
}

void DesignFont::DrawText(QPainter& painter, const QPointF& baseline, const QString& text)
{
    painter.drawText(baseline, text);
    if (NeedsEmboldening(painter.font()))
        painter.drawText(baseline + QPointF(1, 0), text);
}
