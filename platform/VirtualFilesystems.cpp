#include "platform/VirtualFilesystems.h"

#include "platform/AtomicFile.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <array>
#include <charconv>

namespace platform {

namespace {

// The filesystems that hold only what the kernel makes up.
constexpr std::array<std::string_view, 17> kVirtualTypes = {
    "proc",    "sysfs",   "cgroup",     "cgroup2", "devpts",     "devtmpfs",
    "debugfs", "tracefs", "securityfs", "pstore",  "bpf",        "configfs",
    "fusectl", "mqueue",  "hugetlbfs",  "autofs",  "binfmt_misc"};

bool isVirtualType(std::string_view type)
{
    for (std::string_view known : kVirtualTypes)
        if (type == known)
            return true;
    return false;
}

// The next field of a line, up to a space; the line moves past it and the space.
std::string_view nextField(std::string_view& line)
{
    const std::size_t space = line.find(' ');
    const std::string_view field = line.substr(0, space);
    line = space == std::string_view::npos ? std::string_view() : line.substr(space + 1);
    return field;
}

// A mount point as mountinfo writes it: space, tab, line break and backslash as "\ooo".
std::string unescape(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 3 < text.size()) {
            int value = 0;
            bool octal = true;
            for (std::size_t j = 1; j <= 3; ++j) {
                if (text[i + j] < '0' || text[i + j] > '7') {
                    octal = false;
                    break;
                }
                value = value * 8 + (text[i + j] - '0');
            }
            if (octal && value < 256) {
                out += char(value);
                i += 3;
                continue;
            }
        }
        out += text[i];
    }
    return out;
}

bool parseNumber(std::string_view text, std::uint32_t& number)
{
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), number);
    return error == std::errc() && end == text.data() + text.size() && !text.empty();
}

} // namespace

VirtualFilesystems VirtualFilesystems::fromMountInfo(std::string_view text)
{
    VirtualFilesystems table;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);

        // mount id, parent id, major:minor, root, mount point, options, optional fields up to
        // "-", then the filesystem type.
        nextField(line);
        nextField(line);
        const std::string_view device = nextField(line);
        nextField(line);
        const std::string_view mountPoint = nextField(line);
        const std::size_t separator = line.find(" - ");
        if (separator == std::string_view::npos)
            continue;
        line = line.substr(separator + 3);
        if (!isVirtualType(nextField(line)))
            continue;
        const std::size_t colon = device.find(':');
        std::uint32_t major = 0, minor = 0;
        if (colon == std::string_view::npos || !parseNumber(device.substr(0, colon), major) ||
            !parseNumber(device.substr(colon + 1), minor))
            continue;
        const std::string point = unescape(mountPoint);
        const std::size_t slash = point.find_last_of('/');
        const std::string name = slash == std::string::npos ? point : point.substr(slash + 1);
        if (name.empty())
            continue; // the root itself is never passed over
        table.devices_.insert({major, minor});
        table.names_.insert(name);
    }
    return table;
}

VirtualFilesystems VirtualFilesystems::current()
{
    std::string text;
    if (!readWholeFile("/proc/self/mountinfo", text))
        return {};
    return fromMountInfo(text);
}

bool VirtualFilesystems::holds(const std::filesystem::path& path) const
{
    struct statx st {};
    if (::statx(AT_FDCWD, path.c_str(), AT_SYMLINK_NOFOLLOW, 0, &st) != 0)
        return false;
    return isVirtualDevice(st.stx_dev_major, st.stx_dev_minor);
}

} // namespace platform
