#pragma once

#include <filesystem>

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

    // Creates a missing prefix as a fresh one: drives c: and z:, the Windows folders and a
    // system.reg that names C:\WINDOWS as the system root. An existing prefix is left alone.
    // Returns false when the prefix could not be created.
    static bool ensureExists();
};

} // namespace platform
