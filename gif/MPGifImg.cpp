#include "gif/MPGifImg.h"

#include "core/ByteReader.h"
#include "core/Exceptions.h"
#include "core/Format.h"
#include "core/TStringList.h"
#include "desktop/BitmapCanvas.h"
#include "gif/MPTimer.h"
#include "imaging/TPicture.h"

#include <algorithm>
#include <array>
#include <climits>
#include <cstring>
#include <functional>
#include <new>
#include <string>
#include <string_view>

namespace {

// Every code of the table, from 0 to 4095.
constexpr int kTableSize = 1 << TDecoder::MaxCodeWidth;

// Interlaced images are stored in four passes; each pass starts at a row and steps by a
// number of rows.
constexpr int kInterlacePasses = 4;
constexpr int kPassFirstRow[kInterlacePasses] = {0, 4, 2, 1};
constexpr int kPassRowStep[kInterlacePasses] = {8, 8, 4, 2};

// The pixel rows of an 8-bit bitmap, whichever way up the bitmap stores them.
TIndexedRows indexedRowsOf(TBitmap& bitmap)
{
    TIndexedRows rows;
    if (bitmap.Width() <= 0 || bitmap.Height() <= 0 || bitmap.ScanLine(0) == nullptr)
        return rows;
    rows.Bits = bitmap.ScanLine(0);
    rows.Width = bitmap.Width();
    rows.Height = bitmap.Height();
    rows.Stride = rows.Height > 1 ? bitmap.ScanLine(1) - rows.Bits : bitmap.RowStride();
    return rows;
}

} // namespace

TDecoder::TDecoder(int minimumCodeSize, std::span<const std::uint8_t> data)
    : minimumCodeSize_(minimumCodeSize), data_(data)
{
    if (minimumCodeSize < MinCodeSize || minimumCodeSize > MaxCodeSize)
        throw EInvalidGraphicOperation(
            core::Format("Invalid LZW Code Size: %d", {minimumCodeSize}));
}

