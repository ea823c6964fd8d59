#pragma once

#include "imaging/PixelBytes.h"
#include "imaging/TBitmap.h"
#include "imaging/TPalette.h"

#include "imaging/RgbImage.h"

#include <array>
#include <cstdint>
#include <vector>

// The device-independent form of a bitmap as a file holds it, and its conversion to and from
// 32-bit colours.
namespace bmp {

// Compression of the pixels.
constexpr std::uint32_t kRgb = 0;       // uncompressed
constexpr std::uint32_t kRle8 = 1;      // run-length, 8 bits per pixel
constexpr std::uint32_t kRle4 = 2;      // run-length, 4 bits per pixel
constexpr std::uint32_t kBitFields = 3; // uncompressed with colour masks

constexpr std::size_t kMaxColorTable = 256;

// Colour masks, red, green and blue: how 16- and 32-bit pixels are laid out.
using Masks = std::array<std::uint32_t, 3>;
constexpr Masks kMasks555{0x7C00, 0x03E0, 0x001F}; // 16 bits without bit fields
constexpr Masks kMasks565{0xF800, 0x07E0, 0x001F}; // the usual 16-bit bit fields
constexpr Masks kMasks888{0xFF0000, 0xFF00, 0xFF}; // 24 and 32 bits

// Bytes in a row of width pixels, padded to 4 bytes.
std::uint64_t rowLength(std::int64_t width, unsigned bitCount);
// A table entry (blue | green << 8 | red << 16) as a colour.
QRgbValue rgbOfTableEntry(std::uint32_t entry);
std::vector<std::uint32_t> tableFromPalette(const TPalette& palette, std::size_t limit);
TPalette paletteFromTable(const std::vector<std::uint32_t>& table);

// The file form that a pixel format is stored in: bit count, compression, masks and colour
// table. The table comes from the palette when there is one, else from the usual defaults.
struct DibLayout {
    unsigned bitCount = 32;
    std::uint32_t compression = kRgb;
    Masks masks{};
    std::vector<std::uint32_t> table;
};

DibLayout layoutFor(TPixelFormat format, const TPalette& palette);

} // namespace bmp

// The device-independent form of a bitmap: header, colour masks, colour table and pixel bytes
// exactly as a file holds them.
struct Dib {
    TBitmapInfoHeader header;
    bmp::Masks masks{};               // red, green, blue for bit-field compression
    std::vector<std::uint32_t> table; // blue | green << 8 | red << 16 | reserved << 24
    PixelBytes pixels;                // rows padded to 4 bytes, in the file's row order

    int width() const { return header.Width; }
    int height() const { return header.Height < 0 ? -header.Height : header.Height; }
    bool topDown() const { return header.Height < 0; }
    std::size_t stride() const
    {
        return std::size_t(bmp::rowLength(header.Width, header.BitCount));
    }
    // Memory row of image row y (0 = top).
    std::uint8_t* row(int y)
    {
        const int r = topDown() ? y : height() - 1 - y;
        return pixels.data() + std::size_t(r) * stride();
    }
    const std::uint8_t* row(int y) const { return const_cast<Dib*>(this)->row(y); }
    bool bitFields() const
    {
        return header.Compression == bmp::kBitFields &&
               (header.BitCount == 16 || header.BitCount == 32);
    }

    // A zero-filled bitmap; the caller has checked the size.
    static Dib make(int width, int height, unsigned bitCount, std::uint32_t compression)
    {
        Dib dib;
        dib.header.Width = width;
        dib.header.Height = height;
        dib.header.BitCount = std::uint16_t(bitCount);
        dib.header.Compression = compression;
        dib.header.SizeImage =
            std::uint32_t(bmp::rowLength(width, bitCount) * std::uint64_t(height));
        dib.pixels.assign(dib.header.SizeImage, 0);
        return dib;
    }

    RgbImage toImage() const;
    static Dib fromImage(const RgbImage& image, unsigned bitCount, std::uint32_t compression,
                         const bmp::Masks& masks, std::vector<std::uint32_t> table);
};
