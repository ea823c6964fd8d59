#pragma once

#include "gif/MPList.h"
#include "imaging/TAnimatedGraphic.h"
#include "imaging/TBitmap.h"
#include "imaging/TGraphic.h"
#include "imaging/TStream.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

class TMPTimerPool;

// Rows of 8-bit palette indexes that the LZW decoder fills. Bits points at row 0; Stride is the
// distance in bytes from one row to the next (negative for rows stored bottom-up).
struct TIndexedRows {
    std::uint8_t* Bits = nullptr;
    int Width = 0;
    int Height = 0;
    std::ptrdiff_t Stride = 0;
};

// Decodes the LZW-compressed raster data of one GIF image block into palette indexes. It takes
// the image's data sub-blocks joined into one run of bytes and knows nothing of files.
class TDecoder {
public:
    // The smallest and largest minimum code size accepted.
    static constexpr int MinCodeSize = 2;
    static constexpr int MaxCodeSize = 9;
    // Codes never grow wider than this; the table then holds 4096 entries.
    static constexpr int MaxCodeWidth = 12;

    // "Invalid LZW Code Size: %d" for a minimum code size outside 2 to 9.
    TDecoder(int minimumCodeSize, std::span<const std::uint8_t> data);

    // Decodes up to the end code, writing pixels row by row, in the four-pass order of an
    // interlaced image when asked; pixels past the last row are dropped and rows that receive
    // nothing keep their content. Data that ends before the end code ends the decode with the
    // pixels decoded so far. A malformed code stream raises "Invalid stream format" or, when a
    // full table is followed by anything but a clear code or the end code, "Code size
    // overflow"; the pixels decoded before the error stay.
    void Decode(const TIndexedRows& rows, bool interlaced);
    // Decodes into the rows of an 8-bit bitmap (a bitmap of any other form is made one first).
    void Decode(TBitmap& bitmap, bool interlaced);

private:
    int minimumCodeSize_;
    std::span<const std::uint8_t> data_;
};

// A colour table of a GIF file: red, green and blue bytes per entry.
class TColorTable {
public:
    explicit TColorTable(std::vector<std::uint8_t> rgb);

    int Count() const { return static_cast<int>(rgb_.size() / 3); }
    // The colour of an entry; an index outside the table raises
    // "Index %d out of range [0..%d]".
    TColor Colors(int index) const;
    // A logical palette with one entry per table entry.
    TPalette Palette() const;

private:
    std::vector<std::uint8_t> rgb_;
};

struct TGIFData;

// One image of a GIF file: its own bitmap, sized to the image and carrying the image's colours,
// and how long it shows, in tenths of the animation's time unit (see TGIFImage).
class TGIFFrame {
public:
    explicit TGIFFrame(TGIFData& data) : data_(&data) {}

    TGIFData& Data() const { return *data_; }
    TBitmap& Bitmap() { return bitmap_; }
    const TBitmap& Bitmap() const { return bitmap_; }
    int Delay = 0;

private:
    TGIFData* data_;
    TBitmap bitmap_;
};

// The file behind one or more GIF pictures: the bytes as loaded, and the frames parsed from
// them on the first query. Pictures assigned from one another share it.
struct TGIFData {
    // The whole file; none before loading.
    std::unique_ptr<TMemoryStream> Bytes;
    // Created by the first parse: while it does not exist the file has not been parsed.
    std::unique_ptr<TMPOwnedObjectList<TGIFFrame>> Frames;
    // None when the file has no global colour table.
    std::unique_ptr<TColorTable> GlobalColorTable;
    std::uint16_t ScreenWidth = 0;
    std::uint16_t ScreenHeight = 0;
    std::uint8_t PackedFlags = 0;
    std::uint8_t BackgroundColorIndex = 0;
    std::uint8_t PixelAspectRatio = 0;
};

// A picture read from a GIF87a or GIF89a file. It keeps the file's bytes as they are, decodes
// every image block of the file into a frame of its own, shows one frame at a time stretched
// over the destination, and steps through the frames on a timer when animated. Frames are not
// composed onto the logical screen: positions, disposal and transparency are not used.
//
// All GIF pictures animate through one timer pool, which exists from the first picture's
// construction until the last picture is destroyed.
class TGIFImage : public TGraphic, public TAnimatedGraphic {
public:
    // Frames of more pixels than this are not allocated: a frame is drawn through 32-bit
    // pixels, which must stay within 2^31 bytes.
    static constexpr std::int64_t MaxFramePixels = (std::int64_t{1} << 31) / 4;

    TGIFImage();
    ~TGIFImage() override;

    const char* ClassName() const override { return "TGIFImage"; }
    std::unique_ptr<TGraphic> NewInstance() const override;

    // The logical screen size from the file (0 until the file has been parsed).
    int Width() const override;
    int Height() const override;
    // Stores the value, limited to the logical screen size; the picture is not resized.
    void SetWidth(int width) override;
    void SetHeight(int height) override;
    // True when the picture holds no bytes.
    bool Empty() const override;

    // Draws the current frame stretched into rect; "Invalid frame number %d (0..%d)" when no
    // frame is shown.
    void Draw(DrawTarget& target, const TRect& rect) override;

    // A null source clears the picture; another GIF picture shares its data and current frame;
    // any other graphic raises "Cannot assign to %s".
    void Assign(const TGraphic* source) override;

    // Keeps every byte from the stream's position to its end, then shows the first frame.
    void LoadFromStream(TStream& stream) override;
    // Writes the kept bytes unchanged; "No GIF data" when the picture holds none.
    void SaveToStream(TStream& stream) override;
    // The stored form inside a window's design: a 4-byte little-endian size, then the bytes.
    void ReadData(TStream& stream);
    void WriteData(TStream& stream);

    // The number of frames, parsing the file if needed. A parse error ends the parse; the
    // frames completed before it count.
    int FrameCount();
    // The frame shown, or -1 when none is.
    int CurrentFrame() const { return currentFrame_; }
    // Shows a frame, the index clamped to the frames; the animation timer then waits the
    // frame's delay.
    void SetCurrentFrame(int index);
    // Shows the next frame, after the last one the first again.
    void NextFrame();

    void SetAnimated(bool animated) override;
    // Sets every frame's delay to delay; the timer follows from the next frame change.
    void SetAllFrameDelays(int delay) override;

    // A frame's delay, in tenths of the timer interval unit (the timer waits delay × 10 ms),
    // and its bitmap. Indexes outside the frames raise "Invalid frame number %d (0..%d)".
    int FrameDelay(int index);
    void SetFrameDelay(int index, int delay);
    TBitmap& FrameBitmap(int index);

    // The data this picture shows; pictures assigned from one another share it.
    const std::shared_ptr<TGIFData>& Data() const { return data_; }
    // The pool animating all GIF pictures, or nullptr when no GIF picture exists.
    static TMPTimerPool* TimerPool();
    int TriggerHandle() const { return triggerHandle_; }

private:
    void clear();
    void parse();
    TGIFFrame& frame(int index);

    std::shared_ptr<TGIFData> data_;
    int currentFrame_ = -1;
    int widthSetting_ = 0;
    int heightSetting_ = 0;
    int triggerHandle_ = -1;
};

// Enters the GIF picture class for the extension "GIF" in the picture framework's file formats.
void RegisterGIFFormat();
void UnregisterGIFFormat();
