// Reading and writing bitmap files: round trips, the layout of written files, and what
// truncated, damaged or hostile files get.
#include "tests/imaging/BmpBytes.h"

#include "core/Exceptions.h"
#include "desktop/BitmapCanvas.h"
#include "desktop/QtImage.h"
#include "imaging/BitmapDrawTarget.h"
#include "imaging/TBitmap.h"
#include "imaging/TPicture.h"
#include "imaging/TStream.h"
#include "platform/ScreenDepth.h"
#include "tests/support/TempPrefix.h"

#include <filesystem>

#include <gtest/gtest.h>

namespace fs = std::filesystem;

namespace {

void load(TBitmap& bitmap, const std::string& bytes)
{
    TMemoryStream stream(bytes);
    bitmap.LoadFromStream(stream);
}

std::string saved(TBitmap& bitmap)
{
    TMemoryStream stream;
    bitmap.SaveToStream(stream);
    return std::string(stream.bytes());
}

std::uint32_t u32At(const std::string& b, std::size_t at)
{
    return std::uint32_t(std::uint8_t(b[at])) | std::uint32_t(std::uint8_t(b[at + 1])) << 8 |
           std::uint32_t(std::uint8_t(b[at + 2])) << 16 |
           std::uint32_t(std::uint8_t(b[at + 3])) << 24;
}

std::uint16_t u16At(const std::string& b, std::size_t at)
{
    return std::uint16_t(std::uint8_t(b[at]) | std::uint8_t(b[at + 1]) << 8);
}

std::string loadError(const std::string& bytes)
{
    try {
        TBitmap bitmap;
        load(bitmap, bytes);
    } catch (const Exception& e) {
        return e.Message;
    }
    return "loaded";
}

class BitmapFile : public TempPrefixTest {};

} // namespace

