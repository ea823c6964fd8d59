// Where each pixel of a bitmap file lands: row order, nibble order, run-length escapes and the
// file header's pixel offset, checked pixel by pixel on small files built here.
#include "tests/imaging/BmpBytes.h"

#include "desktop/QtImage.h"
#include "imaging/TBitmap.h"
#include "imaging/TStream.h"
#include "platform/ScreenDepth.h"

#include <gtest/gtest.h>

namespace {

// The colours of the pictures below: an index of the colour table, or black where no pixel
// was written. No table entry is black.
constexpr char kUntouched = '.';

QRgb tableColour(const std::vector<std::uint32_t>& table, char cell)
{
    if (cell == kUntouched)
        return qRgb(0, 0, 0);
    const int index = cell <= '9' ? cell - '0' : cell - 'a' + 10;
    const std::uint32_t c = table[std::size_t(index)];
    return qRgb(int((c >> 16) & 0xFF), int((c >> 8) & 0xFF), int(c & 0xFF));
}

QImage loaded(const std::string& bytes)
{
    TMemoryStream stream(bytes);
    TBitmap bitmap;
    bitmap.LoadFromStream(stream);
    return toQImage(bitmap);
}

// Compares every pixel with a picture given as rows from the top, one character a pixel.
void expectPixels(const QImage& image, const std::vector<std::uint32_t>& table,
                  const std::vector<std::string>& rows)
{
    ASSERT_EQ(image.height(), int(rows.size()));
    for (int y = 0; y < image.height(); ++y) {
        ASSERT_EQ(image.width(), int(rows[std::size_t(y)].size()));
        for (int x = 0; x < image.width(); ++x)
            EXPECT_EQ(image.pixel(x, y), tableColour(table, rows[std::size_t(y)][std::size_t(x)]))
                << "pixel (" << x << ", " << y << ")";
    }
}

// Run-length files decode into a bitmap of the screen's depth; 32 bits keep every colour.
class ScreenDepth32 : public ::testing::Test {
protected:
    void SetUp() override { platform::overrideScreenBitsPerPixel(32); }
    void TearDown() override { platform::overrideScreenBitsPerPixel(0); }
};

class BitmapPixels : public ScreenDepth32 {};

} // namespace

