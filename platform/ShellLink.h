#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

namespace platform {

// A shell link (shortcut) written as a ".lnk" file in Microsoft's published Shell Link binary
// format: a header, the target's location as link information, and the working directory and
// icon location as counted Unicode strings. Paths are Windows paths as the program keeps file
// names, in bytes: UTF-8 where they are valid UTF-8, the system's ANSI code page elsewhere.
class ShellLink {
public:
    // Sets the target. Its attributes, size and times are taken from the file it names on this
    // machine, when there is one, as the shell does.
    void SetPath(std::string path);
    void SetWorkingDirectory(std::string directory) { workingDirectory_ = std::move(directory); }
    void SetIconLocation(std::string iconPath, int iconIndex);

    const std::string& Path() const { return path_; }
    const std::string& WorkingDirectory() const { return workingDirectory_; }
    const std::string& IconLocation() const { return iconLocation_; }
    int IconIndex() const { return iconIndex_; }

    // The bytes of the ".lnk" file.
    std::string bytes() const;

    // Writes the link to a file of the host, atomically: on failure (missing or read-only
    // folder) the old file, if any, stays as it was and false is returned.
    bool Save(const std::filesystem::path& hostPath) const;

private:
    std::string path_;
    std::string workingDirectory_;
    std::string iconLocation_;
    int iconIndex_ = 0;

    // What the link remembers of its target.
    std::uint32_t targetAttributes_ = 0;
    std::uint32_t targetSize_ = 0;
    std::uint64_t targetCreationTime_ = 0;
    std::uint64_t targetAccessTime_ = 0;
    std::uint64_t targetWriteTime_ = 0;
};

} // namespace platform
