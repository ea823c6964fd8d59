#include "platform/Profile.h"

#include "platform/AtomicFile.h"
#include "platform/ProfileText.h"
#include "platform/WinPath.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <vector>

namespace fs = std::filesystem;

namespace platform {

namespace {

constexpr std::string_view kWindowsDirectory = "C:\\WINDOWS\\";
constexpr const char* kDefaultProfile = "win.ini";

// The host file a profile name stands for; nothing when it names a drive that does not exist.
std::optional<fs::path> hostPath(const char* fileName)
{
    std::string name = fileName ? fileName : kDefaultProfile;
    if (name.find_first_of("\\/:") == std::string::npos)
        name.insert(0, kWindowsDirectory);
    return WinPath::toHost(name);
}

enum class FileState { Missing, Loaded, Unreadable };

FileState load(const fs::path& path, std::string& bytes)
{
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        return errno == ENOENT || errno == ENOTDIR ? FileState::Missing : FileState::Unreadable;
    if (!S_ISREG(st.st_mode))
        return FileState::Unreadable;
    return readWholeFile(path, bytes) ? FileState::Loaded : FileState::Unreadable;
}

unsigned copyText(std::string_view text, char* buffer, unsigned size)
{
    if (!buffer || size == 0)
        return 0;
    const std::size_t count = std::min<std::size_t>(text.size(), size - 1);
    std::memcpy(buffer, text.data(), count);
    buffer[count] = '\0';
    return unsigned(count);
}

// Copies names as a list: each followed by a NUL, the whole followed by one more. A list that
// does not fit, or that fills the buffer exactly, is cut to size - 2 characters and still ends in
// two NULs; the result is then size - 2.
unsigned copyList(const std::vector<std::string>& names, char* buffer, unsigned size)
{
    if (!buffer || size == 0)
        return 0;
    if (size == 1) {
        buffer[0] = '\0';
        return 0;
    }
    std::size_t pos = 0;
    for (const std::string& name : names) {
        if (pos + name.size() + 2 >= size) {
            // The last name that fits in part is cut and the list still ends in two NULs.
            if (pos < size - 2)
                std::memcpy(buffer + pos, name.data(), size - 2 - pos);
            buffer[size - 2] = '\0';
            buffer[size - 1] = '\0';
            return size - 2;
        }
        std::memcpy(buffer + pos, name.data(), name.size());
        pos += name.size();
        buffer[pos++] = '\0';
    }
    buffer[pos] = '\0';
    return unsigned(pos);
}

// The default as a reader receives it: without its trailing spaces, except that a default made
// only of spaces keeps its first one, as Windows gives it.
std::string_view withoutTrailingSpaces(const char* text)
{
    std::string_view s = text ? text : "";
    while (s.size() > 1 && s.back() == ' ')
        s.remove_suffix(1);
    return s;
}

} // namespace

unsigned GetPrivateProfileStringA(const char* section, const char* key, const char* defaultValue,
                                  char* buffer, unsigned size, const char* fileName)
{
    if (!buffer || size == 0)
        return 0;
    std::string bytes;
    const std::optional<fs::path> path = hostPath(fileName);
    const bool loaded = path && load(*path, bytes) == FileState::Loaded;

    if (!section)
        return copyList(loaded ? ProfileText::sectionNames(bytes) : std::vector<std::string>{},
                        buffer, size);
    if (loaded) {
        // A key list of a section that is not there is the default, like a missing value.
        if (!key) {
            if (const auto names = ProfileText::keyNames(bytes, section))
                return copyList(*names, buffer, size);
        } else if (const auto value = ProfileText::value(bytes, section, key, size - 1)) {
            return copyText(*value, buffer, size);
        }
    }
    return copyText(withoutTrailingSpaces(defaultValue), buffer, size);
}

bool WritePrivateProfileStringA(const char* section, const char* key, const char* value,
                                const char* fileName)
{
    if (!section)
        return false;
    const std::optional<fs::path> path = hostPath(fileName);
    std::string bytes;
    const FileState state = path ? load(*path, bytes) : FileState::Missing;
    if (state == FileState::Unreadable)
        return false;

    if (key && value) {
        if (!path || !ProfileText::canStore(section, key, value))
            return false;
        return writeFileAtomically(*path, ProfileText::writeValue(bytes, section, key, value));
    }

    // Deleting what is not there succeeds and writes nothing, so that no file is created.
    if (state == FileState::Missing)
        return true;
    const std::optional<std::string> edited = key ? ProfileText::deleteKey(bytes, section, key)
                                                  : ProfileText::deleteSection(bytes, section);
    return !edited || writeFileAtomically(*path, *edited);
}

} // namespace platform
