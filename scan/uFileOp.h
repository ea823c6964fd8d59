#pragma once

#include "core/TStringList.h"

#include <QObject>

#include <cstdint>
#include <functional>
#include <string>

enum TMyFileAttr { ftReadOnly, ftHidden, ftSystem, ftArchive };

// A set of TMyFileAttr. Read-only, hidden and system are the platform's bits 1, 2 and 4;
// archive is 32.
class TMyFileType {
public:
    constexpr TMyFileType() = default;
    constexpr TMyFileType(std::initializer_list<TMyFileAttr> members)
    {
        for (TMyFileAttr a : members)
            bits_ |= std::uint8_t(1u << a);
    }
    constexpr bool Contains(TMyFileAttr a) const { return (bits_ >> a) & 1; }
    constexpr bool Empty() const { return bits_ == 0; }
    constexpr bool operator==(const TMyFileType&) const = default;

    std::uint32_t PlatformBits() const;
    static TMyFileType FromPlatformBits(std::uint32_t bits);

private:
    std::uint8_t bits_ = 0;
};

class TFileOperations;

// Reports a failed step: what failed and the file or directory it failed on.
using TFailedEvent = std::function<void(TFileOperations* Sender, const std::string& sError,
                                        const std::string& sFileOrDir)>;

// Directory listings, copying, moving and deleting of a list of files or a whole tree, a
// recursive search, and the attributes, date and size of one file. Paths are Windows paths
// of the machine. Failures of single files are reported through OnError and the results;
// nothing is raised.
//
// An empty SourcePath or start directory names no directory: the operations report it like
// any missing directory and then work on nothing, where the joined paths would otherwise name
// the root of the current drive. An empty DestPath is a destination that cannot be created.
class TFileOperations : public QObject {
public:
    explicit TFileOperations(QObject* owner = nullptr);
    ~TFileOperations() override;

    bool ShowDirsOnSearch() const { return showDirsOnSearch_; }
    void SetShowDirsOnSearch(bool show) { showDirsOnSearch_ = show; }
    const std::string& SourcePath() const { return sourcePath_; }
    void SetSourcePath(std::string path) { sourcePath_ = std::move(path); }
    const std::string& DestPath() const { return destPath_; }
    void SetDestPath(std::string path) { destPath_ = std::move(path); }
    const std::string& DetailFileName() const { return detailFileName_; }
    // Stores the name and reads the file's attributes, date and size.
    void SetDetailFileName(std::string name);
    const std::string& Mask() const { return mask_; }
    void SetMask(std::string mask) { mask_ = std::move(mask); }
    TStringList& DirList() { return dirList_; }
    void SetDirList(const TStringList& list) { dirList_.Assign(list); }
    TStringList& FileList() { return fileList_; }
    void SetFileList(const TStringList& list) { fileList_.Assign(list); }
    TMyFileType DetailFileAttr() const { return detailFileAttr_; }
    // Writes the attributes to the detail file, when there is one.
    void SetDetailFileAttr(TMyFileType attributes);
    const std::string& DetailFileDateTime() const { return detailFileDateTime_; }
    // Sets the detail file's modification time from a date and time in the user's format.
    void SetDetailFileDateTime(const std::string& text);
    // The detail file's size in bytes, -1 when it could not be found.
    std::int64_t DetailFileSize() const { return detailFileSize_; }

    TFailedEvent OnError;
    // Shows an error message box with an OK button; tests put a recorder here.
    std::function<void(const std::string& text)> ShowErrorBox;

    virtual void GetFiles(bool WithPath);
    virtual int GetDirs();
    virtual bool DeleteFiles();
    virtual bool DeleteTree();
    virtual bool CopyFiles(bool Move);
    virtual std::string FindFile(const std::string& Name, const std::string& StartDir);
    virtual void SearchFiles(const std::string& Name, const std::string& StartDir);
    virtual void CopyTree(bool Move);

    // The directory and what follows, with a backslash between them unless the directory
    // ends with one.
    static std::string JoinDir(const std::string& dir, const std::string& rest);
    // The text a date and time is shown in: the user's short date and long time.
    static std::string DateTimeFormat();

private:
    void reportError(const std::string& error, const std::string& path);
    bool checkSourcePath();
    bool copyFilesBetween(const std::string& source, const std::string& dest,
                          const std::vector<std::string>& names, bool move);
    std::vector<std::string> listEntries(const std::string& dir, const std::string& pattern,
                                         bool directories);
    bool deleteTreeAt(const std::string& dir);
    void copyTreeAt(const std::string& source, const std::string& dest, bool move);
    std::string findFileAt(const std::string& name, const std::string& dir);
    void showErrorBox(const std::string& text);

    bool showDirsOnSearch_ = false;
    std::string sourcePath_;
    std::string destPath_;
    std::string detailFileName_;
    std::string mask_ = "*.*";
    TStringList dirList_;
    TStringList fileList_;
    TMyFileType detailFileAttr_;
    std::string detailFileDateTime_;
    std::int64_t detailFileSize_ = 0;
    // Set while the detail file's details are read, so that nothing is written back.
    bool loading_ = false;
};
