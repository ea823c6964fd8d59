#include "platform/Registry.h"

#include "core/AsciiCase.h"
#include "platform/AtomicFile.h"
#include "platform/HiveFile.h"
#include "platform/Prefix.h"
#include "platform/WineRegistry.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

namespace fs = std::filesystem;

namespace platform {

namespace {

// Every right that allows a change of the key or its values.
constexpr REGSAM kChangeRights = KEY_SET_VALUE | KEY_CREATE_SUB_KEY | KEY_CREATE_LINK |
                                 0x00010000 /* delete */ | 0x00040000 /* write DAC */ |
                                 0x00080000 /* write owner */;

// What identifies one version of a file on disk.
struct FileStamp {
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    std::int64_t mtimeSec = 0;
    long mtimeNsec = 0;

    bool operator==(const FileStamp&) const = default;
};

FileStamp stampOf(const struct stat& st)
{
    return {st.st_dev, st.st_ino, st.st_size, std::int64_t(st.st_mtim.tv_sec), st.st_mtim.tv_nsec};
}

// One hive file as last read from disk.
struct Hive {
    fs::path file;
    bool loaded = false;
    bool exists = false;
    bool readable = true; // false when the file exists but could not be read
    FileStamp stamp;
    WineRegistry registry;
    // Changed in memory during a transaction and not yet written.
    bool pending = false;
};

struct OpenKey {
    HKEY root = 0;
    std::string path; // normalized, from the hive's root
    REGSAM access = 0;
};

struct State {
    std::mutex mutex;
    Hive machine;
    Hive user;
    std::map<HKEY, OpenKey> handles;
    HKEY nextHandle = 1;
    // The SOFTWARE hive of a Windows installation, when HKEY_LOCAL_MACHINE\Software is one.
    std::unique_ptr<HiveFile> software;
    // True while a RegistryTransaction holds back the writes.
    bool inTransaction = false;
};

State& state()
{
    static State s;
    return s;
}

// The hive that stands for HKEY_LOCAL_MACHINE\Software now, or null when the machine's
// registry is Wine's system.reg.
HiveFile* softwareHive()
{
    State& s = state();
    const std::optional<fs::path> file = Prefix::softwareHive();
    if (!file) {
        s.software.reset();
        return nullptr;
    }
    if (!s.software || s.software->file() != *file) {
        s.software = std::make_unique<HiveFile>(*file);
        s.software->holdCommits(s.inTransaction);
    }
    return s.software.get();
}

// A key of HKEY_LOCAL_MACHINE as seen through a SOFTWARE hive: the root, or a key below
// Software (path then relative to the hive's root). Other keys are not in the hive.
struct HivePath {
    bool machineRoot = false;
    std::string path;
};

std::optional<HivePath> hivePathOf(const std::string& machinePath)
{
    if (machinePath.empty())
        return HivePath{true, {}};
    const std::size_t separator = machinePath.find('\\');
    const std::string_view first = std::string_view(machinePath).substr(0, separator);
    if (!core::asciiEqualsIgnoreCase(first, "Software"))
        return std::nullopt;
    return HivePath{false, separator == std::string::npos ? std::string()
                                                          : machinePath.substr(separator + 1)};
}

bool hiveKeyExists(HiveFile& hive, const std::string& machinePath)
{
    const auto at = hivePathOf(machinePath);
    return at && (at->machineRoot || hive.keyExists(at->path));
}

bool isRoot(HKEY key)
{
    return key == HKEY_LOCAL_MACHINE || key == HKEY_CURRENT_USER;
}

std::vector<std::string> freshPreamble(HKEY root)
{
    return {root == HKEY_LOCAL_MACHINE ? ";; All keys relative to \\\\Machine"
                                       : ";; All keys relative to \\\\User\\\\S-1-5-21-0-0-0-1000",
            "", "#arch=win32"};
}

// The hive of a root key as the file is now: read again when it changed since last time.
Hive& loadHive(HKEY root)
{
    State& s = state();
    Hive& hive = root == HKEY_LOCAL_MACHINE ? s.machine : s.user;
    const fs::path file = root == HKEY_LOCAL_MACHINE ? Prefix::systemReg() : Prefix::userReg();
    struct stat st {};
    const bool exists = ::stat(file.c_str(), &st) == 0;
    if (hive.loaded && hive.file == file &&
        (hive.pending || (hive.exists == exists && (!exists || hive.stamp == stampOf(st)))))
        return hive;

    hive = Hive{};
    hive.file = file;
    hive.exists = exists;
    if (exists) {
        hive.stamp = stampOf(st);
        std::string bytes;
        hive.readable = S_ISREG(st.st_mode) && readWholeFile(file, bytes);
        if (hive.readable)
            hive.registry = WineRegistry::parse(bytes);
    }
    hive.registry.setFreshPreamble(freshPreamble(root));
    hive.loaded = true;
    return hive;
}

// Whether the hive may be changed: its file (if any) and its folder must be writable, and a
// file that cannot be read or is not in Wine's format is never replaced.
LONG checkWritable(const Hive& hive)
{
    // Nothing is ever created on a Windows volume.
    if (Prefix::isWindowsVolume())
        return ERROR_ACCESS_DENIED;
    if (hive.exists && (!hive.readable || !hive.registry.recognized()))
        return ERROR_REGISTRY_CORRUPT;
    if (hive.exists && !isWritable(hive.file))
        return ERROR_ACCESS_DENIED;
    return isWritable(hive.file.parent_path()) ? ERROR_SUCCESS : ERROR_ACCESS_DENIED;
}

// Why path may not be written, as the C library words it; empty when it may. A file without
// any write permission counts as refused for the superuser too, as isWritable has it.
std::string unwritableReason(const fs::path& path)
{
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || ::access(path.c_str(), W_OK) != 0)
        return std::strerror(errno);
    if ((st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0)
        return std::strerror(EACCES);
    return {};
}

// Why a hive file that exists could not be read.
std::string unreadableReason(const fs::path& path)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return std::strerror(errno);
    ::close(fd);
    return path.filename().string() + " is not a file that can be read";
}

// Writes the changed hive back. On failure the copy in memory no longer matches the file and
// is dropped, so that the next call reads the file again.
LONG saveHive(Hive& hive)
{
    if (state().inTransaction) {
        hive.pending = true;
        return ERROR_SUCCESS;
    }
    hive.pending = false;
    if (!writeFileAtomically(hive.file, hive.registry.serialize())) {
        hive.loaded = false;
        return ERROR_ACCESS_DENIED;
    }
    struct stat st {};
    if (::stat(hive.file.c_str(), &st) == 0) {
        hive.exists = true;
        hive.stamp = stampOf(st);
    } else {
        hive.loaded = false;
    }
    return ERROR_SUCCESS;
}

// The open key that a handle names; a root key is open with every right.
std::optional<OpenKey> lookup(HKEY key)
{
    if (isRoot(key))
        return OpenKey{key, {}, KEY_ALL_ACCESS};
    const auto& handles = state().handles;
    const auto it = handles.find(key);
    if (it == handles.end())
        return std::nullopt;
    return it->second;
}

// The key that subKey names below key: a leading "\" starts again at the hive's root.
std::optional<OpenKey> resolve(HKEY key, const char* subKey)
{
    std::optional<OpenKey> base = lookup(key);
    if (!base)
        return std::nullopt;
    const std::string_view sub = subKey ? subKey : "";
    std::string path =
        sub.starts_with('\\') ? std::string(sub) : base->path + "\\" + std::string(sub);
    base->path = normalizeKeyPath(path);
    return base;
}

HKEY addHandle(const OpenKey& key)
{
    State& s = state();
    while (s.nextHandle == 0 || s.handles.contains(s.nextHandle))
        s.nextHandle = (s.nextHandle + 1) & 0x7FFFFFFFu;
    const HKEY handle = s.nextHandle;
    s.nextHandle = (s.nextHandle + 1) & 0x7FFFFFFFu;
    s.handles.emplace(handle, key);
    return handle;
}

bool isStringKind(DWORD type)
{
    return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ;
}

// Hands a stored value to the caller: text kinds as UTF-8, other kinds as stored.
LONG returnValue(DWORD kind, const std::string& stored, DWORD* type, BYTE* data, DWORD* dataSize)
{
    const std::string bytes = isStringKind(kind) ? utf16leToUtf8(stored) : stored;
    if (type)
        *type = kind;
    if (bytes.size() > 0xFFFFFFFFu)
        return ERROR_MORE_DATA;
    const DWORD size = DWORD(bytes.size());
    if (data) {
        if (*dataSize < size) {
            *dataSize = size;
            return ERROR_MORE_DATA;
        }
        if (size > 0)
            std::memcpy(data, bytes.data(), size);
    }
    if (dataSize)
        *dataSize = size;
    return ERROR_SUCCESS;
}

// The parts of the registry functions that work on a SOFTWARE hive.
LONG openInHive(HiveFile& hive, OpenKey target, REGSAM samDesired, HKEY* result)
{
    if (!hiveKeyExists(hive, target.path))
        return ERROR_FILE_NOT_FOUND;
    if ((samDesired & kChangeRights) && !hive.writeRefusal().empty())
        return ERROR_ACCESS_DENIED;
    target.access = samDesired;
    *result = addHandle(target);
    return ERROR_SUCCESS;
}

LONG createInHive(HiveFile& hive, OpenKey target, REGSAM samDesired, HKEY* result,
                  DWORD* disposition)
{
    const auto at = hivePathOf(target.path);
    const bool exists = at && (at->machineRoot || hive.keyExists(at->path));
    if (!exists || (samDesired & kChangeRights))
        if (!hive.writeRefusal().empty())
            return ERROR_ACCESS_DENIED;
    if (!exists) {
        // Keys beside Software belong to other hives, which are not written.
        if (!at || !hive.createKey(at->path))
            return ERROR_ACCESS_DENIED;
    }
    if (disposition)
        *disposition = exists ? REG_OPENED_EXISTING_KEY : REG_CREATED_NEW_KEY;
    target.access = samDesired;
    *result = addHandle(target);
    return ERROR_SUCCESS;
}

} // namespace

