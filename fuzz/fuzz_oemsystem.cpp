// A hostile Windows system: the input is its registry, its oeminfo.ini and its logo together,
// written into a temporary machine, which is then recognised and read the way the window, the
// System Properties program and the command-line tool read it. Every failure must be one of
// the system's own errors; nothing may crash or hang.
//
// Input: the registry's length and the ini file's length (16-bit little-endian each), the
// registry, the ini file, then the logo. A registry that starts as a hive ("regf") makes the
// machine a mounted Windows volume; any other registry is the prefix's system.reg.
#include "core/Exceptions.h"
#include "desktop/QtImage.h"
#include "imaging/TBitmap.h"
#include "oem/OemSystem.h"

#include "HugePicture.h"
#include "TemporaryFolder.h"

#include <stdlib.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>

namespace fs = std::filesystem;

namespace {

// Two machines of each kind, used in turn: the registry functions keep the hive they read last
// until its file changes, and a file rewritten in the same instant may look unchanged.
struct Machines {
    TemporaryFolder folder{"fuzz-oemsystem"};
    fs::path prefix[2];
    fs::path volume[2];

    Machines()
    {
        for (int i = 0; i < 2; ++i) {
            prefix[i] = folder.path() / ("prefix" + std::to_string(i));
            fs::create_directories(prefix[i] / "dosdevices");
            fs::create_symlink("../drive_c", prefix[i] / "dosdevices" / "c:");
            volume[i] = folder.path() / ("volume" + std::to_string(i));
            fs::create_directories(volume[i] / "Windows" / "System32" / "config");
        }
    }
};

void put(const fs::path& file, std::string_view bytes)
{
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), std::streamsize(bytes.size()));
}

const Machines& machines()
{
    static const Machines m;
    return m;
}

// The OEM files in every folder that a generation may take for the system folder.
void putOemFiles(const fs::path& windows, std::string_view ini, std::string_view logo)
{
    for (const char* folder : {"system", "System32"}) {
        fs::create_directories(windows / folder);
        put(windows / folder / "oeminfo.ini", ini);
        put(windows / folder / "oemlogo.bmp", logo);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 4)
        return 0;
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const std::size_t registrySize = std::min<std::size_t>(data[0] | data[1] << 8, size - 4);
    const std::size_t iniSize =
        std::min<std::size_t>(data[2] | data[3] << 8, size - 4 - registrySize);
    const std::string_view registry = bytes.substr(4, registrySize);
    const std::string_view ini = bytes.substr(4 + registrySize, iniSize);
    const std::string_view logo = bytes.substr(4 + registrySize + iniSize);
    if (claimsHugePicture(reinterpret_cast<const std::uint8_t*>(logo.data()), logo.size()))
        return 0;

    static int turn = 0;
    turn = 1 - turn;
    const Machines& m = machines();
    fs::path root;
    if (registry.starts_with("regf")) {
        root = m.volume[turn];
        put(root / "Windows" / "System32" / "config" / "SOFTWARE", registry);
        putOemFiles(root / "Windows", ini, logo);
    } else {
        root = m.prefix[turn];
        put(root / "system.reg", registry);
        putOemFiles(root / "drive_c" / "windows", ini, logo);
    }
    ::setenv("WINEPREFIX", root.c_str(), 1);

    for (const auto whenMissing : {oem::OemSystem::MissingRoot::CurrentDriveRoot,
                                   oem::OemSystem::MissingRoot::WindowsDirectory}) {
        try {
            const oem::OemSystem system = oem::OemSystem::describe(whenMissing);
            (void)system.readSheet();
            (void)system.readInfo({"Maker", "Model", std::nullopt, "Line 2"});
            if (const auto bitmap = system.readLogo())
                (void)toQImage(*bitmap);
        } catch (const Exception&) {
        }
    }
    return 0;
}
