#pragma once

#include <cstdint>
#include <filesystem>
#include <set>
#include <string>
#include <string_view>
#include <utility>

namespace platform {

// The mounts of filesystems that the kernel makes up (proc, sysfs, cgroup, devpts and the
// like), as /proc/self/mountinfo lists them. They hold no pictures, a Windows drive never holds
// them, and /proc alone can hold hundreds of thousands of entries, so a walk of a drive that
// maps the Linux root passes over them. The table is read once and then asked cheaply: by the
// name of a folder first, and only for a folder of a mount point's name by its device.
class VirtualFilesystems {
public:
    VirtualFilesystems() = default;

    // The table of this process's mounts; empty when /proc/self/mountinfo cannot be read.
    static VirtualFilesystems current();
    // The table from the text of a mountinfo file; lines that do not parse are left out.
    static VirtualFilesystems fromMountInfo(std::string_view text);

    bool empty() const { return devices_.empty(); }

    // True when a folder of this name may be where a virtual filesystem is mounted.
    bool mayBeMountPoint(std::string_view name) const { return names_.find(name) != names_.end(); }
    // True when the folder at path lies on a virtual filesystem.
    bool holds(const std::filesystem::path& path) const;
    // True when the filesystem with this device number is a virtual one.
    bool isVirtualDevice(std::uint32_t major, std::uint32_t minor) const
    {
        return devices_.count({major, minor}) != 0;
    }

private:
    std::set<std::pair<std::uint32_t, std::uint32_t>> devices_;
    std::set<std::string, std::less<>> names_;
};

} // namespace platform
