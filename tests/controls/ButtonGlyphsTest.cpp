#include "controls/ButtonGlyphs.h"

#include <gtest/gtest.h>

#include <set>

TEST(ButtonGlyphs, EachPictureIs32By32WithItsDepthAndASeeThroughCorner)
{
    const struct {
        const char* name;
        bool trueColour;
    } cases[] = {
        {"Autoscan", false}, {"Stop", false}, {"Resize", false},         {"ControlPanel", false},
        {"Save", false},     {"Exit", false}, {"DesktopShortcut", true},
    };
    std::set<qint64> seen;
    for (const auto& c : cases) {
        const QImage glyph = ButtonGlyph(c.name);
        ASSERT_EQ(glyph.size(), QSize(32, 32)) << c.name;
        if (c.trueColour)
            EXPECT_EQ(glyph.depth(), 32) << c.name;
        else
            EXPECT_EQ(glyph.format(), QImage::Format_Indexed8) << c.name;
        const QRgb corner = glyph.pixel(0, 31);
        std::set<QRgb> colours;
        int seeThrough = 0;
        for (int y = 0; y < 32; ++y)
            for (int x = 0; x < 32; ++x) {
                colours.insert(glyph.pixel(x, y));
                seeThrough += glyph.pixel(x, y) == corner;
            }
        EXPECT_GT(colours.size(), 4u) << c.name;
        EXPECT_GT(seeThrough, 32) << c.name << ": the background is see-through";
        EXPECT_LT(seeThrough, 32 * 32 - 100) << c.name << ": there is a picture";
        EXPECT_TRUE(seen.insert(glyph.cacheKey()).second);
    }
    EXPECT_TRUE(ButtonGlyph("NoSuchPicture").isNull());
}
