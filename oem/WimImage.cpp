#include "oem/WimImage.h"

#include "core/Exceptions.h"

#include <wimlib.h>

#include <mutex>

namespace oem {

namespace {

// The header version of a WIM whose data lies in solid blocks (an ESD).
constexpr std::uint32_t kSolidVersion = 0xE00;

void initialise()
{
    static std::once_flag once;
    std::call_once(once, [] {
        // Windows matches paths without regard to case, and so does an image's lookup; the
        // program tells its own errors, so the library prints none.
        wimlib_global_init(WIMLIB_INIT_FLAG_DEFAULT_CASE_INSENSITIVE |
                           WIMLIB_INIT_FLAG_DONT_ACQUIRE_PRIVILEGES);
        wimlib_set_print_errors(false);
    });
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
    const int flags = access == Access::Write ? WIMLIB_OPEN_FLAG_WRITE_ACCESS : 0;
    if (const int code =
            wimlib_open_wim(file.c_str(), flags | WIMLIB_OPEN_FLAG_ERROR_IF_SPLIT, &wim_))
        throw Exception(file.string() + " cannot be used: " + reason(code));
    wimlib_wim_info info{};
    wimlib_get_wim_info(wim_, &info);
    if (access == Access::Write && info.wim_version == kSolidVersion) {
        wimlib_free(wim_);
        throw Exception(file.string() +
                        " is a solid (ESD) image file: it can be shown and backed up but not "
                        "written");
    }
}

WimImage::~WimImage() { wimlib_free(wim_); }

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

bool WimImage::extract(int image, const std::string& path, const std::filesystem::path& folder) const
{
    const char* paths[] = {path.c_str()};
    const int code = wimlib_extract_paths(wim_, image, folder.c_str(), paths, 1,
                                          WIMLIB_EXTRACT_FLAG_NO_ACLS);
    if (code == WIMLIB_ERR_PATH_DOES_NOT_EXIST)
        return false;
    if (code)
        throw Exception(file_.string() + " cannot be read: " + reason(code));
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