void TDecoder::Decode(const TIndexedRows& rows, bool interlaced)
{
    const int clearCode = 1 << minimumCodeSize_;
    const int endCode = clearCode + 1;

    // The string table: each entry is the string of its prefix code followed by its suffix.
    // The first byte and the length of every string are kept too, so that a string can be
    // written straight into its row from its last byte back to its first.
    std::uint16_t prefix[kTableSize];
    std::uint8_t suffix[kTableSize];
    std::uint8_t firstByte[kTableSize];
    std::uint16_t length[kTableSize];
    // A string that runs past the end of its row is spelled out here first.
    std::uint8_t stack[kTableSize];
    for (int code = 0; code < clearCode; ++code) {
        prefix[code] = 0;
        // Root codes above 255 (a minimum code size of 9) stand for their low 8 bits.
        suffix[code] = firstByte[code] = static_cast<std::uint8_t>(code);
        length[code] = 1;
    }

    // Where the next pixel goes. Once the last row is full, further pixels are dropped.
    const int width = rows.Width;
    const int height = rows.Height;
    int row = 0;
    int pass = 0;
    int column = 0;
    bool rowsFull = width <= 0 || height <= 0;
    std::uint8_t* line = rowsFull ? nullptr : rows.Bits;
    auto nextRow = [&] {
        column = 0;
        if (!interlaced) {
            ++row;
        } else {
            row += kPassRowStep[pass];
            while (row >= height && ++pass < kInterlacePasses)
                row = kPassFirstRow[pass];
        }
        if (row >= height) {
            rowsFull = true;
            return;
        }
        line = rows.Bits + row * rows.Stride;
    };
    auto output = [&](int code) {
        if (rowsFull)
            return;
        const int count = length[code];
        if (count <= width - column) {
            std::uint8_t* out = line + column + count - 1;
            for (; code >= clearCode; code = prefix[code])
                *out-- = suffix[code];
            *out = static_cast<std::uint8_t>(code);
            column += count;
            if (column == width)
                nextRow();
            return;
        }
        std::uint8_t* out = stack + count - 1;
        for (; code >= clearCode; code = prefix[code])
            *out-- = suffix[code];
        *out = static_cast<std::uint8_t>(code);
        for (int written = 0; written < count && !rowsFull;) {
            const int chunk = std::min(count - written, width - column);
            std::memcpy(line + column, stack + written, static_cast<std::size_t>(chunk));
            written += chunk;
            column += chunk;
            if (column == width)
                nextRow();
        }
    };

    // Codes are packed least significant bit first. The reader keeps unread bits in an
    // accumulator and refills it four bytes at a time where the data allows.
    const std::uint8_t* data = data_.data();
    const std::size_t size = data_.size();
    std::size_t position = 0;
    std::uint64_t bits = 0;
    int bitCount = 0;
    int codeWidth = minimumCodeSize_ + 1;
    auto readCode = [&](int& code) {
        if (bitCount < codeWidth) {
            if (size - position >= 4) {
                bits |= (std::uint64_t{data[position]} | std::uint64_t{data[position + 1]} << 8 |
                         std::uint64_t{data[position + 2]} << 16 |
                         std::uint64_t{data[position + 3]} << 24)
                        << bitCount;
                position += 4;
                bitCount += 32;
            } else {
                while (bitCount < codeWidth && position < size) {
                    bits |= std::uint64_t{data[position++]} << bitCount;
                    bitCount += 8;
                }
                // The data ended inside this code.
                if (bitCount < codeWidth)
                    return false;
            }
        }
        code = static_cast<int>(bits & ((1u << codeWidth) - 1));
        bits >>= codeWidth;
        bitCount -= codeWidth;
        return true;
    };

    int nextFree = endCode + 1;
    int nextWidthCode = 1 << codeWidth;
    bool tableFull = false;
    auto addEntry = [&](int prefixCode, std::uint8_t byte) {
        prefix[nextFree] = static_cast<std::uint16_t>(prefixCode);
        suffix[nextFree] = byte;
        firstByte[nextFree] = firstByte[prefixCode];
        length[nextFree] = static_cast<std::uint16_t>(length[prefixCode] + 1);
        if (++nextFree == nextWidthCode) {
            if (codeWidth == MaxCodeWidth) {
                tableFull = true;
            } else {
                ++codeWidth;
                nextWidthCode <<= 1;
            }
        }
    };

    // Data that ends before the end code ends the decode; what was decoded stays.
    int code = 0;
    if (!readCode(code) || code == endCode)
        return;
    // A stream need not start with a clear code: its first code is then taken as the first
    // code after one.
    bool firstAfterClear = code != clearCode;
    int previous = 0;
    for (;;) {
        if (code == clearCode) {
            codeWidth = minimumCodeSize_ + 1;
            nextFree = endCode + 1;
            nextWidthCode = 1 << codeWidth;
            do {
                if (!readCode(code))
                    return;
            } while (code == clearCode);
            if (code == endCode)
                throw EStreamError("Invalid stream format");
            firstAfterClear = true;
        }
        if (firstAfterClear) {
            // Right after a clear code only a root code makes sense; anything else reads as 0.
            if (code >= nextFree)
                code = 0;
            output(code);
            firstAfterClear = false;
        } else if (code < nextFree) {
            output(code);
            addEntry(previous, firstByte[code]);
        } else if (code == nextFree) {
            // The code being defined by this very use: the previous string followed by its
            // own first byte.
            addEntry(previous, firstByte[previous]);
            output(code);
        } else {
            throw EStreamError("Invalid stream format");
        }
        previous = code;

        if (!readCode(code))
            return;
        if (tableFull) {
            // A full table must be followed by a clear code; the end code also ends the
            // image properly.
            if (code != clearCode && code != endCode)
                throw Exception("Code size overflow");
            tableFull = false;
        }
        if (code == endCode)
            return;
    }
}

void TDecoder::Decode(TBitmap& bitmap, bool interlaced)
{
    if (bitmap.PixelFormat() != pf8bit)
        bitmap.SetPixelFormat(pf8bit);
    Decode(indexedRowsOf(bitmap), interlaced);
}

// ---------------------------------------------------------------------------------------------
// Colour tables

TColorTable::TColorTable(std::vector<std::uint8_t> rgb) : rgb_(std::move(rgb)) {}

