// Loads arbitrary bytes as a bitmap file, then saves and draws whatever loaded. Any failure
// must be one of the loader's own errors.
#include "core/Exceptions.h"
#include "imaging/TBitmap.h"
#include "imaging/TStream.h"

#include "HugePicture.h"
#include "desktop/QtImage.h"

#include <cstddef>
#include <cstdint>
#include <string>

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
    (void)toQImage(bitmap);
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
