#include "shell/TShortcuts.h"

#include "platform/ShellLink.h"
#include "tests/support/TempPrefix.h"

#include <set>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

class TShortcutsTest : public TempPrefixTest {
protected:
    // Every file below the Windows folder, relative to it, with "/" separators.
    std::set<std::string> filesUnderWindows() const
    {
        std::set<std::string> files;
        for (const auto& entry : fs::recursive_directory_iterator(windowsDir()))
            if (entry.is_regular_file())
                files.insert(fs::relative(entry.path(), windowsDir()).generic_string());
        return files;
    }
};

TEST_F(TShortcutsTest, FlagCombinationsWriteTheirShortcutsAndNoOthers)
{
    struct Case {
        const char* name;
        bool desktop, startMenu, folderDesktop, folderStartMenu;
        const char* folder;
        std::set<std::string> expected;
    };
    const Case cases[] = {
        {"defaults", false, false, false, false, "Games", {"Start Menu/Programs/Games/App.lnk"}},
        {"FolderStartMenu", false, false, false, true, "Games", {"Start Menu/Games/App.lnk"}},
        {"FolderDesktop",
         false,
         false,
         true,
         false,
         "Games",
         {"Desktop/Games/App.lnk", "Start Menu/Programs/Games/App.lnk"}},
        {"Desktop, empty folder",
         true,
         false,
         false,
         false,
         "",
         {"Desktop/App.lnk", "Start Menu/Programs/App.lnk"}},
        {"StartMenu, empty folder",
         false,
         true,
         false,
         false,
         "",
         {"Start Menu/App.lnk", "Start Menu/Programs/App.lnk"}},
        {"everything",
         true,
         true,
         true,
         true,
         "Tools\\Mine",
         {"Desktop/Tools/Mine/App.lnk", "Start Menu/Programs/Tools/Mine/App.lnk",
          "Start Menu/Tools/Mine/App.lnk", "Desktop/App.lnk", "Start Menu/App.lnk"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::error_code ec;
        fs::remove_all(prefix(), ec);
        createDefaultPrefix();
        TShortcuts shortcuts;
        shortcuts.RunProgram = "C:\\Tools\\App.exe";
        shortcuts.ProgramName = "App";
        shortcuts.Folder = c.folder;
        shortcuts.Desktop = c.desktop;
        shortcuts.StartMenu = c.startMenu;
        shortcuts.FolderDesktop = c.folderDesktop;
        shortcuts.FolderStartMenu = c.folderStartMenu;
        shortcuts.CreateShortcuts();
        EXPECT_EQ(filesUnderWindows(), c.expected);

        platform::ShellLink expected;
        expected.SetPath("C:\\Tools\\App.exe");
        expected.SetWorkingDirectory("C:\\Tools\\");
        for (const std::string& file : c.expected)
            EXPECT_EQ(readFile(windowsDir() / file), expected.bytes()) << file;
    }
}

TEST_F(TShortcutsTest, MainWindowSettingsWriteProgramGroupAndDesktopShortcuts)
{
    createDefaultPrefix();
    TShortcuts shortcuts;
    shortcuts.ProgramName = "Crestwick";
    shortcuts.Desktop = true;
    shortcuts.RunProgram = TShortcuts::RunningProgram();
    shortcuts.CreateShortcuts();
    EXPECT_EQ(filesUnderWindows(),
              (std::set<std::string>{"Desktop/Crestwick.lnk", "Start Menu/Programs/Crestwick.lnk"}));
}

TEST_F(TShortcutsTest, RunningProgramIsTheExecutableSeenThroughTheDrives)
{
    createDefaultPrefix();
    const std::string program = TShortcuts::RunningProgram();
    EXPECT_EQ(program.rfind("Z:\\", 0), 0u) << program;
    EXPECT_EQ(program.substr(program.size() - std::string("crestwick_shell_tests").size()),
              "crestwick_shell_tests");
}

TEST_F(TShortcutsTest, WorkingDirectoryIsThePathUpToTheLastBackslashOrColon)
{
    const std::pair<const char*, const char*> cases[] = {
        {"C:\\Tools\\App.exe", "C:\\Tools\\"},
        {"C:App.exe", "C:"},
        {"App.exe", ""},
        {"\\\\server\\share\\x.exe", "\\\\server\\share\\"},
    };
    for (const auto& [path, directory] : cases)
        EXPECT_EQ(TShortcuts::ExtractFilePath(path), directory) << path;
}

TEST_F(TShortcutsTest, FolderListHoldsGroupsAndFilesButNoDotsOrShortcuts)
{
    createDefaultPrefix();
    const fs::path programs = windowsDir() / "Start Menu" / "Programs";
    fs::create_directories(programs / "Accessories");
    fs::create_directories(programs / "Esecuzione Automatica");
    fs::create_directories(programs / ".hidden");
    writeFile(programs / "Readme.lnk", "x");
    writeFile(programs / "old.LNK.bak", "x");
    writeFile(programs / "notes.txt", "x");
    TShortcuts shortcuts;
    std::set<std::string> names(shortcuts.FolderList().begin(),
                                shortcuts.FolderList().end());
    EXPECT_EQ(names, (std::set<std::string>{"Accessories", "Esecuzione Automatica", "notes.txt"}));
}

TEST_F(TShortcutsTest, FolderListIsEmptyWithoutAProgramGroupFolder)
{
    TShortcuts shortcuts;
    EXPECT_EQ(shortcuts.FolderList().Count(), 0);
}

TEST_F(TShortcutsTest, ReadOnlyOrMissingFolderSkipsThatShortcutOnly)
{
    createDefaultPrefix();
    const fs::path desktop = windowsDir() / "Desktop";
    ::chmod(desktop.c_str(), 0555);
    TShortcuts shortcuts;
    shortcuts.RunProgram = "C:\\App.exe";
    shortcuts.ProgramName = "App";
    shortcuts.Desktop = true;
    shortcuts.StartMenu = true; // directly in the Start menu: that folder exists
    fs::remove_all(windowsDir() / "Start Menu" / "Programs");
    shortcuts.CreateShortcuts();
    ::chmod(desktop.c_str(), 0755);
    // The program group is created again; the read-only desktop gets nothing, not even a
    // temporary file.
    EXPECT_EQ(filesUnderWindows(),
              (std::set<std::string>{"Start Menu/App.lnk", "Start Menu/Programs/App.lnk"}));
    EXPECT_TRUE(errors.empty());
}

} // namespace
