// The palette of 8-bit and grey JPEG decodes: the colours and indexes the JPEG library's
// quantiser chose, and pure black and white kept pure.
#include "tests/imaging/JpegFixtures.h"

#include "desktop/QtImage.h"
#include "imaging/TBitmap.h"
#include "imaging/TStream.h"
#include "imaging/jpeg.h"

#include <gtest/gtest.h>

#include <functional>

namespace {

// What the JPEG library itself makes of a file when asked for quantised output.
struct Quantised {
    std::vector<TPaletteEntry> colours;
    std::vector<std::vector<std::uint8_t>> rows; // indexes, from the top row
};

Quantised quantisedByTheLibrary(const std::string& file, bool grey, bool fast)
{
    jpeg_decompress_struct d{};
    jpeg_error_mgr error{};
    d.err = jpeg_std_error(&error);
    jpeg_create_decompress(&d);
    jpeg_mem_src(&d, reinterpret_cast<const unsigned char*>(file.data()),
                 static_cast<unsigned long>(file.size()));
    jpeg_read_header(&d, TRUE);
    if (grey)
        d.out_color_space = JCS_GRAYSCALE;
    d.quantize_colors = TRUE;
    d.desired_number_of_colors = 236;
    if (fast) {
        d.dct_method = JDCT_IFAST;
        d.two_pass_quantize = FALSE;
        d.dither_mode = JDITHER_ORDERED;
    }
    jpeg_start_decompress(&d);
    Quantised q;
    for (int i = 0; i < d.actual_number_of_colors; ++i) {
        const auto channel = [&](int c) {
            return std::uint8_t(d.colormap[d.out_color_components == 1 ? 0 : c][i]);
        };
        q.colours.push_back({channel(0), channel(1), channel(2), 0});
    }
    while (d.output_scanline < d.output_height) {
        std::vector<std::uint8_t> row(d.output_width);
        JSAMPROW rows[1] = {row.data()};
        jpeg_read_scanlines(&d, rows, 1);
        q.rows.push_back(std::move(row));
    }
    jpeg_finish_decompress(&d);
    jpeg_destroy_decompress(&d);
    return q;
}

// A JPEG of the given size whose samples (one grey or three RGB) the function gives.
std::string jpegOf(int width, int height, bool grey,
                   const std::function<std::array<unsigned char, 3>(int, int)>& pixel)
{
    const int components = grey ? 1 : 3;
    return compressJpeg(
        width, height, components, grey ? JCS_GRAYSCALE : JCS_RGB,
        [](jpeg_compress_struct& c) { jpeg_set_quality(&c, 100, TRUE); },
        [&](int y, unsigned char* row) {
            for (int x = 0; x < width; ++x) {
                const auto p = pixel(x, y);
                for (int i = 0; i < components; ++i)
                    row[x * components + i] = p[std::size_t(i)];
            }
        });
}

void load(TJPEGImage& jpeg, const std::string& bytes)
{
    TMemoryStream stream(bytes);
    jpeg.LoadFromStream(stream);
}

QRgb rgbOf(const TPaletteEntry& e)
{
    return qRgb(e.Red, e.Green, e.Blue);
}

} // namespace