TColor TColorTable::Colors(int index) const
{
    if (index < 0 || index >= Count())
        throw EListError(core::Format("Index %d out of range [0..%d]", {index, Count() - 1}));
    const auto entry = static_cast<std::size_t>(index) * 3;
    return RGBColor(rgb_[entry], rgb_[entry + 1], rgb_[entry + 2]);
}

TPalette TColorTable::Palette() const
{
    // A display with a palette of its own would map a 16-entry table onto the system colours;
    // this platform draws in true colour, where the table's own colours give the same picture.
    TPalette palette;
    palette.Entries.reserve(static_cast<std::size_t>(Count()));
    for (std::size_t entry = 0; entry + 2 < rgb_.size(); entry += 3)
        palette.Entries.push_back({rgb_[entry], rgb_[entry + 1], rgb_[entry + 2], 0});
    return palette;
}

// ---------------------------------------------------------------------------------------------
// Reading the file

namespace {

constexpr std::size_t kSignatureSize = 6;           // "GIF87a" or "GIF89a", not checked
constexpr std::uint8_t kExtensionIntroducer = 0x21; // '!'
constexpr std::uint8_t kImageSeparator = 0x2C;      // ','
constexpr std::uint8_t kTrailer = 0x3B;             // ';'

constexpr std::uint8_t kPlainTextLabel = 0x01;
constexpr std::uint8_t kGraphicControlLabel = 0xF9;
constexpr std::uint8_t kCommentLabel = 0xFE;
constexpr std::uint8_t kApplicationLabel = 0xFF;

// Packed flags of the logical screen and of an image descriptor.
constexpr std::uint8_t kColorTableFlag = 0x80;
constexpr std::uint8_t kInterlaceFlag = 0x40;
constexpr std::uint8_t kColorTableSizeMask = 0x07;

// Frame delays are kept in tenths of the file's hundredths of a second, at most this many.
constexpr int kMaxFrameDelay = 30;

// Reads the bytes of a GIF file; every read is checked and reading past the end raises the
// stream read error.
class GifReader : public core::ByteReader {
public:
    using core::ByteReader::ByteReader;

    // A data sub-block: a size byte and that many bytes; empty for the terminator.
    std::string_view subBlock() { return bytes(u8()); }
    void skipSubBlocks()
    {
        while (!subBlock().empty()) {
        }
    }
};

std::vector<std::uint8_t> readColorTable(GifReader& reader, std::uint8_t packedFlags)
{
    const std::size_t size = std::size_t{3} << ((packedFlags & kColorTableSizeMask) + 1);
    const std::string_view bytes = reader.bytes(size);
    return {bytes.begin(), bytes.end()};
}

// The fixed part of an extension comes in its first sub-block. A shorter block leaves the rest
// zero; the bytes of a longer one past the fixed part are not skipped.
template <std::size_t Size> std::array<std::uint8_t, Size> readFixedPart(GifReader& reader)
{
    std::array<std::uint8_t, Size> fixed{};
    const std::size_t count = std::min<std::size_t>(reader.u8(), Size);
    for (std::size_t i = 0; i < count; ++i)
        fixed[i] = reader.u8();
    return fixed;
}

std::uint16_t wordAt(const std::uint8_t* bytes)
{
    return static_cast<std::uint16_t>(bytes[0] | bytes[1] << 8);
}

// What a frame's building tells of an error that spoiled one of its parts.
using PartErrorReport = std::function<void(const Exception&)>;

// Runs one step of building a frame on its own: an abort is swallowed silently, any other
// error of the system's own kind is handed to report and the frame goes on without the step,
// anything else passes on.
template <class Step> void protect(Step&& step, const PartErrorReport& report)
{
    try {
        step();
    } catch (const EAbort&) {
    } catch (const Exception& error) {
        report(error);
    }
}

} // namespace

class TGIFExtension {
public:
    virtual ~TGIFExtension() = default;
    // Applies the extension to the frame it precedes; table is the frame's colour table.
    virtual void Apply(TGIFFrame&, const TColorTable*) {}
};

