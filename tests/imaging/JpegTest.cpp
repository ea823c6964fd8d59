// JPEG pictures: bytes kept as loaded, the header read at load, decoding with each option,
// encoding, and what empty, cut and damaged data get.
#include "tests/imaging/JpegFixtures.h"

#include "core/Exceptions.h"
#include "desktop/QtImage.h"
#include "imaging/TBitmap.h"
#include "imaging/TPicture.h"
#include "imaging/jpeg.h"
#include "tests/support/TempPrefix.h"

#include <set>

#include <gtest/gtest.h>

#include <jerror.h>

namespace {

void load(TJPEGImage& jpeg, const std::string& bytes)
{
    TMemoryStream stream(bytes);
    jpeg.LoadFromStream(stream);
}

std::string decodeError(TJPEGImage& jpeg)
{
    try {
        jpeg.DecodedBitmap();
    } catch (const EJPEG& e) {
        return e.Message;
    }
    return "decoded";
}

std::string jpegError(int code)
{
    return "JPEG error #" + std::to_string(code);
}

class JpegFile : public TempPrefixTest {};

} // namespace

TEST(Jpeg, ALoadedPictureSavesByteForByte)
{
    for (bool progressive : {false, true}) {
        const std::string file = makeJpeg({37, 21, false, progressive, 75});
        TJPEGImage jpeg;
        load(jpeg, file);
        EXPECT_EQ(jpeg.ProgressiveEncoding, progressive);
        jpeg.DecodedBitmap();
        TMemoryStream out;
        jpeg.SaveToStream(out);
        EXPECT_EQ(out.bytes(), file);
    }
}

TEST(Jpeg, TheHeaderIsReadAtLoad)
{
    TJPEGImage jpeg;
    load(jpeg, makeJpeg({37, 21, true, false, 90}));
    EXPECT_EQ(jpeg.Width(), 37);
    EXPECT_EQ(jpeg.Height(), 21);
    EXPECT_FALSE(jpeg.Empty());

    // A file that is no JPEG at all fails at load with the library's error.
    TJPEGImage bad;
    try {
        load(bad, "not a jpeg at all");
        FAIL();
    } catch (const EJPEG& e) {
        EXPECT_EQ(e.Message.rfind("JPEG error #", 0), 0u);
    }
}

TEST(Jpeg, ScaledPicturesReportTheirScaledSizeBeforeAndAfterDecoding)
{
    struct Case {
        TJPEGScale scale;
        int width, height;
    };
    const Case cases[] = {
        {jsFullSize, 640, 480}, {jsHalf, 320, 240}, {jsQuarter, 160, 120}, {jsEighth, 80, 60}};
    const std::string file = makeJpeg({640, 480, false, false, 50});
    for (const Case& c : cases) {
        SCOPED_TRACE(c.scale);
        TJPEGImage jpeg;
        load(jpeg, file);
        jpeg.SetScale(c.scale);
        EXPECT_EQ(jpeg.Width(), c.width);
        EXPECT_EQ(jpeg.Height(), c.height);
        jpeg.DecodedBitmap();
        EXPECT_EQ(jpeg.Width(), c.width);
        EXPECT_EQ(jpeg.Height(), c.height);
    }
}

TEST(Jpeg, ColourPicturesDecodeTo24BitsBlueFirst)
{
    TJPEGImage jpeg;
    load(jpeg, makeJpeg({64, 48, false, false, 95}));
    TBitmap& bitmap = jpeg.DecodedBitmap();
    EXPECT_EQ(bitmap.PixelFormat(), pf24bit);
    const QImage image = toQImage(bitmap);
    // Right edge: red high; bottom: green high; blue near 64 everywhere.
    const QRgb corner = image.pixel(63, 47);
    EXPECT_GT(qRed(corner), 220);
    EXPECT_GT(qGreen(corner), 220);
    EXPECT_NEAR(qBlue(corner), 64, 16);
    const QRgb origin = image.pixel(0, 0);
    EXPECT_LT(qRed(origin), 30);
    EXPECT_LT(qGreen(origin), 30);
}

TEST(Jpeg, GreyPicturesDecodeTo8BitsWithAGreyPalette)
{
    for (bool greyFile : {true, false}) {
        SCOPED_TRACE(greyFile ? "grey file" : "Grayscale option");
        TJPEGImage jpeg;
        load(jpeg, makeJpeg({64, 8, greyFile, false, 90}));
        if (!greyFile)
            jpeg.SetGrayscale(true);
        ASSERT_EQ(jpeg.PixelFormat(), jf24Bit);
        TBitmap& bitmap = jpeg.DecodedBitmap();
        EXPECT_EQ(bitmap.PixelFormat(), pf8bit);
        const TPalette palette = bitmap.Palette();
        ASSERT_FALSE(palette.empty());
        EXPECT_LE(palette.Entries.size(), 236u);
        for (const TPaletteEntry& e : palette.Entries) {
            EXPECT_EQ(e.Red, e.Green);
            EXPECT_EQ(e.Green, e.Blue);
        }
        // The written bitmap carries a 256-entry table whose first entries are the greys.
        TMemoryStream out;
        bitmap.SaveToStream(out);
        const std::string bytes(out.bytes());
        EXPECT_EQ(std::uint8_t(bytes[28]), 8);
        EXPECT_EQ(std::uint8_t(bytes[46]) | std::uint8_t(bytes[47]) << 8, 256);
    }
}

