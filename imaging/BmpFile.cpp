#include "imaging/BmpFile.h"

#include "core/Exceptions.h"

#include <algorithm>
#include <cstring>

namespace bmp {

namespace {

// Appends little-endian values to a byte string.
class LittleEndianWriter {
public:
    explicit LittleEndianWriter(std::string& out) : out_(out) {}
    void u8(std::uint8_t v) { out_.push_back(char(v)); }
    void u16(std::uint16_t v)
    {
        u8(std::uint8_t(v));
        u8(std::uint8_t(v >> 8));
    }
    void u32(std::uint32_t v)
    {
        u16(std::uint16_t(v));
        u16(std::uint16_t(v >> 16));
    }
    void bytes(std::string_view b) { out_.append(b); }

private:
    std::string& out_;
};

} // namespace

[[noreturn]] void invalidBitmap()
{
    throw EInvalidGraphic("Bitmap image is not valid");
}
[[noreturn]] void readError()
{
    throw EReadError("Stream read error");
}

void checkDimensions(std::int64_t width, std::int64_t height, unsigned bitCount)
{
    if (width <= 0 || height <= 0)
        invalidBitmap();
    if (rowLength(width, bitCount) * std::uint64_t(height) > kMaxPixelBytes ||
        std::uint64_t(width) * std::uint64_t(height) * 4 > kMaxPixelBytes)
        invalidBitmap();
}

void readInfoFields(core::ByteReader& in, TBitmapInfoHeader& info)
{
    info.Width = in.i32();
    info.Height = in.i32();
    info.Planes = in.u16();
    info.BitCount = in.u16();
    info.Compression = in.u32();
    info.SizeImage = in.u32();
    info.XPelsPerMeter = in.i32();
    info.YPelsPerMeter = in.i32();
    info.ClrUsed = in.u32();
    info.ClrImportant = in.u32();
}

ParsedHeaders parseHeaders(core::ByteReader& in)
{
    ParsedHeaders h;
    // File header: "BM", file size, two reserved words, offset of the pixels.
    if (in.u8() != 'B' || in.u8() != 'M') {
        in.skip(kFileHeaderSize - 2);
        invalidBitmap();
    }
    in.u32();
    in.u16();
    in.u16();
    h.pixelOffset = in.u32();

    const std::uint32_t headerSize = in.u32();
    TBitmapInfoHeader& info = h.info;
    if (headerSize == kCoreHeaderSize) {
        // OS/2 1.x: width, height, planes and bit count as 16-bit values.
        h.os2 = true;
        info.Width = in.u16();
        info.Height = in.u16();
        info.Planes = in.u16();
        info.BitCount = in.u16();
    } else {
        if (headerSize < 16 || (headerSize > kOS2v2MaxHeaderSize && headerSize != kV4HeaderSize &&
                                headerSize != kV5HeaderSize))
            invalidBitmap();
        // The rest of the header as the file has it; what a file cut short lacks reads as
        // zero.
        std::array<std::uint8_t, kV5HeaderSize> raw{};
        const std::string_view present = in.upTo(headerSize - 4);
        std::memcpy(raw.data(), present.data(), present.size());
        // The fields below follow the size field.
        core::ByteReader field(raw.data(), raw.size());
        readInfoFields(field, info);
        if (headerSize >= 52 && headerSize != 64 && info.Compression == kBitFields)
            h.masks = {field.u32(), field.u32(), field.u32()};
        if (headerSize > kInfoHeaderSize && headerSize <= kOS2v2MaxHeaderSize && headerSize != 52 &&
            headerSize != 56 && info.Compression >= kBitFields)
            invalidBitmap(); // OS/2 2.x Huffman and 24-bit run-length coding
    }

    if (info.Planes != 1)
        invalidBitmap();
    const unsigned bits = info.BitCount;
    const bool validDepth =
        bits == 1 || bits == 4 || bits == 8 || bits == 16 || bits == 24 || bits == 32;
    const bool validCompression = info.Compression == kRgb ||
                                  (info.Compression == kRle8 && bits == 8) ||
                                  (info.Compression == kRle4 && bits == 4) ||
                                  (info.Compression == kBitFields && (bits == 16 || bits == 32));
    if (!validDepth || !validCompression)
        invalidBitmap();
    // Run-length coded rows always run from the bottom up.
    if (info.Compression != kRgb && info.Compression != kBitFields && info.Height < 0)
        invalidBitmap();
    const std::int64_t height = info.Height < 0 ? -std::int64_t(info.Height) : info.Height;
    checkDimensions(info.Width, height, bits);

    if (headerSize == kInfoHeaderSize && info.Compression == kBitFields)
        h.masks = {in.u32(), in.u32(), in.u32()};

    std::uint64_t colors = info.ClrUsed;
    if (colors == 0)
        colors = bits == 1 ? 2 : bits == 4 ? 16 : bits == 8 ? 256 : 0;
    const std::size_t entrySize = h.os2 ? 3 : 4;
    if (colors * entrySize > in.remaining())
        readError();
    for (std::uint64_t i = 0; i < colors; ++i) {
        std::uint32_t entry = std::uint32_t(in.u8());
        entry |= std::uint32_t(in.u8()) << 8;
        entry |= std::uint32_t(in.u8()) << 16;
        if (!h.os2)
            entry |= std::uint32_t(in.u8()) << 24;
        if (i < kMaxColorTable)
            h.table.push_back(entry);
    }
    return h;
}

RgbImage decodeRle(std::string_view data, const ParsedHeaders& h)
{
    const int width = h.info.Width, height = h.info.Height;
    RgbImage image(width, height);
    if (image.isNull())
        invalidBitmap();
    std::array<QRgbValue, 256> lookup;
    lookup.fill(rgbOf(0, 0, 0));
    for (std::size_t i = 0; i < h.table.size(); ++i)
        lookup[i] = rgbOfTableEntry(h.table[i]);
    const bool four = h.info.Compression == kRle4;

    std::size_t pos = 0;
    int x = 0, y = 0; // y counts rows from the bottom
    auto put = [&](int index) {
        if (x < width && y < height)
            image.scanLine(height - 1 - y)[x] = lookup[std::size_t(index)];
        ++x;
    };
    while (pos + 2 <= data.size() && y < height) {
        const auto count = std::uint8_t(data[pos]);
        const auto value = std::uint8_t(data[pos + 1]);
        pos += 2;
        if (count > 0) {
            for (int i = 0; i < count && x < width; ++i)
                put(four ? ((i & 1) ? value & 0xF : value >> 4) : value);
            continue;
        }
        if (value == 0) { // end of line
            x = 0;
            ++y;
        } else if (value == 1) { // end of bitmap
            break;
        } else if (value == 2) { // move right and up
            if (pos + 2 > data.size())
                break;
            x += std::uint8_t(data[pos]);
            y += std::uint8_t(data[pos + 1]);
            pos += 2;
        } else { // a run of literal pixels, padded to a 16-bit boundary
            const std::size_t bytes = four ? (value + 1u) / 2 : value;
            const std::size_t padded = (bytes + 1) & ~std::size_t(1);
            if (pos + bytes > data.size())
                break;
            for (int i = 0; i < value; ++i) {
                const auto b = std::uint8_t(data[pos + std::size_t(four ? i / 2 : i)]);
                put(four ? ((i & 1) ? b & 0xF : b >> 4) : b);
            }
            pos += std::min(padded, data.size() - pos);
        }
    }
    return image;
}

std::string fileHeaders(const Dib& dib, const TPalette& palette, bool os2)
{
    std::vector<std::uint32_t> table(
        dib.table.begin(),
        dib.table.begin() + std::ptrdiff_t(std::min(dib.table.size(), kMaxColorTable)));
    if (table.empty() && !palette.empty() && !palette.Halftone)
        table = tableFromPalette(palette, kMaxColorTable);

    TBitmapInfoHeader info = dib.header;
    Masks masks = dib.masks;
    const bool writeMasks = info.BitCount > 8 && info.Compression == kBitFields;
    if (writeMasks && masks[0] == 0)
        masks = info.BitCount == 16 ? kMasks565 : kMasks888;
    if (!table.empty())
        info.ClrUsed = std::uint32_t(table.size());

    const std::uint32_t headerSize = (os2 ? kCoreHeaderSize : kInfoHeaderSize) +
                                     (writeMasks ? 12 : 0) +
                                     std::uint32_t(table.size() * (os2 ? 3 : 4));
    const std::uint32_t offset = kFileHeaderSize + headerSize;
    const std::uint32_t sizeImage = std::uint32_t(dib.pixels.size());

    std::string out;
    out.reserve(offset);
    LittleEndianWriter w(out);
    w.u8('B'); // signature
    w.u8('M');
    w.u32(offset + sizeImage); // file size
    w.u16(0);                  // reserved
    w.u16(0);                  // reserved
    w.u32(offset);             // offset of the pixels
    if (os2) {
        w.u32(kCoreHeaderSize);            // header size
        w.u16(std::uint16_t(info.Width));  // width
        w.u16(std::uint16_t(info.Height)); // height
        w.u16(1);                          // planes
        w.u16(info.BitCount);              // bits per pixel
    } else {
        w.u32(kInfoHeaderSize);                   // header size
        w.u32(std::uint32_t(info.Width));         // width
        w.u32(std::uint32_t(info.Height));        // height, negative for top-down rows
        w.u16(1);                                 // planes
        w.u16(info.BitCount);                     // bits per pixel
        w.u32(info.Compression);                  // compression
        w.u32(sizeImage);                         // size of the pixels
        w.u32(std::uint32_t(info.XPelsPerMeter)); // horizontal resolution
        w.u32(std::uint32_t(info.YPelsPerMeter)); // vertical resolution
        w.u32(info.ClrUsed);                      // colours in the table
        w.u32(info.ClrImportant);                 // important colours
    }
    if (writeMasks)
        for (std::uint32_t mask : masks)
            w.u32(mask); // red, green, blue masks
    for (std::uint32_t entry : table) {
        w.u8(std::uint8_t(entry));       // blue
        w.u8(std::uint8_t(entry >> 8));  // green
        w.u8(std::uint8_t(entry >> 16)); // red
        if (!os2)
            w.u8(std::uint8_t(entry >> 24)); // reserved
    }
    return out;
}

} // namespace bmp