TEST(Bitmap, UncompressedFilesOfEveryDepthAndHeaderFormSaveBackByteForByte)
{
    const std::vector<std::uint32_t> mask565 = {0xF800, 0x07E0, 0x001F};
    const std::vector<std::uint32_t> mask32 = {0xFF0000, 0xFF00, 0xFF};
    struct Case {
        const char* what;
        BmpSpec spec;
    };
    const Case cases[] = {
        {"1 bit", {5, 3, 1, 0, colorTable(2), {}, false, 2}},
        {"4 bits", {5, 3, 4, 0, colorTable(16), {}, false, 16}},
        {"4 bits, 9 colours", {5, 3, 4, 0, colorTable(9), {}, false, 9}},
        {"8 bits", {7, 3, 8, 0, colorTable(256), {}, false, 256}},
        {"8 bits, top-down", {7, -3, 8, 0, colorTable(256), {}, false, 256}},
        {"16 bits 5-5-5", {5, 3, 16, 0, {}, {}, false, 0}},
        {"16 bits 5-6-5 bit fields", {5, 3, 16, 3, {}, mask565, false, 0}},
        {"24 bits", {5, 3, 24, 0, {}, {}, false, 0}},
        {"24 bits, top-down", {5, -3, 24, 0, {}, {}, false, 0}},
        {"24 bits with a colour table", {5, 3, 24, 0, colorTable(4), {}, false, 4}},
        {"32 bits", {5, 3, 32, 0, {}, {}, false, 0}},
        {"32 bits bit fields", {5, 3, 32, 3, {}, mask32, false, 0}},
        {"OS/2 1 bit", {5, 3, 1, 0, colorTable(2), {}, true, 0}},
        {"OS/2 4 bits", {5, 3, 4, 0, colorTable(16), {}, true, 0}},
        {"OS/2 8 bits", {6, 2, 8, 0, colorTable(256), {}, true, 0}},
        {"OS/2 24 bits", {5, 3, 24, 0, {}, {}, true, 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string file = makeBmp(c.spec);
        TBitmap bitmap;
        load(bitmap, file);
        EXPECT_EQ(bitmap.Width(), c.spec.width);
        EXPECT_EQ(bitmap.Height(), std::abs(c.spec.height));
        EXPECT_EQ(bitmap.HandleType(), bmDIB);
        EXPECT_EQ(bitmap.OS2Format(), c.spec.os2);
        EXPECT_EQ(saved(bitmap), file);
    }
}

TEST(Bitmap, PixelsDecodeThroughTheColourTableAndMasks)
{
    // Two pixels per row: index 0 and 1 of a table holding red and blue.
    BmpSpec spec{2, 1, 8, 0, {0x00FF0000, 0x000000FF}, {}, false, 2};
    TBitmap bitmap;
    load(bitmap, makeBmp(spec, std::string("\x00\x01\x00\x00", 4)));
    QImage image = toQImage(bitmap);
    EXPECT_EQ(image.pixel(0, 0), qRgb(255, 0, 0));
    EXPECT_EQ(image.pixel(1, 0), qRgb(0, 0, 255));

    // 5-6-5: pure green is 0x07E0; bottom-up rows put the first row at the bottom.
    BmpSpec spec16{1, 2, 16, 3, {}, {0xF800, 0x07E0, 0x001F}, false, 0};
    load(bitmap, makeBmp(spec16, std::string("\xE0\x07\x00\x00\x00\xF8\x00\x00", 8)));
    image = toQImage(bitmap);
    EXPECT_EQ(image.pixel(0, 1), qRgb(0, 255, 0));
    EXPECT_EQ(image.pixel(0, 0), qRgb(255, 0, 0));
}

TEST(Bitmap, AFileWith236ColoursIsWrittenWith236EntriesAndOffset998)
{
    const std::string file = makeBmp({9, 4, 8, 0, colorTable(236), {}, false, 236});
    TBitmap bitmap;
    load(bitmap, file);
    const std::string out = saved(bitmap);
    EXPECT_EQ(u32At(out, 10), 998u);         // pixel offset
    EXPECT_EQ(u32At(out, 46), 236u);         // colours used
    EXPECT_EQ(u32At(out, 2), 998u + 4 * 12); // file size
    EXPECT_EQ(out, file);
}

TEST(Bitmap, A24BitBitmapWithoutPaletteIsWrittenWithOffset54AndNoTable)
{
    TBitmap bitmap;
    load(bitmap, makeBmp({5, 3, 24, 0, {}, {}, false, 0}));
    const std::string out = saved(bitmap);
    EXPECT_EQ(u32At(out, 10), 54u);
    EXPECT_EQ(u32At(out, 46), 0u);
    EXPECT_EQ(out.size(), 54u + 16 * 3);
}

TEST(Bitmap, AShortPixelAreaLoadsWithTheMissingRowsZero)
{
    BmpSpec spec{2, 3, 24, 0, {}, {}, false, 0};
    // Only the first (bottom) row of three is present.
    std::string file = makeBmp(spec, std::string(8, '\xFF') + std::string(16, '\x00'));
    file.resize(file.size() - 16);
    TBitmap bitmap;
    load(bitmap, file);
    const QImage image = toQImage(bitmap);
    EXPECT_EQ(image.pixel(0, 2), qRgb(255, 255, 255));
    EXPECT_EQ(image.pixel(1, 0), qRgb(0, 0, 0));
    EXPECT_EQ(image.pixel(1, 1), qRgb(0, 0, 0));
}

TEST(Bitmap, AnInformationHeaderCutShortReadsAsZero)
{
    std::string file = makeBmp({5, 3, 24, 0, {}, {}, false, 0});
    file.resize(14 + 20); // through the bit count and part of the compression field
    TBitmap bitmap;
    load(bitmap, file);
    EXPECT_EQ(bitmap.Width(), 5);
    EXPECT_EQ(toQImage(bitmap).pixel(0, 0), qRgb(0, 0, 0));
}

TEST(Bitmap, RunLengthFilesBecomeScreenDepthBitmapsWithAColourTable)
{
    // 4 x 2, RLE8: bottom row a run of 4 of index 1, end of line; top row two literal pixels
    // 0 and 1, then end of bitmap.
    BmpBytes rle;
    rle.u8(4).u8(1);             // run: 4 pixels of index 1
    rle.u8(0).u8(0);             // end of line
    rle.u8(0).u8(3);             // literal run of 3
    rle.u8(0).u8(1).u8(1).u8(0); // indexes 0, 1, 1 and a pad byte
    rle.u8(0).u8(1);             // end of bitmap
    BmpSpec spec{4, 2, 8, 1, {0x00000000, 0x0000FF00}, {}, false, 2};
    for (int depth : {32, 16, 24}) {
        SCOPED_TRACE(depth);
        platform::overrideScreenBitsPerPixel(depth);
        TBitmap bitmap;
        load(bitmap, makeBmp(spec, rle.bytes));
        EXPECT_EQ(bitmap.HandleType(), bmDDB);
        const QImage image = toQImage(bitmap);
        EXPECT_EQ(image.pixel(0, 1), qRgb(0, 255, 0));
        EXPECT_EQ(image.pixel(0, 0), qRgb(0, 0, 0));
        EXPECT_EQ(image.pixel(1, 0), qRgb(0, 255, 0));
        EXPECT_EQ(image.pixel(3, 0), qRgb(0, 0, 0)); // never reached: black

        const std::string out = saved(bitmap);
        EXPECT_EQ(u16At(out, 28), depth); // the screen's depth
        EXPECT_EQ(u32At(out, 30), 0u);    // uncompressed
        EXPECT_EQ(u32At(out, 46), 2u);    // the file's two colours follow
        EXPECT_EQ(u32At(out, 10), 14u + 40 + 2 * 4);
        EXPECT_EQ(u32At(out, 54 + 4), 0x0000FF00u); // second entry: green
        EXPECT_EQ(out.size(), u32At(out, 2));
        // The written file reads back with the same pixels.
        TBitmap again;
        load(again, out);
        EXPECT_EQ(toQImage(again).pixel(0, 1), qRgb(0, 255, 0));
    }
    platform::overrideScreenBitsPerPixel(0);
}

TEST(Bitmap, DamagedFilesFailWithTheLoadersErrors)
{
    const std::string good = makeBmp({5, 3, 8, 0, colorTable(256), {}, false, 256});
    struct Case {
        const char* what;
        std::string bytes;
        const char* error;
    };
    std::string notBm = good;
    notBm[0] = 'X';
    std::string planes = good;
    planes[26] = 2;
    std::string depth = good;
    depth[28] = 7;
    std::string rleDepth = good;
    rleDepth[30] = 2; // RLE4 with 8 bits per pixel
    std::string huge = makeBmp({5, 3, 24, 0, {}, {}, false, 0});
    huge[18] = char(0xFF);
    huge[19] = char(0xFF);
    huge[20] = char(0); // width 65535
    huge[22] = char(0xFF);
    huge[23] = char(0xFF);
    huge[24] = char(0x01); // height 131071
    std::string zeroWidth = good;
    zeroWidth[18] = 0;
    const Case cases[] = {
        {"not BM", notBm, "Bitmap image is not valid"},
        {"two planes", planes, "Bitmap image is not valid"},
        {"7 bits per pixel", depth, "Bitmap image is not valid"},
        {"run-length coding of the wrong depth", rleDepth, "Bitmap image is not valid"},
        {"more than 2^31 bytes of pixels", huge, "Bitmap image is not valid"},
        {"zero width", zeroWidth, "Bitmap image is not valid"},
        {"shorter than the file header", good.substr(0, 10), "Stream read error"},
        {"header size missing", good.substr(0, 16), "Stream read error"},
        {"colour table cut short", good.substr(0, 54 + 100), "Stream read error"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(loadError(c.bytes), c.error);
    }
}

TEST(Bitmap, AnEmptyStreamMakesAnEmptyBitmapThatSavesNothing)
{
    TBitmap bitmap;
    load(bitmap, makeBmp({5, 3, 24, 0, {}, {}, false, 0}));
    TMemoryStream empty;
    bitmap.LoadFromStream(empty);
    EXPECT_TRUE(bitmap.Empty());
    EXPECT_EQ(saved(bitmap), "");
}

TEST(Bitmap, ASharedImageIsCopiedBeforeItChanges)
{
    TBitmap first;
    load(first, makeBmp({5, 3, 24, 0, {}, {}, false, 0}));
    TBitmap second;
    second.Assign(&first);
    EXPECT_TRUE(second.Equals(first));
    second.ScanLine(0)[0] = 0x5A;
    EXPECT_NE(first.ScanLine(0)[0], 0x5A);
    EXPECT_FALSE(second.Equals(first));
}

TEST(Bitmap, PixelFormatConversionsKeepTheColours)
{
    TBitmap bitmap;
    load(bitmap, makeBmp({5, 3, 24, 0, {}, {}, false, 0}));
    const QImage before = toQImage(bitmap);
    bitmap.SetPixelFormat(pf32bit);
    EXPECT_EQ(bitmap.InfoHeader().BitCount, 32);
    EXPECT_EQ(toQImage(bitmap), before);
    bitmap.SetPixelFormat(pf24bit);
    EXPECT_EQ(toQImage(bitmap), before);
    bitmap.SetPixelFormat(pfDevice);
    EXPECT_EQ(bitmap.HandleType(), bmDDB);
    EXPECT_EQ(toQImage(bitmap), before);
}

TEST(Bitmap, DrawingOnADeviceIndependentBitmapKeepsItsForm)
{
    TBitmap bitmap;
    load(bitmap, makeBmp({5, 3, 24, 0, {}, {}, false, 0}));
    BitmapCanvas canvas(bitmap);
    canvas.Brush.Color = clRed;
    canvas.FillRect({0, 0, 2, 1});
    EXPECT_EQ(bitmap.HandleType(), bmDIB);
    EXPECT_EQ(toQImage(bitmap).pixel(1, 0), qRgb(255, 0, 0));
    EXPECT_EQ(bitmap.ScanLine(0)[2], 0xFF); // red byte of the first pixel
}

TEST(Bitmap, StretchDrawingDropsWholeRowsAndColumns)
{
    // A 4 x 1 bitmap of four colours shrunk to 2 x 1 keeps columns 0 and 2, unblended.
    BmpSpec spec{4, 1, 8, 0, {0x0000FF, 0x00FF00, 0xFF0000, 0xFFFFFF}, {}, false, 4};
    TBitmap source;
    load(source, makeBmp(spec, std::string("\x00\x01\x02\x03", 4)));
    // Drawn with Qt's painter on a canvas of the bitmap, and on its pixels without a screen
    // (as the command-line tool fits a logo): the same pixels, a 24-bit bitmap keeping its form.
    for (const bool withCanvas : {true, false}) {
        SCOPED_TRACE(withCanvas ? "canvas" : "pixels");
        TBitmap target;
        target.SetPixelFormat(pf24bit);
        target.SetSize(3, 2);
        if (withCanvas) {
            BitmapCanvas(target).StretchDraw({0, 0, 2, 1}, source);
        } else {
            BitmapDrawTarget pixels(target);
            source.Draw(pixels, {0, 0, 2, 1});
        }
        const QImage image = toQImage(target);
        EXPECT_EQ(image.pixel(0, 0), qRgb(0, 0, 255));
        EXPECT_EQ(image.pixel(1, 0), qRgb(255, 0, 0));
        EXPECT_EQ(image.pixel(2, 0), qRgb(0, 0, 0)); // outside the rectangle: untouched
        EXPECT_EQ(image.pixel(0, 1), qRgb(0, 0, 0));
        EXPECT_EQ(target.PixelFormat(), pf24bit);
        EXPECT_EQ(target.ScanLine(0)[0], 0xFF); // blue byte of the first pixel
    }
}

TEST_F(BitmapFile, AnEmptyBitmapSavesAZeroLengthFile)
{
    TBitmap bitmap;
    bitmap.SaveToFile("empty.bmp");
    ASSERT_TRUE(fs::exists(temp() / "empty.bmp"));
    EXPECT_EQ(fs::file_size(temp() / "empty.bmp"), 0u);
}

TEST_F(BitmapFile, AFailedSaveLeavesTheOldFileWhole)
{
    writeFile(temp() / "logo.bmp", "old contents");
    fs::permissions(temp() / "logo.bmp", fs::perms::owner_read);
    TBitmap bitmap;
    load(bitmap, makeBmp({5, 3, 24, 0, {}, {}, false, 0}));
    try {
        bitmap.SaveToFile("logo.bmp");
        FAIL() << "saved over a read-only file";
    } catch (const EFCreateError& e) {
        EXPECT_EQ(e.Message, "Cannot create file logo.bmp");
    }
    EXPECT_EQ(readFile(temp() / "logo.bmp"), "old contents");
    EXPECT_THROW(bitmap.SaveToFile("missing\\folder\\logo.bmp"), EFCreateError);
}

TEST_F(BitmapFile, APictureSavedUnderAJpgNameIsStillABitmapFile)
{
    const std::string file = makeBmp({5, 3, 24, 0, {}, {}, false, 0});
    writeFile(temp() / "in.bmp", file);
    TPicture picture;
    picture.LoadFromFile("in.bmp");
    picture.SaveToFile("out.jpg");
    EXPECT_EQ(readFile(temp() / "out.jpg"), file);
}

TEST_F(BitmapFile, AMissingFileCannotBeOpened)
{
    TBitmap bitmap;
    try {
        bitmap.LoadFromFile("nothing.bmp");
        FAIL();
    } catch (const EFOpenError& e) {
        EXPECT_EQ(e.Message, "Cannot open file nothing.bmp");
    }
}

TEST(Bitmap, AScreenBitmapIsSavedAtTheScreensDepth)
{
    struct Case {
        int screen;
        int bits;
        std::uint32_t colors;
    };
    // 256-colour screens get the general-purpose palette as the file's colour table.
    const Case cases[] = {{32, 32, 0}, {24, 24, 0}, {16, 16, 0}, {8, 8, 256}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.screen);
        platform::overrideScreenBitsPerPixel(c.screen);
        TBitmap bitmap;
        bitmap.SetSize(3, 2);
        BitmapCanvas canvas(bitmap);
        canvas.Brush.Color = clRed;
        canvas.FillRect({0, 0, 3, 2});
        EXPECT_EQ(bitmap.HandleType(), bmDDB);
        const std::string out = saved(bitmap);
        EXPECT_EQ(u16At(out, 28), c.bits);
        EXPECT_EQ(u32At(out, 30), 0u);
        EXPECT_EQ(u32At(out, 46), c.colors);
        TBitmap again;
        load(again, out);
        EXPECT_EQ(toQImage(again).pixel(2, 1), qRgb(255, 0, 0));
    }
    platform::overrideScreenBitsPerPixel(0);
}