class TGraphicControlExtension : public TGIFExtension {
public:
    explicit TGraphicControlExtension(GifReader& reader)
    {
        const auto fixed = readFixedPart<4>(reader);
        PackedFlags = fixed[0];
        DelayTime = wordAt(&fixed[1]);
        TransparentColorIndex = fixed[3];
        reader.skipSubBlocks();
    }
    void Apply(TGIFFrame& frame, const TColorTable*) override
    {
        frame.Delay = std::min(DelayTime / 10, kMaxFrameDelay);
    }

    std::uint8_t PackedFlags = 0;
    std::uint16_t DelayTime = 0; // hundredths of a second
    std::uint8_t TransparentColorIndex = 0;
};

class TPlainTextExtension : public TGIFExtension {
public:
    explicit TPlainTextExtension(GifReader& reader)
    {
        const auto fixed = readFixedPart<12>(reader);
        GridLeft = wordAt(&fixed[0]);
        GridTop = wordAt(&fixed[2]);
        GridWidth = wordAt(&fixed[4]);
        GridHeight = wordAt(&fixed[6]);
        CellWidth = fixed[8];
        CellHeight = fixed[9];
        ForegroundColorIndex = fixed[10];
        BackgroundColorIndex = fixed[11];
        for (std::string_view line = reader.subBlock(); !line.empty(); line = reader.subBlock())
            Lines.Add(std::string(line));
    }
    // Draws the first line of text in the grid, in the table's colours when there is a table.
    void Apply(TGIFFrame& frame, const TColorTable* table) override
    {
        BitmapCanvas canvas(frame.Bitmap());
        if (CellHeight > 0)
            canvas.Font.Font.setPixelSize(CellHeight);
        const TBrush brush = canvas.Brush;
        struct RestoreBrush {
            TCanvas& canvas;
            TBrush brush;
            ~RestoreBrush() { canvas.Brush = brush; }
        } restore{canvas, brush};
        if (table) {
            canvas.Font.Color = table->Colors(ForegroundColorIndex);
            canvas.Brush.Style = bsSolid;
            canvas.Brush.Color = table->Colors(BackgroundColorIndex);
        }
        if (Lines.Count() > 0)
            canvas.TextRect(Rect(GridLeft, GridTop, GridLeft + GridWidth, GridTop + GridHeight),
                            GridLeft, GridTop, std::string(Lines[0]));
    }

    std::uint16_t GridLeft = 0;
    std::uint16_t GridTop = 0;
    std::uint16_t GridWidth = 0;
    std::uint16_t GridHeight = 0;
    std::uint8_t CellWidth = 0;
    std::uint8_t CellHeight = 0;
    std::uint8_t ForegroundColorIndex = 0;
    std::uint8_t BackgroundColorIndex = 0;
    TStringList Lines;
};

// Comments are read and dropped.
class TCommentExtension : public TGIFExtension {
public:
    explicit TCommentExtension(GifReader& reader)
    {
        for (std::string_view line = reader.subBlock(); !line.empty(); line = reader.subBlock())
            Lines.Add(std::string(line));
    }

    TStringList Lines;
};

// Application data (a loop count, say) is read and dropped.
class TApplicationExtension : public TGIFExtension {
public:
    explicit TApplicationExtension(GifReader& reader)
    {
        Identifier = readFixedPart<11>(reader);
        for (std::string_view block = reader.subBlock(); !block.empty(); block = reader.subBlock())
            Data.append(block);
    }

    std::array<std::uint8_t, 11> Identifier{}; // identifier and authentication code
    std::string Data;
};

