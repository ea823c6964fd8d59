#pragma once

#include "core/ByteReader.h"
#include "imaging/Dib.h"

#include <string>
#include <string_view>

// The BMP file format: its headers parsed and checked before any pixel is touched, run-length
// coded pixels decoded, and the headers that a save writes in front of the pixels.
namespace bmp {

constexpr std::uint32_t kFileHeaderSize = 14;
constexpr std::uint32_t kInfoHeaderSize = 40;
constexpr std::uint32_t kCoreHeaderSize = 12;
// The largest OS/2 2.x header; its sizes between 16 and 64 bytes share the first fields of
// the 40-byte header.
constexpr std::uint32_t kOS2v2MaxHeaderSize = 64;
constexpr std::uint32_t kV4HeaderSize = 108;
constexpr std::uint32_t kV5HeaderSize = 124;
// No bitmap may need more than 2^31 bytes, neither in the file's form nor as 32-bit pixels
// for drawing.
constexpr std::uint64_t kMaxPixelBytes = std::uint64_t(1) << 31;

// "Bitmap image is not valid" and the stream read error.
[[noreturn]] void invalidBitmap();
[[noreturn]] void readError();

// Refuses an empty bitmap and one whose pixels would need more than kMaxPixelBytes.
void checkDimensions(std::int64_t width, std::int64_t height, unsigned bitCount);

// The fields of a bitmap file's headers, after parsing and before any pixel is touched.
struct ParsedHeaders {
    TBitmapInfoHeader info;
    Masks masks{}; // red, green, blue, for bit-field compression
    std::vector<std::uint32_t> table;
    bool os2 = false;
    std::uint32_t pixelOffset = 0; // from the file header
};

// Reads the fields of an information header that follow its size field (width to important
// colours, 36 bytes) into info.
void readInfoFields(core::ByteReader& in, TBitmapInfoHeader& info);

// Reads the file header, the information header, the masks and the colour table.
ParsedHeaders parseHeaders(core::ByteReader& in);

// Decodes run-length coded pixels into 32-bit colours; pixels that the data never reaches stay
// black. Decoding stops at the end-of-bitmap code, at the end of the data or when the data
// points outside the bitmap.
RgbImage decodeRle(std::string_view data, const ParsedHeaders& h);

// The file header, information header, masks and colour table that precede the pixels of a
// bitmap file.
std::string fileHeaders(const Dib& dib, const TPalette& palette, bool os2);

} // namespace bmp
