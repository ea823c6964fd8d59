#include "imaging/Dib.h"

#include "core/ByteReader.h"

#include <bit>
#include <unordered_map>

namespace bmp {

namespace {

std::uint32_t bgrOf(QRgbValue rgb)
{
    return std::uint32_t(blueOf(rgb)) | (std::uint32_t(greenOf(rgb)) << 8) |
           (std::uint32_t(redOf(rgb)) << 16);
}

// One colour channel described by a bit mask.
struct Channel {
    std::uint32_t mask = 0;
    int shift = 0;
    std::uint32_t max = 0;

    explicit Channel(std::uint32_t m) : mask(m)
    {
        if (m != 0) {
            shift = std::countr_zero(m);
            max = m >> shift;
        }
    }
    int decode(std::uint32_t pixel) const
    {
        if (max == 0)
            return 0;
        return int(((pixel & mask) >> shift) * 255u / max);
    }
    std::uint32_t encode(int value) const
    {
        if (max == 0)
            return 0;
        return ((std::uint32_t(value) * max + 127) / 255) << shift & mask;
    }
};

// Maps colours to the nearest entry of a colour table, remembering what it has seen.
class NearestColor {
public:
    explicit NearestColor(const std::vector<std::uint32_t>& table) : table_(table) {}
    std::uint8_t operator()(QRgbValue rgb)
    {
        const QRgbValue key = rgb | 0xFF000000u;
        if (auto it = cache_.find(key); it != cache_.end())
            return it->second;
        int best = 0;
        long bestDistance = -1;
        for (std::size_t i = 0; i < table_.size(); ++i) {
            const QRgbValue c = rgbOfTableEntry(table_[i]);
            const long dr = redOf(c) - redOf(rgb), dg = greenOf(c) - greenOf(rgb),
                       db = blueOf(c) - blueOf(rgb);
            const long distance = dr * dr + dg * dg + db * db;
            if (bestDistance < 0 || distance < bestDistance) {
                bestDistance = distance;
                best = int(i);
                if (distance == 0)
                    break;
            }
        }
        cache_.emplace(key, std::uint8_t(best));
        return std::uint8_t(best);
    }

private:
    const std::vector<std::uint32_t>& table_;
    std::unordered_map<QRgbValue, std::uint8_t> cache_;
};

std::vector<std::uint32_t> vgaTable()
{
    static const std::uint32_t colors[16] = {
        0x000000, 0x800000, 0x008000, 0x808000, 0x000080, 0x800080, 0x008080, 0x808080,
        0xC0C0C0, 0xFF0000, 0x00FF00, 0xFFFF00, 0x0000FF, 0xFF00FF, 0x00FFFF, 0xFFFFFF};
    // The values above read as red-green-blue; the table holds blue-green-red.
    std::vector<std::uint32_t> table;
    for (std::uint32_t c : colors)
        table.push_back(((c & 0xFF) << 16) | (c & 0xFF00) | ((c >> 16) & 0xFF));
    return table;
}

} // namespace

std::uint64_t rowLength(std::int64_t width, unsigned bitCount)
{
    return ((std::uint64_t(width) * bitCount + 31) / 32) * 4;
}

QRgbValue rgbOfTableEntry(std::uint32_t entry)
{
    return rgbOf(int((entry >> 16) & 0xFF), int((entry >> 8) & 0xFF), int(entry & 0xFF));
}

std::vector<std::uint32_t> tableFromPalette(const TPalette& palette, std::size_t limit)
{
    std::vector<std::uint32_t> table;
    for (std::size_t i = 0; i < palette.Entries.size() && i < limit; ++i) {
        const TPaletteEntry& e = palette.Entries[i];
        table.push_back(std::uint32_t(e.Blue) | (std::uint32_t(e.Green) << 8) |
                        (std::uint32_t(e.Red) << 16));
    }
    return table;
}

TPalette paletteFromTable(const std::vector<std::uint32_t>& table)
{
    TPalette palette;
    for (std::uint32_t entry : table)
        palette.Entries.push_back(
            {std::uint8_t(entry >> 16), std::uint8_t(entry >> 8), std::uint8_t(entry), 0});
    return palette;
}

DibLayout layoutFor(TPixelFormat format, const TPalette& palette)
{
    DibLayout layout;
    switch (format) {
    case pf1bit:
        layout.bitCount = 1;
        layout.table = palette.empty() ? std::vector<std::uint32_t>{0x000000, 0xFFFFFF}
                                       : tableFromPalette(palette, 2);
        break;
    case pf4bit:
        layout.bitCount = 4;
        layout.table = palette.empty() ? vgaTable() : tableFromPalette(palette, 16);
        break;
    case pf8bit:
        layout.bitCount = 8;
        layout.table = tableFromPalette(palette.empty() ? TPalette::halftone() : palette, 256);
        break;
    case pf15bit:
        layout.bitCount = 16;
        break;
    case pf16bit:
        layout.bitCount = 16;
        layout.compression = kBitFields;
        layout.masks = kMasks565;
        break;
    case pf24bit:
        layout.bitCount = 24;
        break;
    default:
        break;
    }
    return layout;
}

} // namespace bmp