namespace {

// An image block's descriptor: where the image lies on the logical screen, its size, and the
// colour table that applies to it.
struct TImageDescriptor {
    std::uint16_t Left = 0;
    std::uint16_t Top = 0;
    std::uint16_t Width = 0;
    std::uint16_t Height = 0;
    std::uint8_t PackedFlags = 0;
    std::unique_ptr<TColorTable> LocalColorTable;
    // The local table when the image has one, else the global one (possibly none).
    const TColorTable* ColorTable = nullptr;
};

// The compressed pixels of an image block: its minimum code size and the data of all its
// sub-blocks joined.
struct TRasterData {
    std::uint8_t MinimumCodeSize = 0;
    std::vector<std::uint8_t> Data;
};

TImageDescriptor readImageDescriptor(GifReader& reader, const TColorTable* globalTable)
{
    TImageDescriptor descriptor;
    descriptor.Left = reader.u16();
    descriptor.Top = reader.u16();
    descriptor.Width = reader.u16();
    descriptor.Height = reader.u16();
    descriptor.PackedFlags = reader.u8();
    if (descriptor.PackedFlags & kColorTableFlag)
        descriptor.LocalColorTable =
            std::make_unique<TColorTable>(readColorTable(reader, descriptor.PackedFlags));
    descriptor.ColorTable =
        descriptor.LocalColorTable ? descriptor.LocalColorTable.get() : globalTable;
    return descriptor;
}

// A file that ends inside the image data keeps what is there: the decoder then stops where
// the data stops.
TRasterData readRasterData(GifReader& reader)
{
    TRasterData raster;
    raster.MinimumCodeSize = reader.u8();
    while (reader.remaining() > 0) {
        const std::size_t size = reader.u8();
        if (size == 0)
            break;
        const std::string_view block = reader.upTo(size);
        raster.Data.insert(raster.Data.end(), block.begin(), block.end());
    }
    return raster;
}

// Gives the frame's bitmap the image's size and colours. Sizes are checked before anything is
// allocated.
void prepareFrameBitmap(TBitmap& bitmap, const TImageDescriptor& descriptor)
{
    if (std::int64_t{descriptor.Width} * descriptor.Height > TGIFImage::MaxFramePixels)
        throw EInvalidGraphic("Bitmap image is not valid");
    bitmap.SetPixelFormat(pf8bit);
    bitmap.SetSize(descriptor.Width, descriptor.Height);
    if (descriptor.ColorTable)
        bitmap.SetPalette(descriptor.ColorTable->Palette());
}

// Builds one frame from the blocks up to and including its image block: the extensions before
// it, the image, and then the extensions applied to the image. A trailer right after the
// extensions ends the frame without an image.
void buildFrame(TGIFFrame& frame, GifReader& reader, const TColorTable* globalTable,
                const PartErrorReport& report)
{
    reader.stepBack();
    std::vector<std::unique_ptr<TGIFExtension>> extensions;
    std::uint8_t introducer = reader.u8();
    while (introducer == kExtensionIntroducer) {
        switch (reader.u8()) {
        case kPlainTextLabel:
            extensions.push_back(std::make_unique<TPlainTextExtension>(reader));
            break;
        case kGraphicControlLabel:
            extensions.push_back(std::make_unique<TGraphicControlExtension>(reader));
            break;
        case kCommentLabel:
            extensions.push_back(std::make_unique<TCommentExtension>(reader));
            break;
        case kApplicationLabel:
            extensions.push_back(std::make_unique<TApplicationExtension>(reader));
            break;
        default:
            reader.skipSubBlocks();
            break;
        }
        introducer = reader.u8();
    }
    if (introducer == kTrailer) {
        reader.stepBack();
        return;
    }
    if (introducer != kImageSeparator)
        throw EInvalidGraphicOperation(
            core::Format("Invalid GIF format seperator: $%x", {unsigned{introducer}}));

    const TImageDescriptor descriptor = readImageDescriptor(reader, globalTable);
    const TRasterData raster = readRasterData(reader);
    TBitmap& bitmap = frame.Bitmap();
    prepareFrameBitmap(bitmap, descriptor);
    TDecoder(raster.MinimumCodeSize, raster.Data)
        .Decode(bitmap, (descriptor.PackedFlags & kInterlaceFlag) != 0);

    for (const auto& extension : extensions)
        protect([&] { extension->Apply(frame, descriptor.ColorTable); }, report);
}

} // namespace

// ---------------------------------------------------------------------------------------------
// The GIF picture

namespace {

// The one pool that animates every GIF picture. It is made by the first picture and freed with
// the last; pictures live on the main thread only.
std::unique_ptr<TMPTimerPool>& sharedTimerPool()
{
    static std::unique_ptr<TMPTimerPool> pool;
    return pool;
}

// The interval asked for is the frame delay in tenths, times ten milliseconds.
constexpr int kFrameDelayUnit = 10;
constexpr int kInitialTriggerInterval = 10;

} // namespace

