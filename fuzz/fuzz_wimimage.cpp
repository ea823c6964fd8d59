// Random bytes as a WIM file: opening it, listing its images and laying one out as a Windows
// volume (its hive and OEM files copied out, the system described) must refuse bad input with
// a message and never crash, hang or write outside the target's own folder.

#include "core/Exceptions.h"
#include "TemporaryFolder.h"
#include "oem/ImageVolume.h"
#include "oem/WimImage.h"

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size > 65536)
        return 0;
    static TemporaryFolder folder("fuzz_wimimage");
    const std::filesystem::path file = folder.path() / "input.wim";
    const std::filesystem::path volume = folder.path() / "volume";
    {
        std::ofstream out(file, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), std::streamsize(size));
    }
    std::error_code ignored;
    std::filesystem::remove_all(volume, ignored);
    std::filesystem::create_directory(volume);
    ::setenv("WINEPREFIX", volume.c_str(), 1);
    try {
        oem::WimImage wim(file, oem::WimImage::Access::Read);
        for (int image = 1; image <= std::min(wim.imageCount(), 2); ++image) {
            (void)wim.imageName(image);
            try {
                oem::ImageVolume layout(wim, image, volume);
            } catch (const Exception&) {
                // An image without Windows, or with a hive that cannot be read.
            }
        }
    } catch (const Exception&) {
        // Refused with a message: what bad input must get.
    }
    return 0;
}
