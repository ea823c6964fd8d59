#include "shell/CrestwickIcon.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace {

constexpr int kSide = 32;

// The standard 16-colour palette, as blue, green, red.
constexpr std::uint8_t kPalette[16][3] = {
    {0x00, 0x00, 0x00}, {0x00, 0x00, 0x80}, {0x00, 0x80, 0x00}, {0x00, 0x80, 0x80},
    {0x80, 0x00, 0x00}, {0x80, 0x00, 0x80}, {0x80, 0x80, 0x00}, {0xC0, 0xC0, 0xC0},
    {0x80, 0x80, 0x80}, {0x00, 0x00, 0xFF}, {0x00, 0xFF, 0x00}, {0x00, 0xFF, 0xFF},
    {0xFF, 0x00, 0x00}, {0xFF, 0x00, 0xFF}, {0xFF, 0xFF, 0x00}, {0xFF, 0xFF, 0xFF}};

enum Colour : std::uint8_t {
    Black = 0,
    Navy = 4,
    Silver = 7,
    Gray = 8,
    Red = 9,
    Yellow = 11,
    Blue = 12,
    White = 15,
};

// Half the width of the crest at row y (its centre line lies at x = 15.5); negative outside.
double crestHalfWidth(int y)
{
    if (y < 2 || y > 29)
        return -1;
    if (y <= 16)
        return 12;
    const double t = (y - 16) / 13.5;
    return 12 * std::sqrt(std::max(0.0, 1 - t * t));
}

bool insideCrest(int x, int y)
{
    const double half = crestHalfWidth(y);
    return half >= 0 && std::fabs(x + 0.5 - 16) <= half;
}

// The colour index of a pixel, or -1 where the icon is transparent.
int pixel(int x, int y)
{
    if (!insideCrest(x, y))
        return -1;
    const bool edge = !insideCrest(x - 1, y) || !insideCrest(x + 1, y) || !insideCrest(x, y - 1) ||
                      !insideCrest(x, y + 1);
    if (edge)
        return Black;
    // The flame: an upright oval above the wick, red at its heart.
    const double fx = (x + 0.5 - 16) / 2.6, fy = (y + 0.5 - 10) / 4.2;
    if (fx * fx + fy * fy <= 1)
        return fx * fx + (fy - 0.25) * (fy - 0.25) <= 0.3 ? Red : Yellow;
    if (x >= 15 && x <= 16 && y == 14)
        return Black; // the wick
    if (x >= 13 && x <= 18 && y >= 15 && y <= 25)
        return x == 13 ? Silver : (x == 18 ? Gray : White); // the candle, lit from the left
    if (x >= 10 && x <= 21 && y >= 25 && y <= 26)
        return y == 25 ? Silver : Gray; // its holder
    // The crest: lighter along its upper left inner rim.
    if (!insideCrest(x - 2, y) || !insideCrest(x, y - 2))
        return Blue;
    return Navy;
}

void put16(std::string& out, unsigned v)
{
    out += char(v & 0xFF);
    out += char((v >> 8) & 0xFF);
}

void put32(std::string& out, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        out += char((v >> (8 * i)) & 0xFF);
}

} // namespace

std::string CrestwickIconBytes()
{
    constexpr std::uint32_t colourRowBytes = kSide / 2;            // 4 bits a pixel
    constexpr std::uint32_t maskRowBytes = 4;                      // 1 bit a pixel, 32-bit rows
    constexpr std::uint32_t headerSize = 40;
    constexpr std::uint32_t imageSize =
        headerSize + 16 * 4 + (colourRowBytes + maskRowBytes) * kSide;

    std::string out;
    // Icon directory.
    put16(out, 0);         // reserved
    put16(out, 1);         // type: icon
    put16(out, 1);         // one image
    out += char(kSide);    // width
    out += char(kSide);    // height
    out += char(16);       // colours
    out += char(0);        // reserved
    put16(out, 1);         // planes
    put16(out, 4);         // bits per pixel
    put32(out, imageSize); // length of the image
    put32(out, 22);        // the image follows the directory
    // Bitmap header: the height counts the colour rows and the mask rows.
    put32(out, headerSize);
    put32(out, kSide);     // width
    put32(out, 2 * kSide); // height
    put16(out, 1);         // planes
    put16(out, 4);         // bits per pixel
    put32(out, 0);         // no compression
    put32(out, (colourRowBytes + maskRowBytes) * kSide); // image bytes
    put32(out, 0);         // horizontal resolution
    put32(out, 0);         // vertical resolution
    put32(out, 16);        // colours used
    put32(out, 0);         // important colours: all
    for (const auto& colour : kPalette) {
        out.append(reinterpret_cast<const char*>(colour), 3);
        out += char(0);
    }
    // Colour rows, bottom row first; transparent pixels are black under the mask.
    for (int y = kSide - 1; y >= 0; --y)
        for (int x = 0; x < kSide; x += 2) {
            const int left = pixel(x, y), right = pixel(x + 1, y);
            out += char(((left < 0 ? 0 : left) << 4) | (right < 0 ? 0 : right));
        }
    // Mask rows, bottom row first: a set bit is a transparent pixel.
    for (int y = kSide - 1; y >= 0; --y) {
        std::uint32_t bits = 0;
        for (int x = 0; x < kSide; ++x)
            if (pixel(x, y) < 0)
                bits |= 0x80000000u >> x;
        for (int i = 3; i >= 0; --i)
            out += char((bits >> (8 * i)) & 0xFF);
    }
    return out;
}
