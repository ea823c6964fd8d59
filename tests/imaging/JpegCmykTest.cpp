// Four-component JPEG pictures (CMYK and YCCK, inverted or not): they decode into their own
// colours at 24 and 8 bits, in grey, onto a given palette, progressively and scaled, and
// damaged or oversized ones fail cleanly.
#include "tests/imaging/JpegFixtures.h"

#include "core/Exceptions.h"
#include "desktop/QtImage.h"
#include "imaging/TBitmap.h"
#include "imaging/jpeg.h"

#include <gtest/gtest.h>

#include <jerror.h>

namespace {

struct Form {
    CmykForm form;
    const char* name;
};
const Form kForms[] = {{CmykForm::adobeCmyk, "Adobe CMYK"},
                       {CmykForm::adobeYcck, "Adobe YCCK"},
                       {CmykForm::plainCmyk, "plain CMYK"}};

void load(TJPEGImage& jpeg, const std::string& bytes)
{
    TMemoryStream stream(bytes);
    jpeg.LoadFromStream(stream);
}

// Checks the middle of every block against the picture that was written.
void expectBlockColours(const QImage& image, int tolerance, int scale = 1)
{
    ASSERT_EQ(image.width(), 64 / scale);
    for (int y = 8; y < 32; y += 16) {
        for (int x = 8; x < 64; x += 16) {
            const auto want = blockColour(x, y);
            const QRgb got = image.pixel(x / scale, y / scale);
            SCOPED_TRACE(testing::Message() << "block at " << x << "," << y);
            EXPECT_NEAR(qRed(got), want[0], tolerance);
            EXPECT_NEAR(qGreen(got), want[1], tolerance);
            EXPECT_NEAR(qBlue(got), want[2], tolerance);
        }
    }
}

} // namespace

TEST(JpegCmyk, PicturesDecodeTo24BitsInTheirOwnColours)
{
    for (const Form& f : kForms) {
        SCOPED_TRACE(f.name);
        TJPEGImage jpeg;
        load(jpeg, makeCmykJpeg(f.form));
        EXPECT_FALSE(jpeg.CompressedData().empty());
        TBitmap& bitmap = jpeg.DecodedBitmap();
        EXPECT_EQ(bitmap.PixelFormat(), pf24bit);
        expectBlockColours(toQImage(bitmap), 4);
        // Scaling works as for any picture.
        jpeg.SetScale(jsHalf);
        EXPECT_EQ(jpeg.Width(), 32);
        expectBlockColours(toQImage(jpeg.DecodedBitmap()), 6, 2);
    }
}

TEST(JpegCmyk, PicturesDecodeTo8BitsWithAPaletteOfTheirColours)
{
    for (const Form& f : kForms) {
        for (TJPEGPerformance performance : {jpBestQuality, jpBestSpeed}) {
            SCOPED_TRACE(testing::Message() << f.name << ", performance " << performance);
            TJPEGImage jpeg;
            load(jpeg, makeCmykJpeg(f.form));
            jpeg.SetPixelFormat(jf8Bit);
            jpeg.SetPerformance(performance);
            TBitmap& bitmap = jpeg.DecodedBitmap();
            EXPECT_EQ(bitmap.PixelFormat(), pf8bit);
            const std::size_t colours = bitmap.Palette().Entries.size();
            EXPECT_GE(colours, 8u);
            EXPECT_LE(colours, 236u);
            for (int y = 0; y < bitmap.Height(); ++y)
                for (int x = 0; x < bitmap.Width(); ++x)
                    ASSERT_LT(bitmap.ScanLine(y)[x], colours);
            expectBlockColours(toQImage(bitmap), 8);
        }
    }
}

TEST(JpegCmyk, TheGreyOptionGivesTheLuminanceOfEachBlock)
{
    for (const Form& f : kForms) {
        SCOPED_TRACE(f.name);
        TJPEGImage jpeg;
        load(jpeg, makeCmykJpeg(f.form));
        jpeg.SetGrayscale(true);
        TBitmap& bitmap = jpeg.DecodedBitmap();
        EXPECT_EQ(bitmap.PixelFormat(), pf8bit);
        const TPalette palette = bitmap.Palette();
        EXPECT_LE(palette.Entries.size(), 236u);
        for (const TPaletteEntry& e : palette.Entries) {
            EXPECT_EQ(e.Red, e.Green);
            EXPECT_EQ(e.Green, e.Blue);
        }
        const QImage image = toQImage(bitmap);
        for (int y = 8; y < 32; y += 16) {
            for (int x = 8; x < 64; x += 16) {
                const auto c = blockColour(x, y);
                const double luminance = 0.299 * c[0] + 0.587 * c[1] + 0.114 * c[2];
                EXPECT_NEAR(qGray(image.pixel(x, y)), luminance, 5) << x << "," << y;
            }
        }
    }
}

