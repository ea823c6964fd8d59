#include "scan/TFilesScan.h"

#include "desktop/TApplication.h"
#include "platform/Drives.h"
#include "platform/VirtualFilesystems.h"
#include "scan/TreeReader.h"

#include <chrono>

namespace {

// The message pump is skipped when it ran less than this long ago. Handling the window's
// messages costs far more than looking at one directory entry, and a stop click is still seen
// within a few milliseconds.
constexpr std::chrono::microseconds kPumpInterval{4000};
// Reading the clock costs as much as handling a few entries, so it is read at every sixteenth
// entry only: sixteen entries take microseconds, not milliseconds.
constexpr int kEntriesPerClockReading = 16;

using Clock = std::chrono::steady_clock;

} // namespace

// The state of one StartScan: its compiled masks, its attribute mask, its pump clock and the
// reader of its tree. A nested scan has its own.
struct TFilesScan::Walk {
    Walk(std::vector<TMultiMask> compiled, std::uint32_t attributes, bool recursive)
        : masks(std::move(compiled)), attributeMask(attributes),
          // A scan that tests no attribute does not have them read. Where the kernel's
          // made-up filesystems are mounted is read once per scan; the reader never walks
          // into them.
          reader(
              [this](std::string_view name) { return matches(name); }, attributes != 0, recursive,
              recursive ? platform::VirtualFilesystems::current() : platform::VirtualFilesystems())
    {
    }

    const std::vector<TMultiMask> masks;
    const std::uint32_t attributeMask;
    Clock::time_point lastPump{};
    // Entries to handle before the clock is read again; the first entry reads it.
    int entriesUntilClock = 1;
    TreeReader reader;

    // Called from the reader's threads as well: masks are only read once compiled.
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
    std::string joined;
    joinPathInto(joined, dir, name);
    return joined;
}

void TFilesScan::joinPathInto(std::string& joined, const std::string& dir, std::string_view name)
{
    // Paths are UTF-8, where no byte of a multi-byte character can be taken for a backslash.
    joined.clear();
    if (dir.empty())
        return;
    joined.reserve(dir.size() + 1 + name.size());
    joined = dir;
    if (joined.back() != '\\')
        joined += '\\';
    joined += name;
}

void TFilesScan::addFound(std::string_view path)
{
    if (list_.Sorted())
        pending_.Add(path);
    else
        list_.Add(path);
}

void TFilesScan::flushPending()
{
    if (pending_.Count() == 0)
        return;
    // Appended unsorted and then sorted stably with equal strings dropped after the first:
    // the same list that inserting them one by one into the sorted list would give.
    list_.SetSorted(false);
    list_.AddStrings(std::move(pending_));
    list_.SetSorted(true);
}

void TFilesScan::StartScan()
{
    list_.Clear();
    pending_.Clear();
    filesCount_ = 0;
    filesSize_ = 0;

    std::vector<TMultiMask> masks = ParseMaskList(fileMask_);
    stopped_ = false;
    Walk walk(std::move(masks), attributes_.PlatformBits(), recursive_);

    switch (scanOptions_) {
    case soGlobal: {
        const std::uint32_t drives = platform::Drives::logicalDrives();
        for (char letter = 'a'; letter <= 'z'; ++letter) {
            if (!(drives & (1u << (letter - 'a'))))
                continue;
            const unsigned type = platform::Drives::driveType(std::string(1, letter) + ":\\");
            if (type == platform::kDriveFixed || type == platform::kDriveRemote ||
                type == platform::kDriveCdRom || type == platform::kDriveRamDisk)
                scanDrive(walk, std::string(1, char(letter - 'a' + 'A')) + ":");
        }
        break;
    }
    case soSpecifiedDisk:
        scanDrive(walk, scanDir_.substr(0, 2));
        break;
    case soSpecifiedDir:
        scanDrive(walk, scanDir_);
        break;
    }

    if (OnEndProcess)
        OnEndProcess(this, FilesList(), filesCount_, filesSize_);
}

void TFilesScan::pumpMessages()
{
    Application().ProcessMessages();
}

void TFilesScan::pumpIfDue(Walk& walk)
{
    if (Clock::now() - walk.lastPump >= kPumpInterval) {
        pumpMessages();
        walk.lastPump = Clock::now();
    }
}

void TFilesScan::scanDrive(Walk& walk, const std::string& dir)
{
    const std::shared_ptr<TreeReader::Node> start = walk.reader.start(JoinPath(dir, "*.*"));
    scanDirectory(walk, dir, *start);
}

void TFilesScan::scanDirectory(Walk& walk, const std::string& dir, TreeReader::Node& folder)
{
    if (OnProcess)
        OnProcess(this, dir, filesCount_, filesSize_);

    const TreeReader::Listing listing = walk.reader.take(folder, [&] {
        if (processMsg_)
            pumpIfDue(walk);
        return !stopped_;
    });
    for (const TreeReader::Entry& entry : listing.entries) {
        if (stopped_)
            break;
        if (entry.wanted && (entry.attributes & walk.attributeMask) == walk.attributeMask) {
            ++filesCount_;
            filesSize_ += entry.size;
            if (buildList_) {
                // Built in one buffer kept for the whole walk: the list copies the bytes.
                joinPathInto(foundPath_, dir, entry.name);
                addFound(foundPath_);
            }
        }
        if (entry.below)
            scanDirectory(walk, JoinPath(dir, entry.name), *entry.below);
        if (processMsg_ && --walk.entriesUntilClock == 0) {
            walk.entriesUntilClock = kEntriesPerClockReading;
            pumpIfDue(walk);
        }
    }
}
