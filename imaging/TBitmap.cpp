#include "imaging/TBitmap.h"

#include "core/Exceptions.h"
#include "core/Format.h"
#include "imaging/BmpFile.h"
#include "imaging/Dib.h"
#include "imaging/DrawTarget.h"
#include "imaging/TStream.h"
#include "platform/AtomicFile.h"
#include "platform/ScreenDepth.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <string_view>
#include <vector>

using namespace bmp;

namespace {

// A screen of 15 or 16 bits keeps five bits of each channel (as Qt's RGB555 images do): the
// colours a bitmap of that depth can hold, each channel's five bits widened back to eight.
QRgbValue onScreenOf(int bits, QRgbValue colour)
{
    if (bits != 15 && bits != 16)
        return colour | 0xFF000000u;
    const auto widen = [](int channel) {
        const int five = channel >> 3;
        return (five << 3) | (five >> 2);
    };
    return rgbOf(widen(redOf(colour)), widen(greenOf(colour)), widen(blueOf(colour)));
}

// The pixels as a screen of the depth shows them.
RgbImage onScreen(RgbImage image, int bits)
{
    if (bits == 15 || bits == 16)
        for (int y = 0; y < image.height(); ++y) {
            QRgbValue* row = image.scanLine(y);
            for (int x = 0; x < image.width(); ++x)
                row[x] = onScreenOf(bits, row[x]);
        }
    return image;
}

} // namespace

// The shared image of one or more bitmaps: the device-independent form, or a screen-compatible
// bitmap, with the palette and where it came from.
struct TBitmapImage {
    std::optional<Dib> dib;
    RgbImage ddb;    // the screen-compatible form, in the colours its depth can hold
    int ddbBits = 0; // the screen's depth when it was made
    TPalette palette;
    bool os2 = false;
    mutable RgbImage drawCache;

    bool empty() const { return !dib && ddb.isNull(); }
    int width() const { return dib ? dib->width() : ddb.width(); }
    int height() const { return dib ? dib->height() : ddb.height(); }
    const RgbImage& image() const
    {
        if (!dib)
            return ddb;
        if (drawCache.isNull())
            drawCache = dib->toImage();
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
RgbImage makeScreenImage(int width, int height)
{
    return RgbImage(width, height, rgbOf(255, 255, 255));
}

} // namespace

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
    image_->drawCache = RgbImage();
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
        image->ddbBits = platform::screenBitsPerPixel();
        image->ddb = makeScreenImage(width, height);
        if (image->ddb.isNull())
            throw EOutOfResources("Out of system resources");
        // What fits of the old picture stays, in the colours the new depth can hold.
        if (old && !old->ddb.isNull())
            for (int y = 0; y < std::min(height, old->ddb.height()); ++y) {
                const QRgbValue* in = old->ddb.scanLine(y);
                QRgbValue* out = image->ddb.scanLine(y);
                for (int x = 0; x < std::min(width, old->ddb.width()); ++x)
                    out[x] = onScreenOf(image->ddbBits, in[x]);
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

void TBitmap::Draw(DrawTarget& target, const TRect& rect)
{
    if (Empty())
        return;
    target.stretchImage(rect, image_->image());
}

RgbImage TBitmap::pixels() const
{
    return Empty() ? RgbImage() : image_->image();
}

int TBitmap::ScreenBits() const
{
    return image_ && !image_->dib ? image_->ddbBits : 0;
}

void TBitmap::storePixels(const RgbImage& pixels)
{
    if (Empty() || pixels.width() != Width() || pixels.height() != Height())
        return;
    TBitmapImage& image = privateImage();
    if (image.dib) {
        const Dib& old = *image.dib;
        Dib updated = Dib::fromImage(pixels, old.header.BitCount,
                                     old.bitFields() ? kBitFields : kRgb, old.masks, old.table);
        updated.header = old.header;
        image.dib = std::move(updated);
    } else {
        image.ddb = onScreen(pixels, image.ddbBits);
    }
    image.drawCache = RgbImage();
    changed();
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
        image->ddbBits = platform::screenBitsPerPixel();
        image->ddb = onScreen(decodeRle(coded, h), image->ddbBits);
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
    const std::string headers = fileHeaders(dib, image.palette, image.os2);
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
    const std::string headers = fileHeaders(dib, image_->palette, image_->os2);
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
        if (!dib.bitFields() || dib.masks == kMasks555)
            return pf15bit;
        return dib.masks == kMasks565 ? pf16bit : pfCustom;
    case 24:
        return pf24bit;
    case 32:
        return !dib.bitFields() || dib.masks == kMasks888 ? pf32bit : pfCustom;
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
    const RgbImage pixels = image_->image();
    TBitmapImage& image = privateImage();
    if (format == pfDevice) {
        image.ddbBits = platform::screenBitsPerPixel();
        image.ddb = onScreen(pixels, image.ddbBits);
        image.dib.reset();
        changed();
        return;
    }
    auto [bitCount, compression, masks, table] = layoutFor(format, image.palette);
    checkDimensions(pixels.width(), pixels.height(), bitCount);
    image.dib = Dib::fromImage(pixels, bitCount, compression, masks, std::move(table));
    image.ddb = RgbImage();
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