TEST(JpegCmyk, AGivenPaletteIsKeptAndEveryPixelMapsOntoIt)
{
    TPalette palette;
    palette.Entries = {
        {0, 0, 0, 0}, {255, 0, 0, 0}, {0, 255, 0, 0}, {0, 0, 255, 0}, {255, 255, 255, 0}};
    TJPEGImage jpeg;
    load(jpeg, makeCmykJpeg(CmykForm::adobeCmyk));
    jpeg.SetPalette(palette);
    jpeg.SetPixelFormat(jf8Bit);
    TBitmap& bitmap = jpeg.DecodedBitmap();
    EXPECT_EQ(bitmap.Palette(), palette);
    for (int y = 0; y < bitmap.Height(); ++y)
        for (int x = 0; x < bitmap.Width(); ++x)
            ASSERT_LT(bitmap.ScanLine(y)[x], 5);
    // The red, green, blue and white blocks have their own entries.
    EXPECT_EQ(bitmap.ScanLine(8)[8], 1);
    EXPECT_EQ(bitmap.ScanLine(8)[24], 2);
    EXPECT_EQ(bitmap.ScanLine(8)[40], 3);
    EXPECT_EQ(bitmap.ScanLine(24)[24], 4);
}

TEST(JpegCmyk, ProgressiveFilesDecodeAlsoScanByScan)
{
    const std::string file = makeCmykJpeg(CmykForm::adobeYcck, true);
    for (bool progressiveDisplay : {false, true}) {
        for (TJPEGPixelFormat format : {jf24Bit, jf8Bit}) {
            SCOPED_TRACE(testing::Message() << progressiveDisplay << ", format " << format);
            TJPEGImage jpeg;
            load(jpeg, file);
            EXPECT_TRUE(jpeg.ProgressiveEncoding);
            jpeg.ProgressiveDisplay = progressiveDisplay;
            jpeg.SetPixelFormat(format);
            expectBlockColours(toQImage(jpeg.DecodedBitmap()), 8);
        }
    }
}

TEST(JpegCmyk, DamagedCutAndOversizedFilesFailCleanly)
{
    for (TJPEGPixelFormat format : {jf24Bit, jf8Bit}) {
        SCOPED_TRACE(format);
        // A damaged scan fails the decode, and converting to a bitmap fails again.
        TJPEGImage damaged;
        load(damaged, damagedSecondScan(makeCmykJpeg(CmykForm::adobeCmyk, true)));
        damaged.SetPixelFormat(format);
        EXPECT_THROW(damaged.DecodedBitmap(), EJPEG);
        TBitmap bitmap;
        EXPECT_THROW(bitmap.Assign(&damaged), EJPEG);

        // A file cut in its coded data decodes as far as it goes.
        std::string cut = makeCmykJpeg(CmykForm::adobeYcck);
        cut.resize(cut.find("\xFF\xDA") + 200);
        TJPEGImage shortFile;
        load(shortFile, cut);
        shortFile.SetPixelFormat(format);
        EXPECT_EQ(shortFile.DecodedBitmap().Width(), 64);
    }

    // 18000 x 18000 pixels of four components need more library memory than is allowed,
    // although the same size in three components would pass.
    std::string huge = makeCmykJpeg(CmykForm::adobeCmyk);
    const auto frame = huge.find("\xFF\xC0");
    ASSERT_NE(frame, std::string::npos);
    for (std::size_t at : {frame + 5, frame + 7}) { // height, then width, big-endian
        huge[at] = char(18000 >> 8);
        huge[at + 1] = char(18000 & 0xFF);
    }
    TJPEGImage jpeg;
    load(jpeg, huge);
    try {
        jpeg.DecodedBitmap();
        FAIL() << "decoded";
    } catch (const EJPEG& e) {
        EXPECT_EQ(e.Message, "JPEG error #" + std::to_string(JERR_IMAGE_TOO_BIG));
    }
}
