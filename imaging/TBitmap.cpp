#include "imaging/TBitmap.h"

#include "core/ByteReader.h"
#include "core/Exceptions.h"
#include "core/Format.h"
#include "desktop/ScreenDepth.h"
#include "imaging/TCanvas.h"
#include "imaging/TStream.h"
#include "platform/AtomicFile.h"

#include <QPainter>
#include <QtEndian>
#include <sys/mman.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <optional>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace {

constexpr std::uint32_t kRgb = 0;       // uncompressed
constexpr std::uint32_t kRle8 = 1;      // run-length, 8 bits per pixel
constexpr std::uint32_t kRle4 = 2;      // run-length, 4 bits per pixel
constexpr std::uint32_t kBitFields = 3; // uncompressed with colour masks

constexpr std::uint32_t kFileHeaderSize = 14;
constexpr std::uint32_t kInfoHeaderSize = 40;
constexpr std::uint32_t kCoreHeaderSize = 12;
// The largest OS/2 2.x header; its sizes between 16 and 64 bytes share the first fields of
// the 40-byte header.
constexpr std::uint32_t kOS2v2MaxHeaderSize = 64;
constexpr std::uint32_t kV4HeaderSize = 108;
constexpr std::uint32_t kV5HeaderSize = 124;
constexpr std::size_t kMaxColorTable = 256;
// No bitmap may need more than 2^31 bytes, neither in the file's form nor as 32-bit pixels
// for drawing.
constexpr std::uint64_t kMaxPixelBytes = std::uint64_t(1) << 31;

[[noreturn]] void invalidBitmap()
{
    throw EInvalidGraphic("Bitmap image is not valid");
}
[[noreturn]] void readError()
{
    throw EReadError("Stream read error");
}

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

std::uint64_t rowLength(std::int64_t width, unsigned bitCount)
{
    return ((std::uint64_t(width) * bitCount + 31) / 32) * 4;
}

std::uint32_t bgrOf(QRgb rgb)
{
    return std::uint32_t(qBlue(rgb)) | (std::uint32_t(qGreen(rgb)) << 8) |
           (std::uint32_t(qRed(rgb)) << 16);
}

QRgb rgbOfTableEntry(std::uint32_t entry)
{
    return qRgb(int((entry >> 16) & 0xFF), int((entry >> 8) & 0xFF), int(entry & 0xFF));
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
    std::uint8_t operator()(QRgb rgb)
    {
        const QRgb key = rgb | 0xFF000000u;
        if (auto it = cache_.find(key); it != cache_.end())
            return it->second;
        int best = 0;
        long bestDistance = -1;
        for (std::size_t i = 0; i < table_.size(); ++i) {
            const QRgb c = rgbOfTableEntry(table_[i]);
            const long dr = qRed(c) - qRed(rgb), dg = qGreen(c) - qGreen(rgb),
                       db = qBlue(c) - qBlue(rgb);
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
    std::unordered_map<QRgb, std::uint8_t> cache_;
};

QImage::Format screenImageFormat(int bits)
{
    switch (bits) {
    case 24:
        return QImage::Format_RGB888;
    case 15:
    case 16:
        return QImage::Format_RGB555;
    default:
        return QImage::Format_RGB32;
    }
}

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

// The file form that a pixel format is stored in: bit count, compression, masks and colour
// table. The table comes from the palette when there is one, else from the usual defaults.
struct DibLayout {
    unsigned bitCount = 32;
    std::uint32_t compression = kRgb;
    std::array<std::uint32_t, 3> masks{};
    std::vector<std::uint32_t> table;
};

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
        layout.masks = {0xF800, 0x07E0, 0x001F};
        break;
    case pf24bit:
        layout.bitCount = 24;
        break;
    default:
        break;
    }
    return layout;
}

} // namespace

// Pixel memory with room for a file's headers in front of it, so that a bitmap file can be
// written from one piece of memory without copying the pixels. Large buffers ask for huge
// pages, which makes filling them markedly cheaper.
class PixelBytes {
public:
    // The largest headers a save writes: file header, 40-byte header, masks, 256 colours.
    static constexpr std::size_t kHeadroom = 2048;

