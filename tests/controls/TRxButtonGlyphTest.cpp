#include "controls/TRxButtonGlyph.h"

#include "desktop/QtColor.h"

#include <gtest/gtest.h>

namespace {

// Every character 6 pixels wide except the full stop, which is 2, and every line 13 pixels
// high: the layout arithmetic can be checked by hand, and "..." is narrower than two letters.
class FixedMetrics : public CaptionMetrics {
public:
    int LineWidth(const QString& line) const override
    {
        return 6 * int(line.size()) - 4 * int(line.count('.'));
    }
    QSize Extent(const QString& text, int, bool) const override
    {
        const QStringList lines = text.split('\n');
        int widest = 0;
        for (const QString& line : lines)
            widest = std::max(widest, LineWidth(line));
        return QSize(widest, 13 * int(lines.size()));
    }
};

QImage solidGlyph(int width, int height, QRgb colour, QRgb lowerLeft)
{
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(colour);
    image.setPixel(0, height - 1, lowerLeft);
    return image;
}

QRgb rgb(QRgb pixel)
{
    return pixel & 0xFFFFFF;
}

} // namespace

TEST(ButtonLayout, PlacesGlyphAndCaptionByMarginAndSpacing)
{
    const FixedMetrics metrics;
    const struct {
        const char* what;
        QRect client;
        QSize glyph;
        const char* caption;
        TButtonLayout layout;
        int margin, spacing;
        QPoint glyphPos;
        QRect text;
    } cases[] = {
        // clang-format off
        // The main window's buttons: 65 by 65, flat, so 61 by 61 inside; 32 + 1 + 26 leaves 2.
        {"main window button", {2, 2, 61, 61}, {32, 32}, "Control\nPanel", blGlyphTop, -1, 1,
         {2 + 14, 2 + 1}, {2 + 9, 2 + 34, 42, 26}},
        // Each half truncated on its own: 60/2 - 33/2 = 14, where (60 - 33)/2 would give 13.
        {"odd glyph in even width", {0, 0, 60, 60}, {33, 20}, "ab", blGlyphTop, -1, 1,
         {14, 13}, {24, 34, 12, 13}},
        {"margin and spacing both spread", {0, 0, 40, 70}, {20, 20}, "x", blGlyphTop, -1, -1,
         {10, 12}, {17, 44, 6, 13}},
        {"fixed margin, spread spacing", {0, 0, 40, 70}, {20, 20}, "x", blGlyphTop, 5, -1,
         {10, 5}, {17, 41, 6, 13}},
        {"glyph below the caption", {0, 0, 40, 70}, {20, 20}, "x", blGlyphBottom, 4, 3,
         {10, 46}, {17, 30, 6, 13}},
        {"glyph left of the caption", {0, 0, 80, 30}, {20, 20}, "abc", blGlyphLeft, -1, 2,
         {20, 5}, {42, 9, 18, 13}},
        {"glyph right of the caption", {0, 0, 80, 30}, {20, 20}, "abc", blGlyphRight, 3, 2,
         {57, 5}, {37, 9, 18, 13}},
        // No caption: spacing counts as 0 and the glyph alone is centred.
        {"glyph alone", {0, 0, 40, 40}, {20, 20}, "", blGlyphTop, -1, 7,
         {10, 10}, {20, 30, 0, 0}},
        // The caption's room loses the fixed margin and spacing; the rest is cut off.
        {"caption clipped to its room", {0, 0, 40, 40}, {20, 20}, "a\nb", blGlyphTop, 4, 4,
         {10, 4}, {17, 28, 6, 10}},
        // clang-format on
    };
    for (const auto& c : cases) {
        const ButtonLayoutResult result = CalcButtonLayout(
            c.client, c.glyph, c.caption, c.layout, c.margin, c.spacing, false, false, metrics);
        EXPECT_EQ(result.GlyphPos, c.glyphPos) << c.what;
        EXPECT_EQ(result.TextBounds, c.text) << c.what;
    }
}

