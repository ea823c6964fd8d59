#include "shell/TIcon.h"

#include "core/ByteReader.h"
#include "core/Exceptions.h"
#include "imaging/BmpFile.h"

#include <QPixmap>

#include <algorithm>
#include <vector>

namespace {

const char* const kInvalidIcon = "Icon image is not valid";

// Icon images larger than this are refused before anything is allocated.
constexpr int kMaxIconSide = 1024;
constexpr std::size_t kIconDirSize = 6;
constexpr std::size_t kIconDirEntrySize = 16;
constexpr std::size_t kBitmapInfoHeaderSize = 40;

[[noreturn]] void invalid() { throw EInvalidGraphic(kInvalidIcon); }

// One entry of the icon directory.
struct IconDirEntry {
    int width = 0;              // 0 in the file stands for 256
    int height = 0;             // likewise
    int bitCount = 0;           // colour depth, as the directory states it
    std::uint32_t bytesInRes = 0; // length of the image
    std::uint32_t imageOffset = 0; // where the image starts in the file
};

// The header of a bitmap image inside an icon.
struct IconBitmapHeader {
    std::uint32_t size = 0; // header length, 40 or more
    int width = 0;
    int doubleHeight = 0; // colour rows and mask rows together
    int planes = 0;
    int bitCount = 0;
    std::uint32_t compression = 0;
    std::uint32_t colorsUsed = 0;
};

std::vector<IconDirEntry> readDirectory(core::ByteReader in)
{
    const std::uint16_t reserved = in.u16();
    const std::uint16_t type = in.u16(); // 1 for icons, 2 for cursors
    if (reserved != 0 || type != 1)
        invalid();
    const std::size_t count = in.u16();
    if (count == 0 || kIconDirSize + count * kIconDirEntrySize > in.size())
        invalid();
    std::vector<IconDirEntry> entries;
    for (std::size_t i = 0; i < count; ++i) {
        IconDirEntry e;
        const std::uint8_t width = in.u8();
        const std::uint8_t height = in.u8();
        e.width = width == 0 ? 256 : width;
        e.height = height == 0 ? 256 : height;
        in.skip(4); // colour count, reserved byte, planes
        e.bitCount = in.u16();
        e.bytesInRes = in.u32();
        e.imageOffset = in.u32();
        if (e.bytesInRes == 0 || e.imageOffset > in.size() ||
            e.bytesInRes > in.size() - e.imageOffset)
            invalid();
        entries.push_back(e);
    }
    return entries;
}

QImage decodePng(std::string_view image)
{
    QImage result = QImage::fromData(reinterpret_cast<const uchar*>(image.data()),
                                     int(image.size()), "PNG");
    if (result.isNull() || result.width() > kMaxIconSide || result.height() > kMaxIconSide)
        invalid();
    return result.convertToFormat(QImage::Format_ARGB32);
}

IconBitmapHeader readBitmapHeader(core::ByteReader in)
{
    IconBitmapHeader h;
    h.size = in.u32();
    TBitmapInfoHeader info;
    bmp::readInfoFields(in, info);
    h.width = info.Width;
    h.doubleHeight = info.Height;
    h.planes = info.Planes;
    h.bitCount = info.BitCount;
    h.compression = info.Compression;
    h.colorsUsed = info.ClrUsed;
    const bool knownDepth = h.bitCount == 1 || h.bitCount == 4 || h.bitCount == 8 ||
                            h.bitCount == 24 || h.bitCount == 32;
    if (h.size < kBitmapInfoHeaderSize || h.size > in.size() || h.width <= 0 ||
        h.width > kMaxIconSide || h.doubleHeight <= 0 || h.doubleHeight > 2 * kMaxIconSide ||
        h.planes != 1 || !knownDepth || h.compression != 0)
        invalid();
    return h;
}

QImage decodeBitmap(std::string_view image)
{
    core::ByteReader in(image);
    const IconBitmapHeader h = readBitmapHeader(in);
    const int width = h.width;
    const int height = h.doubleHeight / 2;
    if (height <= 0)
        invalid();

    std::size_t colors = 0;
    if (h.bitCount <= 8) {
        colors = h.colorsUsed ? h.colorsUsed : (std::size_t(1) << h.bitCount);
        if (colors > (std::size_t(1) << h.bitCount))
            invalid();
    }
    const std::size_t paletteAt = h.size;
    std::vector<QRgb> palette(colors);
    in.seek(paletteAt);
    for (std::size_t i = 0; i < colors; ++i) {
        const std::string_view bgr = in.bytes(4); // blue, green, red, reserved
        palette[i] = qRgb(std::uint8_t(bgr[2]), std::uint8_t(bgr[1]), std::uint8_t(bgr[0]));
    }

    const std::size_t xorStride = ((std::size_t(width) * std::size_t(h.bitCount) + 31) / 32) * 4;
    const std::size_t andStride = ((std::size_t(width) + 31) / 32) * 4;
    const std::size_t xorAt = paletteAt + 4 * colors;
    const std::size_t andAt = xorAt + xorStride * std::size_t(height);
    in.seek(xorAt);
    const std::string_view xorBits = in.bytes(xorStride * std::size_t(height));
    // Some writers leave out the mask of a 32-bit image; its alpha channel then decides alone.
    const bool hasMask = andAt + andStride * std::size_t(height) <= image.size();
    if (!hasMask && h.bitCount != 32)
        invalid();
    std::string_view andBits;
    if (hasMask) {
        in.seek(andAt);
        andBits = in.bytes(andStride * std::size_t(height));
    }

    QImage result(width, height, QImage::Format_ARGB32);
    bool anyAlpha = false;
    for (int y = 0; y < height; ++y) {
        // Rows are stored bottom-up.
        const std::size_t row = std::size_t(height - 1 - y);
        const auto* src = reinterpret_cast<const unsigned char*>(xorBits.data()) + row * xorStride;
        auto* dst = reinterpret_cast<QRgb*>(result.scanLine(y));
        for (int x = 0; x < width; ++x) {
            QRgb pixel = 0;
            std::size_t index = 0;
            switch (h.bitCount) {
            case 1:
                index = (src[x / 8] >> (7 - x % 8)) & 1;
                break;
            case 4:
                index = (src[x / 2] >> (x % 2 ? 0 : 4)) & 0x0F;
                break;
            case 8:
                index = src[x];
                break;
            case 24:
                pixel = qRgb(src[3 * x + 2], src[3 * x + 1], src[3 * x]);
                break;
            case 32:
                pixel = qRgba(src[4 * x + 2], src[4 * x + 1], src[4 * x], src[4 * x + 3]);
                anyAlpha = anyAlpha || src[4 * x + 3] != 0;
                break;
            }
            if (h.bitCount <= 8)
                pixel = index < palette.size() ? palette[index] : qRgb(0, 0, 0);
            dst[x] = pixel;
        }
    }
    if (h.bitCount == 32 && anyAlpha)
        return result;
    for (int y = 0; y < height; ++y) {
        auto* dst = reinterpret_cast<QRgb*>(result.scanLine(y));
        if (!hasMask) {
            for (int x = 0; x < width; ++x)
                dst[x] |= 0xFF000000u;
            continue;
        }
        const std::string_view mask = andBits.substr(std::size_t(height - 1 - y) * andStride);
        for (int x = 0; x < width; ++x) {
            const bool transparent = (std::uint8_t(mask[std::size_t(x) / 8]) >> (7 - x % 8)) & 1;
            dst[x] = transparent ? 0u : (dst[x] | 0xFF000000u);
        }
    }
    return result;
}

QImage decodeIcon(std::string_view bytes)
{
    core::ByteReader in(bytes);
    const std::vector<IconDirEntry> entries = readDirectory(in);
    const auto best = std::max_element(
        entries.begin(), entries.end(), [](const IconDirEntry& a, const IconDirEntry& b) {
            const long areaA = long(a.width) * a.height, areaB = long(b.width) * b.height;
            return areaA != areaB ? areaA < areaB : a.bitCount < b.bitCount;
        });
    in.seek(best->imageOffset);
    const std::string_view image = in.bytes(best->bytesInRes);
    if (image.size() >= 8 && image.substr(0, 8) == std::string_view("\x89PNG\r\n\x1a\n", 8))
        return decodePng(image);
    return decodeBitmap(image);
}

} // namespace

QImage TIcon::decode(std::string_view bytes)
{
    // Any read past the end of the file, or of the image that the directory names, makes the
    // icon invalid.
    try {
        return decodeIcon(bytes);
    } catch (const EReadError&) {
        invalid();
    }
}

int TIcon::Width() const { return data_ ? data_->image.width() : 0; }

int TIcon::Height() const { return data_ ? data_->image.height() : 0; }

void TIcon::Assign(const TIcon* source)
{
    if (source == this)
        return;
    data_ = source ? source->data_ : nullptr;
    Changed();
}

void TIcon::LoadFromBytes(std::string_view bytes)
{
    QImage image = decode(bytes);
    data_ = std::make_shared<const Data>(Data{std::string(bytes), std::move(image)});
    Changed();
}

std::string TIcon::SaveToBytes() const { return data_ ? data_->bytes : std::string(); }

void TIcon::Clear()
{
    if (!data_)
        return;
    data_.reset();
    Changed();
}

QImage TIcon::toImage() const { return data_ ? data_->image : QImage(); }

QIcon TIcon::toQIcon() const
{
    return data_ ? QIcon(QPixmap::fromImage(data_->image)) : QIcon();
}

void TIcon::Changed()
{
    if (OnChange)
        OnChange(this);
}
