#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

struct WIMStruct;

namespace oem {

// A Windows image file (WIM, or a solid ESD) opened through wimlib: single files of one of
// its images copied out, and files replaced or removed in one image in one update. Paths
// inside an image are matched without regard to letter case, as Windows matches them.
class WimImage {
public:
    enum class Access { Read, Write };

    // Opens the file. Raises Exception "<file> cannot be used: <wimlib's reason>" for a file
    // that is missing, damaged or no WIM, and, for Write, "<file> is a solid (ESD) image
    // file: it can be shown and backed up but not written" for a file whose data lies in
    // solid blocks, which wimlib cannot extend in place.
    WimImage(const std::filesystem::path& file, Access access);
    ~WimImage();
    WimImage(const WimImage&) = delete;
    WimImage& operator=(const WimImage&) = delete;

    const std::filesystem::path& file() const { return file_; }
    int imageCount() const;
    // The image's name from the file's XML data; empty when it has none.
    std::string imageName(int image) const;

    // Copies the file at path (slashes or backslashes, no drive) of image (1-based) into
    // folder, with the image's folders leading to it. False when the image has no such file
    // or the path names a folder.
    bool extract(int image, const std::string& path, const std::filesystem::path& folder) const;

    // A change of one file of an image: replaced by the host file source, or removed.
    struct Change {
        std::string path;
        std::optional<std::filesystem::path> source;
    };
    // Makes the changes to image in one update and commits it. The commit appends the new
    // data and tables to the file and then rewrites its header, which is what makes them
    // visible: until then every reader sees the old image, and a failure leaves the old one.
    // The file keeps its other images, compression and integrity table.
    void update(int image, const std::vector<Change>& changes);

private:
    std::filesystem::path file_;
    // A file descriptor closed with its owner, also when the constructor fails.
    struct Descriptor {
        int fd = -1;
        Descriptor() = default;
        Descriptor(const Descriptor&) = delete;
        Descriptor& operator=(const Descriptor&) = delete;
        ~Descriptor();
    };
    Descriptor lock_; // held by a writer from opening to committing
    WIMStruct* wim_ = nullptr;
};

} // namespace oem
