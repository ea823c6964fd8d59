#include "platform/HiveFile.h"

#include "core/AsciiCase.h"
#include "core/ByteReader.h"
#include "platform/AtomicFile.h"
#include "platform/WineRegistry.h"

#include <fcntl.h>
#include <hivex.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <mutex>
#include <vector>

namespace fs = std::filesystem;

namespace platform {

namespace {

// The largest kind libhivex knows (REG_QWORD).
constexpr std::uint32_t kLastKnownKind = 11;

// The part of the "regf" base block that its checksum covers, and the checksum after it: the
// signature and the two sequence numbers (which Windows makes equal again once it has written
// the hive completely) lead it.
constexpr std::size_t kHeaderSize = 512;
constexpr std::size_t kChecksumOffset = 508;
// Where a key record's last-write time lies, from the start of its cell.
constexpr std::size_t kKeyTimeOffset = 8;

// Now as a Windows FILETIME: 100-nanosecond steps since 1601-01-01 UTC.
std::uint64_t fileTimeNow()
{
    struct timespec now {};
    ::clock_gettime(CLOCK_REALTIME, &now);
    constexpr std::uint64_t kSecondsFrom1601To1970 = 11644473600ULL;
    return (std::uint64_t(now.tv_sec) + kSecondsFrom1601To1970) * 10000000ULL +
           std::uint64_t(now.tv_nsec) / 100;
}

std::mutex hookMutex;
std::function<bool(const fs::path&)> beforeReplaceHook;

std::vector<std::string> components(std::string_view path)
{
    std::vector<std::string> parts;
    std::size_t start = 0;
    for (std::size_t i = 0; i <= path.size(); ++i) {
        if (i == path.size() || path[i] == '\\') {
            if (i > start)
                parts.emplace_back(path.substr(start, i - start));
            start = i + 1;
        }
    }
    return parts;
}

// libhivex takes names as C strings: a name with a NUL in it cannot be looked up or stored.
bool hasNul(std::string_view text)
{
    return text.find('\0') != std::string_view::npos;
}

// libhivex stores names from UTF-8 and fails badly on anything else (it has been seen to
// crash on such a value name), so only names that are valid UTF-8 are ever handed to it
// for storing.
bool storableName(std::string_view name)
{
    return !hasNul(name) && utf16leToUtf8(utf8ToUtf16le(name)) == name;
}

enum class HeaderState { Clean, Dirty, Invalid };

// Reads the header from the file itself, not from the copy in memory, so that a hive that
// Windows changed in the meantime is judged as it is now.
HeaderState headerState(const fs::path& file)
{
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
    if (fd < 0)
        return HeaderState::Invalid;
    unsigned char header[kHeaderSize];
    ssize_t got;
    do
        got = ::pread(fd, header, sizeof header, 0);
    while (got < 0 && errno == EINTR);
    ::close(fd);
    if (got != ssize_t(sizeof header) || std::memcmp(header, "regf", 4) != 0)
        return HeaderState::Invalid;
    // The checksum is the exclusive or of the 127 double words before it, where Windows
    // writes 1 for 0 and 0xFFFFFFFE for 0xFFFFFFFF.
    std::uint32_t checksum = 0;
    for (std::size_t at = 0; at < kChecksumOffset; at += 4)
        checksum ^= core::littleEndian32(header + at);
    if (checksum == 0)
        checksum = 1;
    else if (checksum == 0xFFFFFFFFu)
        checksum = 0xFFFFFFFEu;
    if (checksum != core::littleEndian32(header + kChecksumOffset))
        return HeaderState::Invalid;
    return core::littleEndian32(header + 4) == core::littleEndian32(header + 8)
               ? HeaderState::Clean
               : HeaderState::Dirty;
}

bool onReadOnlyMount(const fs::path& folder)
{
    struct statvfs vfs {};
    return ::statvfs(folder.c_str(), &vfs) == 0 && (vfs.f_flag & ST_RDONLY) != 0;
}

} // namespace

HiveFile::HiveFile(fs::path file) : file_(std::move(file)) {}

HiveFile::~HiveFile()
{
    drop();
}

void HiveFile::setBeforeReplaceForTesting(std::function<bool(const fs::path&)> hook)
{
    std::lock_guard lock(hookMutex);
    beforeReplaceHook = std::move(hook);
}

void HiveFile::drop()
{
    pending_ = false;
    touched_.clear();
    if (hive_)
        hivex_close(hive_);
    hive_ = nullptr;
    loaded_ = false;
}

void HiveFile::load()
{
    struct stat st {};
    const bool exists = ::stat(file_.c_str(), &st) == 0 && S_ISREG(st.st_mode);
    const Stamp stamp =
        exists ? Stamp{std::uint64_t(st.st_dev), std::uint64_t(st.st_ino), std::int64_t(st.st_size),
                       std::int64_t(st.st_mtim.tv_sec), st.st_mtim.tv_nsec}
               : Stamp{};
    if (loaded_ && (pending_ || (exists == exists_ && stamp == stamp_)))
        return;
    drop();
    exists_ = exists;
    stamp_ = stamp;
    // Opened for writing so that changes can be made in memory; the file itself is only read.
    if (exists)
        hive_ = hivex_open(file_.c_str(), HIVEX_OPEN_WRITE);
    loaded_ = true;
}

bool HiveFile::readable()
{
    load();
    return hive_ != nullptr && headerState(file_) != HeaderState::Invalid;
}

std::size_t HiveFile::nodeOf(std::string_view path)
{
    if (!hive_ || hasNul(path))
        return 0;
    hive_node_h node = hivex_root(hive_);
    for (const std::string& name : components(path)) {
        if (node == 0)
            return 0;
        node = hivex_node_get_child(hive_, node, name.c_str());
    }
    return node;
}

bool HiveFile::keyExists(std::string_view path)
{
    load();
    return nodeOf(path) != 0;
}

std::optional<HiveValue> HiveFile::findValue(std::string_view keyPath, std::string_view name)
{
    load();
    const hive_node_h node = nodeOf(keyPath);
    if (node == 0 || hasNul(name))
        return std::nullopt;
    const hive_value_h value = hivex_node_get_value(hive_, node, std::string(name).c_str());
    if (value == 0)
        return std::nullopt;
    hive_type type{};
    std::size_t length = 0;
    if (hivex_value_type(hive_, value, &type, &length) != 0)
        return std::nullopt;
    HiveValue result;
    // A hive may give a value any 32-bit kind, and libhivex passes it on in its enumeration,
    // which holds only the kinds it names: the number is copied out of the enumeration's
    // bytes rather than read as the enumeration.
    static_assert(sizeof type == sizeof result.type);
    std::memcpy(&result.type, &type, sizeof result.type);
    if (length == 0)
        return result;
    char* bytes = hivex_value_value(hive_, value, &type, &length);
    if (!bytes)
        return std::nullopt;
    result.data.assign(bytes, length);
    std::free(bytes);
    return result;
}

std::string HiveFile::writeRefusal()
{
    const fs::path folder = file_.has_parent_path() ? file_.parent_path() : fs::path(".");
    if (onReadOnlyMount(folder))
        return kReadOnlyDisk;
    switch (headerState(file_)) {
    case HeaderState::Invalid:
        return kUnreadable;
    case HeaderState::Dirty:
        return kNotShutDownCleanly;
    case HeaderState::Clean:
        break;
    }
    load();
    if (!hive_)
        return kUnreadable;
    if (!isWritable(file_) || !isWritable(folder))
        return kNoWriteAccess;
    return {};
}

bool HiveFile::createKey(std::string_view path, bool* created)
{
    if (created)
        *created = false;
    load();
    if (!hive_ || hasNul(path))
        return false;
    const std::vector<std::string> names = components(path);
    hive_node_h node = hivex_root(hive_);
    std::size_t existing = 0;
    for (; existing < names.size(); ++existing) {
        const hive_node_h child = hivex_node_get_child(hive_, node, names[existing].c_str());
        if (child == 0)
            break;
        node = child;
    }
    if (existing == names.size())
        return node != 0;
    if (!writeRefusal().empty())
        return false;
    for (std::size_t i = existing; i < names.size(); ++i)
        if (!storableName(names[i]))
            return false;
    // The key that gains a subkey is changed too, as Windows counts it.
    touch(node);
    for (std::size_t i = existing; i < names.size(); ++i) {
        node = hivex_node_add_child(hive_, node, names[i].c_str());
        if (node == 0) {
            drop();
            return false;
        }
        touch(node);
    }
    if (!commitOrHold())
        return false;
    if (created)
        *created = true;
    return true;
}

bool HiveFile::setValue(std::string_view keyPath, std::string_view name, const HiveValue& value)
{
    if (value.type > kLastKnownKind || !storableName(name) || value.data.size() > kMaxCellData)
        return false;
    load();
    if (!writeRefusal().empty())
        return false;
    const hive_node_h node = nodeOf(keyPath);
    if (node == 0)
        return false;
    std::string key(name);
    std::string data = value.data;
    hive_set_value set{};
    set.key = key.data();
    set.t = hive_type(value.type);
    set.len = data.size();
    set.value = data.data();
    if (hivex_node_set_value(hive_, node, &set, 0) != 0) {
        drop();
        return false;
    }
    touch(node);
    return commitOrHold();
}

bool HiveFile::deleteValue(std::string_view keyPath, std::string_view name)
{
    load();
    if (!writeRefusal().empty() || hasNul(name))
        return false;
    const hive_node_h node = nodeOf(keyPath);
    if (node == 0)
        return false;
    if (hivex_node_get_value(hive_, node, std::string(name).c_str()) == 0)
        return true;
    // libhivex replaces a key's values as a whole: every other value is kept as it is.
    hive_value_h* values = hivex_node_values(hive_, node);
    if (!values) {
        drop();
        return false;
    }
    struct Kept {
        std::string key;
        hive_type type{};
        std::string data;
    };
    std::vector<Kept> kept;
    bool ok = true;
    for (std::size_t i = 0; values[i] != 0 && ok; ++i) {
        char* key = hivex_value_key(hive_, values[i]);
        hive_type type{};
        std::size_t length = 0;
        char* data = key ? hivex_value_value(hive_, values[i], &type, &length) : nullptr;
        ok = key && (data || length == 0);
        if (ok && !core::asciiEqualsIgnoreCase(key, name))
            kept.push_back({key, type, std::string(data ? data : "", length)});
        std::free(key);
        std::free(data);
    }
    std::free(values);
    std::vector<hive_set_value> set(kept.size());
    for (std::size_t i = 0; i < kept.size(); ++i)
        set[i] = {kept[i].key.data(), kept[i].type, kept[i].data.size(), kept[i].data.data()};
    if (!ok || hivex_node_set_values(hive_, node, set.size(), set.data(), 0) != 0) {
        drop();
        return false;
    }
    touch(node);
    return commitOrHold();
}

void HiveFile::touch(std::size_t node)
{
    if (std::find(touched_.begin(), touched_.end(), node) == touched_.end())
        touched_.push_back(node);
}

bool HiveFile::commitOrHold()
{
    if (!holdCommits_)
        return commit();
    pending_ = true;
    return true;
}

bool HiveFile::writePending()
{
    if (!pending_)
        return true;
    pending_ = false;
    return commit();
}

void HiveFile::discardPending()
{
    if (pending_)
        drop();
    pending_ = false;
}

bool HiveFile::commit()
{
    std::function<bool(const fs::path&)> hook;
    {
        std::lock_guard lock(hookMutex);
        hook = beforeReplaceHook;
    }
    // The hive goes through the one atomic replacement of the platform, which keeps the old
    // file's permissions and never writes through a link that another user put in its place.
    const bool ok = replaceFileAtomically(
        file_, Links::WithinSystem, [&](int fd, const std::string& temp, const struct stat* old) {
            if (!old || hivex_commit(hive_, temp.c_str(), 0) != 0)
                return false;
            // libhivex gives a new key an old time and leaves a changed key's time alone, and
            // has no call to set it: the written file gets the time of this write in the
            // last-write field of each key record (a FILETIME, 8 bytes after the record's start).
            const std::uint64_t now = fileTimeNow();
            unsigned char bytes[8];
            for (int i = 0; i < 8; ++i)
                bytes[i] = static_cast<unsigned char>(now >> (8 * i));
            for (const std::size_t node : touched_)
                if (::pwrite(fd, bytes, sizeof bytes, off_t(node + kKeyTimeOffset)) !=
                    ssize_t(sizeof bytes))
                    return false;
            struct stat st {};
            if (::fstat(fd, &st) != 0)
                return false;
            if (st.st_uid != old->st_uid || st.st_gid != old->st_gid)
                // Only a privileged process may give a file away; others keep their own
                // ownership.
                (void)::fchown(fd, old->st_uid, old->st_gid);
            // The replacement flushes what was written here before it renames.
            return !hook || hook(temp);
        });
    if (!ok) {
        const int error = errno;
        drop();
        errno = error;
        return false;
    }
    // The copy in memory lacks the times written above: the next read takes the file.
    drop();
    return true;
}

} // namespace platform
