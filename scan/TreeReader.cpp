#include "scan/TreeReader.h"

#include "platform/FileSearch.h"

#include <sched.h>

#include <algorithm>
#include <chrono>
#include <system_error>

namespace {

// How many listings may wait ready for the walk. Enough for the workers to stay ahead of it,
// few enough that the listings held never add up to much.
constexpr int kReadyLimit = 64;
// How often a long read or wait asks whether to go on.
constexpr std::uint32_t kEntriesPerPoll = 256;
constexpr std::chrono::milliseconds kPollInterval{4};
constexpr std::size_t kEntriesReserved = 64;

// One reader per processor that the process may run on, at most four; none when it has one
// processor only, where a reader would only take turns with the walk, each switch costing
// what it saves.
int workerCount()
{
    cpu_set_t allowed;
    CPU_ZERO(&allowed);
    const int processors = ::sched_getaffinity(0, sizeof allowed, &allowed) == 0
                               ? CPU_COUNT(&allowed)
                               : int(std::thread::hardware_concurrency());
    return processors <= 1 ? 0 : std::min(processors, 4);
}

} // namespace

struct TreeReader::Node {
    // The start folder is named by its Windows pattern, every folder below by its host path.
    std::string windowsPattern;
    std::filesystem::path host;
    // Where the walk meets the folder: the places of the folder and of each folder above it in
    // their parents' listings. The walk enters folders in the order of these, compared place
    // by place.
    std::vector<std::uint32_t> rank;
    State state = State::Queued;
    Listing listing;
};

namespace {

// Orders the queue as a heap whose top is the folder the walk will enter first.
bool entersLater(const std::shared_ptr<TreeReader::Node>& a,
                 const std::shared_ptr<TreeReader::Node>& b)
{
    return a->rank > b->rank;
}

} // namespace

TreeReader::TreeReader(std::function<bool(std::string_view)> wanted, bool withAttributes,
                       bool recursive, platform::VirtualFilesystems virtualFilesystems)
    : wanted_(std::move(wanted)), withAttributes_(withAttributes), recursive_(recursive),
      virtualFilesystems_(std::move(virtualFilesystems))
{
    if (!recursive_)
        return;
    try {
        for (int i = workerCount(); i > 0; --i)
            workers_.emplace_back([this] { work(); });
    } catch (const std::system_error&) {
        // No more threads to be had (a process limit): the walk reads what the workers that
        // did start leave, or everything itself.
    }
}

TreeReader::~TreeReader()
{
    {
        std::lock_guard lock(mutex_);
        ending_.store(true, std::memory_order_relaxed);
    }
    changed_.notify_all();
    for (std::thread& worker : workers_)
        worker.join();
}

std::shared_ptr<TreeReader::Node> TreeReader::start(std::string windowsPattern)
{
    auto node = std::make_shared<Node>();
    node->windowsPattern = std::move(windowsPattern);
    return node;
}

TreeReader::Listing TreeReader::take(Node& node, const std::function<bool()>& poll)
{
    std::unique_lock lock(mutex_);
    if (node.state == State::Queued) {
        node.state = State::Reading;
        lock.unlock();
        Listing listing = read(node, poll);
        lock.lock();
        node.state = State::Taken;
        queueBelow(listing);
        lock.unlock();
        changed_.notify_all();
        return listing;
    }
    // A worker is reading the folder; a very large one takes a while, during which the walk
    // still answers.
    while (!changed_.wait_for(lock, kPollInterval, [&] { return node.state == State::Ready; })) {
        lock.unlock();
        const bool goOn = poll();
        lock.lock();
        if (!goOn)
            return {}; // the walk ends: the listing, once read, is left to the destructor
    }
    node.state = State::Taken;
    --readyCount_;
    Listing listing = std::move(node.listing);
    lock.unlock();
    changed_.notify_all();
    return listing;
}

TreeReader::Listing TreeReader::read(const Node& node, const std::function<bool()>& poll)
{
    Listing listing;
    // Room for an ordinary folder from the start, rather than growing there a step at a time
    // and moving every entry at each step.
    listing.entries.reserve(kEntriesReserved);
    platform::FileSearch search;
    listing.found = node.windowsPattern.empty() ? search.findFirstHost(node.host, "*.*")
                                                : search.findFirst(node.windowsPattern);
    for (bool more = listing.found; more; more = search.findNext()) {
        const auto place = std::uint32_t(listing.entries.size());
        if (place % kEntriesPerPoll == kEntriesPerPoll - 1 && !poll())
            break;
        Entry entry;
        entry.name = search.name();
        entry.isDirectory = search.isDirectory();
        if (entry.name != "." && entry.name != "..") {
            if (wanted_(entry.name)) {
                entry.wanted = true;
                if (withAttributes_)
                    entry.attributes = search.attributes();
                entry.size = search.size();
            }
            // A link to a directory is never followed, so that no tree can make the walk
            // loop.
            if (recursive_ && entry.isDirectory && !search.isDirectoryLink()) {
                std::filesystem::path below = search.hostPath();
                if (!virtualFilesystems_.mayBeMountPoint(entry.name) ||
                    !virtualFilesystems_.holds(below)) {
                    entry.below = std::make_shared<Node>();
                    entry.below->host = std::move(below);
                    entry.below->rank.reserve(node.rank.size() + 1);
                    entry.below->rank = node.rank;
                    entry.below->rank.push_back(place);
                }
            }
        }
        listing.entries.push_back(std::move(entry));
    }
    return listing;
}

void TreeReader::queueBelow(const Listing& listing)
{
    if (workers_.empty())
        return;
    // The workers take the folder the walk will reach first, wherever it was queued from, so
    // that what they read ahead is what the walk needs next.
    for (const Entry& entry : listing.entries)
        if (entry.below) {
            queue_.push_back(entry.below);
            std::push_heap(queue_.begin(), queue_.end(), entersLater);
        }
}

void TreeReader::work()
{
    std::unique_lock lock(mutex_);
    for (;;) {
        changed_.wait(lock,
                      [&] { return ending_ || (!queue_.empty() && readyCount_ < kReadyLimit); });
        if (ending_)
            return;
        std::pop_heap(queue_.begin(), queue_.end(), entersLater);
        std::shared_ptr<Node> node = std::move(queue_.back());
        queue_.pop_back();
        if (node->state != State::Queued)
            continue; // the walk read it itself
        node->state = State::Reading;
        lock.unlock();
        Listing listing = read(*node, [this] { return !ending_.load(std::memory_order_relaxed); });
        lock.lock();
        queueBelow(listing);
        node->listing = std::move(listing);
        node->state = State::Ready;
        ++readyCount_;
        lock.unlock();
        changed_.notify_all();
        lock.lock();
    }
}
