#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace platform {

// Drive types as Windows numbers them.
enum DriveType : unsigned {
    kDriveUnknown = 0,
    kDriveNoRootDir = 1,
    kDriveRemovable = 2,
    kDriveFixed = 3,
    kDriveRemote = 4,
    kDriveCdRom = 5,
    kDriveRamDisk = 6,
};

// The error mode that fails critical errors instead of asking the user.
constexpr unsigned kSemFailCriticalErrors = 0x0001;

// The machine's drives: one per entry "x:" in the prefix's dosdevices folder; c: (the volume)
// and z: ("/") alone when the prefix is a Windows volume.
class Drives {
public:
    // Bit 0 for A: set for every letter that has an entry, whether or not its target is there.
    static std::uint32_t logicalDrives();

    // The type of the drive whose root is given ("c:\" or "c:"): the value for "c:" under
    // Software\Wine\Drives in system.reg (floppy, hd, network, cdrom, ramdisk) when there is
    // one, else fixed when the drive's target is a directory, else no root directory.
    static unsigned driveType(std::string_view root);

    // The volume label: the first line of ".windows-label" in the drive's root, empty when that
    // file is absent. Nothing when the drive's root cannot be reached (no disc, missing target).
    static std::optional<std::string> volumeLabel(std::string_view root);

    // The share a drive ("C:") is connected to, as \\server\share, when its root lies on a
    // cifs, smb3 or nfs mount; nothing otherwise.
    static std::optional<std::string> networkName(std::string_view drive);

    // Sets the process's error mode and returns the one before. Nothing here ever shows a
    // critical-error dialog, so the mode is only kept.
    static unsigned setErrorMode(unsigned mode);

    // The network share of path under a mount table in /proc/self/mountinfo form.
    static std::optional<std::string> shareFromMountTable(std::string_view mountInfo,
                                                          const std::string& path);
    // Replaces /proc/self/mountinfo with text, for tests; nothing restores the real table.
    static void setMountTableForTesting(std::optional<std::string> mountInfo);
};

} // namespace platform
