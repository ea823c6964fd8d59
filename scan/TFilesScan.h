#pragma once

#include "core/TStringList.h"
#include "scan/TMask.h"
#include "scan/TreeReader.h"

#include <QObject>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <initializer_list>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

// What a scan walks: every fixed, network, CD and RAM drive; the drive named by the first two
// characters of ScanDir; or the directory ScanDir.
enum TScanOptions : std::uint8_t { soGlobal, soSpecifiedDisk, soSpecifiedDir };

enum TFileAttribute { faReadOnly, faHidden, faSysFile, faVolumeID, faDirectory, faArchive };

// A set of file attributes; its bits are the platform's attribute bits one for one.
class TFileAttributes {
public:
    constexpr TFileAttributes() = default;
    constexpr TFileAttributes(std::initializer_list<TFileAttribute> members)
    {
        for (TFileAttribute a : members)
            bits_ |= std::uint32_t(1) << a;
    }
    constexpr bool Contains(TFileAttribute a) const { return (bits_ >> a) & 1; }
    constexpr void Include(TFileAttribute a) { bits_ |= std::uint32_t(1) << a; }
    constexpr void Exclude(TFileAttribute a) { bits_ &= ~(std::uint32_t(1) << a); }
    constexpr bool Empty() const { return bits_ == 0; }
    // faReadOnly 1, faHidden 2, faSysFile 4, faVolumeID 8, faDirectory 16, faArchive 32.
    constexpr std::uint32_t PlatformBits() const { return bits_; }
    constexpr bool operator==(const TFileAttributes&) const = default;

private:
    std::uint32_t bits_ = 0;
};

class TFilesScan;

// Sizes and counts are 64-bit so that totals past 2 GiB and files of 4 GiB and more count in
// full.
using TOnProcessEvent = std::function<void(TFilesScan* Sender, const std::string& Dir,
                                           std::int64_t FilesCount, std::int64_t FilesSize)>;
using TOnEndProcessEvent = std::function<void(TFilesScan* Sender, TStringList& FilesList,
                                              std::int64_t FilesCount, std::int64_t FilesSize)>;

// One entry of a parsed mask list.
struct TMultiMask {
    std::unique_ptr<TMask> FMask;
};

// Walks a directory tree depth-first and collects the full paths of the entries whose names
// match a comma-separated mask list and whose attributes hold every attribute of Attributes.
// The walk runs on the caller's thread and pumps the application's messages as it goes, so
// that StopScan (or even another StartScan) can run from a click in the middle of it.
class TFilesScan : public QObject {
public:
    explicit TFilesScan(QObject* owner = nullptr);
    ~TFilesScan() override;

    const std::string& FileMask() const { return fileMask_; }
    void SetFileMask(std::string mask) { fileMask_ = std::move(mask); }
    TFileAttributes Attributes() const { return attributes_; }
    void SetAttributes(TFileAttributes attributes) { attributes_ = attributes; }
    bool BuildList() const { return buildList_; }
    void SetBuildList(bool build) { buildList_ = build; }
    bool SortedList() const { return list_.Sorted(); }
    // Switching sorting on sorts what the list holds at once.
    void SetSortedList(bool sorted);
    TScanOptions ScanOptions() const { return scanOptions_; }
    void SetScanOptions(TScanOptions options) { scanOptions_ = options; }
    const std::string& ScanDir() const { return scanDir_; }
    void SetScanDir(std::string dir) { scanDir_ = std::move(dir); }
    bool ProcessMsg() const { return processMsg_; }
    void SetProcessMsg(bool pump) { processMsg_ = pump; }
    bool Recursive() const { return recursive_; }
    void SetRecursive(bool recursive) { recursive_ = recursive; }

    TOnProcessEvent OnProcess;
    TOnEndProcessEvent OnEndProcess;

    // Runs a whole scan and returns after OnEndProcess. A malformed mask raises its error
    // before any directory is opened, and OnEndProcess is then not called.
    void StartScan();
    // Asks the running scan to end; it finishes at its next entry and still reports its end.
    void StopScan() { stopped_ = true; }

    // The result of the last scan; it belongs to the scanner and is cleared by the next one.
    TStringList& FilesList();
    std::int64_t FilesCount() const { return filesCount_; }
    std::int64_t FilesSize() const { return filesSize_; }
    bool Stopped() const { return stopped_; }

    // The entries of a mask list: only commas separate, only spaces are trimmed, empty
    // entries are dropped.
    static std::vector<std::string> SplitMaskList(std::string_view maskList);
    // Compiles each entry of a mask list; raises the error of the first malformed one.
    static std::vector<TMultiMask> ParseMaskList(std::string_view maskList);
    // The directory and the name with one backslash between them; empty for an empty
    // directory.
    static std::string JoinPath(const std::string& dir, std::string_view name);

private:
    struct Walk;

    void scanDrive(Walk& walk, const std::string& dir);
    void scanDirectory(Walk& walk, const std::string& dir, TreeReader::Node& folder);
    // JoinPath into a buffer that keeps its room from one path to the next.
    static void joinPathInto(std::string& joined, const std::string& dir, std::string_view name);
    void addFound(std::string_view path);
    void flushPending();
    void pumpMessages();
    // Pumps when the last pump of this walk is long enough ago.
    void pumpIfDue(Walk& walk);

    std::string fileMask_ = "*";
    TFileAttributes attributes_{faArchive};
    bool buildList_ = true;
    TScanOptions scanOptions_ = soGlobal;
    std::string scanDir_;
    bool processMsg_ = true;
    bool recursive_ = true;

    TStringList list_;
    // Paths found for a sorted list, not yet merged: sorting once at the end is much faster
    // than keeping a long list sorted one insertion at a time, and gives the same list.
    TStringList pending_;
    std::string foundPath_;
    std::int64_t filesCount_ = 0;
    std::int64_t filesSize_ = 0;
    bool stopped_ = false;
};
