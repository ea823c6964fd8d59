// Runs the public BMP conformance files through the bitmap loader: good files must give the
// reference pixels, questionable ones load or fail with the loader's own error as listed, bad
// ones fail cleanly or load as far as the data goes, and files of related formats fail.
#include "core/Exceptions.h"
#include "desktop/QtImage.h"
#include "imaging/TBitmap.h"
#include "imaging/TStream.h"

#include <QImage>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

namespace fs = std::filesystem;

namespace {

fs::path suite()
{
    return fs::path(CRESTWICK_TESTDATA_DIR) / "bmpsuite";
}

std::string readBytes(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

enum class Outcome { Loads, NotValid, ReadError };

// Loads from memory and from the file itself, which reads the headers and the pixels
// separately; both must agree.
Outcome load(const fs::path& path, TBitmap& bitmap)
{
    TMemoryStream stream(readBytes(path));
    try {
        bitmap.LoadFromStream(stream);
        TBitmap fromFile;
        fromFile.LoadFromFile(path.string());
        EXPECT_EQ(toQImage(fromFile), toQImage(bitmap));
        return Outcome::Loads;
    } catch (const EInvalidGraphic& e) {
        EXPECT_EQ(e.Message, "Bitmap image is not valid");
        return Outcome::NotValid;
    } catch (const EReadError& e) {
        EXPECT_EQ(e.Message, "Stream read error");
        return Outcome::ReadError;
    }
}

const char* name(Outcome o)
{
    return o == Outcome::Loads ? "loads" : o == Outcome::NotValid ? "not valid" : "read error";
}

} // namespace

TEST(BmpSuite, GoodFilesLoadWithTheReferencePixels)
{
    // Each good file and the reference picture that shows how it must look.
    const std::pair<const char*, const char*> cases[] = {
        {"pal1.bmp", "pal1.png"},           {"pal1bg.bmp", "pal1bg.png"},
        {"pal1wb.bmp", "pal1.png"},         {"pal4.bmp", "pal4.png"},
        {"pal4gs.bmp", "pal4gs.png"},       {"pal4rle.bmp", "pal4.png"},
        {"pal8-0.bmp", "pal8.png"},         {"pal8.bmp", "pal8.png"},
        {"pal8gs.bmp", "pal8gs.png"},       {"pal8nonsquare.bmp", "pal8nonsquare-e.png"},
        {"pal8os2.bmp", "pal8.png"},        {"pal8rle.bmp", "pal8.png"},
        {"pal8topdown.bmp", "pal8.png"},    {"pal8v4.bmp", "pal8.png"},
        {"pal8v5.bmp", "pal8.png"},         {"pal8w124.bmp", "pal8w124.png"},
        {"pal8w125.bmp", "pal8w125.png"},   {"pal8w126.bmp", "pal8w126.png"},
        {"rgb16-565.bmp", "rgb16-565.png"}, {"rgb16-565pal.bmp", "rgb16-565.png"},
        {"rgb16.bmp", "rgb16.png"},         {"rgb16bfdef.bmp", "rgb16.png"},
        {"rgb24.bmp", "rgb24.png"},         {"rgb24pal.bmp", "rgb24.png"},
        {"rgb32.bmp", "rgb24.png"},         {"rgb32bf.bmp", "rgb24.png"},
        {"rgb32bfdef.bmp", "rgb24.png"},
    };
    for (const auto& [file, reference] : cases) {
        SCOPED_TRACE(file);
        TBitmap bitmap;
        ASSERT_EQ(load(suite() / "g" / file, bitmap), Outcome::Loads);
        const QImage expected =
            QImage(QString::fromStdString((suite() / "reference" / reference).string()))
                .convertToFormat(QImage::Format_RGB32);
        ASSERT_FALSE(expected.isNull());
        const QImage actual = toQImage(bitmap);
        ASSERT_EQ(actual.size(), expected.size());
        int worst = 0;
        for (int y = 0; y < actual.height(); ++y)
            for (int x = 0; x < actual.width(); ++x) {
                const QRgb a = actual.pixel(x, y), e = expected.pixel(x, y);
                worst = std::max({worst, std::abs(qRed(a) - qRed(e)),
                                  std::abs(qGreen(a) - qGreen(e)), std::abs(qBlue(a) - qBlue(e))});
            }
        // Channels of fewer than 8 bits may be widened with rounding in the reference.
        EXPECT_LE(worst, 4);
    }
}

TEST(BmpSuite, EveryOtherFileLoadsOrFailsAsListed)
{
    struct Case {
        const char* file;
        Outcome outcome;
    };
    const Case cases[] = {
        // Questionable files.
        {"q/pal1huffmsb.bmp", Outcome::NotValid}, // OS/2 Huffman coding
        {"q/pal1p1.bmp", Outcome::Loads},         // one-entry palette
        {"q/pal2.bmp", Outcome::NotValid},        // 2 bits per pixel
        {"q/pal2color.bmp", Outcome::NotValid},
        {"q/pal4rlecut.bmp", Outcome::Loads},  // rows end early: rest stays black
        {"q/pal4rletrns.bmp", Outcome::Loads}, // skipped pixels stay black
        {"q/pal8offs.bmp", Outcome::Loads},    // gap before the pixels
        {"q/pal8os2-hs.bmp", Outcome::Loads},
        {"q/pal8os2-sz.bmp", Outcome::Loads},
        {"q/pal8os2sp.bmp", Outcome::Loads},
        {"q/pal8os2v2-16.bmp", Outcome::Loads}, // 16-byte OS/2 2.x header
        {"q/pal8os2v2-40sz.bmp", Outcome::Loads},
        {"q/pal8os2v2-sz.bmp", Outcome::Loads},
        {"q/pal8os2v2.bmp", Outcome::Loads},
        {"q/pal8oversizepal.bmp", Outcome::Loads}, // 300 colours: the first 256 are kept
        {"q/pal8rlecut.bmp", Outcome::Loads},
        {"q/pal8rletrns.bmp", Outcome::Loads},
        {"q/rgb16-231.bmp", Outcome::Loads},
        {"q/rgb16-3103.bmp", Outcome::Loads},
        {"q/rgb16faketrns.bmp", Outcome::Loads},
        {"q/rgb24jpeg.bmp", Outcome::NotValid}, // embedded JPEG
        {"q/rgb24largepal.bmp", Outcome::Loads},
        {"q/rgb24lprof.bmp", Outcome::Loads},
        {"q/rgb24png.bmp", Outcome::NotValid}, // embedded PNG
        {"q/rgb24prof.bmp", Outcome::Loads},
        {"q/rgb24prof2.bmp", Outcome::Loads},
        {"q/rgb24rle24.bmp", Outcome::NotValid}, // OS/2 24-bit run-length coding
        {"q/rgb32-111110.bmp", Outcome::Loads},
        {"q/rgb32-7187.bmp", Outcome::Loads},
        {"q/rgb32-xbgr.bmp", Outcome::Loads},
        {"q/rgb32fakealpha.bmp", Outcome::Loads},
        {"q/rgb32h52.bmp", Outcome::Loads},
        {"q/rgba16-1924.bmp", Outcome::Loads},
        {"q/rgba16-4444.bmp", Outcome::Loads},
        {"q/rgba16-5551.bmp", Outcome::Loads},
        {"q/rgba32-1.bmp", Outcome::Loads},
        {"q/rgba32-1010102.bmp", Outcome::Loads},
        {"q/rgba32-2.bmp", Outcome::Loads},
        {"q/rgba32-61754.bmp", Outcome::Loads},
        {"q/rgba32-81284.bmp", Outcome::Loads},
        {"q/rgba32abf.bmp", Outcome::NotValid}, // alpha bit-field compression
        {"q/rgba32h56.bmp", Outcome::Loads},
        {"q/rgba64.bmp", Outcome::NotValid}, // 64 bits per pixel
        // Bad files.
        {"b/badbitcount.bmp", Outcome::NotValid},
        {"b/badbitssize.bmp", Outcome::Loads}, // image size larger than the data
        {"b/baddens1.bmp", Outcome::Loads},    // odd resolution values are kept
        {"b/baddens2.bmp", Outcome::Loads},
        {"b/badfilesize.bmp", Outcome::Loads}, // the file size field is not used
        {"b/badheadersize.bmp", Outcome::NotValid},
        {"b/badpalettesize.bmp", Outcome::ReadError}, // colour table beyond the file
        {"b/badplanes.bmp", Outcome::NotValid},
        {"b/badrle.bmp", Outcome::Loads}, // runs past the edges are cut off
        {"b/badrle4.bmp", Outcome::Loads},
        {"b/badrle4bis.bmp", Outcome::Loads},
        {"b/badrle4ter.bmp", Outcome::Loads},
        {"b/badrlebis.bmp", Outcome::Loads},
        {"b/badrleter.bmp", Outcome::Loads},
        {"b/badwidth.bmp", Outcome::NotValid},
        {"b/pal8badindex.bmp", Outcome::Loads}, // indexes past the table draw black
        {"b/reallybig.bmp", Outcome::NotValid}, // more than 2^31 bytes of pixels
        {"b/rgb16-880.bmp", Outcome::Loads},
        {"b/rletopdown.bmp", Outcome::NotValid}, // run-length rows must run bottom-up
        {"b/shortfile.bmp", Outcome::Loads},     // short pixel area: the rest is zero
        // Related formats.
        {"x/ba-bm.bmp", Outcome::NotValid}, // OS/2 bitmap array
    };
    std::size_t listed = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        TBitmap bitmap;
        const Outcome outcome = load(suite() / c.file, bitmap);
        EXPECT_EQ(name(outcome), std::string(name(c.outcome)));
        if (outcome == Outcome::Loads) {
            // Whatever loads can be drawn and saved.
            EXPECT_FALSE(toQImage(bitmap).isNull());
            TMemoryStream saved;
            bitmap.SaveToStream(saved);
            EXPECT_GT(saved.bytes().size(), 54u);
        }
        ++listed;
    }
    // Every file of the three folders is listed above.
    std::size_t present = 0;
    for (const char* folder : {"q", "b", "x"})
        for (const auto& entry : fs::directory_iterator(suite() / folder))
            present += entry.path().extension() == ".bmp";
    EXPECT_EQ(listed, present);
}

TEST(BmpSuite, PixelsBeginAtTheFileHeaderOffsetWhenThereIsAGap)
{
    TBitmap gap, plain;
    ASSERT_EQ(load(suite() / "q" / "pal8offs.bmp", gap), Outcome::Loads);
    ASSERT_EQ(load(suite() / "g" / "pal8.bmp", plain), Outcome::Loads);
    EXPECT_EQ(toQImage(gap), toQImage(plain));
}