TEST(Jpeg, EightBitDecodingUsesAtMost236Colours)
{
    for (TJPEGPerformance performance : {jpBestSpeed, jpBestQuality}) {
        SCOPED_TRACE(performance);
        TJPEGImage jpeg;
        load(jpeg, makeJpeg({64, 48, false, false, 90}));
        jpeg.SetPixelFormat(jf8Bit);
        jpeg.SetPerformance(performance);
        TBitmap& bitmap = jpeg.DecodedBitmap();
        EXPECT_EQ(bitmap.PixelFormat(), pf8bit);
        EXPECT_LE(bitmap.Palette().Entries.size(), 236u);
        EXPECT_GT(bitmap.Palette().Entries.size(), 8u);
        std::set<int> used;
        for (int y = 0; y < bitmap.Height(); ++y)
            for (int x = 0; x < bitmap.Width(); ++x)
                used.insert(bitmap.ScanLine(y)[x]);
        EXPECT_LT(*used.rbegin(), 236);
    }
}

TEST(Jpeg, AZeroLengthFileLoadsButFailsWhenDecoded)
{
    TJPEGImage jpeg;
    load(jpeg, "");
    EXPECT_EQ(jpeg.Width(), 0);
    EXPECT_EQ(jpeg.Height(), 0);
    EXPECT_TRUE(jpeg.Empty());
    // The library's code for empty input.
    EXPECT_EQ(decodeError(jpeg), jpegError(JERR_INPUT_EMPTY));
}

TEST(Jpeg, AFileCutShortDecodesAsFarAsItGoes)
{
    for (bool progressive : {false, true}) {
        SCOPED_TRACE(progressive);
        std::string file = makeJpeg({64, 64, false, progressive, 90});
        // Cut in the middle of the first scan's coded data.
        const auto scan = file.find("\xFF\xDA");
        const auto next = file.find('\xFF', scan + 20);
        ASSERT_NE(next, std::string::npos);
        file.resize((scan + next) / 2 + 10);
        TJPEGImage jpeg;
        load(jpeg, file);
        EXPECT_EQ(decodeError(jpeg), "decoded");
        EXPECT_EQ(jpeg.DecodedBitmap().Width(), 64);
    }
}

TEST(Jpeg, ADamagedBodyFailsWhenDecodedAndTheConversionFailsToo)
{
    const std::string file = damagedSecondScan(makeJpeg({64, 64, false, true, 90}));
    TJPEGImage jpeg;
    load(jpeg, file);
    EXPECT_EQ(jpeg.Width(), 64);
    EXPECT_EQ(decodeError(jpeg).rfind("JPEG error #", 0), 0u);
    // Drawing then uses what was decoded; converting fails again.
    EXPECT_NO_THROW(jpeg.DecodedBitmap());
    TBitmap bitmap;
    EXPECT_THROW(bitmap.Assign(&jpeg), EJPEG);
}

TEST(Jpeg, AssigningToABitmapGivesThe24BitDecodedPicture)
{
    TJPEGImage jpeg;
    load(jpeg, makeJpeg({33, 17, false, false, 90}));
    TBitmap bitmap;
    bitmap.Assign(&jpeg);
    EXPECT_EQ(bitmap.Width(), 33);
    EXPECT_EQ(bitmap.PixelFormat(), pf24bit);
    TMemoryStream out;
    bitmap.SaveToStream(out);
    EXPECT_EQ(std::uint8_t(out.bytes()[10]), 54); // no colour table
}

TEST(Jpeg, OptionChangesDropTheDecodedBitmapAndNotify)
{
    TJPEGImage jpeg;
    load(jpeg, makeJpeg({16, 16, false, false, 90}));
    int changes = 0;
    jpeg.OnChange = [&](TPersistent*) { ++changes; };
    TBitmap* first = &jpeg.DecodedBitmap();
    EXPECT_EQ(&jpeg.DecodedBitmap(), first); // kept while the options stay
    jpeg.SetPixelFormat(jf24Bit);            // same value: nothing
    EXPECT_EQ(changes, 0);
    jpeg.SetPixelFormat(jf8Bit);
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(jpeg.DecodedBitmap().PixelFormat(), pf8bit);
    jpeg.Smoothing = false; // a plain field
    EXPECT_THROW(jpeg.SetWidth(3), EInvalidGraphicOperation);
    try {
        jpeg.SetHeight(3);
    } catch (const EInvalidGraphicOperation& e) {
        EXPECT_EQ(e.Message, "Cannot change the size of a JPEG image");
    }
}

