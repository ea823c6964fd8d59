#include "gif/MPGifImg.h"

#include "core/Exceptions.h"
#include "tests/gif/GifTestData.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

using giftest::CodeWriter;
using giftest::lzwEncode;

namespace {

// Pixels that no code reaches keep this value.
constexpr std::uint8_t kUntouched = 0xEE;

struct Image {
    Image(int width, int height)
        : width(width), height(height), pixels(static_cast<std::size_t>(width * height), kUntouched)
    {
    }
    TIndexedRows rows() { return {pixels.data(), width, height, width}; }

    int width;
    int height;
    std::vector<std::uint8_t> pixels;
};

std::vector<std::uint8_t> decode(int minimumCodeSize, const std::vector<std::uint8_t>& data,
                                 int width, int height, bool interlaced = false)
{
    Image image(width, height);
    TDecoder(minimumCodeSize, data).Decode(image.rows(), interlaced);
    return image.pixels;
}

using Pixels = std::vector<std::uint8_t>;
using U = std::uint8_t;

} // namespace

TEST(GifDecoder, DecodesHandBuiltCodeStreams)
{
    // Minimum code size 2 throughout: clear code 4, end code 5, first free entry 6.
    struct Case {
        const char* name;
        CodeWriter codes;
        int width, height;
        Pixels expected;
    };
    const Case cases[] = {
        {"one pixel of index 1", CodeWriter(2).clear().code(1).end(), 1, 1, {1}},
        {"no leading clear code", CodeWriter(2).code(1).code(2).end(), 2, 1, {1, 2}},
        {"leading clear code", CodeWriter(2).clear().code(1).code(2).end(), 2, 1, {1, 2}},
        // 6 is the next free code: it stands for the previous string plus its own first byte.
        {"code defined by its own use",
         CodeWriter(2).clear().code(1).code(6).end(),
         3,
         1,
         {1, 1, 1}},
        // Right after a clear code only roots exist; 7 is not in the table and reads as 0.
        {"first code not in the table", CodeWriter(2).clear().raw(7, 3).end(), 1, 1, {0}},
        // 6 = "1 2" (added by code 2), 7 = "2 1" (added by code 6), 8 = "1 2 1" (defined by
        // its own use: "1 2" followed by its own first byte).
        {"table entries",
         CodeWriter(2).clear().code(1).code(2).code(6).code(8).end(),
         7,
         1,
         {1, 2, 1, 2, 1, 2, 1}},
        // Repeated clear codes are skipped.
        {"repeated clear codes", CodeWriter(2).clear().clear().clear().code(3).end(), 1, 1, {3}},
        // An end code as the very first code decodes nothing.
        {"end code first", CodeWriter(2).end(), 1, 1, {kUntouched}},
        // Pixels after the last row are dropped.
        {"extra pixels dropped", CodeWriter(2).clear().code(1).code(2).code(3).end(), 2, 1, {1, 2}},
        // Rows that receive nothing keep their content.
        {"short data keeps the rest",
         CodeWriter(2).clear().code(3).end(),
         2,
         2,
         {3, kUntouched, kUntouched, kUntouched}},
        // A string longer than the rest of its row carries over into the next row.
        {"string across rows",
         CodeWriter(2).clear().code(1).code(6).code(7).end(),
         2,
         3,
         {1, 1, 1, 1, 1, 1}},
        // A clear code in the middle restarts the table at the minimum width.
        {"clear in the middle",
         CodeWriter(2).clear().code(1).code(6).clear().code(2).code(6).end(),
         6,
         1,
         {1, 1, 1, 2, 2, 2}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(decode(2, c.codes.bytes(), c.width, c.height), c.expected);
    }
}

TEST(GifDecoder, FillsInterlacedRowsInFourPasses)
{
    // One pixel per row; the n-th pixel decoded carries the value n, so each row shows the
    // position in which it was filled.
    struct Case {
        int height;
        Pixels rowOrder; // value found in row 0, 1, 2, ...
    };
    const Case cases[] = {
        // Rows filled in the order 0 4 2 6 1 3 5 7.
        {8, {0, 4, 2, 5, 1, 6, 3, 7}},
        {3, {0, 2, 1}},
        {2, {0, 1}},
        {1, {0}},
        // Rows 0 8 | 4 | 2 6 | 1 3 5 7 9.
        {10, {0, 5, 3, 6, 2, 7, 4, 8, 1, 9}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.height);
        Pixels pixels;
        for (int i = 0; i < c.height; ++i)
            pixels.push_back(static_cast<std::uint8_t>(i));
        EXPECT_EQ(decode(4, lzwEncode(pixels, 4), 1, c.height, true), c.rowOrder);
    }
}

TEST(GifDecoder, RoundTripsLargeImagesThroughTwelveBitCodes)
{
    // Random pixels fill the table quickly, so the codes grow to 12 bits and the encoder
    // clears the full table several times; odd sizes cross rows in mid-string.
    std::mt19937 random(7);
    struct Case {
        int width, height, minimumCodeSize, colours;
        bool interlaced;
    };
    const Case cases[] = {
        {301, 97, 8, 256, false}, {37, 411, 2, 4, true}, {513, 3, 5, 3, false},
        {64, 64, 3, 2, false},    {1, 1, 8, 256, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.width);
        Pixels pixels(static_cast<std::size_t>(c.width * c.height));
        for (auto& pixel : pixels)
            pixel = static_cast<std::uint8_t>(random() % static_cast<unsigned>(c.colours));
        const Pixels decoded =
            decode(c.minimumCodeSize, lzwEncode(pixels, c.minimumCodeSize), c.width, c.height);
        EXPECT_EQ(decoded, pixels);
    }
}

TEST(GifDecoder, WritesRowsStoredBottomUp)
{
    // A negative stride: row 0 is the last row in memory.
    std::vector<std::uint8_t> memory(4, kUntouched);
    const TIndexedRows rows{memory.data() + 2, 2, 2, -2};
    TDecoder(2, lzwEncode({0, 1, 2, 3}, 2)).Decode(rows, false);
    EXPECT_EQ(memory, (Pixels{2, 3, 0, 1}));
}

TEST(GifDecoder, MinimumCodeSizeNineWritesLowEightBits)
{
    // Clear code 512, end code 513; codes start 10 bits wide. Root 300 is written as 44.
    const auto codes = CodeWriter(9).clear().code(300).code(7).end();
    EXPECT_EQ(decode(9, codes.bytes(), 2, 1), (Pixels{44, 7}));
}

TEST(GifDecoder, RejectsMinimumCodeSizesOutsideTwoToNine)
{
    for (int size : {-1, 0, 1, 10, 12, 255}) {
        SCOPED_TRACE(size);
        try {
            TDecoder(size, {});
            FAIL() << "accepted";
        } catch (const EInvalidGraphicOperation& error) {
            EXPECT_EQ(error.Message, "Invalid LZW Code Size: " + std::to_string(size));
        }
    }
    for (int size = 2; size <= 9; ++size)
        EXPECT_NO_THROW(TDecoder(size, {}));
}

TEST(GifDecoder, MalformedStreamsRaiseAndKeepEarlierPixels)
{
    {
        SCOPED_TRACE("end code right after a clear code");
        Image image(3, 1);
        const auto codes = CodeWriter(2).code(2).clear().end();
        try {
            TDecoder(2, codes.bytes()).Decode(image.rows(), false);
            FAIL() << "accepted";
        } catch (const EStreamError& error) {
            EXPECT_EQ(error.Message, "Invalid stream format");
        }
        EXPECT_EQ(image.pixels, (Pixels{2, kUntouched, kUntouched}));
    }
    {
        SCOPED_TRACE("code above the next free code");
        Image image(5, 1);
        // After the codes 1, 2 and 6 the next free code is 8 and codes are 4 bits wide; 9
        // lies beyond it.
        const auto codes = CodeWriter(2).clear().code(1).code(2).code(6).raw(9, 4).end();
        try {
            TDecoder(2, codes.bytes()).Decode(image.rows(), false);
            FAIL() << "accepted";
        } catch (const EStreamError& error) {
            EXPECT_EQ(error.Message, "Invalid stream format");
        }
        EXPECT_EQ(image.pixels, (Pixels{1, 2, 1, 2, kUntouched}));
    }
}

TEST(GifDecoder, DataEndingBeforeTheEndCodeKeepsWhatWasDecoded)
{
    // Clear, 1, 2 and 3 at 3 bits, then 0 at 4 bits (the table reached 8 entries): exactly
    // two bytes, and the data stops there without an end code.
    const auto codes = CodeWriter(2).clear().code(1).code(2).code(3).code(0);
    ASSERT_EQ(codes.bytes().size(), 2u);
    struct Case {
        const char* name;
        std::vector<std::uint8_t> data;
        Pixels expected;
    };
    const U u = kUntouched;
    const Case cases[] = {
        {"no data", {}, {u, u, u, u, u}},
        {"stops after whole codes", codes.bytes(), {1, 2, 3, 0, u}},
        // Only the first byte: clear (3 bits), 1 (3 bits), 2 bits of the next code.
        {"stops inside a code", {codes.bytes()[0]}, {1, u, u, u, u}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(decode(2, c.data, 5, 1), c.expected);
    }
}

namespace {

// Fills the table of a minimum-code-size-2 stream: after the clear code, 4091 codes 0 add
// entries 6 to 4095, the last of which fills the table.
CodeWriter fullTable()
{
    CodeWriter codes(2);
    codes.clear();
    for (int i = 0; i < 4091; ++i)
        codes.code(0);
    return codes;
}

} // namespace

TEST(GifDecoder, FullTableMustBeFollowedByAClearCode)
{
    ASSERT_EQ(fullTable().nextFree(), 4096);
    ASSERT_EQ(fullTable().width(), 12);
    {
        SCOPED_TRACE("clear code restarts at the minimum width");
        const auto codes = fullTable().clear().code(3).code(6).end();
        const Pixels pixels = decode(2, codes.bytes(), 4094, 1);
        EXPECT_EQ(pixels[4090], 0);
        EXPECT_EQ(pixels[4091], 3);
        EXPECT_EQ(pixels[4092], 3);
        EXPECT_EQ(pixels[4093], 3);
    }
    {
        SCOPED_TRACE("end code ends the image");
        const auto codes = fullTable().end();
        EXPECT_EQ(decode(2, codes.bytes(), 4091, 1), Pixels(4091, 0));
    }
    {
        SCOPED_TRACE("any other code overflows");
        Image image(4092, 1);
        auto codes = fullTable();
        codes.raw(0, 12);
        try {
            TDecoder(2, codes.bytes()).Decode(image.rows(), false);
            FAIL() << "accepted";
        } catch (const EStreamError&) {
            FAIL() << "wrong error";
        } catch (const Exception& error) {
            EXPECT_EQ(error.Message, "Code size overflow");
        }
        EXPECT_EQ(image.pixels[4090], 0);
        EXPECT_EQ(image.pixels[4091], kUntouched);
    }
}