    PixelBytes() = default;
    PixelBytes(const PixelBytes& other) : PixelBytes()
    {
        allocate(other.size_);
        if (size_ > 0)
            std::memcpy(data(), other.data(), size_);
    }
    PixelBytes& operator=(const PixelBytes& other)
    {
        if (this != &other) {
            PixelBytes copy(other);
            std::swap(memory_, copy.memory_);
            std::swap(size_, copy.size_);
        }
        return *this;
    }
    PixelBytes(PixelBytes&&) noexcept = default;
    PixelBytes& operator=(PixelBytes&&) noexcept = default;

    // New content of size bytes, not initialised.
    void allocate(std::size_t size)
    {
        constexpr std::size_t kHugePage = std::size_t(2) << 20;
        const std::size_t total = kHeadroom + size;
        if (size >= 4 * kHugePage) {
            const std::size_t rounded = (total + kHugePage - 1) / kHugePage * kHugePage;
            memory_.reset(static_cast<std::uint8_t*>(std::aligned_alloc(kHugePage, rounded)));
            if (memory_)
                ::madvise(memory_.get(), rounded, MADV_HUGEPAGE);
        } else {
            memory_.reset(static_cast<std::uint8_t*>(std::malloc(total)));
        }
        if (!memory_)
            throw EOutOfResources("Out of system resources");
        size_ = size;
    }
    void assign(std::size_t size, std::uint8_t value)
    {
        allocate(size);
        std::memset(data(), value, size);
    }
    std::uint8_t* data() { return memory_ ? memory_.get() + kHeadroom : nullptr; }
    const std::uint8_t* data() const { return memory_ ? memory_.get() + kHeadroom : nullptr; }
    std::size_t size() const { return size_; }
    // The bytes just before the pixels, for headers.
    std::uint8_t* front(std::size_t n) const { return memory_.get() + kHeadroom - n; }

private:
    struct Free {
        void operator()(std::uint8_t* p) const { std::free(p); }
    };
    std::unique_ptr<std::uint8_t, Free> memory_;
    std::size_t size_ = 0;
};

// The device-independent form of a bitmap: header, colour masks, colour table and pixel bytes
// exactly as a file holds them.
struct Dib {
    TBitmapInfoHeader header;
    std::array<std::uint32_t, 3> masks{}; // red, green, blue for bit-field compression
    std::vector<std::uint32_t> table;     // blue | green << 8 | red << 16 | reserved << 24
    PixelBytes pixels;                    // rows padded to 4 bytes, in the file's row order

    int width() const { return header.Width; }
    int height() const { return header.Height < 0 ? -header.Height : header.Height; }
    bool topDown() const { return header.Height < 0; }
    std::size_t stride() const { return std::size_t(rowLength(header.Width, header.BitCount)); }
    // Memory row of image row y (0 = top).
    std::uint8_t* row(int y)
    {
        const int r = topDown() ? y : height() - 1 - y;
        return pixels.data() + std::size_t(r) * stride();
    }
    const std::uint8_t* row(int y) const { return const_cast<Dib*>(this)->row(y); }
    bool bitFields() const
    {
        return header.Compression == kBitFields && (header.BitCount == 16 || header.BitCount == 32);
    }

    // A zero-filled bitmap; the caller has checked the size.
    static Dib make(int width, int height, unsigned bitCount, std::uint32_t compression)
    {
        Dib dib;
        dib.header.Width = width;
        dib.header.Height = height;
        dib.header.BitCount = std::uint16_t(bitCount);
        dib.header.Compression = compression;
        dib.header.SizeImage = std::uint32_t(rowLength(width, bitCount) * std::uint64_t(height));
        dib.pixels.assign(dib.header.SizeImage, 0);
        return dib;
    }

    QImage toImage() const;
    static Dib fromImage(const QImage& image, unsigned bitCount, std::uint32_t compression,
                         const std::array<std::uint32_t, 3>& masks,
                         std::vector<std::uint32_t> table);
};

