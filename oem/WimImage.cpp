#include "oem/WimImage.h"

#include "core/Exceptions.h"

#include <wimlib.h>

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include <array>
#include <fstream>
#include <mutex>

namespace oem {

namespace {

// The header version of a WIM whose data lies in solid blocks (an ESD).
constexpr std::uint32_t kSolidVersion = 0xE00;

// The most memory the library may ask for at once. Its largest real allocations (an image's
// whole directory tree, a solid block's chunk table) stay far below this; a damaged file can
// claim tables of many gigabytes in places that no check before opening it can reach, and the
// library turns a refused allocation into an error of its own.
constexpr std::size_t kMaxAllocation = std::size_t(1) << 30;

void* boundedMalloc(std::size_t size)
{
    return size > kMaxAllocation ? nullptr : std::malloc(size);
}

void* boundedRealloc(void* block, std::size_t size)
{
    return size > kMaxAllocation ? nullptr : std::realloc(block, size);
}

void initialise()
{
    static std::once_flag once;
    std::call_once(once, [] {
        wimlib_set_memory_allocator(boundedMalloc, std::free, boundedRealloc);
        // Windows matches paths without regard to case, and so does an image's lookup; the
        // program tells its own errors, so the library prints none.
        wimlib_global_init(WIMLIB_INIT_FLAG_DEFAULT_CASE_INSENSITIVE |
                           WIMLIB_INIT_FLAG_DONT_ACQUIRE_PRIVILEGES);
        wimlib_set_print_errors(false);
    });
}

// The WIM header as the format's documentation lays it out: 208 bytes at the start of the
// file, little-endian. Only what bounds the library's allocations is read.
constexpr std::size_t kHeaderSize = 208;
constexpr std::size_t kImageCountAt = 44;
// The resources that the library reads whole into memory (the blob table, the XML data,
// the boot metadata and the integrity table), each a 24-byte header: 7 bytes of stored size,
// a flags byte, an 8-byte offset and the 8-byte original size.
constexpr std::array<std::size_t, 4> kResourcesAt = {48, 72, 96, 124};
constexpr std::uint8_t kCompressedFlag = 0x04;
// A generous bound on how much a compressed table may grow when expanded.
constexpr std::uint64_t kMaxExpansion = 1024;
// The size of one blob table entry: every image needs at least one.
constexpr std::uint64_t kBlobEntrySize = 50;

std::uint64_t little(const unsigned char* bytes, int count)
{
    std::uint64_t value = 0;
    for (int i = count - 1; i >= 0; --i)
        value = value << 8 | bytes[i];
    return value;
}

// Refuses a file whose header names tables beyond its end or larger than it can hold: the
// library would allocate what the header says before finding out.
void checkHeader(const std::filesystem::path& file)
{
    std::ifstream in(file, std::ios::binary);
    unsigned char header[kHeaderSize];
    if (!in.read(reinterpret_cast<char*>(header), kHeaderSize))
        return; // too short for a WIM: the library tells so
    std::error_code error;
    const std::uint64_t fileSize = std::filesystem::file_size(file, error);
    if (error)
        return;
    const auto refuse = [&] {
        throw Exception(file.string() +
                        " cannot be used: its header names data that the file does not hold");
    };
    for (const std::size_t at : kResourcesAt) {
        const std::uint64_t stored = little(header + at, 7);
        const std::uint8_t flags = header[at + 7];
        const std::uint64_t offset = little(header + at + 8, 8);
        const std::uint64_t original = little(header + at + 16, 8);
        if (stored == 0 && offset == 0)
            continue;
        if (offset > fileSize || stored > fileSize - offset)
            refuse();
        const std::uint64_t bound = flags & kCompressedFlag ? stored * kMaxExpansion : stored;
        if (original > bound && original > stored)
            refuse();
    }
    if (little(header + kImageCountAt, 4) > fileSize / kBlobEntrySize)
        refuse();
}

// Refuses an image whose metadata (its directory tree, which the library reads whole) would
// grow beyond any real compression ratio or lies beyond the file's end.
int checkMetadata(const wimlib_resource_entry* entry, void* context)
{
    const auto fileSize = *static_cast<const std::uint64_t*>(context);
    if (!entry->is_metadata)
        return 0;
    const std::uint64_t bound =
        entry->is_compressed ? entry->compressed_size * kMaxExpansion : entry->compressed_size;
    if (entry->uncompressed_size > bound || entry->offset > fileSize ||
        entry->compressed_size > fileSize - entry->offset)
        return 1;
    return 0;
}

std::string reason(int code)
{
    const char* text = wimlib_get_error_string(static_cast<wimlib_error_code>(code));
    return text ? text : "error " + std::to_string(code);
}

} // namespace

WimImage::WimImage(const std::filesystem::path& file, Access access) : file_(file)
{
    initialise();
    if (access == Access::Write) {
        // Two writers would each append an update made from the image they read, and the
        // second would undo the first: a writer holds the file from before it reads until it
        // has committed. An open-file-description lock, so that neither wimlib's own lock nor
        // its closing of the file releases it.
        lock_.fd = ::open(file.c_str(), O_RDWR | O_CLOEXEC);
        struct flock whole {};
        whole.l_type = F_WRLCK;
        whole.l_whence = SEEK_SET;
        if (lock_.fd < 0 || ::fcntl(lock_.fd, F_OFD_SETLKW, &whole) != 0)
            throw Exception(file.string() + " cannot be used: " + std::strerror(errno));
    }
    checkHeader(file);
    const int flags = access == Access::Write ? WIMLIB_OPEN_FLAG_WRITE_ACCESS : 0;
    if (const int code =
            wimlib_open_wim(file.c_str(), flags | WIMLIB_OPEN_FLAG_ERROR_IF_SPLIT, &wim_))
        throw Exception(file.string() + " cannot be used: " + reason(code));
    std::error_code error;
    std::uint64_t fileSize = std::filesystem::file_size(file, error);
    if (!error && wimlib_iterate_lookup_table(wim_, 0, checkMetadata, &fileSize) != 0) {
        wimlib_free(wim_);
        throw Exception(file.string() +
                        " cannot be used: its header names data that the file does not hold");
    }
    wimlib_wim_info info{};
    wimlib_get_wim_info(wim_, &info);
    if (access == Access::Write && info.wim_version == kSolidVersion) {
        wimlib_free(wim_);
        throw Exception(file.string() +
                        " is a solid (ESD) image file: it can be shown and backed up but not "
                        "written");
    }
}

WimImage::~WimImage()
{
    wimlib_free(wim_);
}

WimImage::Descriptor::~Descriptor()
{
    if (fd >= 0)
        ::close(fd);
}

int WimImage::imageCount() const
{
    wimlib_wim_info info{};
    wimlib_get_wim_info(wim_, &info);
    return int(info.image_count);
}

std::string WimImage::imageName(int image) const
{
    const char* name = wimlib_get_image_name(wim_, image);
    return name ? name : "";
}

bool WimImage::extract(int image, const std::string& path,
                       const std::filesystem::path& folder) const
{
    // Only a file is copied: a folder (a Logo value naming C:\Windows, say) would bring the
    // whole tree below it out of the image.
    struct Found {
        bool isFolder = false;
        wimlib_resource_entry data{};
    } found;
    const int code = wimlib_iterate_dir_tree(
        wim_, image, path.c_str(), 0,
        [](const wimlib_dir_entry* entry, void* context) {
            auto& found = *static_cast<Found*>(context);
            found.isFolder = entry->attributes & WIMLIB_FILE_ATTRIBUTE_DIRECTORY;
            found.data = entry->streams[0].resource;
            return 0;
        },
        &found);
    if (code == WIMLIB_ERR_PATH_DOES_NOT_EXIST || (code == 0 && found.isFolder))
        return false;
    // The library writes out as many bytes as the file's entry claims: a damaged image could
    // fill the disk. What a file may hold is bounded by the bytes that store it (or the solid
    // block they lie in) and by what compression can make of them.
    const wimlib_resource_entry& data = found.data;
    const std::uint64_t stored =
        data.packed ? data.raw_resource_compressed_size : data.compressed_size;
    std::error_code error;
    const std::uint64_t fileSize = std::filesystem::file_size(file_, error);
    const std::uint64_t bound = data.packed || data.is_compressed ? stored * kMaxExpansion : stored;
    if (code == 0 && !data.is_missing &&
        ((!error && stored > fileSize) || data.uncompressed_size > bound))
        throw Exception(file_.string() + " cannot be read: " + path +
                        " claims more bytes than the file holds");
    const char* paths[] = {path.c_str()};
    const int extracted =
        wimlib_extract_paths(wim_, image, folder.c_str(), paths, 1, WIMLIB_EXTRACT_FLAG_NO_ACLS);
    if (extracted == WIMLIB_ERR_PATH_DOES_NOT_EXIST)
        return false;
    if (extracted)
        throw Exception(file_.string() + " cannot be read: " + reason(extracted));
    return true;
}

void WimImage::update(int image, const std::vector<Change>& changes)
{
    if (changes.empty())
        return;
    std::vector<std::string> sources;
    sources.reserve(changes.size());
    std::vector<std::string> targets;
    targets.reserve(changes.size());
    std::vector<wimlib_update_command> commands(changes.size());
    for (std::size_t i = 0; i < changes.size(); ++i) {
        targets.push_back(changes[i].path);
        if (changes[i].source) {
            sources.push_back(changes[i].source->string());
            commands[i].op = WIMLIB_UPDATE_OP_ADD;
            commands[i].add.fs_source_path = sources.back().data();
            commands[i].add.wim_target_path = targets.back().data();
            commands[i].add.config_file = nullptr;
            commands[i].add.add_flags = WIMLIB_ADD_FLAG_NO_ACLS;
        } else {
            sources.emplace_back();
            commands[i].op = WIMLIB_UPDATE_OP_DELETE;
            commands[i].delete_.wim_path = targets.back().data();
            commands[i].delete_.delete_flags = 0;
        }
    }
    if (const int code = wimlib_update_image(wim_, image, commands.data(), commands.size(), 0))
        throw Exception(file_.string() + " cannot be changed: " + reason(code));
    // Appending keeps every other byte of the file where it was and is far quicker than a
    // rebuild of a large image; the header is written last and only then does the change
    // count, so an interrupted write leaves the old file's contents in force.
    if (const int code = wimlib_overwrite(wim_, WIMLIB_WRITE_FLAG_FSYNC, 0))
        throw Exception(file_.string() + " cannot be written: " + reason(code));
}

} // namespace oem
