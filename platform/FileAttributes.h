#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

struct stat;

namespace platform {

// The attribute bits of a file as Windows gives them.
enum FileAttributeBits : std::uint32_t {
    kAttrReadOnly = 0x01,
    kAttrHidden = 0x02,
    kAttrSystem = 0x04,
    kAttrVolumeId = 0x08,
    kAttrDirectory = 0x10,
    kAttrArchive = 0x20,
    kAttrReparsePoint = 0x400,
};

// A file's Windows attributes, kept where Wine and Samba keep them: the extended attribute
// user.DOSATTRIB holding "0x%x". A file without it gets attributes derived from what the
// host knows: directory or archive, hidden for a name that starts with ".", read-only when the
// user may not write it. The directory bit always follows the file's real type.
class FileAttributes {
public:
    // The attributes of the file at path (links are followed), or nothing when it is missing.
    static std::optional<std::uint32_t> get(const std::filesystem::path& path);

    // Stores attributes in user.DOSATTRIB and sets or clears the write permission to match the
    // read-only bit. False when the file is missing or its filesystem keeps no extended
    // attributes (the permission is then left as it was).
    static bool set(const std::filesystem::path& path, std::uint32_t attributes);

    // The attributes derived from the host alone, for a file of the given kind and name.
    static std::uint32_t derive(const std::filesystem::path& path, bool isDirectory);

    // The attributes of a file whose status is known already (links followed), as get() gives
    // them; readOnlyFilesystem tells whether the file lies on a read-only mount.
    static std::uint32_t fromStatus(const std::filesystem::path& path, const struct stat& status,
                                    bool readOnlyFilesystem);

    // The same for the entry name of the open directory directoryFd, whose type, permission
    // bits and owner are known already (links followed): the attribute is read relative to the
    // directory, without the kernel walking the whole path again. hostDirectory (ending in "/")
    // names the directory for kernels that cannot read attributes relative to it.
    static std::uint32_t fromEntry(int directoryFd, const std::string& hostDirectory,
                                   const char* name, std::uint32_t mode, std::uint32_t owner,
                                   bool readOnlyFilesystem);

    // Reads "0x%x" from user.DOSATTRIB of path without following a final link; nothing when
    // the attribute is absent or unreadable.
    static std::optional<std::uint32_t> readStored(const std::filesystem::path& path,
                                                   bool followLinks);
};

} // namespace platform
