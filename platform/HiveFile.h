#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct hive_h;

namespace platform {

// One value of a hive key: its kind and its bytes as stored (text kinds in UTF-16LE).
struct HiveValue {
    std::uint32_t type = 0;
    std::string data;
};

// A registry hive file of a Windows installation (the binary "regf" format), read and written
// through libhivex. Key paths are relative to the hive's root, components separated by "\";
// keys and value names match without regard to letter case.
//
// The file is read when first needed and again whenever it changed on disk. A file that
// libhivex cannot open reads as a hive without keys and is never written.
//
// Every change is committed at once (unless commits are held back, see holdCommits), and safely: the whole hive goes to a temporary file in
// the same folder, which is flushed to disk, given the old file's permissions and renamed over
// it. A failure at any point leaves the old file byte for byte. A hive that Windows did not
// close cleanly (its newest changes still wait in the .LOG1/.LOG2 files beside it), a hive on
// a read-only mount and one that cannot be opened are refused before anything is written.
//
// Not safe for use from several threads at once.
class HiveFile {
public:
    // The reasons a write is refused, as the user reads them.
    static constexpr const char* kNotShutDownCleanly =
        "The Windows registry on this disk was not shut down cleanly. Start and shut down "
        "Windows once, then save again.";
    static constexpr const char* kReadOnlyDisk = "This Windows disk is mounted read-only.";
    static constexpr const char* kUnreadable = "The Windows registry on this disk cannot be read.";
    static constexpr const char* kNoWriteAccess =
        "The Windows registry on this disk may not be changed by this user.";

    // The most bytes of data that a value keeps in a single cell. Windows keeps longer values
    // as a big-data record, which libhivex cannot write, so they are never stored.
    static constexpr std::size_t kMaxCellData = 16344;

    explicit HiveFile(std::filesystem::path file);
    ~HiveFile();
    HiveFile(const HiveFile&) = delete;
    HiveFile& operator=(const HiveFile&) = delete;

    const std::filesystem::path& file() const { return file_; }

    // True when libhivex could open the file as it is now and its base block is whole (its
    // signature and checksum are right).
    bool readable();

    // The root (the empty path) exists in every readable hive.
    bool keyExists(std::string_view path);
    std::optional<HiveValue> findValue(std::string_view keyPath, std::string_view name);

    // Why the file may not be written now, for the user; empty when it may. Looks at the file
    // and its mount afresh.
    std::string writeRefusal();

    // Names that are not valid UTF-8 are never stored.
    //
    // Creates the key and every missing key above it. created, when given, tells whether any
    // key was added. False when the write was refused or failed; nothing changed then.
    bool createKey(std::string_view path, bool* created = nullptr);

    // Sets or adds a value of an existing key. Kinds above 11 (REG_QWORD) and data longer than
    // kMaxCellData are not stored. A failed write leaves errno telling why.
    // False when the key is missing or the write was refused or failed; nothing changed then.
    bool setValue(std::string_view keyPath, std::string_view name, const HiveValue& value);

    // Removes a value of an existing key. True when it is gone, also when there was none;
    // false when the key is missing or the write was refused or failed.
    bool deleteValue(std::string_view keyPath, std::string_view name);

    // While commits are held back, createKey and setValue change the hive in memory only and
    // the file is not read again; writePending then writes every change in one commit, and
    // discardPending forgets them. Lets a save that sets several values write the hive once.
    void holdCommits(bool hold) { holdCommits_ = hold; }
    bool hasPending() const { return pending_; }
    // False when the write failed; the changes are forgotten then, and the file is as it was.
    bool writePending();
    void discardPending();

    // Called with the temporary file once it is written and flushed, just before it replaces
    // the hive; returning false fails the write at that point. Lets tests interrupt a write.
    static void setBeforeReplaceForTesting(std::function<bool(const std::filesystem::path&)> hook);

private:
    struct Stamp {
        std::uint64_t device = 0;
        std::uint64_t inode = 0;
        std::int64_t size = 0;
        std::int64_t mtimeSec = 0;
        long mtimeNsec = 0;
        bool operator==(const Stamp&) const = default;
    };

    void load();
    void drop();
    // The node of a path; 0 when a component is missing.
    std::size_t nodeOf(std::string_view path);
    // Writes the hive as it is in memory over the file. On failure the copy in memory is
    // dropped, so that the next call reads the file again.
    bool commit();
    // Commits, or notes the change as pending while commits are held back.
    bool commitOrHold();
    // Remembers a key whose last-write time the next commit sets to now.
    void touch(std::size_t node);

    std::filesystem::path file_;
    hive_h* hive_ = nullptr;
    bool loaded_ = false;
    bool exists_ = false;
    Stamp stamp_;
    bool holdCommits_ = false;
    bool pending_ = false;
    // Keys created or changed since the last commit.
    std::vector<std::size_t> touched_;
};

} // namespace platform
