#include "shell/TShortcuts.h"

#include "core/AsciiCase.h"
#include "platform/FileAttributes.h"
#include "platform/FileSearch.h"
#include "platform/ShellLink.h"
#include "platform/WinPath.h"

#include <system_error>

#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

// The platform's Windows directory; the buffer it is read into holds 144 characters.
constexpr std::size_t kMaxWindowsDirectory = 144;
const char* const kWindowsDirectory = "C:\\WINDOWS";

bool folderExists(const std::string& windowsPath)
{
    const auto host = platform::WinPath::toHost(windowsPath);
    if (!host)
        return false;
    const auto attributes = platform::FileAttributes::get(*host);
    return attributes && (*attributes & platform::kAttrDirectory);
}

// Creates a folder and the missing folders above it; failure is not reported.
void forceDirectories(const std::string& windowsPath)
{
    const auto host = platform::WinPath::toHost(windowsPath);
    if (!host)
        return;
    std::error_code ec;
    fs::create_directories(*host, ec);
}

void saveLink(const platform::ShellLink& link, const std::string& windowsPath)
{
    if (const auto host = platform::WinPath::toHost(windowsPath))
        link.Save(*host);
}

// Saves into a folder of the user's own: Wine makes the user's desktop a link to the desktop of
// the Linux user, outside the system. Such a link is followed when the user running the
// program owns it, as the system's own links are; the shortcut is then written where it leads.
void saveLinkInUserFolder(const platform::ShellLink& link, const std::string& windowsPath)
{
    const auto host = platform::WinPath::toHost(windowsPath);
    if (!host)
        return;
    const fs::path folder = host->parent_path();
    struct stat st {};
    std::error_code ec;
    if (::lstat(folder.c_str(), &st) == 0 && S_ISLNK(st.st_mode) && st.st_uid == ::geteuid())
        if (const fs::path target = fs::canonical(folder, ec);
            !ec && fs::is_directory(target, ec)) {
            link.Save(target / host->filename());
            return;
        }
    link.Save(*host);
}

} // namespace

TShortcuts::TShortcuts(QObject* owner) : QObject(owner) { listFolders(); }

std::string TShortcuts::WindowsDirectory()
{
    std::string directory = kWindowsDirectory;
    if (directory.size() >= kMaxWindowsDirectory)
        directory.resize(kMaxWindowsDirectory - 1);
    return directory;
}

std::string TShortcuts::RunningProgram()
{
    std::error_code ec;
    const fs::path self = fs::read_symlink("/proc/self/exe", ec);
    return ec ? std::string() : platform::WinPath::fromHost(self);
}

std::string TShortcuts::ExtractFilePath(const std::string& path)
{
    const std::size_t cut = path.find_last_of("\\:");
    return cut == std::string::npos ? std::string() : path.substr(0, cut + 1);
}

void TShortcuts::listFolders()
{
    folderList_.Clear();
    platform::FileSearch search;
    constexpr std::uint32_t kNotListed =
        platform::kAttrHidden | platform::kAttrSystem | platform::kAttrVolumeId;
    for (bool found = search.findFirst(WindowsDirectory() + "\\Start Menu\\Programs\\*.*"); found;
         found = search.findNext()) {
        const std::string& name = search.name();
        if (name.empty() || name[0] == '.')
            continue;
        if (core::AsciiUpperCase(name).find(".LNK") != std::string::npos)
            continue;
        if (search.attributes() & kNotListed)
            continue;
        folderList_.Add(name);
    }
    search.findClose();
}

void TShortcuts::CreateShortcuts()
{
    const std::string windows = WindowsDirectory();
    platform::ShellLink link;
    link.SetPath(RunProgram);
    link.SetWorkingDirectory(ExtractFilePath(RunProgram));
    link.SetIconLocation(IconFile, 0);

    const std::string linkName = ProgramName + ".lnk";
    // Each place: the user's own folder when given, else the Windows directory's.
    const auto place = [&](const std::string& own, const char* layout) {
        return own.empty() ? windows + layout : own + "\\";
    };
    const std::string desktop = place(DesktopFolder, "\\Desktop\\");
    const std::string startMenu = place(StartMenuFolder, "\\Start Menu\\");
    const std::string programs = place(ProgramsFolder, "\\Start Menu\\Programs\\");
    const auto save = [&](const std::string& path, const std::string& own) {
        if (own.empty())
            saveLink(link, path);
        else
            saveLinkInUserFolder(link, path);
    };
    auto folderShortcut = [&](const std::string& base, const std::string& own) {
        const std::string folder = base + (Folder.empty() ? std::string() : Folder + "\\");
        if (!folderExists(folder) && CreateFolders)
            forceDirectories(folder);
        save(folder + linkName, Folder.empty() ? own : std::string());
    };

    if (FolderDesktop) {
        folderShortcut(desktop, DesktopFolder);
        folderShortcut(programs, ProgramsFolder);
    }
    if (FolderStartMenu)
        folderShortcut(startMenu, StartMenuFolder);
    if (!FolderDesktop && !FolderStartMenu)
        folderShortcut(programs, ProgramsFolder);
    if (Desktop)
        save(desktop + linkName, DesktopFolder);
    if (StartMenu)
        save(startMenu + linkName, StartMenuFolder);
}
