#pragma once

#include "imaging/TGraphic.h"

#include <cstdint>
#include <memory>
#include <string>

#include "imaging/RgbImage.h"

struct TBitmapImage;

enum TPixelFormat {
    pfDevice,
    pf1bit,
    pf4bit,
    pf8bit,
    pf15bit,
    pf16bit,
    pf24bit,
    pf32bit,
    pfCustom
};
// bmDIB: the device-independent form, kept as a file has it. bmDDB: a bitmap compatible with
// the screen, at the screen's depth.
enum TBitmapHandleType { bmDIB, bmDDB };

// The 40-byte information header of a device-independent bitmap.
struct TBitmapInfoHeader {
    std::uint32_t Size = 40;
    std::int32_t Width = 0;
    std::int32_t Height = 0; // negative: rows stored top-down
    std::uint16_t Planes = 1;
    std::uint16_t BitCount = 0;
    std::uint32_t Compression = 0; // 0 none, 1 RLE8, 2 RLE4, 3 bit fields
    std::uint32_t SizeImage = 0;
    std::int32_t XPelsPerMeter = 0;
    std::int32_t YPelsPerMeter = 0;
    std::uint32_t ClrUsed = 0;
    std::uint32_t ClrImportant = 0;
};

// A bitmap. Its pixels live in a shared image: assigning one bitmap to another shares it, and
// the first change to a shared image makes a private copy.
//
// A bitmap loaded from an uncompressed BMP file keeps the file's header, colour table,
// bit-field masks, bit depth and row order, and saves back byte for byte. Run-length
// compressed files and bitmaps made at a given size are screen-compatible bitmaps. Either form
// is turned into 32-bit pixels only to be drawn.
class TBitmap : public TGraphic {
public:
    TBitmap();
    ~TBitmap() override;

    const char* ClassName() const override { return "TBitmap"; }
    std::unique_ptr<TGraphic> NewInstance() const override;

    int Width() const override;
    int Height() const override;
    void SetWidth(int width) override;
    void SetHeight(int height) override;
    // Gives the bitmap a new size: a screen-compatible bitmap filled with white, keeping what
    // fits of the old picture; or, for a device-independent bitmap or one whose pixel format
    // was set while empty, a device-independent one of that format with zero pixel bytes.
    // A zero width or height empties it.
    void SetSize(int width, int height);
    bool Empty() const override;

    void Draw(DrawTarget& target, const TRect& rect) override;

    void Assign(const TGraphic* source) override;
    bool Equals(const TGraphic& other) const override;

    void LoadFromStream(TStream& stream) override;
    void SaveToStream(TStream& stream) override;
    void SaveToFile(const std::string& fileName) override;

    TPalette Palette() const override;
    void SetPalette(const TPalette& palette) override;

    TBitmapHandleType HandleType() const;
    TPixelFormat PixelFormat() const;
    // Converts the pixels to a device-independent bitmap of the format (pfDevice: to a
    // screen-compatible bitmap).
    void SetPixelFormat(TPixelFormat format);

    // Pixel row y (0 = top row of the image) of a device-independent bitmap, in the file's
    // byte layout. Makes the image private first. nullptr for a screen-compatible bitmap or a
    // row outside the bitmap.
    std::uint8_t* ScanLine(int y);
    const std::uint8_t* ScanLine(int y) const;
    // Bytes from one row to the next, rows padded to 4 bytes.
    int RowStride() const;

    // The header of a device-independent bitmap (zeroes otherwise).
    TBitmapInfoHeader InfoHeader() const;
    // The colour table of a device-independent bitmap, blue-green-red-reserved per entry.
    std::vector<std::uint32_t> ColorTable() const;
    // Whether the bitmap came from a file with the 12-byte OS/2 header.
    bool OS2Format() const;

    // The pixels as 32-bit colours, top row first, for drawing, converting and tests.
    RgbImage pixels() const;
    // The depth of the screen a screen-compatible bitmap was made for; 0 for a
    // device-independent bitmap.
    int ScreenBits() const;
    // Replaces the pixels with pixels of the same size drawn over pixels(), kept in the
    // bitmap's own form: a device-independent bitmap keeps its format and header, a
    // screen-compatible one the colours its depth can hold.
    void storePixels(const RgbImage& pixels);

    // Releases the image and makes the bitmap empty.
    void FreeImage();

private:
    const TBitmapImage* image() const { return image_.get(); }
    TBitmapImage& privateImage();
    void setImage(std::shared_ptr<TBitmapImage> image);
    void changed() { Changed(this); }

    std::shared_ptr<TBitmapImage> image_;
    TPixelFormat requestedFormat_ = pfDevice;
};
