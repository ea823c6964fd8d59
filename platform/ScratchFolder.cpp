#include "platform/ScratchFolder.h"

#include <algorithm>
#include <mutex>
#include <vector>

namespace fs = std::filesystem;

namespace platform {

namespace {

std::mutex foldersMutex;
std::vector<fs::path> folders;

// Whether path names folder or something below it, compared by the names alone: a path that
// reaches the folder another way is flushed, the safe side.
bool within(const fs::path& path, const fs::path& folder)
{
    const auto [end, inside] =
        std::mismatch(folder.begin(), folder.end(), path.begin(), path.end());
    return end == folder.end();
}

} // namespace

ScratchFolder::ScratchFolder(const fs::path& folder) : folder_(folder.lexically_normal())
{
    if (folder_.has_parent_path() && folder_.filename().empty()) // "/a/b/" names /a/b
        folder_ = folder_.parent_path();
    std::lock_guard lock(foldersMutex);
    folders.push_back(folder_);
}

ScratchFolder::~ScratchFolder()
{
    std::lock_guard lock(foldersMutex);
    folders.erase(std::find(folders.begin(), folders.end(), folder_));
}

bool ScratchFolder::holds(const fs::path& file)
{
    if (!file.is_absolute())
        return false;
    const fs::path normal = file.lexically_normal();
    std::lock_guard lock(foldersMutex);
    return std::any_of(folders.begin(), folders.end(),
                       [&](const fs::path& folder) { return within(normal, folder); });
}

} // namespace platform
