#pragma once

#include <QFont>
#include <QString>

#include <string>

class QPainter;
class QPointF;
class QRect;

// The window's font: "MS Sans Serif" at a character height of 11 pixels, the face the window's
// boxes were laid out for.
//
// Wine's metric-compatible MS Sans Serif (Debian's fonts-wine) is loaded from its file at start
// when every screen shows one pixel per device pixel. It is a bitmap font with a 13-pixel strike
// for that height, which Qt neither scales nor emboldens. So:
// - regular text at 11 pixels uses it as it is;
// - bold text at 11 pixels uses it too, emboldened the way Windows emboldens a bitmap font: each
//   character one pixel wider (letter spacing, so that every measurement agrees) and drawn twice,
//   one pixel apart;
// - the larger title texts use a scalable sans serif, narrowed to MS Sans Serif's proportions.
// On a high-density screen, or when the file is missing, "MS Sans Serif" stands for the scalable
// face throughout, as the font substitutes of the application object arrange.
class DesignFont {
public:
    static constexpr int kPixelSize = 11;
    static constexpr const char* kFamily = "MS Sans Serif";
    static constexpr const char* kWineFontDirectory = "/usr/share/wine/fonts";
    static constexpr const char* kBitmapFontFile = "ms_sans_serif.ttf";

    // Loads the bitmap face from directory when devicePixelRatio is 1, and installs the style that
    // emboldens text drawn by Qt's own widgets. When the file is not there it says so on stderr,
    // once per process, and the scalable face stands in. True when the bitmap face is in use.
    static bool Install(double devicePixelRatio, const std::string& directory = kWineFontDirectory);
    // True once Install has loaded the bitmap face.
    static bool BitmapFaceLoaded();

    // The font for text of the given character height.
    static QFont Font(int pixelSize = kPixelSize, bool bold = false);
    // The same font made bold, its size and other attributes kept.
    static QFont Bold(QFont font);

    // True when font draws the bitmap face in bold: text in it must be drawn by the functions
    // below, which embolden it.
    static bool NeedsEmboldening(const QFont& font);

    // QPainter::drawText with the painter's font, emboldened when that font needs it.
    static void DrawText(QPainter& painter, const QRect& rect, int flags, const QString& text);
    static void DrawText(QPainter& painter, const QPointF& baseline, const QString& text);
};