TEST(Jpeg, EncodingABitmapMakesAJpegOfItsSize)
{
    for (bool progressive : {false, true}) {
        TJPEGImage source;
        load(source, makeJpeg({40, 30, false, false, 90}));
        TBitmap bitmap;
        bitmap.Assign(&source);

        TJPEGImage jpeg;
        jpeg.Assign(&bitmap);
        jpeg.CompressionQuality = 50;
        jpeg.ProgressiveEncoding = progressive;
        TMemoryStream out;
        jpeg.SaveToStream(out);
        ASSERT_GT(out.bytes().size(), 100u);
        TJPEGImage again;
        load(again, std::string(out.bytes()));
        EXPECT_EQ(again.Width(), 40);
        EXPECT_EQ(again.Height(), 30);
        EXPECT_EQ(again.ProgressiveEncoding, progressive);
        const QRgb corner = toQImage(again.DecodedBitmap()).pixel(39, 29);
        EXPECT_GT(qRed(corner), 200);
    }
}

TEST(Jpeg, ProgressiveDisplayDecodesEveryScan)
{
    TJPEGImage jpeg;
    load(jpeg, makeJpeg({48, 32, false, true, 90}));
    jpeg.ProgressiveDisplay = true;
    for (TJPEGPixelFormat format : {jf24Bit, jf8Bit}) {
        jpeg.SetPixelFormat(format);
        const QImage image = toQImage(jpeg.DecodedBitmap());
        EXPECT_GT(qRed(image.pixel(47, 31)), 200);
    }
}

TEST(Jpeg, ProgressReportsStartAndEndADecode)
{
    TJPEGImage jpeg;
    load(jpeg, makeJpeg({16, 16, false, false, 90}));
    std::vector<std::pair<TProgressStage, int>> reports;
    jpeg.OnProgress = [&](TPersistent*, TProgressStage stage, std::uint8_t percent, bool,
                          const TRect&, const std::string& msg) {
        reports.push_back({stage, percent});
        EXPECT_EQ(msg, "");
    };
    jpeg.DecodedBitmap();
    ASSERT_GE(reports.size(), 2u);
    EXPECT_EQ(reports.front(), std::make_pair(psStarting, 0));
    EXPECT_EQ(reports.back(), std::make_pair(psEnding, 100));
}

TEST(Jpeg, SharedDataAndTheDecodedBitmapFollowAnAssignment)
{
    TJPEGImage jpeg;
    load(jpeg, makeJpeg({16, 16, false, false, 90}));
    jpeg.DecodedBitmap();
    TJPEGImage copy;
    copy.Assign(&jpeg);
    EXPECT_TRUE(copy.Equals(jpeg));
    EXPECT_EQ(copy.CompressedData().data(), jpeg.CompressedData().data());
    EXPECT_EQ(copy.Width(), 16);
}

TEST(Jpeg, FormResourceDataIsACountAndTheBytes)
{
    const std::string file = makeJpeg({8, 8, false, false, 90});
    TJPEGImage jpeg;
    load(jpeg, file);
    TMemoryStream data;
    jpeg.WriteData(data);
    EXPECT_EQ(data.bytes().size(), file.size() + 4);
    data.SetPosition(0);
    TJPEGImage again;
    again.ReadData(data);
    EXPECT_EQ(again.CompressedData(), file);

    // A count beyond the stored bytes is a read error, found before anything is allocated.
    TMemoryStream lying(std::string("\xFF\xFF\xFF\xFF", 4) + file);
    EXPECT_THROW(TJPEGImage().ReadData(lying), EReadError);
}

TEST_F(JpegFile, BothExtensionsLoadAJpegPicture)
{
    writeFile(temp() / "a.jpeg", makeJpeg({8, 8, false, false, 90}));
    writeFile(temp() / "b.JPG", makeJpeg({8, 8, false, false, 90}));
    for (const char* name : {"a.jpeg", "b.JPG"}) {
        TPicture picture;
        picture.LoadFromFile(name);
        EXPECT_NE(dynamic_cast<TJPEGImage*>(picture.Graphic()), nullptr) << name;
    }
}

TEST(Jpeg, AGivenPaletteBecomesTheColourMapOfAn8BitDecode)
{
    TJPEGImage jpeg;
    load(jpeg, makeJpeg({32, 32, false, false, 90}));
    TPalette palette;
    palette.Entries = {{0, 0, 0, 0}, {255, 0, 0, 0}, {0, 255, 0, 0}, {255, 255, 64, 0}};
    jpeg.SetPalette(palette);
    jpeg.SetPixelFormat(jf8Bit);
    TBitmap& bitmap = jpeg.DecodedBitmap();
    EXPECT_EQ(bitmap.Palette(), palette);
    for (int y = 0; y < bitmap.Height(); ++y)
        for (int x = 0; x < bitmap.Width(); ++x)
            ASSERT_LT(bitmap.ScanLine(y)[x], 4);

    // With 24-bit output the palette is let go.
    jpeg.SetPixelFormat(jf24Bit);
    EXPECT_EQ(jpeg.DecodedBitmap().PixelFormat(), pf24bit);
    EXPECT_TRUE(jpeg.Palette().empty());
}
