#pragma once

#include <filesystem>
#include <optional>
#include <vector>

namespace platform {

// The directory that stands in for the Windows machine: laid out as Wine lays out a prefix,
// with dosdevices/ holding one link per drive and system.reg / user.reg holding the registry.
class Prefix {
public:
    // $WINEPREFIX when set, else ${XDG_DATA_HOME:-~/.local/share}/crestwick. Read afresh on
    // every call, so that a test may point it elsewhere at any time.
    static std::filesystem::path root();
    static std::filesystem::path dosdevices() { return root() / "dosdevices"; }
    static std::filesystem::path systemReg() { return root() / "system.reg"; }
    static std::filesystem::path userReg() { return root() / "user.reg"; }

    // True when the prefix is a mounted Windows volume itself: a folder holding
    // Windows\System32\config\SOFTWARE (in any letter case) and no system.reg. Such a
    // folder is drive c:, z: is "/", and nothing is ever created in it.
    static bool isWindowsVolume();

    // True when the folder holds a Windows system of some kind: a system.reg, a Windows
    // volume, or at least one drive in dosdevices/. An empty folder, or one that holds
    // anything else, is none: its registry would read as empty and its Windows paths would
    // lead nowhere.
    static bool holdsSystem();

    // The SOFTWARE hive of the Windows installation whose registry stands for
    // HKEY_LOCAL_MACHINE\Software: present when the prefix has no system.reg and either is a
    // Windows volume or has a drive c: that leads to one. Nothing for a Wine-style prefix.
    static std::optional<std::filesystem::path> softwareHive();

    // Where a drive letter (either case) leads before links are resolved: the entry
    // dosdevices/x: of a Wine-style prefix; the volume for c: and "/" for z: when the prefix
    // is a Windows volume. Nothing for a letter that is not a drive letter or, on a volume,
    // any letter but c and z. The entry itself may be missing.
    static std::optional<std::filesystem::path> driveEntry(char letter);

    // The folders that make up the system, resolved now: the prefix itself and the folder that
    // drive c: leads to (the Windows volume, a mounted disk, or the prefix's drive_c). Drive
    // links are the system's own layout: whoever set up the prefix chose them, so the one
    // that holds the Windows directory counts as part of the system, and it is resolved once
    // here, for each step that asks, never again between a check and the step itself. Other
    // drives (z: is the whole Linux root) are not part of the system.
    static std::vector<std::filesystem::path> systemTree();
    // True when a resolved path lies inside one of the folders of systemTree().
    static bool inSystemTree(const std::filesystem::path& resolved);

    // Creates a missing prefix as a fresh one: drives c: and z:, the Windows folders and a
    // system.reg that names C:\WINDOWS as the system root. An existing prefix is left alone.
    // A Windows volume counts as existing, so nothing is created in it.
    // Returns false when the prefix could not be created.
    static bool ensureExists();
};

} // namespace platform
