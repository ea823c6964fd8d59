#include "shell/TShortcuts.h"

#include "core/AsciiCase.h"
#include "platform/FileAttributes.h"
#include "platform/FileSearch.h"
#include "platform/ShellLink.h"
#include "platform/WinPath.h"

#include <system_error>

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
    auto folderShortcut = [&](const std::string& base) {
        const std::string folder = base + (Folder.empty() ? std::string() : Folder + "\\");
        if (!folderExists(folder))
            forceDirectories(folder);
        saveLink(link, folder + linkName);
    };

    if (FolderDesktop) {
        folderShortcut(desktop);
        folderShortcut(programs);
    }
    if (FolderStartMenu)
        folderShortcut(startMenu);
    if (!FolderDesktop && !FolderStartMenu)
        folderShortcut(programs);
    if (Desktop)
        saveLink(link, desktop + linkName);
    if (StartMenu)
        saveLink(link, startMenu + linkName);
}
