// Loads arbitrary bytes as a bitmap file, then saves and draws whatever loaded. Any failure
// must be one of the loader's own errors.
#include "core/Exceptions.h"
#include "imaging/TBitmap.h"
#include "imaging/TStream.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace {

std::uint32_t at32(const std::uint8_t* d, std::size_t i)
{
    return std::uint32_t(d[i]) | std::uint32_t(d[i + 1]) << 8 | std::uint32_t(d[i + 2]) << 16 |
           std::uint32_t(d[i + 3]) << 24;
}

// The loader accepts pictures of up to 2^31 bytes and fills a short pixel area with zeros;
// such sizes are correct but too slow for fuzzing, so inputs claiming them are passed over.
bool claimsHugePicture(const std::uint8_t* d, std::size_t size)
{
    if (size < 26)
        return false;
    std::uint64_t width = 0, height = 0;
    if (at32(d, 14) == 12) {
        width = std::uint32_t(d[18] | d[19] << 8);
        height = std::uint32_t(d[20] | d[21] << 8);
    } else {
        width = std::uint64_t(std::int64_t(std::int32_t(at32(d, 18))) < 0 ? 0 : at32(d, 18));
        const std::int32_t h = std::int32_t(at32(d, 22));
        height = std::uint64_t(h < 0 ? -std::int64_t(h) : std::int64_t(h));
    }
    return width * height > (std::uint64_t(1) << 22);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (claimsHugePicture(data, size))
        return 0;
    TMemoryStream stream(std::string(reinterpret_cast<const char*>(data), size));
    TBitmap bitmap;
    try {
        bitmap.LoadFromStream(stream);
    } catch (const EInvalidGraphic&) {
        return 0;
    } catch (const EReadError&) {
        return 0;
    }
    TMemoryStream saved;
    bitmap.SaveToStream(saved);
    (void)bitmap.toImage();
    if (!saved.bytes().empty()) {
        // What was written must read back.
        saved.SetPosition(0);
        TBitmap again;
        again.LoadFromStream(saved);
        if (again.Width() != bitmap.Width() || again.Height() != bitmap.Height())
            __builtin_trap();
    }
    return 0;
}