QImage Dib::toImage() const
{
    const int w = width(), h = height();
    QImage image(w, h, QImage::Format_RGB32);
    if (image.isNull())
        return image;
    const unsigned bits = header.BitCount;
    std::array<QRgb, 256> lookup;
    lookup.fill(qRgb(0, 0, 0));
    for (std::size_t i = 0; i < table.size() && i < lookup.size(); ++i)
        lookup[i] = rgbOfTableEntry(table[i]);
    std::array<std::uint32_t, 3> m = masks;
    if (!bitFields()) {
        if (bits == 16)
            m = {0x7C00, 0x03E0, 0x001F};
        else
            m = {0xFF0000, 0xFF00, 0xFF};
    }
    const Channel red(m[0]), green(m[1]), blue(m[2]);
    for (int y = 0; y < h; ++y) {
        const std::uint8_t* in = row(y);
        auto* out = reinterpret_cast<QRgb*>(image.scanLine(y));
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
                out[x] = qRgb(red.decode(p), green.decode(p), blue.decode(p));
            }
            break;
        case 24:
            for (int x = 0; x < w; ++x)
                out[x] = qRgb(in[3 * x + 2], in[3 * x + 1], in[3 * x]);
            break;
        case 32:
            if (!bitFields()) {
                for (int x = 0; x < w; ++x)
                    out[x] = qRgb(in[4 * x + 2], in[4 * x + 1], in[4 * x]);
            } else {
                for (int x = 0; x < w; ++x) {
                    std::uint32_t p;
                    std::memcpy(&p, in + 4 * x, 4);
                    p = qFromLittleEndian(p);
                    out[x] = qRgb(red.decode(p), green.decode(p), blue.decode(p));
                }
            }
            break;
        default:
            std::fill(out, out + w, qRgb(0, 0, 0));
            break;
        }
    }
    return image;
}

