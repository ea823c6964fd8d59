#pragma once

#include "platform/VirtualFilesystems.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

// Reads the directories of a tree walk ahead of the walk, on worker threads, in the order a
// depth-first walk enters them. The walk itself stays on its own thread and sees each
// directory as a finished listing: every entry the platform's search gives ("." and ".."
// included), with attributes and size for the entries whose names it wants, and the folder
// below for each subdirectory it should enter. Nothing is followed through a link to a
// directory, and the kernel's made-up filesystems are never entered.
//
// Listing a directory and looking at its files is almost all system calls, so on a machine
// with more than one processor the walk's own work (matching, counting, building paths and
// pumping the window's messages) runs alongside the reading rather than after it. Only a
// bounded number of listings wait ready at a time; the walk reads a directory itself when no
// worker has begun it, so it never waits on a worker that is not already busy for it.
class TreeReader {
public:
    struct Node;

    struct Entry {
        std::string name;
        bool isDirectory = false;
        // The name is one the walk wants: its size was read, and its attributes when the
        // reader reads them.
        bool wanted = false;
        std::uint32_t attributes = 0;
        std::int64_t size = 0;
        // The folder to walk into, for a subdirectory that is to be entered.
        std::shared_ptr<Node> below;
    };

    struct Listing {
        // False when the directory could not be opened or held nothing to list.
        bool found = false;
        std::vector<Entry> entries;
    };

    // wanted tells which names need their size, and their attributes unless withAttributes is
    // false (a walk that tests no attribute spares reading them); it is called from the worker
    // threads and must be safe to call from several at once. With recursive false nothing is
    // read ahead and no thread is started.
    TreeReader(std::function<bool(std::string_view)> wanted, bool withAttributes, bool recursive,
               platform::VirtualFilesystems virtualFilesystems);
    ~TreeReader();
    TreeReader(const TreeReader&) = delete;
    TreeReader& operator=(const TreeReader&) = delete;

    // The start of the walk: a Windows search pattern such as "c:\photos\*.*".
    std::shared_ptr<Node> start(std::string windowsPattern);
    // The listing of a folder, read here if no worker has begun it, or waited for if one has.
    // The listing belongs to the caller; the folder is not read again. While it reads or waits,
    // take() calls poll every few milliseconds (or every few hundred entries), so that the
    // caller can handle its messages; when poll answers false, take() gives up and returns what
    // it has, possibly nothing.
    Listing take(Node& node, const std::function<bool()>& poll);

private:
    enum class State { Queued, Reading, Ready, Taken };

    // Lists a folder; stops early when poll, asked every few hundred entries, answers false.
    Listing read(const Node& node, const std::function<bool()>& poll);
    void queueBelow(const Listing& listing);
    void work();

    std::function<bool(std::string_view)> wanted_;
    bool withAttributes_;
    bool recursive_;
    platform::VirtualFilesystems virtualFilesystems_;

    std::mutex mutex_;
    // Workers wait here for work and for room; the walk waits here for a folder being read.
    std::condition_variable changed_;
    // Folders still to read, as a heap with the one the walk will enter first on top.
    std::vector<std::shared_ptr<Node>> queue_;
    int readyCount_ = 0;
    // Also read outside the lock, by workers in the middle of a folder.
    std::atomic<bool> ending_{false};
    std::vector<std::thread> workers_;
};
