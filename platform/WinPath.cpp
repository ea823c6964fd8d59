#include "platform/WinPath.h"

#include "core/AsciiCase.h"
#include "platform/Prefix.h"

#include <system_error>
#include <vector>

namespace fs = std::filesystem;

namespace platform {

namespace {

std::vector<std::string_view> splitComponents(std::string_view path)
{
    std::vector<std::string_view> parts;
    std::size_t start = 0;
    for (std::size_t i = 0; i <= path.size(); ++i) {
        if (i == path.size() || path[i] == '\\' || path[i] == '/') {
            if (i > start)
                parts.push_back(path.substr(start, i - start));
            start = i + 1;
        }
    }
    return parts;
}

// The entry of folder named like component: the exact name when it exists, else the first
// entry equal to it without regard to case, else the component as written.
fs::path matchComponent(const fs::path& folder, std::string_view component)
{
    std::error_code ec;
    fs::path exact = folder / fs::path(std::string(component));
    if (fs::symlink_status(exact, ec).type() != fs::file_type::not_found)
        return exact;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (core::asciiEqualsIgnoreCase(name, component))
            return it->path();
    }
    return exact;
}

bool isDriveLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

} // namespace

std::optional<fs::path> WinPath::driveTarget(char letter)
{
    const auto link = Prefix::driveEntry(letter);
    if (!link)
        return std::nullopt;
    std::error_code ec;
    fs::path target = fs::canonical(*link, ec);
    if (ec || !fs::is_directory(target, ec))
        return std::nullopt;
    return target;
}

char WinPath::currentDrive()
{
    std::error_code ec;
    const fs::path cwd = fs::current_path(ec);
    if (ec)
        return 0;
    const std::string windowsForm = fromHost(cwd);
    return windowsForm.empty() ? 0 : core::asciiLower(windowsForm[0]);
}

std::optional<fs::path> WinPath::toHost(std::string_view windowsPath)
{
    // No Windows name holds a NUL, and the host's calls would end the path at it, so that
    // "\0:\sub" (a drive list with no drive selected) would stand for the current folder
    // below every one of its own subfolders.
    if (windowsPath.find('\0') != std::string_view::npos)
        return std::nullopt;
    fs::path base;
    std::string_view rest = windowsPath;
    if (rest.size() >= 2 && rest[1] == ':' && isDriveLetter(rest[0])) {
        auto target = driveTarget(rest[0]);
        if (!target)
            return std::nullopt;
        base = *target;
        rest.remove_prefix(2);
        // "x:name" is relative to the drive's current folder, which is its root here.
    } else if (!rest.empty() && (rest[0] == '\\' || rest[0] == '/')) {
        auto target = driveTarget(currentDrive());
        if (!target)
            return std::nullopt;
        base = *target;
    } else {
        std::error_code ec;
        base = fs::current_path(ec);
        if (ec)
            return std::nullopt;
    }

    fs::path result = base;
    std::vector<fs::path> stack;
    for (std::string_view component : splitComponents(rest)) {
        if (component == ".")
            continue;
        if (component == "..") {
            if (!stack.empty()) {
                stack.pop_back();
                result = stack.empty() ? base : stack.back();
            }
            continue;
        }
        result = matchComponent(result, component);
        stack.push_back(result);
    }
    return result;
}

bool WinPath::isRegularFile(std::string_view windowsPath)
{
    std::error_code ec;
    const auto host = toHost(windowsPath);
    return host && fs::is_regular_file(*host, ec);
}

std::string WinPath::fromHost(const fs::path& hostPath)
{
    std::error_code ec;
    fs::path full = fs::weakly_canonical(fs::absolute(hostPath, ec), ec);
    if (ec)
        return {};
    char best = 0;
    fs::path bestTarget;
    for (char letter = 'a'; letter <= 'z'; ++letter) {
        auto target = driveTarget(letter);
        if (!target)
            continue;
        auto relative = full.lexically_relative(*target);
        if (relative.empty() || *relative.begin() == "..")
            continue;
        if (best == 0 || std::distance(target->begin(), target->end()) >
                             std::distance(bestTarget.begin(), bestTarget.end())) {
            best = letter;
            bestTarget = *target;
        }
    }
    if (best == 0)
        return {};
    std::string out(1, core::asciiUpper(best));
    out += ":";
    for (const auto& part : full.lexically_relative(bestTarget)) {
        if (part == ".")
            continue;
        out += "\\";
        out += part.string();
    }
    if (out.size() == 2)
        out += "\\";
    return out;
}

} // namespace platform