TEST(JpegPalette, EightBitAndGreyDecodesHoldTheQuantisersColoursAndIndexes)
{
    struct Case {
        const char* what;
        JpegSpec file;
        TJPEGPixelFormat format;
        bool grayscale; // the option
        TJPEGPerformance performance;
    };
    const Case cases[] = {
        {"colour, 8 bits, two passes", {64, 48, false, false, 90}, jf8Bit, false, jpBestQuality},
        {"colour, 8 bits, one pass", {64, 48, false, false, 90}, jf8Bit, false, jpBestSpeed},
        {"progressive colour, 8 bits", {37, 21, false, true, 75}, jf8Bit, false, jpBestQuality},
        {"colour, grey option", {64, 48, false, false, 90}, jf24Bit, true, jpBestQuality},
        {"colour, grey option, 8 bits", {64, 48, false, false, 90}, jf8Bit, true, jpBestSpeed},
        {"grey file", {64, 8, true, false, 90}, jf24Bit, false, jpBestQuality},
        {"grey file, 8 bits, one pass", {64, 8, true, false, 90}, jf8Bit, false, jpBestSpeed},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string file = makeJpeg(c.file);
        TJPEGImage jpeg;
        load(jpeg, file);
        jpeg.SetPixelFormat(c.format);
        jpeg.SetGrayscale(c.grayscale);
        jpeg.SetPerformance(c.performance);
        TBitmap& bitmap = jpeg.DecodedBitmap();
        ASSERT_EQ(bitmap.PixelFormat(), pf8bit);

        const Quantised expected = quantisedByTheLibrary(file, c.grayscale || c.file.grayscale,
                                                         c.performance == jpBestSpeed);
        ASSERT_GT(expected.colours.size(), 8u);
        const std::vector<TPaletteEntry> palette = bitmap.Palette().Entries;
        ASSERT_EQ(palette.size(), expected.colours.size());
        for (std::size_t i = 0; i < palette.size(); ++i)
            EXPECT_EQ(rgbOf(palette[i]), rgbOf(expected.colours[i])) << "entry " << i;

        const QImage image = toQImage(bitmap);
        ASSERT_EQ(bitmap.Height(), int(expected.rows.size()));
        for (int y = 0; y < bitmap.Height(); ++y) {
            ASSERT_EQ(bitmap.Width(), int(expected.rows[std::size_t(y)].size()));
            for (int x = 0; x < bitmap.Width(); ++x) {
                const std::uint8_t index = expected.rows[std::size_t(y)][std::size_t(x)];
                ASSERT_EQ(bitmap.ScanLine(y)[x], index) << "pixel (" << x << ", " << y << ")";
                ASSERT_EQ(image.pixel(x, y), rgbOf(expected.colours[index]))
                    << "pixel (" << x << ", " << y << ")";
            }
        }
    }
}

TEST(JpegPalette, BlackAndWhiteStayBlackAndWhiteInGrey)
{
    // Left half black, right half white, in whole 8 x 8 blocks so that the file keeps them
    // exactly.
    const auto halves = [](int x, int) {
        const unsigned char v = x < 16 ? 0 : 255;
        return std::array<unsigned char, 3>{v, v, v};
    };
    struct Case {
        const char* what;
        bool greyFile;
        TJPEGPixelFormat format;
        TJPEGPerformance performance;
    };
    const Case cases[] = {
        {"grey file", true, jf24Bit, jpBestQuality},
        {"grey file, 8 bits, one pass", true, jf8Bit, jpBestSpeed},
        {"colour file, grey option", false, jf24Bit, jpBestQuality},
        {"colour file, grey option, 8 bits, one pass", false, jf8Bit, jpBestSpeed},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TJPEGImage jpeg;
        load(jpeg, jpegOf(32, 16, c.greyFile, halves));
        jpeg.SetPixelFormat(c.format);
        jpeg.SetGrayscale(!c.greyFile);
        jpeg.SetPerformance(c.performance);
        TBitmap& bitmap = jpeg.DecodedBitmap();
        ASSERT_EQ(bitmap.PixelFormat(), pf8bit);
        const QImage image = toQImage(bitmap);
        for (int y = 0; y < 16; ++y)
            for (int x = 0; x < 32; ++x)
                ASSERT_EQ(image.pixel(x, y), x < 16 ? qRgb(0, 0, 0) : qRgb(255, 255, 255))
                    << "pixel (" << x << ", " << y << ")";
        // The written file holds the same: its colour table turns the indexes into black
        // and white.
        TMemoryStream out;
        bitmap.SaveToStream(out);
        TMemoryStream in{std::string(out.bytes())};
        TBitmap again;
        again.LoadFromStream(in);
        EXPECT_EQ(toQImage(again), image);
    }
}