LONG RegOpenKeyExA(HKEY key, const char* subKey, DWORD, REGSAM samDesired, HKEY* result)
{
    std::lock_guard lock(state().mutex);
    if (!result)
        return ERROR_INVALID_PARAMETER;
    std::optional<OpenKey> target = resolve(key, subKey);
    if (!target)
        return ERROR_INVALID_HANDLE;
    if (target->root == HKEY_LOCAL_MACHINE)
        if (HiveFile* software = softwareHive())
            return openInHive(*software, *target, samDesired, result);
    Hive& hive = loadHive(target->root);
    if (!hive.registry.keyExists(target->path))
        return ERROR_FILE_NOT_FOUND;
    if (samDesired & kChangeRights)
        if (const LONG rc = checkWritable(hive); rc != ERROR_SUCCESS)
            return rc;
    target->access = samDesired;
    *result = addHandle(*target);
    return ERROR_SUCCESS;
}

LONG RegCreateKeyExA(HKEY key, const char* subKey, DWORD, const char*, DWORD, REGSAM samDesired,
                     const void*, HKEY* result, DWORD* disposition)
{
    std::lock_guard lock(state().mutex);
    if (!result)
        return ERROR_INVALID_PARAMETER;
    std::optional<OpenKey> target = resolve(key, subKey);
    if (!target)
        return ERROR_INVALID_HANDLE;
    if (target->root == HKEY_LOCAL_MACHINE)
        if (HiveFile* software = softwareHive())
            return createInHive(*software, *target, samDesired, result, disposition);
    Hive& hive = loadHive(target->root);
    const bool exists = hive.registry.keyExists(target->path);
    if (!exists || (samDesired & kChangeRights))
        if (const LONG rc = checkWritable(hive); rc != ERROR_SUCCESS)
            return rc;
    if (!exists) {
        hive.registry.createKey(target->path, std::int64_t(std::time(nullptr)));
        if (const LONG rc = saveHive(hive); rc != ERROR_SUCCESS)
            return rc;
    }
    if (disposition)
        *disposition = exists ? REG_OPENED_EXISTING_KEY : REG_CREATED_NEW_KEY;
    target->access = samDesired;
    *result = addHandle(*target);
    return ERROR_SUCCESS;
}

