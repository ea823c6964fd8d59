#include "scan/TreeReader.h"

#include "platform/FileSearch.h"

#include <algorithm>

namespace {

// How many listings may wait ready for the walk. Enough for the workers to stay ahead of it,
// few enough that the listings held never add up to much.
constexpr int kReadyLimit = 64;

int workerCount()
{
    const unsigned processors = std::thread::hardware_concurrency();
    return int(std::clamp(processors, 1u, 4u));
}

} // namespace

struct TreeReader::Node {
    // The start folder is named by its Windows pattern, every folder below by its host path.
    std::string windowsPattern;
    std::filesystem::path host;
    State state = State::Queued;
    Listing listing;
};

TreeReader::TreeReader(std::function<bool(std::string_view)> wanted, bool recursive,
                       platform::VirtualFilesystems virtualFilesystems)
    : wanted_(std::move(wanted)), recursive_(recursive),
      virtualFilesystems_(std::move(virtualFilesystems))
{
    if (recursive_)
        for (int i = workerCount(); i > 0; --i)
            workers_.emplace_back([this] { work(); });
}

TreeReader::~TreeReader()
{
    {
        std::lock_guard lock(mutex_);
        ending_ = true;
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

TreeReader::Listing TreeReader::take(Node& node)
{
    std::unique_lock lock(mutex_);
    if (node.state == State::Queued) {
        node.state = State::Reading;
        lock.unlock();
        Listing listing = read(node);
        lock.lock();
        node.state = State::Taken;
        queueBelow(listing);
        lock.unlock();
        changed_.notify_all();
        return listing;
    }
    changed_.wait(lock, [&] { return node.state == State::Ready; });
    node.state = State::Taken;
    --readyCount_;
    Listing listing = std::move(node.listing);
    lock.unlock();
    changed_.notify_all();
    return listing;
}

TreeReader::Listing TreeReader::read(const Node& node)
{
    Listing listing;
    platform::FileSearch search;
    listing.found = node.windowsPattern.empty() ? search.findFirstHost(node.host, "*.*")
                                                : search.findFirst(node.windowsPattern);
    for (bool more = listing.found; more; more = search.findNext()) {
        Entry entry;
        entry.name = search.name();
        entry.isDirectory = search.isDirectory();
        if (entry.name != "." && entry.name != "..") {
            if (wanted_(entry.name)) {
                entry.wanted = true;
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
    // The first subfolder goes on top, so that the workers read in the order the walk enters.
    for (auto it = listing.entries.rbegin(); it != listing.entries.rend(); ++it)
        if (it->below)
            queue_.push_back(it->below);
}

void TreeReader::work()
{
    std::unique_lock lock(mutex_);
    for (;;) {
        changed_.wait(lock,
                      [&] { return ending_ || (!queue_.empty() && readyCount_ < kReadyLimit); });
        if (ending_)
            return;
        std::shared_ptr<Node> node = std::move(queue_.back());
        queue_.pop_back();
        if (node->state != State::Queued)
            continue; // the walk read it itself
        node->state = State::Reading;
        lock.unlock();
        Listing listing = read(*node);
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
