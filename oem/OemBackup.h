#pragma once

#include "oem/OemSystem.h"

#include <filesystem>
#include <functional>
#include <string>

namespace oem {

// A backup of a system's OEM data in a folder of its own: manifest.txt (the generation and
// which files existed), a copy of each OEM file that existed, and on NT 6 the OEMInformation
// values as OEMInformation.reg in the Windows Registry Editor 5.00 format, so that
// hivexregedit --merge or Windows' reg import can apply it too. Backups hold copies of
// another user's files and may be read by root, so nothing here follows a link.
class OemBackup {
public:
    // Writes the snapshot into folder, which is made with mode 0700, or taken when it is empty
    // or holds an earlier backup (replaced only when force is given) and then set to 0700.
    // Each copy keeps its original's mode; copied is called with the name of each file copied.
    static void write(const std::filesystem::path& folder, const OemSnapshot& snapshot,
                      bool force, const std::function<void(const std::string&)>& copied);

    // Reads and checks the backup in folder for a system of the given generation: no links, no
    // file larger than 64 MiB, only the OEM files and text values that write puts there, and a
    // backup of the same generation. Raises "Not a crestwick-oem backup: <folder>" or a message
    // of its own for anything else; nothing is written.
    static OemSnapshot read(const std::filesystem::path& folder, Generation generation);
};

} // namespace oem