LONG RegQueryValueExA(HKEY key, const char* valueName, DWORD*, DWORD* type, BYTE* data,
                      DWORD* dataSize)
{
    std::lock_guard lock(state().mutex);
    const std::optional<OpenKey> open = lookup(key);
    if (!open)
        return ERROR_INVALID_HANDLE;
    if (!(open->access & KEY_QUERY_VALUE))
        return ERROR_ACCESS_DENIED;
    if (data && !dataSize)
        return ERROR_INVALID_PARAMETER;
    const char* name = valueName ? valueName : "";
    if (open->root == HKEY_LOCAL_MACHINE)
        if (HiveFile* software = softwareHive()) {
            const auto at = hivePathOf(open->path);
            if (!hiveKeyExists(*software, open->path))
                return ERROR_KEY_DELETED;
            const auto value = at->machineRoot ? std::nullopt : software->findValue(at->path, name);
            if (!value)
                return ERROR_FILE_NOT_FOUND;
            return returnValue(value->type, value->data, type, data, dataSize);
        }
    const Hive& hive = loadHive(open->root);
    if (!hive.registry.keyExists(open->path))
        return ERROR_KEY_DELETED;
    const WineRegValue* value = hive.registry.findValue(open->path, name);
    if (!value)
        return ERROR_FILE_NOT_FOUND;
    return returnValue(value->type, value->data, type, data, dataSize);
}