using namespace bmp;

RgbImage Dib::toImage() const
{
    const int w = width(), h = height();
    RgbImage image(w, h);
    if (image.isNull())
        return image;
    const unsigned bits = header.BitCount;
    std::array<QRgbValue, 256> lookup;
    lookup.fill(rgbOf(0, 0, 0));
    for (std::size_t i = 0; i < table.size() && i < lookup.size(); ++i)
        lookup[i] = rgbOfTableEntry(table[i]);
    Masks m = masks;
    if (!bitFields()) {
        if (bits == 16)
            m = kMasks555;
        else
            m = kMasks888;
    }
    const Channel red(m[0]), green(m[1]), blue(m[2]);
    for (int y = 0; y < h; ++y) {
        const std::uint8_t* in = row(y);
        auto* out = image.scanLine(y);
        switch (bits) {
        case 1:
            for (int x = 0; x < w; ++x)
                out[x] = lookup[(in[x >> 3] >> (7 - (x & 7))) & 1];
            break;
        case 4:
            for (int x = 0; x < w; ++x)
                out[x] = lookup[(in[x >> 1] >> ((x & 1) ? 0 : 4)) & 0xF];
            break;
        case 8:
            for (int x = 0; x < w; ++x)
                out[x] = lookup[in[x]];
            break;
        case 16:
            for (int x = 0; x < w; ++x) {
                const std::uint32_t p =
                    std::uint32_t(in[2 * x]) | (std::uint32_t(in[2 * x + 1]) << 8);
                out[x] = rgbOf(red.decode(p), green.decode(p), blue.decode(p));
            }
            break;
        case 24:
            for (int x = 0; x < w; ++x)
                out[x] = rgbOf(in[3 * x + 2], in[3 * x + 1], in[3 * x]);
            break;
        case 32:
            if (!bitFields()) {
                for (int x = 0; x < w; ++x)
                    out[x] = rgbOf(in[4 * x + 2], in[4 * x + 1], in[4 * x]);
            } else {
                for (int x = 0; x < w; ++x) {
                    const std::uint32_t p = core::littleEndian32(in + 4 * x);
                    out[x] = rgbOf(red.decode(p), green.decode(p), blue.decode(p));
                }
            }
            break;
        default:
            std::fill(out, out + w, rgbOf(0, 0, 0));
            break;
        }
    }
    return image;
}

Dib Dib::fromImage(const RgbImage& image, unsigned bitCount, std::uint32_t compression,
                   const Masks& masks, std::vector<std::uint32_t> table)
{
    Dib dib = make(image.width(), image.height(), bitCount, compression);
    dib.masks = masks;
    dib.table = std::move(table);
    if (bitCount <= 8)
        dib.header.ClrUsed = std::uint32_t(dib.table.size());
    Masks m = masks;
    if (compression != kBitFields)
        m = bitCount == 16 ? kMasks555 : kMasks888;
    const Channel red(m[0]), green(m[1]), blue(m[2]);
    NearestColor nearest(dib.table);
    for (int y = 0; y < image.height(); ++y) {
        const auto* in = image.scanLine(y);
        std::uint8_t* out = dib.row(y);
        for (int x = 0; x < image.width(); ++x) {
            const QRgbValue c = in[x];
            switch (bitCount) {
            case 1:
                out[x >> 3] |= std::uint8_t((nearest(c) & 1) << (7 - (x & 7)));
                break;
            case 4:
                out[x >> 1] |= std::uint8_t((nearest(c) & 0xF) << ((x & 1) ? 0 : 4));
                break;
            case 8:
                out[x] = nearest(c);
                break;
            case 16: {
                const std::uint32_t p =
                    red.encode(redOf(c)) | green.encode(greenOf(c)) | blue.encode(blueOf(c));
                out[2 * x] = std::uint8_t(p);
                out[2 * x + 1] = std::uint8_t(p >> 8);
                break;
            }
            case 24:
                out[3 * x] = std::uint8_t(blueOf(c));
                out[3 * x + 1] = std::uint8_t(greenOf(c));
                out[3 * x + 2] = std::uint8_t(redOf(c));
                break;
            case 32: {
                const std::uint32_t p =
                    compression == kBitFields
                        ? red.encode(redOf(c)) | green.encode(greenOf(c)) | blue.encode(blueOf(c))
                        : bgrOf(c);
                for (int i = 0; i < 4; ++i)
                    out[4 * x + i] = std::uint8_t(p >> (8 * i));
                break;
            }
            default:
                break;
            }
        }
    }
    return dib;
}
