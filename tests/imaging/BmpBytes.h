#pragma once

// Builds BMP files field by field for the tests.

#include <cstdint>
#include <string>
#include <vector>

struct BmpBytes {
    std::string bytes;

    BmpBytes& u8(std::uint8_t v)
    {
        bytes.push_back(char(v));
        return *this;
    }
    BmpBytes& u16(std::uint16_t v) { return u8(std::uint8_t(v)).u8(std::uint8_t(v >> 8)); }
    BmpBytes& u32(std::uint32_t v) { return u16(std::uint16_t(v)).u16(std::uint16_t(v >> 16)); }
    BmpBytes& raw(const std::string& b)
    {
        bytes += b;
        return *this;
    }
    BmpBytes& fill(std::size_t n, std::uint8_t v)
    {
        bytes.append(n, char(v));
        return *this;
    }
};

// Bytes per row of pixels, padded to 4.
inline std::uint32_t rowBytes(int width, int bits)
{
    return std::uint32_t((width * bits + 31) / 32 * 4);
}

// A complete file with a 40-byte header (or the 12-byte OS/2 header), its colour table and
// masks, and pixel rows whose bytes follow a simple pattern.
struct BmpSpec {
    int width = 5;
    int height = 3; // negative: top-down
    int bits = 24;
    std::uint32_t compression = 0;
    std::vector<std::uint32_t> colors; // blue | green << 8 | red << 16 | reserved << 24
    std::vector<std::uint32_t> masks;  // written after a 40-byte header when present
    bool os2 = false;
    std::uint32_t clrUsed = 0;
    std::int32_t xPels = 2835, yPels = 2835;
};

inline std::string pixelPattern(const BmpSpec& s)
{
    const int rows = s.height < 0 ? -s.height : s.height;
    std::string pixels;
    const std::uint32_t stride = rowBytes(s.width, s.bits);
    const std::uint32_t used = std::uint32_t((s.width * s.bits + 7) / 8);
    for (int y = 0; y < rows; ++y)
        for (std::uint32_t i = 0; i < stride; ++i)
            pixels.push_back(i < used ? char((y * 37 + i * 11 + 1) & 0xFF) : 0);
    // Indexes must stay inside a colour table.
    if (s.bits <= 8 && !s.colors.empty() && s.colors.size() < (1u << s.bits)) {
        const int entriesPerByte = 8 / s.bits;
        for (char& c : pixels) {
            std::uint8_t b = 0;
            for (int k = 0; k < entriesPerByte; ++k) {
                const int shift = k * s.bits;
                const std::uint32_t index =
                    ((std::uint8_t(c) >> shift) & ((1u << s.bits) - 1)) % s.colors.size();
                b |= std::uint8_t(index << shift);
            }
            c = char(b);
        }
    }
    return pixels;
}

inline std::string makeBmp(const BmpSpec& s, const std::string& pixels)
{
    const std::uint32_t headerSize = s.os2 ? 12 : 40;
    const std::uint32_t tableBytes = std::uint32_t(s.colors.size() * (s.os2 ? 3 : 4));
    const std::uint32_t offset = 14 + headerSize + std::uint32_t(s.masks.size() * 4) + tableBytes;
    BmpBytes b;
    b.u8('B').u8('M');                            // signature
    b.u32(offset + std::uint32_t(pixels.size())); // file size
    b.u16(0).u16(0);                              // reserved
    b.u32(offset);                                // pixel offset
    if (s.os2) {
        b.u32(12);                      // header size
        b.u16(std::uint16_t(s.width));  // width
        b.u16(std::uint16_t(s.height)); // height
        b.u16(1);                       // planes
        b.u16(std::uint16_t(s.bits));   // bits per pixel
    } else {
        b.u32(40);                           // header size
        b.u32(std::uint32_t(s.width));       // width
        b.u32(std::uint32_t(s.height));      // height, negative for top-down
        b.u16(1);                            // planes
        b.u16(std::uint16_t(s.bits));        // bits per pixel
        b.u32(s.compression);                // compression
        b.u32(std::uint32_t(pixels.size())); // image size
        b.u32(std::uint32_t(s.xPels));       // horizontal resolution
        b.u32(std::uint32_t(s.yPels));       // vertical resolution
        b.u32(s.clrUsed);                    // colours used
        b.u32(0);                            // important colours
    }
    for (std::uint32_t m : s.masks)
        b.u32(m); // colour masks
    for (std::uint32_t c : s.colors) {
        b.u8(std::uint8_t(c))
            .u8(std::uint8_t(c >> 8))
            .u8(std::uint8_t(c >> 16)); // blue, green, red
        if (!s.os2)
            b.u8(std::uint8_t(c >> 24)); // reserved
    }
    b.raw(pixels);
    return b.bytes;
}

inline std::string makeBmp(const BmpSpec& s)
{
    return makeBmp(s, pixelPattern(s));
}

// A colour table of n entries with distinct colours.
inline std::vector<std::uint32_t> colorTable(std::size_t n)
{
    std::vector<std::uint32_t> table;
    for (std::size_t i = 0; i < n; ++i)
        table.push_back(std::uint32_t((i * 7) & 0xFF) | (std::uint32_t((i * 13) & 0xFF) << 8) |
                        (std::uint32_t((255 - i) & 0xFF) << 16));
    return table;
}