TGIFImage::TGIFImage() : data_(std::make_shared<TGIFData>())
{
    auto& pool = sharedTimerPool();
    if (!pool) {
        pool = std::make_unique<TMPTimerPool>();
        // New pictures start still; the viewer switches animation on.
        pool->SetDefEnabled(false);
    }
    triggerHandle_ = pool->AddInfiniteTrigger(
        kInitialTriggerInterval, [this](TMPTimerPool*, int, int, int) { NextFrame(); });
}

TGIFImage::~TGIFImage()
{
    data_.reset();
    auto& pool = sharedTimerPool();
    if (!pool || triggerHandle_ == -1)
        return;
    try {
        pool->RemoveTrigger(triggerHandle_);
    } catch (const std::exception&) {
        // The trigger is gone already; nothing is left to undo.
    }
    if (pool->TriggerCount() == 0)
        pool.reset();
}

std::unique_ptr<TGraphic> TGIFImage::NewInstance() const
{
    return std::make_unique<TGIFImage>();
}

TMPTimerPool* TGIFImage::TimerPool()
{
    return sharedTimerPool().get();
}

int TGIFImage::Width() const
{
    return data_->ScreenWidth;
}

int TGIFImage::Height() const
{
    return data_->ScreenHeight;
}

void TGIFImage::SetWidth(int width)
{
    width = std::min(width, Width());
    if (width == widthSetting_)
        return;
    widthSetting_ = width;
    Changed();
}

void TGIFImage::SetHeight(int height)
{
    height = std::min(height, Height());
    if (height == heightSetting_)
        return;
    heightSetting_ = height;
    Changed();
}

bool TGIFImage::Empty() const
{
    return !data_->Bytes || data_->Bytes->bytes().empty();
}

void TGIFImage::Draw(DrawTarget& target, const TRect& rect)
{
    FrameBitmap(currentFrame_).Draw(target, rect);
}

void TGIFImage::Assign(const TGraphic* source)
{
    if (source == nullptr) {
        clear();
        Changed();
        return;
    }
    if (const auto* other = dynamic_cast<const TGIFImage*>(source)) {
        data_ = other->data_;
        currentFrame_ = other->currentFrame_;
        Changed();
        return;
    }
    throw EInvalidGraphicOperation(core::Format("Cannot assign to %s", {ClassName()}));
}

void TGIFImage::clear()
{
    currentFrame_ = -1;
    data_ = std::make_shared<TGIFData>();
}

void TGIFImage::LoadFromStream(TStream& stream)
{
    clear();
    const std::int64_t count = std::max<std::int64_t>(stream.Size() - stream.Position(), 0);
    std::string bytes(static_cast<std::size_t>(count), '\0');
    stream.ReadBuffer(bytes.data(), count);
    data_->Bytes = std::make_unique<TMemoryStream>(std::move(bytes));
    SetCurrentFrame(0);
}

void TGIFImage::SaveToStream(TStream& stream)
{
    if (!data_->Bytes)
        throw EInvalidGraphicOperation("No GIF data");
    const std::string_view bytes = data_->Bytes->bytes();
    stream.WriteBuffer(bytes.data(), static_cast<std::int64_t>(bytes.size()));
}

void TGIFImage::ReadData(TStream& stream)
{
    std::uint8_t size[4];
    stream.ReadBuffer(size, sizeof size);
    const std::int64_t count =
        std::int32_t(size[0] | size[1] << 8 | size[2] << 16 | std::uint32_t{size[3]} << 24);
    // A size beyond the stored bytes cannot be read; it is refused before allocating.
    if (count < 0 || count > stream.Size() - stream.Position())
        throw EReadError("Stream read error");
    std::string bytes(static_cast<std::size_t>(count), '\0');
    stream.ReadBuffer(bytes.data(), count);
    TMemoryStream stored(std::move(bytes));
    LoadFromStream(stored);
}

void TGIFImage::WriteData(TStream& stream)
{
    const std::string_view bytes = data_->Bytes ? data_->Bytes->bytes() : std::string_view();
    const auto count = static_cast<std::uint32_t>(bytes.size());
    const std::uint8_t size[4] = {std::uint8_t(count), std::uint8_t(count >> 8),
                                  std::uint8_t(count >> 16), std::uint8_t(count >> 24)};
    stream.WriteBuffer(size, sizeof size);
    stream.WriteBuffer(bytes.data(), static_cast<std::int64_t>(bytes.size()));
}