TEST_F(BitmapPixels, RunLengthEscapesPlacePixelsWhereTheyPoint)
{
    struct Case {
        const char* what;
        int width, height, bits;
        std::uint32_t compression;
        std::string coded;
        std::vector<std::string> rows; // from the top
    };
    // Rows are coded from the bottom up. A delta (0, 2, dx, dy) moves right and up and leaves
    // the pixels it passes black; an end of line (0, 0) goes to the start of the next row up.
    BmpBytes rle8;
    rle8.u8(2).u8(1);             // bottom row: 2 pixels of index 1
    rle8.u8(0).u8(2).u8(2).u8(1); // delta: 2 right, 1 up, to (4, row 1)
    rle8.u8(2).u8(3);             // 2 pixels of index 3 at the end of row 1
    rle8.u8(0).u8(0);             // end of line: row 2 from its start
    rle8.u8(0).u8(3);             // literal run of 3
    rle8.u8(4).u8(5).u8(6).u8(0); // indexes 4, 5, 6 and the pad byte
    rle8.u8(0).u8(0);             // end of line: row 3
    rle8.u8(1).u8(7);             // 1 pixel of index 7
    rle8.u8(0).u8(2).u8(2).u8(0); // delta: 2 right within the row
    rle8.u8(1).u8(8);             // 1 pixel of index 8 at (3, row 3)
    rle8.u8(0).u8(1);             // end of bitmap

    BmpBytes rle4;
    rle4.u8(3).u8(0x12);             // bottom row: 3 pixels alternating 1, 2, 1
    rle4.u8(0).u8(2).u8(3).u8(1);    // delta: 3 right, 1 up, to (6, row 1)
    rle4.u8(2).u8(0x34);             // pixels 3 and 4 at the end of row 1
    rle4.u8(0).u8(0);                // end of line: row 2 from its start
    rle4.u8(0).u8(5);                // literal run of 5
    rle4.u8(0x56).u8(0x78).u8(0x90); // indexes 5, 6, 7, 8, 9 in three bytes
    rle4.u8(0);                      // the pad byte
    rle4.u8(0).u8(2).u8(2).u8(0);    // delta: 2 right within the row, to (7, row 2)
    rle4.u8(1).u8(0xA0);             // 1 pixel of index 10
    rle4.u8(0).u8(1);                // end of bitmap

    const Case cases[] = {
        {"RLE8", 6, 4, 8, 1, rle8.bytes, {"7..8..", "456...", "....33", "11...."}},
        {"RLE4", 8, 3, 4, 2, rle4.bytes, {"56789..a", "......34", "121....."}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        BmpSpec spec{c.width, c.height, c.bits, c.compression, colorTable(16), {}, false, 16};
        expectPixels(loaded(makeBmp(spec, c.coded)), spec.colors, c.rows);
    }
}

TEST_F(BitmapPixels, LiteralRunsOfOddLengthSkipTheirPadByte)
{
    struct Case {
        const char* what;
        int width, bits;
        std::uint32_t compression;
        std::string coded;
        std::string row;
    };
    BmpBytes rle8;
    rle8.u8(0).u8(3).u8(1).u8(2).u8(3).u8(0xFF); // literal 1, 2, 3; the pad byte is not a pixel
    rle8.u8(2).u8(4);                            // then a run of 2 of index 4
    rle8.u8(0).u8(1);                            // end of bitmap
    BmpBytes rle8Even;
    rle8Even.u8(0).u8(4).u8(1).u8(2).u8(3).u8(4); // literal of 4: no pad byte
    rle8Even.u8(1).u8(5);                         // a run of 1 of index 5
    rle8Even.u8(0).u8(1);                         // end of bitmap
    BmpBytes rle4Odd;
    rle4Odd.u8(0).u8(5).u8(0x12).u8(0x34).u8(0x50); // literal of 5 in three bytes
    rle4Odd.u8(0xFF);                               // its pad byte, not a code
    rle4Odd.u8(2).u8(0x66);                         // then a run of 2 of index 6
    rle4Odd.u8(0).u8(1);                            // end of bitmap

    BmpBytes rle4Even;
    rle4Even.u8(0).u8(3).u8(0x12).u8(0x30); // literal of 3 in two bytes: no pad byte
    rle4Even.u8(1).u8(0x44);                // a run of 1 of index 4
    rle4Even.u8(0).u8(1);                   // end of bitmap

    const Case cases[] = {
        {"RLE8, 3 bytes", 6, 8, 1, rle8.bytes, "12344."},
        {"RLE8, 4 bytes", 6, 8, 1, rle8Even.bytes, "12345."},
        {"RLE4, 3 bytes", 8, 4, 2, rle4Odd.bytes, "1234566."},
        {"RLE4, 2 bytes", 8, 4, 2, rle4Even.bytes, "1234...."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        BmpSpec spec{c.width, 1, c.bits, c.compression, colorTable(16), {}, false, 16};
        expectPixels(loaded(makeBmp(spec, c.coded)), spec.colors, {c.row});
    }
}

TEST_F(BitmapPixels, UncompressedRowsAndPixelsComeInTheFilesOrder)
{
    struct Case {
        const char* what;
        int width, height, bits; // a negative height stores the top row first
        std::string pixels;      // as the file holds them, rows padded to 4 bytes
        std::vector<std::string> rows;
    };
    const std::vector<std::uint32_t> table = colorTable(16);
    // Three bytes (blue, green, red) of a table colour, for the 24-bit files.
    const auto bgr = [&](int index) {
        const std::uint32_t c = table[std::size_t(index)];
        return BmpBytes().u8(std::uint8_t(c)).u8(std::uint8_t(c >> 8)).u8(std::uint8_t(c >> 16));
    };
    const std::string bgr24 =
        bgr(1).raw(bgr(2).bytes).fill(2, 0).bytes + bgr(3).raw(bgr(4).bytes).fill(2, 0).bytes;
    BmpBytes eightBits;
    eightBits.u8(1).u8(2).u8(3).u8(0); // first row: 1 2 3, padded
    eightBits.u8(4).u8(5).u8(6).u8(0); // second row: 4 5 6, padded
    BmpBytes fourBits;
    fourBits.u8(0x12).u8(0x34).u8(0x50).u8(0); // first row: 1 2 3 4 5, padded
    fourBits.u8(0x9A).u8(0xBC).u8(0x00).u8(0); // second row: 9 a b c 0, padded
    const Case cases[] = {
        {"8 bits, bottom-up", 3, 2, 8, eightBits.bytes, {"456", "123"}},
        {"8 bits, top-down", 3, -2, 8, eightBits.bytes, {"123", "456"}},
        {"24 bits, bottom-up", 2, 2, 24, bgr24, {"34", "12"}},
        {"24 bits, top-down", 2, -2, 24, bgr24, {"12", "34"}},
        // The high nibble is the left pixel.
        {"4 bits", 5, 2, 4, fourBits.bytes, {"9abc0", "12345"}},
        {"4 bits, top-down", 5, -2, 4, fourBits.bytes, {"12345", "9abc0"}},
        // The highest bit is the left pixel.
        {"1 bit", 10, 1, 1, BmpBytes().u8(0b10110000).u8(0b01000000).u16(0).bytes, {"1011000001"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<std::uint32_t> colours;
        if (c.bits <= 8)
            colours.assign(table.begin(), table.begin() + (c.bits == 1 ? 2 : 16));
        BmpSpec spec;
        spec.width = c.width;
        spec.height = c.height;
        spec.bits = c.bits;
        spec.colors = colours;
        spec.clrUsed = std::uint32_t(colours.size());
        expectPixels(loaded(makeBmp(spec, c.pixels)), table, c.rows);
    }
}

TEST_F(BitmapPixels, PixelsStartAtTheOffsetInTheFileHeader)
{
    // Some files leave a gap between the colour table and the pixels; the file header's
    // offset says where the pixels are. An offset that points back into the headers or past
    // the end of the file cannot be right, and the pixels are then taken from the end of the
    // colour table.
    struct Case {
        const char* what;
        BmpSpec spec;
        std::string pixels;
        std::size_t gap;     // bytes between the colour table and the pixels
        std::int64_t offset; // written to the file header; -1: where the pixels really start
        std::vector<std::string> rows;
    };
    const std::vector<std::uint32_t> table = colorTable(16);
    const std::string indexes = BmpBytes().u8(1).u8(2).u8(3).u8(0).bytes;
    BmpBytes rle;
    rle.u8(2).u8(5).u8(1).u8(6).u8(0).u8(1); // 2 of index 5, 1 of index 6, end of bitmap
    const BmpSpec eightBits{3, 1, 8, 0, table, {}, false, 16};
    const BmpSpec runLength{3, 1, 8, 1, table, {}, false, 16};
    const BmpSpec fourBits{3, 1, 4, 0, table, {}, false, 16};
    const Case cases[] = {
        {"8 bits, a gap of 6", eightBits, indexes, 6, -1, {"123"}},
        {"8 bits, a gap of 1", eightBits, indexes, 1, -1, {"123"}},
        {"4 bits, a gap of 4", fourBits, BmpBytes().u8(0xAB).u8(0xC0).u16(0).bytes, 4, -1, {"abc"}},
        {"run-length, a gap of 2", runLength, rle.bytes, 2, -1, {"556"}},
        {"offset into the colour table", eightBits, indexes, 0, 14 + 40 + 8, {"123"}},
        {"offset zero", eightBits, indexes, 0, 0, {"123"}},
        {"offset past the end", eightBits, indexes, 0, 0x10000, {"123"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::string file = makeBmp(c.spec, c.pixels);
        const std::size_t pixelStart = file.size() - c.pixels.size();
        // The gap holds bytes that read as pixels of another colour.
        file.insert(pixelStart, std::string(c.gap, '\x0f'));
        const auto offset =
            std::uint32_t(c.offset < 0 ? std::int64_t(pixelStart + c.gap) : c.offset);
        const std::string offsetField = BmpBytes().u32(offset).bytes;
        file.replace(10, 4, offsetField);                                     // pixel offset
        file.replace(2, 4, BmpBytes().u32(std::uint32_t(file.size())).bytes); // file size
        expectPixels(loaded(file), table, c.rows);
    }
}

TEST(ScreenBitmapColours, EachDepthKeepsTheColoursQtsImagesOfThatDepthKeep)
{
    // Every channel value, in each channel, as a screen-compatible bitmap of each depth keeps
    // it: the same colours that a Qt image of the screen's format holds.
    RgbImage ramp(256, 3);
    for (int v = 0; v < 256; ++v) {
        ramp.scanLine(0)[v] = rgbOf(v, 0, 255 - v);
        ramp.scanLine(1)[v] = rgbOf(255 - v, v, 0);
        ramp.scanLine(2)[v] = rgbOf(v / 2, 255 - v, v);
    }
    const struct {
        int bits;
        QImage::Format format;
    } cases[] = {{32, QImage::Format_RGB32},
                 {24, QImage::Format_RGB888},
                 {16, QImage::Format_RGB555},
                 {15, QImage::Format_RGB555}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.bits);
        platform::overrideScreenBitsPerPixel(c.bits);
        TBitmap bitmap;
        bitmap.SetSize(256, 3);
        bitmap.storePixels(ramp);
        platform::overrideScreenBitsPerPixel(0);
        ASSERT_EQ(bitmap.ScreenBits(), c.bits);
        const QImage expected =
            qtImageOf(ramp).convertToFormat(c.format).convertToFormat(QImage::Format_RGB32);
        EXPECT_EQ(toQImage(bitmap), expected);
    }
}
