#pragma once

#include "imaging/TBitmap.h"
#include "imaging/TGraphic.h"
#include "imaging/TStream.h"

#include <cstdint>
#include <exception>
#include <memory>

enum TJPEGPixelFormat { jf24Bit, jf8Bit };
enum TJPEGPerformance { jpBestQuality, jpBestSpeed };
enum TJPEGScale { jsFullSize, jsHalf, jsQuarter, jsEighth };
using TJPEGQualityRange = int; // 1..100

// The options a new JPEG picture starts with.
struct TJPEGDefaults {
    TJPEGQualityRange CompressionQuality = 90;
    bool Grayscale = false;
    TJPEGPerformance Performance = jpBestQuality;
    TJPEGPixelFormat PixelFormat = jf24Bit;
    bool ProgressiveDisplay = false;
    bool ProgressiveEncoding = false;
    TJPEGScale Scale = jsFullSize;
    bool Smoothing = true;
};

// The process-wide defaults. On first use PixelFormat becomes jf8Bit when the screen has 8 or
// fewer bits per pixel.
TJPEGDefaults& DefaultJPEGSettings();

// The compressed bytes of a JPEG picture, shared between pictures that were assigned from
// one another.
struct TJPEGData {
    TMemoryStream Data; // the bytes exactly as loaded or encoded; empty when there are none
    bool HasData = false;
    std::int32_t Height = 0;
    std::int32_t Width = 0;
    bool Grayscale = false;
};

// A JPEG picture: keeps the file's compressed bytes unchanged and decodes them on demand into
// a bitmap with the current options (scale, grey, 8- or 24-bit, speed). It can also encode a
// bitmap. A fatal error of the JPEG library raises EJPEG "JPEG error #%d".
class TJPEGImage : public TGraphic {
public:
    TJPEGImage();
    ~TJPEGImage() override;

    const char* ClassName() const override { return "TJPEGImage"; }
    std::unique_ptr<TGraphic> NewInstance() const override;

    int Width() const override;
    int Height() const override;
    // Both fail: "Cannot change the size of a JPEG image".
    void SetWidth(int width) override;
    void SetHeight(int height) override;
    bool Empty() const override;

    void Draw(DrawTarget& target, const TRect& rect) override;

    void Assign(const TGraphic* source) override;
    bool AssignTo(TGraphic& dest) const override;
    bool Equals(const TGraphic& other) const override;

    void LoadFromStream(TStream& stream) override;
    void SaveToStream(TStream& stream) override;
    // The form-resource layout: a 4-byte little-endian count and the compressed bytes.
    void ReadData(TStream& stream);
    void WriteData(TStream& stream);

    TPalette Palette() const override;
    void SetPalette(const TPalette& palette) override;

    // Decodes when needed and returns the decoded bitmap.
    TBitmap& DecodedBitmap();
    // Same as DecodedBitmap, for callers that only read it.
    TBitmap& Bitmap() { return DecodedBitmap(); }
    // Encodes the held bitmap, replacing any compressed data.
    void EncodeFromBitmap();
    // Drops the decoded bitmap; the next draw decodes again.
    void FreeBitmap();
    // The compressed bytes (empty when there are none).
    std::string_view CompressedData() const;

    bool Grayscale() const { return grayscale_; }
    void SetGrayscale(bool value);
    TJPEGPixelFormat PixelFormat() const { return pixelFormat_; }
    void SetPixelFormat(TJPEGPixelFormat value);
    TJPEGPerformance Performance() const { return performance_; }
    void SetPerformance(TJPEGPerformance value);
    TJPEGScale Scale() const { return scale_; }
    void SetScale(TJPEGScale value);

    // Plain options.
    bool Smoothing = true;
    TJPEGQualityRange CompressionQuality = 90;
    bool ProgressiveDisplay = false;
    // When encoding: write a progressive file. After a load: the file has several scans.
    bool ProgressiveEncoding = false;

    // The state of one decode or encode (internal to the implementation).
    struct Context;

private:
    friend struct JpegProgress;

    void newImage();
    void newBitmap();
    void prepareDecoder(Context& context, bool reportProgress);
    void calcOutputDimensions() const;
    void reportProgress(TProgressStage stage, std::uint8_t percent, bool redrawNow,
                        const TRect& rect);

    std::shared_ptr<TJPEGData> image_;
    std::unique_ptr<TBitmap> bitmap_;
    // Why the last decode failed, while its partly filled bitmap is kept.
    std::exception_ptr decodeError_;
    mutable int scaledWidth_ = 0;
    mutable int scaledHeight_ = 0;
    mutable bool needRecalc_ = true;
    mutable TPalette tempPal_;
    bool grayscale_ = false;
    TJPEGPixelFormat pixelFormat_ = jf24Bit;
    TJPEGPerformance performance_ = jpBestQuality;
    TJPEGScale scale_ = jsFullSize;
};
