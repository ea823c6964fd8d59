#pragma once

#include <filesystem>

namespace platform {

// A folder whose files are a working copy that something else makes durable: an image laid
// out for a save, which goes back into its WIM file in one update that is itself flushed.
// While an object lives, replacements of files under its folder are not flushed to disk one
// by one; a crash before the update leaves the image as it was whatever the copy holds.
class ScratchFolder {
public:
    explicit ScratchFolder(const std::filesystem::path& folder);
    ~ScratchFolder();
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    // Whether file lies under a folder that is scratch now.
    static bool holds(const std::filesystem::path& file);

private:
    std::filesystem::path folder_;
};

} // namespace platform
