#include "platform/Registry.h"

#include "platform/Prefix.h"
#include "platform/RegistryStore.h"
#include "platform/WineRegistry.h"

#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <optional>
#include <string>

namespace fs = std::filesystem;

namespace platform {

namespace {

// Every right that allows a change of the key or its values.
constexpr REGSAM kChangeRights = KEY_SET_VALUE | KEY_CREATE_SUB_KEY | KEY_CREATE_LINK |
                                 0x00010000 /* delete */ | 0x00040000 /* write DAC */ |
                                 0x00080000 /* write owner */;

struct OpenKey {
    HKEY root = 0;
    std::string path; // normalized, from the root key
    REGSAM access = 0;
};

struct State {
    std::mutex mutex;
    // The stores of the two root keys, chosen for the system they were made for.
    std::unique_ptr<RegistryStore> machine;
    std::unique_ptr<RegistryStore> user;
    std::map<HKEY, OpenKey> handles;
    HKEY nextHandle = 1;
    // True while a RegistryTransaction holds back the writes.
    bool inTransaction = false;
    // The thread of prefetchMachineRegistry. Last, so that it is joined before the rest ends.
    std::jthread prefetch;
};

State& state()
{
    static State s;
    return s;
}

bool isRoot(HKEY key)
{
    return key == HKEY_LOCAL_MACHINE || key == HKEY_CURRENT_USER;
}

// The store of a root key for the system as it is now: HKEY_LOCAL_MACHINE is a Windows
// installation's SOFTWARE hive when the system has one, else system.reg; HKEY_CURRENT_USER is
// user.reg. A store is made again only when the system's files are others.
RegistryStore& storeOf(HKEY root)
{
    State& s = state();
    std::unique_ptr<RegistryStore>& store = root == HKEY_LOCAL_MACHINE ? s.machine : s.user;
    const std::optional<fs::path> hive =
        root == HKEY_LOCAL_MACHINE ? Prefix::softwareHive() : std::nullopt;
    const fs::path file =
        hive ? *hive : root == HKEY_LOCAL_MACHINE ? Prefix::systemReg() : Prefix::userReg();
    if (!store || store->file() != file) {
        store = hive ? RegistryStore::softwareHive(file) : RegistryStore::wineFile(file, root);
        store->holdCommits(s.inTransaction);
    }
    return *store;
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

// Works on the values of an open key that was opened with right and still exists.
LONG withValues(HKEY key, REGSAM right,
                const std::function<LONG(RegistryStore& store, const std::string& path)>& action)
{
    std::lock_guard lock(state().mutex);
    const std::optional<OpenKey> open = lookup(key);
    if (!open)
        return ERROR_INVALID_HANDLE;
    if (!(open->access & right))
        return ERROR_ACCESS_DENIED;
    RegistryStore& store = storeOf(open->root);
    if (!store.keyExists(open->path))
        return ERROR_KEY_DELETED;
    return action(store, open->path);
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
    RegistryStore& store = storeOf(target->root);
    if (!store.keyExists(target->path))
        return ERROR_FILE_NOT_FOUND;
    if (samDesired & kChangeRights)
        if (const LONG rc = store.checkWritable(); rc != ERROR_SUCCESS)
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
    RegistryStore& store = storeOf(target->root);
    if (samDesired & kChangeRights)
        if (const LONG rc = store.checkWritable(); rc != ERROR_SUCCESS)
            return rc;
    bool created = false;
    if (const LONG rc = store.createKey(target->path, created); rc != ERROR_SUCCESS)
        return rc;
    if (disposition)
        *disposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
    target->access = samDesired;
    *result = addHandle(*target);
    return ERROR_SUCCESS;
}

LONG RegQueryValueExA(HKEY key, const char* valueName, DWORD*, DWORD* type, BYTE* data,
                      DWORD* dataSize)
{
    return withValues(key, KEY_QUERY_VALUE, [&](RegistryStore& store, const std::string& path) -> LONG {
        if (data && !dataSize)
            return ERROR_INVALID_PARAMETER;
        const auto value = store.findValue(path, valueName ? valueName : "");
        if (!value)
            return ERROR_FILE_NOT_FOUND;
        return returnValue(value->type, value->data, type, data, dataSize);
    });
}

LONG RegSetValueExA(HKEY key, const char* valueName, DWORD, DWORD type, const BYTE* data,
                    DWORD dataSize)
{
    return withValues(key, KEY_SET_VALUE, [&](RegistryStore& store, const std::string& path) -> LONG {
        if (!data && dataSize > 0)
            return ERROR_NOACCESS;
        const std::string_view bytes(reinterpret_cast<const char*>(data), data ? dataSize : 0);
        return store.setValue(
            path, valueName ? valueName : "",
            {type, isStringKind(type) ? utf8ToUtf16le(bytes) : std::string(bytes)});
    });
}

LONG RegDeleteValueA(HKEY key, const char* valueName)
{
    return withValues(key, KEY_SET_VALUE, [&](RegistryStore& store, const std::string& path) -> LONG {
        return store.deleteValue(path, valueName ? valueName : "");
    });
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
    return storeOf(open->root).writeRefusal();
}

std::string registryReadFailure()
{
    std::lock_guard lock(state().mutex);
    return storeOf(HKEY_LOCAL_MACHINE).readFailure();
}

std::string registryWriteFailureReason(HKEY key)
{
    std::lock_guard lock(state().mutex);
    const std::optional<OpenKey> open = lookup(key);
    if (!open)
        return {};
    return storeOf(open->root).failureReason();
}

RegistryTransaction::RegistryTransaction()
{
    std::lock_guard lock(state().mutex);
    State& s = state();
    s.inTransaction = true;
    for (RegistryStore* store : {s.machine.get(), s.user.get()})
        if (store)
            store->holdCommits(true);
}

RegistryTransaction::~RegistryTransaction()
{
    if (!open_)
        return;
    std::lock_guard lock(state().mutex);
    State& s = state();
    s.inTransaction = false;
    for (RegistryStore* store : {s.machine.get(), s.user.get()})
        if (store) {
            store->discard();
            store->holdCommits(false);
        }
}

LONG RegistryTransaction::commit()
{
    std::lock_guard lock(state().mutex);
    State& s = state();
    open_ = false;
    s.inTransaction = false;
    LONG result = ERROR_SUCCESS;
    for (RegistryStore* store : {s.machine.get(), s.user.get()})
        if (store) {
            if (result == ERROR_SUCCESS)
                result = store->commit();
            else
                store->discard();
            store->holdCommits(false);
        }
    return result;
}

std::size_t registryOpenHandleCount()
{
    std::lock_guard lock(state().mutex);
    return state().handles.size();
}

void prefetchMachineRegistry()
{
    State& s = state();
    std::lock_guard lock(s.mutex);
    if (s.prefetch.joinable())
        return;
    try {
        s.prefetch = std::jthread([] {
            try {
                std::lock_guard lock(state().mutex);
                storeOf(HKEY_LOCAL_MACHINE).keyExists({});
            } catch (...) {
                // Whatever went wrong happens again, and is reported, on the call that needs
                // the file.
            }
        });
    } catch (const std::system_error&) {
        // No thread to be had: the first call reads the file.
    }
}

} // namespace platform
