// Quantizing 24-bit pictures to 8 bits: the palette chosen for a picture, and mapping onto a
// palette with the error passed on.
#include "imaging/ColorQuantizer.h"

#include "imaging/TBitmap.h"

#include "desktop/QtImage.h"

#include <QImage>

#include <functional>
#include <memory>

#include <gtest/gtest.h>

namespace {

using Paint = std::function<QRgb(int x, int y)>;

std::unique_ptr<TBitmap> picture(int width, int height, const Paint& paint)
{
    auto bitmap = std::make_unique<TBitmap>();
    bitmap->SetPixelFormat(pf24bit);
    bitmap->SetSize(width, height);
    for (int y = 0; y < height; ++y) {
        std::uint8_t* row = bitmap->ScanLine(y);
        for (int x = 0; x < width; ++x) {
            const QRgb c = paint(x, y);
            row[3 * x] = std::uint8_t(qBlue(c));
            row[3 * x + 1] = std::uint8_t(qGreen(c));
            row[3 * x + 2] = std::uint8_t(qRed(c));
        }
    }
    return bitmap;
}

std::unique_ptr<TBitmap> indexes(const TBitmap& source, const ColorQuantizer& quantizer)
{
    auto dest = std::make_unique<TBitmap>();
    dest->SetPixelFormat(pf8bit);
    dest->SetSize(source.Width(), source.Height());
    quantizer.map(source, *dest);
    return dest;
}

} // namespace

TEST(ColorQuantizer, APictureOfFewColoursKeepsThemExactly)
{
    // Odd sizes, so that rows carry padding.
    const QRgb colours[] = {qRgb(250, 3, 7), qRgb(1, 2, 3), qRgb(120, 200, 77), qRgb(9, 9, 240),
                            qRgb(255, 255, 255)};
    const auto source = picture(37, 11, [&](int x, int y) { return colours[(x / 3 + y) % 5]; });
    const ColorQuantizer quantizer = ColorQuantizer::forPicture(*source, 236);
    EXPECT_EQ(quantizer.palette().Entries.size(), 5u);
    const auto dest = indexes(*source, quantizer);
    dest->SetPalette(quantizer.palette());
    EXPECT_EQ(toQImage(*dest), toQImage(*source));
}

TEST(ColorQuantizer, ManyColoursShareALimitedPaletteAndKeepTheirAverage)
{
    struct Case {
        const char* name;
        Paint paint;
        int maxColors;
    };
    const Case cases[] = {
        {"gradient", [](int x, int y) { return qRgb(x * 4, y * 4, 255 - x * 2); }, 16},
        {"noise", [](int x, int y) { return qRgb((x * 97 + y * 31) % 256, (x * y) % 256, 99); },
         32},
        {"one colour", [](int, int) { return qRgb(10, 20, 30); }, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto source = picture(64, 64, c.paint);
        const ColorQuantizer quantizer = ColorQuantizer::forPicture(*source, c.maxColors);
        EXPECT_LE(quantizer.palette().Entries.size(), std::size_t(c.maxColors));
        const auto dest = indexes(*source, quantizer);
        dest->SetPalette(quantizer.palette());
        const QImage in = toQImage(*source), out = toQImage(*dest);
        double sum[2][3] = {};
        for (int y = 0; y < 64; ++y)
            for (int x = 0; x < 64; ++x)
                for (int i = 0; i < 2; ++i) {
                    const QRgb p = (i == 0 ? in : out).pixel(x, y);
                    sum[i][0] += qRed(p);
                    sum[i][1] += qGreen(p);
                    sum[i][2] += qBlue(p);
                }
        for (int channel = 0; channel < 3; ++channel)
            EXPECT_NEAR(sum[1][channel] / 4096, sum[0][channel] / 4096, 1.5) << channel;
    }
}

TEST(ColorQuantizer, AGivenPaletteIsDitheredOntoAndAnEmptyOneGivesZeroes)
{
    // Mid grey on black and white: about half the pixels of each.
    const auto grey = picture(20, 20, [](int, int) { return qRgb(128, 128, 128); });
    TPalette blackWhite;
    blackWhite.Entries = {{0, 0, 0, 0}, {255, 255, 255, 0}};
    const auto dest = indexes(*grey, ColorQuantizer(blackWhite));
    int white = 0;
    for (int y = 0; y < 20; ++y)
        for (int x = 0; x < 20; ++x)
            white += dest->ScanLine(y)[x];
    EXPECT_NEAR(white, 200, 4);

    const auto none = indexes(*grey, ColorQuantizer(TPalette{}));
    for (int y = 0; y < 20; ++y)
        for (int x = 0; x < 20; ++x)
            ASSERT_EQ(none->ScanLine(y)[x], 0);
}
