#pragma once

#include "oem/WimImage.h"
#include "platform/ScratchFolder.h"

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace oem {

// One image of a WIM file laid out as a mounted Windows volume in a folder of its own, holding
// just what OemSystem reads and writes there: the SOFTWARE hive and the OEM files. Every rule,
// refusal and byte of a save is then the one of a mounted disk; commit() puts what changed
// back into the image.
class ImageVolume {
public:
    // Copies image's Windows\System32\config\SOFTWARE into folder, which WINEPREFIX must name,
    // then the OEM files that the system it holds names (oeminfo.ini, oemlogo.bmp and the file
    // of its Logo value). Raises "Image N of <file> holds no Windows\System32\config\SOFTWARE"
    // for an image without Windows.
    ImageVolume(WimImage& wim, int image, const std::filesystem::path& folder);

    // Writes the files that changed in the folder since it was made (or that were made or
    // removed) into the image in one update; returns their paths inside the image.
    std::vector<std::string> commit();

private:
    struct Tracked {
        std::string windowsPath;          // as the system names it
        std::optional<std::string> bytes; // as the image holds it; nothing: no such file
    };
    void track(const std::string& windowsPath);

    WimImage& wim_;
    int image_;
    std::filesystem::path folder_;
    // The folder is a working copy: the update of the image is what is flushed.
    platform::ScratchFolder scratch_;
    std::vector<Tracked> tracked_;
};

} // namespace oem
