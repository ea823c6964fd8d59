// Loads arbitrary bytes as a JPEG picture and decodes it with several option sets. Any
// failure must be the JPEG error (or the bitmap's own refusal of a size).
#include "core/Exceptions.h"
#include "desktop/QtImage.h"
#include "imaging/TBitmap.h"
#include "imaging/jpeg.h"

#include <cstddef>
#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    struct Options {
        TJPEGPixelFormat format;
        TJPEGScale scale;
        TJPEGPerformance performance;
        bool grayscale;
        bool progressiveDisplay;
    };
    const Options options[] = {
        {jf24Bit, jsFullSize, jpBestQuality, false, false},
        {jf8Bit, jsHalf, jpBestSpeed, false, true},
        {jf24Bit, jsEighth, jpBestQuality, true, true},
    };
    for (const Options& o : options) {
        TJPEGImage jpeg;
        try {
            TMemoryStream stream(bytes);
            jpeg.LoadFromStream(stream);
            // Large pictures are correct but too slow to decode while fuzzing.
            if (std::uint64_t(jpeg.Width()) * std::uint64_t(jpeg.Height()) > (1u << 22))
                return 0;
            jpeg.SetPixelFormat(o.format);
            jpeg.SetScale(o.scale);
            jpeg.SetPerformance(o.performance);
            jpeg.SetGrayscale(o.grayscale);
            jpeg.ProgressiveDisplay = o.progressiveDisplay;
            TBitmap& bitmap = jpeg.DecodedBitmap();
            (void)toQImage(bitmap);
            TBitmap copy;
            copy.Assign(&jpeg);
        } catch (const EInvalidGraphic&) {
            // EJPEG, or a size the bitmap refuses.
        }
    }
    return 0;
}
