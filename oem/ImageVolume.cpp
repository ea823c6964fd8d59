#include "oem/ImageVolume.h"

#include "core/Exceptions.h"
#include "oem/OemSystem.h"
#include "platform/WinPath.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <sstream>

namespace fs = std::filesystem;

namespace oem {

namespace {

constexpr const char* kHive = "Windows/System32/config/SOFTWARE";

std::optional<std::string> contents(const std::optional<fs::path>& host)
{
    std::error_code error;
    if (!host || !fs::is_regular_file(*host, error))
        return std::nullopt;
    std::ifstream in(*host, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    if (!in && !in.eof())
        throw Exception("Cannot read " + host->string());
    return out.str();
}

// The path inside the image of a path on the system's drive C:; nothing for another drive.
std::optional<std::string> insideImage(const std::string& windowsPath)
{
    if (windowsPath.size() < 3 || (windowsPath[0] != 'C' && windowsPath[0] != 'c') ||
        windowsPath[1] != ':' || windowsPath[2] != '\\')
        return std::nullopt;
    std::string path = windowsPath.substr(3);
    std::replace(path.begin(), path.end(), '\\', '/');
    return path;
}

} // namespace

ImageVolume::ImageVolume(WimImage& wim, int image, const fs::path& folder)
    : wim_(wim), image_(image), folder_(folder), scratch_(fs::absolute(folder))
{
    if (!wim_.extract(image_, kHive, folder_))
        throw Exception("Image " + std::to_string(image) + " of " + wim.file().string() +
                        " holds no Windows\\System32\\config\\SOFTWARE");
    const std::string hive = std::string("C:\\") + kHive;
    tracked_.push_back({hive, contents(platform::WinPath::toHost(hive))});
    const OemSystem system = OemSystem::describe(OemSystem::MissingRoot::WindowsDirectory);
    for (const std::string& file : {system.infoFile(), system.logoFile(), system.currentLogoFile()})
        track(file);
}

void ImageVolume::track(const std::string& windowsPath)
{
    const auto path = insideImage(windowsPath);
    if (!path)
        return;
    for (const Tracked& known : tracked_)
        if (platform::WinPath::toHost(known.windowsPath) == platform::WinPath::toHost(windowsPath))
            return;
    wim_.extract(image_, *path, folder_);
    tracked_.push_back({windowsPath, contents(platform::WinPath::toHost(windowsPath))});
}

std::vector<std::string> ImageVolume::commit()
{
    std::vector<WimImage::Change> changes;
    std::vector<std::string> changed;
    for (const Tracked& file : tracked_) {
        const auto host = platform::WinPath::toHost(file.windowsPath);
        const auto now = contents(host);
        if (now == file.bytes)
            continue;
        // The path as the image spells the folders that it has.
        std::string path = host ? fs::relative(*host, folder_).generic_string()
                                : *insideImage(file.windowsPath);
        if (now)
            changes.push_back({path, *host});
        else
            changes.push_back({path, std::nullopt});
        changed.push_back(path);
    }
    wim_.update(image_, changes);
    return changed;
}

} // namespace oem
