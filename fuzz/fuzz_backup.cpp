// A hostile backup folder, as restore reads it: the input is its manifest, its registry file and
// the two OEM file copies, written into a folder that is then read and checked for a system of
// one of the generations. Every failure must be one of the program's own errors; nothing may
// crash, hang or take more memory than the backup's files hold.
//
// Input: the generation (one byte), then the lengths of the manifest, the registry file and
// oeminfo.ini (16-bit little-endian each), the three files, then the logo. A file of length 0
// is left out of the folder, so that a manifest may name a file that is missing.
#include "core/Exceptions.h"
#include "oem/OemBackup.h"

#include "TemporaryFolder.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>

namespace fs = std::filesystem;

namespace {

void put(const fs::path& file, std::string_view bytes)
{
    std::error_code ignored;
    fs::remove(file, ignored);
    if (bytes.empty())
        return;
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), std::streamsize(bytes.size()));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 7)
        return 0;
    static const TemporaryFolder folder("fuzz-backup");
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    std::size_t at = 7;
    const auto piece = [&](int lengthAt) {
        const std::size_t wanted = data[lengthAt] | data[lengthAt + 1] << 8;
        const std::string_view part = bytes.substr(at, std::min(wanted, size - at));
        at += part.size();
        return part;
    };
    const auto generation = oem::Generation(data[0] % 3);
    put(folder.path() / "manifest.txt", piece(1));
    put(folder.path() / "OEMInformation.reg", piece(3));
    put(folder.path() / "oeminfo.ini", piece(5));
    put(folder.path() / "oemlogo.bmp", bytes.substr(at));
    try {
        (void)oem::OemBackup::read(folder.path(), generation);
    } catch (const Exception&) {
    }
    return 0;
}
