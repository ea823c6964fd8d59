#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>

namespace platform {

// The platform's own rules for a search pattern: letters compare without regard to ASCII
// case, "*" stands for any run of characters and "?" for exactly one, and a pattern ending in
// ".*" also matches names without that dot part, so that "*.*" matches every name and "a.*"
// matches "a". Every other character stands for itself. Matching is linear in practice: a
// failed star retries only from its latest position.
class SearchPattern {
public:
    explicit SearchPattern(std::string_view pattern);
    bool matches(std::string_view name) const;
    bool matchesEverything() const { return matchesEverything_; }

private:
    static bool matchText(std::string_view pattern, std::string_view name);

    std::string pattern_;
    // The pattern without its trailing ".*", tried as well when it had one.
    std::string withoutDotStar_;
    bool hasDotStar_ = false;
    bool matchesEverything_ = false;
};

// A search over one directory: find first, find next, find close. The pattern is a Windows
// path whose last component is a search pattern ("c:\photos\*.*"); the entries are those of
// the directory whose names match, "." and ".." first, then in the order the host lists them.
// Only files, folders and links to them are entries: FIFOs, sockets and devices, which no
// Windows drive holds, are passed over like names that do not match.
//
// Each entry gives its bare name, its attributes and its size. The directory bit is known
// from the listing itself; the size and the attributes are read from the file only when asked
// for, each with the calls it needs (the size with one status call; the attributes also read
// the stored attributes), so that a walk that looks at names only costs no more than the
// listing, and one that wants sizes only pays for those. A symbolic link to a directory is
// reported with the directory bit and the reparse-point bit (1024) so that a walk can leave it
// alone; a link to a file reports the file it names.
class FileSearch {
public:
    FileSearch();
    ~FileSearch();
    FileSearch(const FileSearch&) = delete;
    FileSearch& operator=(const FileSearch&) = delete;

    // Starts a search; true when the first entry is there. A pattern whose directory is
    // missing, unreadable or does not map onto the prefix gives false.
    bool findFirst(std::string_view windowsPattern);
    // The same over a host directory and a bare pattern.
    bool findFirstHost(const std::filesystem::path& directory, std::string_view pattern);
    // Moves to the next matching entry; false when there are no more.
    bool findNext();
    // Ends the search; harmless when none is open. The destructor closes as well.
    void findClose();

    const std::string& name() const { return name_; }
    bool isDirectory() const { return isDirectory_; }
    // The entry is a symbolic link to a directory.
    bool isDirectoryLink() const { return isDirectoryLink_; }
    std::uint32_t attributes();
    std::int64_t size();
    // The host path of the current entry.
    std::filesystem::path hostPath() const;

private:
    struct Listing;

    bool advance();
    bool isDots() const { return name_ == "." || name_ == ".."; }
    void loadStatus();
    void loadAttributes();

    std::unique_ptr<Listing> listing_;
    std::string name_;
    bool isDirectory_ = false;
    bool isDirectoryLink_ = false;
    bool statusLoaded_ = false;
    bool attributesLoaded_ = false;
    // The entry's status could be read: false for a dangling link.
    bool statusFound_ = false;
    std::uint32_t mode_ = 0;
    std::uint32_t owner_ = 0;
    std::uint32_t attributes_ = 0;
    std::int64_t size_ = 0;
};

} // namespace platform