void TGIFImage::parse()
{
    TGIFData& data = *data_;
    if (data.Frames || !data.Bytes)
        return;
    GifReader reader(data.Bytes->bytes());
    reader.seek(kSignatureSize);
    data.ScreenWidth = reader.u16();
    data.ScreenHeight = reader.u16();
    data.PackedFlags = reader.u8();
    data.BackgroundColorIndex = reader.u8();
    data.PixelAspectRatio = reader.u8();
    data.GlobalColorTable.reset();
    if (data.PackedFlags & kColorTableFlag)
        data.GlobalColorTable =
            std::make_unique<TColorTable>(readColorTable(reader, data.PackedFlags));

    data.Frames = std::make_unique<TMPOwnedObjectList<TGIFFrame>>();
    for (std::uint8_t introducer = reader.u8(); introducer != kTrailer; introducer = reader.u8()) {
        auto frame = std::make_unique<TGIFFrame>(data);
        buildFrame(*frame, reader, data.GlobalColorTable.get(),
                   [this](const Exception& error) { PartFailed(error); });
        // A built frame's bitmap is final: changing it is an error.
        frame->Bitmap().OnChange = [](TPersistent*) {
            throw EInvalidGraphicOperation(core::Format("Cannot modify %s bitmap", {"TGIFFrame"}));
        };
        data.Frames->Add(std::move(frame));
    }
}

int TGIFImage::FrameCount()
{
    try {
        parse();
    } catch (const std::bad_alloc&) {
        // Running out of memory is no fault of the file: it is not taken for its end.
        throw;
    } catch (const std::exception&) {
        // The frames completed before the error stay.
    }
    return data_->Frames ? data_->Frames->Count() : 0;
}

TGIFFrame& TGIFImage::frame(int index)
{
    const int count = FrameCount();
    if (index < 0 || index >= count)
        throw EInvalidGraphicOperation(
            core::Format("Invalid frame number %d (0..%d)", {index, count - 1}));
    return *data_->Frames->Items(index);
}

void TGIFImage::SetCurrentFrame(int index)
{
    if (!data_->Bytes)
        return;
    const int count = FrameCount();
    if (index >= count)
        index = count - 1;
    else if (index < 0)
        index = 0;
    if (index == currentFrame_)
        return;
    currentFrame_ = index;
    TMPTimerPool* pool = TimerPool();
    if (pool && triggerHandle_ != -1 && index >= 0) {
        const std::int64_t interval = std::int64_t{frame(index).Delay} * kFrameDelayUnit;
        pool->SetTriggerInterval(triggerHandle_,
                                 static_cast<int>(std::clamp<std::int64_t>(interval, 0, INT_MAX)));
    }
    Changed();
}

void TGIFImage::NextFrame()
{
    SetCurrentFrame(currentFrame_ < FrameCount() - 1 ? currentFrame_ + 1 : 0);
}

void TGIFImage::SetAnimated(bool animated)
{
    if (TMPTimerPool* pool = TimerPool(); pool && triggerHandle_ != -1)
        pool->SetTriggerEnabled(triggerHandle_, animated);
}

void TGIFImage::SetAllFrameDelays(int delay)
{
    const int count = FrameCount();
    for (int index = 0; index < count; ++index)
        data_->Frames->Items(index)->Delay = delay;
}

int TGIFImage::FrameDelay(int index)
{
    return frame(index).Delay;
}

void TGIFImage::SetFrameDelay(int index, int delay)
{
    frame(index).Delay = delay;
}

TBitmap& TGIFImage::FrameBitmap(int index)
{
    return frame(index).Bitmap();
}

void RegisterGIFFormat()
{
    TPicture::RegisterFileFormat("GIF", "Graphics Interchange Format",
                                 TGraphicClass::of<TGIFImage>("TGIFImage"));
}

void UnregisterGIFFormat()
{
    TPicture::UnregisterGraphicClass("TGIFImage");
}
