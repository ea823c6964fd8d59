#pragma once

#include "core/TStringList.h"

#include <QObject>

#include <string>

// Writes shortcut files (".lnk") that start a program: directly on the desktop, directly in the
// Start menu, and in a named folder of the program group, the Start menu or the desktop. Every
// place is built from the Windows directory with the fixed folders "\Desktop\", "\Start Menu\"
// and "\Start Menu\Programs\", unless the user's own folders are given. At construction it
// lists the program group's folders.
class TShortcuts : public QObject {
public:
    explicit TShortcuts(QObject* owner = nullptr);

    // Full Windows path of the program the shortcuts start.
    std::string RunProgram;
    // The folder (program group) of the folder shortcuts; may be empty.
    std::string Folder;
    // The shortcut's file name without ".lnk".
    std::string ProgramName;
    bool Desktop = false;
    bool StartMenu = false;
    bool FolderDesktop = false;
    bool FolderStartMenu = false;
    // The file that holds the shortcut's icon (index 0); empty for the target's own icon.
    std::string IconFile;
    // The user's own desktop, Start menu and program group folders as Windows paths without
    // a final "\", which replace the Windows directory's "\Desktop", "\Start Menu" and
    // "\Start Menu\Programs" when given. Such a folder exists already and is never created.
    std::string DesktopFolder;
    std::string StartMenuFolder;
    std::string ProgramsFolder;
    // Whether a missing folder is created for a shortcut; when not, that shortcut is skipped.
    bool CreateFolders = true;

    // The names in the program-group folder, less shortcuts and names starting with ".".
    TStringList& FolderList() { return folderList_; }
    const TStringList& FolderList() const { return folderList_; }

    // Writes the shortcuts that the properties select. A shortcut whose folder is missing or
    // read-only is skipped silently; the others are still written.
    void CreateShortcuts();

    // The running executable as Windows sees it through the drives ("Z:\...\crestwick").
    static std::string RunningProgram();
    // The directory part of a Windows path: up to and including its last "\" or ":".
    static std::string ExtractFilePath(const std::string& path);
    // The Windows directory, without a trailing backslash.
    static std::string WindowsDirectory();

private:
    void listFolders();

    TStringList folderList_;
};