LONG RegSetValueExA(HKEY key, const char* valueName, DWORD, DWORD type, const BYTE* data,
                    DWORD dataSize)
{
    std::lock_guard lock(state().mutex);
    const std::optional<OpenKey> open = lookup(key);
    if (!open)
        return ERROR_INVALID_HANDLE;
    if (!(open->access & KEY_SET_VALUE))
        return ERROR_ACCESS_DENIED;
    if (!data && dataSize > 0)
        return ERROR_NOACCESS;
    const std::string_view bytes(reinterpret_cast<const char*>(data), data ? dataSize : 0);
    if (open->root == HKEY_LOCAL_MACHINE)
        if (HiveFile* software = softwareHive()) {
            if (!hiveKeyExists(*software, open->path))
                return ERROR_KEY_DELETED;
            const auto at = hivePathOf(open->path);
            if (at->machineRoot || !software->writeRefusal().empty())
                return ERROR_ACCESS_DENIED;
            const HiveValue value{type,
                                  isStringKind(type) ? utf8ToUtf16le(bytes) : std::string(bytes)};
            return software->setValue(at->path, valueName ? valueName : "", value)
                       ? ERROR_SUCCESS
                       : ERROR_ACCESS_DENIED;
        }
    Hive& hive = loadHive(open->root);
    if (!hive.registry.keyExists(open->path))
        return ERROR_KEY_DELETED;
    if (const LONG rc = checkWritable(hive); rc != ERROR_SUCCESS)
        return rc;

    WineRegValue value;
    value.name = valueName ? valueName : "";
    value.type = type;
    value.data = isStringKind(type) ? utf8ToUtf16le(bytes) : std::string(bytes);
    const auto now = std::int64_t(std::time(nullptr));
    hive.registry.setValue(open->path, value, now);
    hive.registry.touchKey(open->path, now);
    return saveHive(hive);
}

LONG RegCloseKey(HKEY key)
{
    std::lock_guard lock(state().mutex);
    if (isRoot(key))
        return ERROR_SUCCESS;
    return state().handles.erase(key) ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}

std::string registryWriteRefusal(HKEY key)
{
    std::lock_guard lock(state().mutex);
    const std::optional<OpenKey> open = lookup(key);
    if (!open || open->root != HKEY_LOCAL_MACHINE)
        return {};
    HiveFile* software = softwareHive();
    return software ? software->writeRefusal() : std::string();
}

std::string registryWriteFailureReason(HKEY key)
{
    std::lock_guard lock(state().mutex);
    const std::optional<OpenKey> open = lookup(key);
    if (!open)
        return {};
    if (open->root == HKEY_LOCAL_MACHINE)
        if (HiveFile* software = softwareHive())
            return software->writeRefusal();
    const Hive& hive = loadHive(open->root);
    if (hive.exists && !hive.readable)
        return unreadableReason(hive.file);
    if (hive.exists && !hive.registry.recognized())
        return hive.file.filename().string() + " is not in Wine's registry format";
    if (hive.exists)
        if (std::string why = unwritableReason(hive.file); !why.empty())
            return why;
    return unwritableReason(hive.file.parent_path());
}

RegistryTransaction::RegistryTransaction()
{
    std::lock_guard lock(state().mutex);
    State& s = state();
    s.inTransaction = true;
    if (s.software)
        s.software->holdCommits(true);
}

RegistryTransaction::~RegistryTransaction()
{
    if (!open_)
        return;
    std::lock_guard lock(state().mutex);
    State& s = state();
    s.inTransaction = false;
    for (Hive* hive : {&s.machine, &s.user})
        if (hive->pending)
            *hive = Hive{};
    if (s.software) {
        s.software->discardPending();
        s.software->holdCommits(false);
    }
}

LONG RegistryTransaction::commit()
{
    std::lock_guard lock(state().mutex);
    State& s = state();
    open_ = false;
    s.inTransaction = false;
    LONG result = ERROR_SUCCESS;
    for (Hive* hive : {&s.machine, &s.user})
        if (hive->pending && (result != ERROR_SUCCESS || saveHive(*hive) != ERROR_SUCCESS)) {
            *hive = Hive{};
            result = ERROR_ACCESS_DENIED;
        }
    if (s.software) {
        if (result != ERROR_SUCCESS)
            s.software->discardPending();
        else if (!s.software->writePending())
            result = ERROR_ACCESS_DENIED;
        s.software->holdCommits(false);
    }
    return result;
}

std::size_t registryOpenHandleCount()
{
    std::lock_guard lock(state().mutex);
    return state().handles.size();
}

} // namespace platform