Dib Dib::fromImage(const QImage& source, unsigned bitCount, std::uint32_t compression,
                   const std::array<std::uint32_t, 3>& masks, std::vector<std::uint32_t> table)
{
    const QImage image = source.format() == QImage::Format_RGB32
                             ? source
                             : source.convertToFormat(QImage::Format_RGB32);
    Dib dib = make(image.width(), image.height(), bitCount, compression);
    dib.masks = masks;
    dib.table = std::move(table);
    if (bitCount <= 8)
        dib.header.ClrUsed = std::uint32_t(dib.table.size());
    std::array<std::uint32_t, 3> m = masks;
    if (compression != kBitFields)
        m = bitCount == 16 ? std::array<std::uint32_t, 3>{0x7C00, 0x03E0, 0x001F}
                           : std::array<std::uint32_t, 3>{0xFF0000, 0xFF00, 0xFF};
    const Channel red(m[0]), green(m[1]), blue(m[2]);
    NearestColor nearest(dib.table);
    for (int y = 0; y < image.height(); ++y) {
        const auto* in = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        std::uint8_t* out = dib.row(y);
        for (int x = 0; x < image.width(); ++x) {
            const QRgb c = in[x];
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
                    red.encode(qRed(c)) | green.encode(qGreen(c)) | blue.encode(qBlue(c));
                out[2 * x] = std::uint8_t(p);
                out[2 * x + 1] = std::uint8_t(p >> 8);
                break;
            }
            case 24:
                out[3 * x] = std::uint8_t(qBlue(c));
                out[3 * x + 1] = std::uint8_t(qGreen(c));
                out[3 * x + 2] = std::uint8_t(qRed(c));
                break;
            case 32: {
                const std::uint32_t p =
                    compression == kBitFields
                        ? red.encode(qRed(c)) | green.encode(qGreen(c)) | blue.encode(qBlue(c))
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

// The shared image of one or more bitmaps: the device-independent form, or a screen-compatible
// bitmap, with the palette and where it came from.
struct TBitmapImage {
    std::optional<Dib> dib;
    QImage ddb;      // the screen-compatible form
    int ddbBits = 0; // the screen's depth when it was made
    TPalette palette;
    bool os2 = false;
    mutable QImage drawCache;

    bool empty() const { return !dib && ddb.isNull(); }
    int width() const { return dib ? dib->width() : ddb.width(); }
    int height() const { return dib ? dib->height() : ddb.height(); }
    const QImage& image() const
    {
        if (drawCache.isNull()) {
            if (dib)
                drawCache = dib->toImage();
            else if (!ddb.isNull())
                drawCache = ddb.format() == QImage::Format_RGB32
                                ? ddb
                                : ddb.convertToFormat(QImage::Format_RGB32);
        }
        return drawCache;
    }
    // The device-independent form of a screen-compatible bitmap, as saving needs it.
    Dib dibFromDdb() const
    {
        const int bits = ddbBits <= 8 ? 8 : ddbBits == 15 ? 16 : ddbBits;
        std::vector<std::uint32_t> table;
        if (bits == 8)
            table = tableFromPalette(TPalette::halftone(), kMaxColorTable);
        return Dib::fromImage(image(), unsigned(bits), kRgb, {}, std::move(table));
    }
};

namespace {

// A new screen-compatible image filled with white.
QImage makeScreenImage(int width, int height, int bits)
{
    QImage image(width, height, screenImageFormat(bits));
    if (!image.isNull())
        image.fill(Qt::white);
    return image;
}

void checkDimensions(std::int64_t width, std::int64_t height, unsigned bitCount)
{
    if (width <= 0 || height <= 0)
        invalidBitmap();
    if (rowLength(width, bitCount) * std::uint64_t(height) > kMaxPixelBytes ||
        std::uint64_t(width) * std::uint64_t(height) * 4 > kMaxPixelBytes)
        invalidBitmap();
}

// The fields of a bitmap file's headers, after parsing and before any pixel is touched.
struct ParsedHeaders {
    TBitmapInfoHeader info;
    std::array<std::uint32_t, 3> masks{};
    std::vector<std::uint32_t> table;
    bool os2 = false;
    std::uint32_t pixelOffset = 0; // from the file header
};

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
        auto field32 = [&](std::size_t offset) {
            return std::uint32_t(raw[offset]) | (std::uint32_t(raw[offset + 1]) << 8) |
                   (std::uint32_t(raw[offset + 2]) << 16) | (std::uint32_t(raw[offset + 3]) << 24);
        };
        auto field16 = [&](std::size_t offset) {
            return std::uint16_t(raw[offset] | (raw[offset + 1] << 8));
        };
        // Offsets below count from the end of the size field.
        info.Width = std::int32_t(field32(0));
        info.Height = std::int32_t(field32(4));
        info.Planes = field16(8);
        info.BitCount = field16(10);
        info.Compression = field32(12);
        info.SizeImage = field32(16);
        info.XPelsPerMeter = std::int32_t(field32(20));
        info.YPelsPerMeter = std::int32_t(field32(24));
        info.ClrUsed = field32(28);
        info.ClrImportant = field32(32);
        if (headerSize >= 52 && headerSize != 64 && info.Compression == kBitFields)
            h.masks = {field32(36), field32(40), field32(44)};
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

// Decodes run-length coded pixels into 32-bit colours; pixels that the data never reaches stay
// black. Decoding stops at the end-of-bitmap code, at the end of the data or when the data
// points outside the bitmap.
QImage decodeRle(std::string_view data, const ParsedHeaders& h)
{
    const int width = h.info.Width, height = h.info.Height;
    QImage image(width, height, QImage::Format_RGB32);
    if (image.isNull())
        invalidBitmap();
    image.fill(qRgb(0, 0, 0));
    std::array<QRgb, 256> lookup;
    lookup.fill(qRgb(0, 0, 0));
    for (std::size_t i = 0; i < h.table.size(); ++i)
        lookup[i] = rgbOfTableEntry(h.table[i]);
    const bool four = h.info.Compression == kRle4;

    std::size_t pos = 0;
    int x = 0, y = 0; // y counts rows from the bottom
    auto put = [&](int index) {
        if (x < width && y < height)
            reinterpret_cast<QRgb*>(image.scanLine(height - 1 - y))[x] = lookup[std::size_t(index)];
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

} // namespace

// Drawing on a bitmap: a device-independent bitmap is drawn on as 32-bit pixels and then
// stored back in its own format; a screen-compatible one is drawn on directly.
class BitmapCanvasTarget {
public:
    explicit BitmapCanvasTarget(TBitmap& bitmap) : bitmap_(bitmap) {}

    QPaintDevice* begin()
    {
        if (bitmap_.Empty())
            return nullptr;
        TBitmapImage& image = bitmap_.privateImage();
        if (image.dib) {
            scratch_ = image.dib->toImage();
            return &scratch_;
        }
        return &image.ddb;
    }
    void end()
    {
        TBitmapImage& image = bitmap_.privateImage();
        if (image.dib && !scratch_.isNull()) {
            const Dib& old = *image.dib;
            Dib updated = Dib::fromImage(scratch_, old.header.BitCount,
                                         old.bitFields() ? kBitFields : kRgb, old.masks, old.table);
            updated.header = old.header;
            image.dib = std::move(updated);
        }
        scratch_ = QImage();
        image.drawCache = QImage();
        bitmap_.changed();
    }

private:
    TBitmap& bitmap_;
    QImage scratch_;
};

TBitmap::TBitmap() = default;
TBitmap::~TBitmap() = default;

std::unique_ptr<TGraphic> TBitmap::NewInstance() const
{
    return std::make_unique<TBitmap>();
}

TBitmapImage& TBitmap::privateImage()
{
    if (!image_)
        image_ = std::make_shared<TBitmapImage>();
    else if (image_.use_count() > 1)
        image_ = std::make_shared<TBitmapImage>(*image_);
    image_->drawCache = QImage();
    return *image_;
}

void TBitmap::setImage(std::shared_ptr<TBitmapImage> image)
{
    image_ = std::move(image);
}

int TBitmap::Width() const
{
    return image_ ? image_->width() : 0;
}
int TBitmap::Height() const
{
    return image_ ? image_->height() : 0;
}
bool TBitmap::Empty() const
{
    return !image_ || image_->empty();
}

void TBitmap::SetWidth(int width)
{
    SetSize(width, Height());
}
void TBitmap::SetHeight(int height)
{
    SetSize(Width(), height);
}

void TBitmap::SetSize(int width, int height)
{
    if (width == Width() && height == Height() && !Empty())
        return;
    if (width <= 0 || height <= 0) {
        const TPalette palette = image_ ? image_->palette : TPalette{};
        image_ = std::make_shared<TBitmapImage>();
        image_->palette = palette;
        changed();
        return;
    }
    std::uint64_t bits = 32;
    const TBitmapImage* old = image_.get();
    if (old && old->dib)
        bits = old->dib->header.BitCount;
    checkDimensions(width, height, unsigned(bits));

    auto image = std::make_shared<TBitmapImage>();
    if (old) {
        image->palette = old->palette;
        image->os2 = old->os2;
    }
    if ((old && old->dib) || (Empty() && requestedFormat_ != pfDevice)) {
        TPixelFormat format = old && old->dib ? PixelFormat() : requestedFormat_;
        auto [bitCount, compression, masks, table] = layoutFor(format, TPalette{});
        if (old && old->dib) {
            bitCount = old->dib->header.BitCount;
            compression = old->dib->header.Compression == kBitFields ? kBitFields : kRgb;
            masks = old->dib->masks;
            table = old->dib->table;
        }
        Dib dib = Dib::make(width, height, bitCount, compression);
        dib.masks = masks;
        dib.table = std::move(table);
        if (bitCount <= 8 && !image->palette.empty()) {
            const auto fromPalette = tableFromPalette(image->palette, std::size_t(1) << bitCount);
            std::copy(fromPalette.begin(), fromPalette.end(), dib.table.begin());
        }
        image->dib = std::move(dib);
    } else {
        image->ddbBits = desktop::screenBitsPerPixel();
        image->ddb = makeScreenImage(width, height, image->ddbBits);
        if (image->ddb.isNull())
            throw EOutOfResources("Out of system resources");
        if (old && !old->ddb.isNull()) {
            QPainter painter(&image->ddb);
            painter.drawImage(0, 0, old->ddb);
        }
    }
    image_ = std::move(image);
    changed();
}

void TBitmap::FreeImage()
{
    if (!Empty()) {
        image_.reset();
    }
}

void TBitmap::Draw(TCanvas& canvas, const TRect& rect)
{
    if (Empty())
        return;
    canvas.stretchImage(rect, image_->image());
}

QImage TBitmap::toImage() const
{
    return Empty() ? QImage() : image_->image();
}

void TBitmap::Assign(const TGraphic* source)
{
    if (source == nullptr) {
        image_.reset();
        changed();
        return;
    }
    if (const auto* bitmap = dynamic_cast<const TBitmap*>(source)) {
        if (bitmap != this) {
            image_ = bitmap->image_;
            requestedFormat_ = bitmap->requestedFormat_;
        }
        changed();
        return;
    }
    TGraphic::Assign(source);
}

bool TBitmap::Equals(const TGraphic& other) const
{
    const auto* bitmap = dynamic_cast<const TBitmap*>(&other);
    if (bitmap == nullptr)
        return false;
    if (bitmap->image_ == image_ || (Empty() && bitmap->Empty()))
        return true;
    if (Empty() != bitmap->Empty())
        return false;
    TMemoryStream a, b;
    const_cast<TBitmap*>(this)->SaveToStream(a);
    const_cast<TBitmap*>(bitmap)->SaveToStream(b);
    return a.bytes() == b.bytes();
}

void TBitmap::LoadFromStream(TStream& stream)
{
    const std::int64_t start = stream.Position();
    const std::int64_t count = stream.Size() - start;
    if (count <= 0) {
        image_.reset();
        changed();
        return;
    }
    const auto total = std::size_t(count);

    // A stream held in memory is parsed in place. Any other is parsed from a first piece,
    // made larger while the headers need more, and its pixels are read straight into the
    // bitmap.
    std::string_view whole;
    if (auto* memory = dynamic_cast<TMemoryStream*>(&stream))
        whole = memory->bytes().substr(std::size_t(start));
    else if (auto* bytes = dynamic_cast<TBytesStream*>(&stream))
        whole = bytes->bytes().substr(std::size_t(start));
    const bool inMemory = !whole.empty();

    ParsedHeaders h;
    std::size_t headersEnd = 0;
    std::string prefix;
    for (std::size_t want = std::min<std::size_t>(total, 65536);;
         want = std::min(total, want * 4)) {
        std::string_view data = whole;
        if (!inMemory) {
            prefix.resize(want);
            stream.SetPosition(start);
            stream.ReadBuffer(prefix.data(), std::int64_t(want));
            data = prefix;
        }
        try {
            core::ByteReader in(data);
            h = parseHeaders(in);
            headersEnd = in.position();
            break;
        } catch (const EReadError&) {
            if (inMemory || want == total)
                throw;
        }
    }

    // Pixels start at the file header's offset when that lies past the colour table and
    // inside the data (some files leave a gap); otherwise right after the colour table.
    std::size_t pixelStart = headersEnd;
    if (h.pixelOffset > headersEnd && h.pixelOffset <= total)
        pixelStart = h.pixelOffset;
    const std::size_t available = total - pixelStart;
    auto readPixels = [&](std::uint8_t* into, std::size_t n) {
        if (inMemory) {
            std::memcpy(into, whole.data() + pixelStart, n);
        } else {
            stream.SetPosition(start + std::int64_t(pixelStart));
            stream.ReadBuffer(into, std::int64_t(n));
        }
    };

    const TBitmapInfoHeader& info = h.info;
    auto image = std::make_shared<TBitmapImage>();
    image->os2 = h.os2;
    const std::int64_t height = info.Height < 0 ? -std::int64_t(info.Height) : info.Height;
    const std::uint64_t fullSize = rowLength(info.Width, info.BitCount) * std::uint64_t(height);
    if (info.Compression == kRle8 || info.Compression == kRle4) {
        const std::size_t n =
            std::min<std::size_t>(info.SizeImage != 0 ? info.SizeImage : available, available);
        std::string coded(n, '\0');
        readPixels(reinterpret_cast<std::uint8_t*>(coded.data()), n);
        QImage decoded = decodeRle(coded, h);
        image->ddbBits = desktop::screenBitsPerPixel();
        const QImage::Format format = screenImageFormat(image->ddbBits);
        image->ddb =
            decoded.format() == format ? std::move(decoded) : decoded.convertToFormat(format);
        image->palette = paletteFromTable(h.table);
    } else {
        Dib dib;
        dib.header = info;
        dib.header.Size = kInfoHeaderSize;
        dib.header.SizeImage = std::uint32_t(fullSize);
        dib.masks = h.masks;
        dib.table = std::move(h.table);
        const std::uint64_t wanted = info.SizeImage != 0 ? info.SizeImage : fullSize;
        const auto n = std::size_t(std::min<std::uint64_t>({wanted, fullSize, available}));
        dib.pixels.allocate(std::size_t(fullSize));
        readPixels(dib.pixels.data(), n);
        std::memset(dib.pixels.data() + n, 0, std::size_t(fullSize) - n);
        if (info.BitCount > 8 && !dib.table.empty())
            image->palette = paletteFromTable(dib.table);
        image->dib = std::move(dib);
    }
    stream.SetPosition(start + count);
    image_ = std::move(image);
    requestedFormat_ = pfDevice;
    changed();
}

namespace {

// The file header, information header, masks and colour table that precede the pixels of a
// bitmap file.
std::string fileHeaders(const TBitmapImage& image, const Dib& dib)
{
    std::vector<std::uint32_t> table(
        dib.table.begin(),
        dib.table.begin() + std::ptrdiff_t(std::min(dib.table.size(), kMaxColorTable)));
    if (table.empty() && !image.palette.empty() && !image.palette.Halftone)
        table = tableFromPalette(image.palette, kMaxColorTable);

    TBitmapInfoHeader info = dib.header;
    std::array<std::uint32_t, 3> masks = dib.masks;
    const bool writeMasks = info.BitCount > 8 && info.Compression == kBitFields;
    if (writeMasks && masks[0] == 0)
        masks = info.BitCount == 16 ? std::array<std::uint32_t, 3>{0xF800, 0x07E0, 0x001F}
                                    : std::array<std::uint32_t, 3>{0xFF0000, 0xFF00, 0xFF};
    if (!table.empty())
        info.ClrUsed = std::uint32_t(table.size());

    const bool os2 = image.os2;
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

} // namespace

void TBitmap::SaveToStream(TStream& stream)
{
    if (Empty())
        return;
    const TBitmapImage& image = *image_;
    std::optional<Dib> made;
    if (!image.dib)
        made = image.dibFromDdb();
    const Dib& dib = image.dib ? *image.dib : *made;
    const std::string headers = fileHeaders(image, dib);
    if (auto* memory = dynamic_cast<TMemoryStream*>(&stream))
        memory->Reserve(memory->Position() + std::int64_t(headers.size() + dib.pixels.size()));
    stream.WriteBuffer(headers.data(), std::int64_t(headers.size()));
    stream.WriteBuffer(dib.pixels.data(), std::int64_t(dib.pixels.size()));
}

void TBitmap::SaveToFile(const std::string& fileName)
{
    if (Empty() || !image_->dib) {
        TGraphic::SaveToFile(fileName);
        return;
    }
    // The headers go into the room kept in front of the pixels, so that the file is written
    // from one piece of memory.
    const Dib& dib = *image_->dib;
    const std::string headers = fileHeaders(*image_, dib);
    std::uint8_t* front = dib.pixels.front(headers.size());
    std::memcpy(front, headers.data(), headers.size());
    const std::string_view bytes(reinterpret_cast<const char*>(front),
                                 headers.size() + dib.pixels.size());
    WriteFile(fileName, bytes);
}

TPalette TBitmap::Palette() const
{
    return image_ ? image_->palette : TPalette{};
}

void TBitmap::SetPalette(const TPalette& palette)
{
    if (image_ && image_->palette == palette)
        return;
    TBitmapImage& image = privateImage();
    image.palette = palette;
    if (image.dib && image.dib->header.BitCount <= 8 && !palette.empty()) {
        const std::size_t limit = std::size_t(1) << image.dib->header.BitCount;
        auto entries = tableFromPalette(palette, limit);
        auto& table = image.dib->table;
        if (table.size() < entries.size())
            table.resize(entries.size());
        std::fill(table.begin(), table.end(), 0);
        std::copy(entries.begin(), entries.end(), table.begin());
    }
    PaletteModified = true;
    changed();
}

TBitmapHandleType TBitmap::HandleType() const
{
    return image_ && image_->dib ? bmDIB
                                 : (Empty() && requestedFormat_ != pfDevice ? bmDIB : bmDDB);
}

TPixelFormat TBitmap::PixelFormat() const
{
    if (!image_ || !image_->dib)
        return Empty() ? requestedFormat_ : pfDevice;
    const Dib& dib = *image_->dib;
    switch (dib.header.BitCount) {
    case 1:
        return pf1bit;
    case 4:
        return pf4bit;
    case 8:
        return pf8bit;
    case 16:
        if (!dib.bitFields() || dib.masks == std::array<std::uint32_t, 3>{0x7C00, 0x03E0, 0x001F})
            return pf15bit;
        return dib.masks == std::array<std::uint32_t, 3>{0xF800, 0x07E0, 0x001F} ? pf16bit
                                                                                 : pfCustom;
    case 24:
        return pf24bit;
    case 32:
        return !dib.bitFields() || dib.masks == std::array<std::uint32_t, 3>{0xFF0000, 0xFF00, 0xFF}
                   ? pf32bit
                   : pfCustom;
    default:
        return pfCustom;
    }
}

void TBitmap::SetPixelFormat(TPixelFormat format)
{
    if (format == pfCustom || format == PixelFormat())
        return;
    requestedFormat_ = format;
    if (Empty())
        return;
    const QImage pixels = image_->image();
    TBitmapImage& image = privateImage();
    if (format == pfDevice) {
        image.ddbBits = desktop::screenBitsPerPixel();
        image.ddb = pixels.convertToFormat(screenImageFormat(image.ddbBits));
        image.dib.reset();
        changed();
        return;
    }
    auto [bitCount, compression, masks, table] = layoutFor(format, image.palette);
    checkDimensions(pixels.width(), pixels.height(), bitCount);
    image.dib = Dib::fromImage(pixels, bitCount, compression, masks, std::move(table));
    image.ddb = QImage();
    changed();
}

std::uint8_t* TBitmap::ScanLine(int y)
{
    if (!image_ || !image_->dib || y < 0 || y >= image_->dib->height())
        return nullptr;
    return privateImage().dib->row(y);
}

const std::uint8_t* TBitmap::ScanLine(int y) const
{
    if (!image_ || !image_->dib || y < 0 || y >= image_->dib->height())
        return nullptr;
    return image_->dib->row(y);
}

int TBitmap::RowStride() const
{
    return image_ && image_->dib ? int(image_->dib->stride()) : 0;
}

TBitmapInfoHeader TBitmap::InfoHeader() const
{
    if (!image_ || !image_->dib)
        return TBitmapInfoHeader{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    return image_->dib->header;
}

std::vector<std::uint32_t> TBitmap::ColorTable() const
{
    return image_ && image_->dib ? image_->dib->table : std::vector<std::uint32_t>{};
}

bool TBitmap::OS2Format() const
{
    return image_ && image_->os2;
}

TCanvas& TBitmap::Canvas()
{
    if (!canvas_) {
        auto target = std::make_shared<BitmapCanvasTarget>(*this);
        canvas_ = std::make_unique<TCanvas>([target] { return target->begin(); },
                                            [target] { target->end(); });
    }
    return *canvas_;
}