TEST(ButtonLayout, ShortensTooWideLinesWithAnEllipsis)
{
    const FixedMetrics metrics;
    const struct {
        const char* caption;
        int width;
        const char* shown;
    } cases[] = {
        {"ABCDEFGHIJ", 60, "ABCDEFGHIJ"},
        // The first try keeps all but the last two characters.
        {"ABCDEFGHIJ", 59, "ABCDEFGH..."},
        {"ABCDEFGHIJ", 53, "ABCDEFG..."},
        {"ABCDEFGHIJ", 5, "..."},
        {"AB", 6, "..."},
        {"Stop\nScanning", 30, "Stop\nScan..."},
        {"Stop  \nNow   ", 60, "Stop  \nNow"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ShortenCaption(c.caption, c.width, metrics), QString(c.shown))
            << c.caption << " in " << c.width;
}

TEST(ButtonLayout, UsesAtMost255CharactersAndShortensOnlyWithoutWordWrap)
{
    const FixedMetrics metrics;
    const QString longCaption(300, 'w');
    const ButtonLayoutResult wrapped = CalcButtonLayout(
        QRect(0, 0, 2000, 100), QSize(), longCaption, blGlyphTop, -1, 1, true, false, metrics);
    EXPECT_EQ(wrapped.Caption.size(), 255);
    const ButtonLayoutResult shortened =
        CalcButtonLayout(QRect(0, 0, 62, 100), QSize(), "Resize\r\nTo Fit", blGlyphTop, -1, 1,
                         false, false, metrics);
    EXPECT_EQ(shortened.Caption, QString("Resize\nTo Fit"));
    const ButtonLayoutResult narrow =
        CalcButtonLayout(QRect(0, 0, 30, 100), QSize(), "Resize\r\nTo Fit", blGlyphTop, -1, 1,
                         false, false, metrics);
    EXPECT_EQ(narrow.Caption, QString("Res...\nTo ..."));

    // Beside the glyph, a drop-down mark takes 9 pixels of the caption's room.
    const ButtonLayoutResult beside = CalcButtonLayout(
        QRect(0, 0, 60, 30), QSize(10, 10), "abcdefg", blGlyphLeft, 0, 0, false, false, metrics);
    EXPECT_EQ(beside.Caption, QString("abcdefg"));
    const ButtonLayoutResult marked = CalcButtonLayout(
        QRect(0, 0, 60, 30), QSize(10, 10), "abcdefg", blGlyphLeft, 0, 0, false, true, metrics);
    EXPECT_EQ(marked.Caption, QString("abcde..."));
}

TEST(ButtonGlyph, TakesTheImageCountAndTransparentColourFromThePicture)
{
    TRxButtonGlyph glyph;
    EXPECT_EQ(glyph.TransparentColor(), 0xFF00FFu);
    const struct {
        int width, height;
        int numGlyphs;
    } cases[] = {
        {64, 32, 2}, {160, 32, 5}, {192, 32, 1}, {32, 32, 1}, {48, 32, 1}, {96, 32, 3},
    };
    for (const auto& c : cases) {
        glyph.SetNumGlyphs(1);
        glyph.SetGlyph(solidGlyph(c.width, c.height, 0xFF0000, 0x008080));
        EXPECT_EQ(glyph.NumGlyphs(), c.numGlyphs) << c.width << "x" << c.height;
        EXPECT_EQ(glyph.TransparentColor(), 0x008080u);
    }
    // A width that is no multiple of the height leaves the count as it was.
    glyph.SetNumGlyphs(4);
    glyph.SetGlyph(solidGlyph(100, 32, 0xFF0000, 0x008080));
    EXPECT_EQ(glyph.NumGlyphs(), 4);
}

TEST(ButtonGlyph, InactiveImageIsGreyWithTransparentAndFaceColoursKept)
{
    QImage picture = solidGlyph(6, 2, 0xFF0000, 0x00FF00);
    const QRgb face = toQColor(clBtnFace).rgb() & 0xFFFFFF;
    const QRgb pixels[] = {0xFFFFFF, 0x000000, 0x808080, 0xFF0000, 0x3060C0, face};
    for (int x = 0; x < 6; ++x)
        picture.setPixel(x, 0, pixels[x]);
    TRxButtonGlyph glyph;
    glyph.SetGlyph(picture);
    glyph.SetNumGlyphs(1);
    EXPECT_EQ(glyph.StateIndex(rbsInactive), -1);
    const QImage inactive = glyph.StateImage(rbsInactive);
    EXPECT_NE(glyph.StateIndex(rbsInactive), -1);

    // Red alone: 77 * 255 / 256 = 76; the blue-grey: (77*48 + 150*96 + 29*192) / 256 = 92.
    const QRgb greys[] = {0xFFFFFF, 0x000000, 0x808080, 0x4C4C4C, 0x5C5C5C, face};
    for (int x = 0; x < 6; ++x)
        EXPECT_EQ(rgb(inactive.pixel(x, 0)), greys[x]) << "pixel " << x;
    EXPECT_EQ(qAlpha(inactive.pixel(0, 1)), 0) << "the lower-left colour stays transparent";
    EXPECT_EQ(qAlpha(inactive.pixel(1, 1)), 255);

    const QImage up = glyph.StateImage(rbsUp);
    EXPECT_EQ(rgb(up.pixel(3, 0)), 0xFF0000u);
    EXPECT_EQ(qAlpha(up.pixel(0, 1)), 0);
}

TEST(ButtonGlyph, StateImagesComeFromTheirSlicesOrFromTheFirst)
{
    const QRgb colours[] = {0x0000FF, 0x00FF00, 0xFF0000, 0xFFFF00, 0x00FFFF};
    QImage picture(50, 10, QImage::Format_RGB32);
    for (int slice = 0; slice < 5; ++slice)
        for (int y = 0; y < 10; ++y)
            for (int x = 0; x < 10; ++x)
                picture.setPixel(slice * 10 + x, y, colours[slice]);
    picture.setPixel(0, 9, 0xFF00FF);

    const struct {
        int numGlyphs;
        QRgb up, disabled, down, exclusive, inactive;
    } cases[] = {
        {5, 0x0000FF, 0x00FF00, 0xFF0000, 0xFFFF00, 0x00FFFF},
        {4, 0x0000FF, 0x00FF00, 0xFF0000, 0xFFFF00, 0x1C1C1C}, // grey of pure blue: 29*255/256
        {2, 0x0000FF, 0x00FF00, 0x0000FF, 0x0000FF, 0x1C1C1C},
    };
    for (const auto& c : cases) {
        TRxButtonGlyph glyph;
        glyph.SetGlyph(picture.copy(0, 0, 10 * c.numGlyphs, 10));
        ASSERT_EQ(glyph.NumGlyphs(), c.numGlyphs);
        ASSERT_EQ(glyph.GlyphSize(), QSize(10, 10));
        EXPECT_EQ(rgb(glyph.StateImage(rbsUp).pixel(5, 5)), c.up) << c.numGlyphs;
        EXPECT_EQ(rgb(glyph.StateImage(rbsDisabled).pixel(5, 5)), c.disabled) << c.numGlyphs;
        EXPECT_EQ(rgb(glyph.StateImage(rbsDown).pixel(5, 5)), c.down) << c.numGlyphs;
        EXPECT_EQ(rgb(glyph.StateImage(rbsExclusive).pixel(5, 5)), c.exclusive) << c.numGlyphs;
        EXPECT_EQ(rgb(glyph.StateImage(rbsInactive).pixel(5, 5)), c.inactive) << c.numGlyphs;
    }
}

TEST(ButtonGlyph, EmbossedDisabledImageUsesOnlyHighlightAndShadow)
{
    QImage picture = solidGlyph(8, 8, 0xFF00FF, 0xFF00FF);
    for (int y = 2; y < 5; ++y)
        for (int x = 2; x < 5; ++x)
            picture.setPixel(x, y, 0x000000);
    picture.setPixel(6, 6, 0xFFFFFF); // too bright to belong to the shape
    TRxButtonGlyph glyph;
    glyph.SetGlyph(picture);
    const QImage disabled = glyph.StateImage(rbsDisabled);
    const QRgb highlight = toQColor(clBtnHighlight).rgb() & 0xFFFFFF;
    const QRgb shadow = toQColor(clBtnShadow).rgb() & 0xFFFFFF;
    EXPECT_EQ(rgb(disabled.pixel(2, 2)), shadow);
    EXPECT_EQ(rgb(disabled.pixel(4, 4)), shadow);
    EXPECT_EQ(rgb(disabled.pixel(5, 5)), highlight);
    EXPECT_EQ(rgb(disabled.pixel(5, 3)), highlight);
    EXPECT_EQ(qAlpha(disabled.pixel(1, 1)), 0);
    EXPECT_EQ(qAlpha(disabled.pixel(6, 6)), 0);
}

TEST(ButtonGlyph, GlyphsOfOneSizeShareTheirImageListAndFreeTheirImages)
{
    TRxButtonGlyph first;
    TRxButtonGlyph second;
    first.SetGlyph(solidGlyph(12, 12, 0x123456, 0xFF00FF));
    second.SetGlyph(solidGlyph(12, 12, 0x654321, 0xFF00FF));
    first.StateImage(rbsUp);
    second.StateImage(rbsUp);
    EXPECT_NE(first.StateIndex(rbsUp), second.StateIndex(rbsUp));
    EXPECT_EQ(rgb(first.StateImage(rbsUp).pixel(3, 3)), 0x123456u);
    EXPECT_EQ(rgb(second.StateImage(rbsUp).pixel(3, 3)), 0x654321u);

    // A new picture forgets the old images; the freed place is taken again.
    const int freed = first.StateIndex(rbsUp);
    first.SetGlyph(solidGlyph(12, 12, 0xABCDEF, 0xFF00FF));
    EXPECT_EQ(first.StateIndex(rbsUp), -1);
    second.StateImage(rbsDown);
    EXPECT_EQ(second.StateIndex(rbsDown), freed);
    EXPECT_EQ(rgb(first.StateImage(rbsUp).pixel(3, 3)), 0xABCDEFu);
}
