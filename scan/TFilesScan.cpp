#include "scan/TFilesScan.h"

#include "platform/Drives.h"
#include "platform/FileAttributes.h"
#include "platform/FileSearch.h"
#include "platform/TApplication.h"
#include "platform/VirtualFilesystems.h"
#include "platform/WinPath.h"

#include <chrono>

namespace {

// The message pump is skipped when it ran less than this long ago. Handling the window's
// messages costs far more than looking at one directory entry, and a stop click is still seen
// within a few milliseconds.
constexpr std::chrono::microseconds kPumpInterval{4000};

using Clock = std::chrono::steady_clock;

} // namespace

// The state of one StartScan: its compiled masks, its attribute mask and its pump clock.
// A nested scan has its own.
struct TFilesScan::Walk {
    std::vector<TMultiMask> masks;
    std::uint32_t attributeMask = 0;
    Clock::time_point lastPump{};
    // Where the kernel's made-up filesystems are mounted; never walked into.
    platform::VirtualFilesystems virtualFilesystems;

    bool matches(std::string_view name) const
    {
        for (const TMultiMask& m : masks)
            if (m.FMask->MatchName(name))
                return true;
        return false;
    }
};

TFilesScan::TFilesScan(QObject* owner) : QObject(owner) {}

TFilesScan::~TFilesScan() = default;

void TFilesScan::SetSortedList(bool sorted)
{
    flushPending();
    list_.SetSorted(sorted);
}

TStringList& TFilesScan::FilesList()
{
    flushPending();
    return list_;
}

std::vector<std::string> TFilesScan::SplitMaskList(std::string_view maskList)
{
    std::vector<std::string> entries;
    std::string current;
    auto finish = [&] {
        while (!current.empty() && current.back() == ' ')
            current.pop_back();
        if (!current.empty())
            entries.push_back(current);
        current.clear();
    };
    for (char c : maskList) {
        if (c == ' ' && current.empty())
            continue;
        if (c == ',')
            finish();
        else
            current += c;
    }
    finish();
    return entries;
}

std::vector<TMultiMask> TFilesScan::ParseMaskList(std::string_view maskList)
{
    std::vector<TMultiMask> masks;
    for (const std::string& entry : SplitMaskList(maskList))
        masks.push_back(TMultiMask{std::make_unique<TMask>(entry)});
    return masks;
}

std::string TFilesScan::JoinPath(const std::string& dir, std::string_view name)
{
    // Paths are UTF-8, where no byte of a multi-byte character can be taken for a backslash.
    if (dir.empty())
        return {};
    std::string joined;
    joined.reserve(dir.size() + 1 + name.size());
    joined = dir;
    if (joined.back() != '\\')
        joined += '\\';
    joined += name;
    return joined;
}

void TFilesScan::addFound(std::string path)
{
    if (list_.Sorted())
        pending_.push_back(std::move(path));
    else
        list_.Add(std::move(path));
}

void TFilesScan::flushPending()
{
    if (pending_.empty())
        return;
    // Appended unsorted and then sorted stably with equal strings dropped after the first:
    // the same list that inserting them one by one into the sorted list would give.
    std::vector<std::string> found = std::move(pending_);
    pending_.clear();
    list_.SetSorted(false);
    for (std::string& path : found)
        list_.Add(std::move(path));
    list_.SetSorted(true);
}

void TFilesScan::StartScan()
{
    list_.Clear();
    pending_.clear();
    filesCount_ = 0;
    filesSize_ = 0;

    Walk walk;
    walk.masks = ParseMaskList(fileMask_);
    stopped_ = false;
    walk.attributeMask = attributes_.PlatformBits();
    if (recursive_)
        walk.virtualFilesystems = platform::VirtualFilesystems::current();

    switch (scanOptions_) {
    case soGlobal: {
        const std::uint32_t drives = platform::Drives::logicalDrives();
        for (char letter = 'a'; letter <= 'z'; ++letter) {
            if (!(drives & (1u << (letter - 'a'))))
                continue;
            const unsigned type = platform::Drives::driveType(std::string(1, letter) + ":\\");
            if (type == platform::kDriveFixed || type == platform::kDriveRemote ||
                type == platform::kDriveCdRom || type == platform::kDriveRamDisk)
                scanDirectory(walk, std::string(1, char(letter - 'a' + 'A')) + ":", nullptr);
        }
        break;
    }
    case soSpecifiedDisk:
        scanDirectory(walk, scanDir_.substr(0, 2), nullptr);
        break;
    case soSpecifiedDir:
        scanDirectory(walk, scanDir_, nullptr);
        break;
    }

    walk.masks.clear();
    if (OnEndProcess)
        OnEndProcess(this, FilesList(), filesCount_, filesSize_);
}

void TFilesScan::pumpMessages()
{
    Application().ProcessMessages();
}

void TFilesScan::scanDirectory(Walk& walk, const std::string& dir,
                               const std::filesystem::path* hostDir)
{
    if (OnProcess)
        OnProcess(this, dir, filesCount_, filesSize_);

    platform::FileSearch search;
    // Below the start, the host folder is known from the listing, with the exact name; only
    // the start directory needs mapping from its Windows form.
    const bool found =
        hostDir ? search.findFirstHost(*hostDir, "*.*") : search.findFirst(JoinPath(dir, "*.*"));
    if (!found)
        return;
    bool more = true;
    while (more && !stopped_) {
        const std::string& name = search.name();
        if (name != "." && name != "..") {
            // The name is tested before the attributes, which cost a look at the file; the
            // outcome is the same either way round.
            if (walk.matches(name) &&
                (search.attributes() & walk.attributeMask) == walk.attributeMask) {
                ++filesCount_;
                filesSize_ += search.size();
                if (buildList_)
                    addFound(JoinPath(dir, name));
            }
            // A link to a directory is never followed, so that no tree can make the walk
            // loop.
            if (recursive_ && search.isDirectory() && !search.isDirectoryLink()) {
                const std::filesystem::path subHost = search.hostPath();
                if (!walk.virtualFilesystems.mayBeMountPoint(name) ||
                    !walk.virtualFilesystems.holds(subHost))
                    scanDirectory(walk, JoinPath(dir, name), &subHost);
            }
        }
        more = search.findNext();
        if (processMsg_) {
            const Clock::time_point now = Clock::now();
            if (now - walk.lastPump >= kPumpInterval) {
                pumpMessages();
                walk.lastPump = Clock::now();
            }
        }
    }
}
