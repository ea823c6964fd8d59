#pragma once

#include "platform/WinExec.h" // ERROR_FILE_NOT_FOUND, shared with process start

#include <cstddef>
#include <cstdint>
#include <string>

namespace platform {

// The registry functions of the platform, over the prefix's hive files: HKEY_LOCAL_MACHINE is
// system.reg and HKEY_CURRENT_USER user.reg, in Wine's text format. Each root key is kept by a
// RegistryStore, chosen for the system when it is first used.
//
// When the prefix is (or its drive c: leads to) a Windows installation without a system.reg,
// HKEY_LOCAL_MACHINE\Software is that installation's SOFTWARE hive instead, read and written
// through libhivex (see HiveFile); the other keys of HKEY_LOCAL_MACHINE are missing and cannot
// be created, and on a Windows volume itself HKEY_CURRENT_USER is empty and cannot be written.
// Every call sees the file as it is on disk now (a file changed by another program is read again);
// every change replaces the file atomically at once.
//
// Texts (key paths, value names, string data) are UTF-8; the hive keeps string data as
// UTF-16 and converts it on the way in and out, so that sizes are those of the UTF-8 form.

using LONG = std::int32_t;
using DWORD = std::uint32_t;
using BYTE = std::uint8_t;
using REGSAM = DWORD;
// An open key: one of the two root keys, or a handle returned by an open or create call.
using HKEY = std::uint32_t;

inline constexpr HKEY HKEY_CURRENT_USER = 0x80000001u;
inline constexpr HKEY HKEY_LOCAL_MACHINE = 0x80000002u;

// Data kinds.
inline constexpr DWORD REG_NONE = 0;
inline constexpr DWORD REG_SZ = 1;
inline constexpr DWORD REG_EXPAND_SZ = 2;
inline constexpr DWORD REG_BINARY = 3;
inline constexpr DWORD REG_DWORD = 4;
inline constexpr DWORD REG_MULTI_SZ = 7;

// Access rights.
inline constexpr REGSAM KEY_QUERY_VALUE = 0x0001;
inline constexpr REGSAM KEY_SET_VALUE = 0x0002;
inline constexpr REGSAM KEY_CREATE_SUB_KEY = 0x0004;
inline constexpr REGSAM KEY_ENUMERATE_SUB_KEYS = 0x0008;
inline constexpr REGSAM KEY_NOTIFY = 0x0010;
inline constexpr REGSAM KEY_CREATE_LINK = 0x0020;
inline constexpr REGSAM KEY_READ = 0x00020019;
inline constexpr REGSAM KEY_WRITE = 0x00020006;
inline constexpr REGSAM KEY_ALL_ACCESS = 0x000F003F;

inline constexpr DWORD REG_OPTION_NON_VOLATILE = 0;
inline constexpr DWORD REG_CREATED_NEW_KEY = 1;
inline constexpr DWORD REG_OPENED_EXISTING_KEY = 2;

// Results. ERROR_FILE_NOT_FOUND (a missing key or value) comes with process start.
inline constexpr LONG ERROR_SUCCESS = 0;
inline constexpr LONG ERROR_ACCESS_DENIED = 5;
inline constexpr LONG ERROR_INVALID_HANDLE = 6;
inline constexpr LONG ERROR_INVALID_PARAMETER = 87;
inline constexpr LONG ERROR_MORE_DATA = 234;
inline constexpr LONG ERROR_NOACCESS = 998;
inline constexpr LONG ERROR_REGISTRY_CORRUPT = 1015;
inline constexpr LONG ERROR_KEY_DELETED = 1018;

// Opens an existing key below key (a root key or an open handle). A subKey that begins with
// "\" is taken from the root of key's hive. Asking for any right to change the key is refused
// with ERROR_ACCESS_DENIED when the hive file or its folder cannot be written; a missing key
// gives ERROR_FILE_NOT_FOUND. options are accepted and not used.
LONG RegOpenKeyExA(HKEY key, const char* subKey, DWORD options, REGSAM samDesired, HKEY* result);

// Opens a key, creating it and every missing key above it. Creating needs a writable hive;
// a hive file that is not in Wine's format is never replaced (ERROR_REGISTRY_CORRUPT).
// disposition, when given, receives REG_CREATED_NEW_KEY or REG_OPENED_EXISTING_KEY. className
// and security are accepted and not used.
LONG RegCreateKeyExA(HKEY key, const char* subKey, DWORD reserved, const char* className,
                     DWORD options, REGSAM samDesired, const void* security, HKEY* result,
                     DWORD* disposition);

// Reads a value (a null or empty name is the key's default value). type and dataSize, when
// given, receive the kind and the size in bytes. With data, *dataSize must hold the buffer's
// size: a smaller buffer gives ERROR_MORE_DATA (and the size needed). Needs KEY_QUERY_VALUE.
LONG RegQueryValueExA(HKEY key, const char* valueName, DWORD* reserved, DWORD* type, BYTE* data,
                      DWORD* dataSize);

// Stores a value of the given kind; string kinds take UTF-8 text including its NUL. The key's
// time of last change becomes now; nothing else in the hive changes.
// Needs KEY_SET_VALUE; a hive that cannot be written gives ERROR_ACCESS_DENIED.
LONG RegSetValueExA(HKEY key, const char* valueName, DWORD reserved, DWORD type, const BYTE* data,
                    DWORD dataSize);

// Removes a value (a null or empty name is the key's default value); ERROR_FILE_NOT_FOUND when
// there is none. The key's time of last change becomes now. Needs KEY_SET_VALUE; a hive that
// cannot be written gives ERROR_ACCESS_DENIED.
LONG RegDeleteValueA(HKEY key, const char* valueName);

// Closes a handle; closing a root key does nothing.
LONG RegCloseKey(HKEY key);

// Why HKEY_LOCAL_MACHINE may not be written now, in words for the user: a Windows registry
// that was not shut down cleanly, a disk mounted read-only, a hive that cannot be read or may
// not be changed. Empty when writes may go ahead, and always for Wine's registry files, whose
// refusals have no reason of their own. key is a root key or an open handle; writes to its
// hive are then refused with ERROR_ACCESS_DENIED. Looks at the disk afresh on every call.
std::string registryWriteRefusal(HKEY key);

// Why HKEY_LOCAL_MACHINE cannot be read now, in words for the user: a Windows hive that is
// damaged (its base block) or that libhivex cannot open. Empty when it can be read, and always
// for Wine's registry files.
std::string registryReadFailure();

// Why a change of key's hive is refused now, in the system's words ("Permission denied",
// "Read-only file system"), to follow a message that names what could not be changed; a
// Windows disk gives its own reason (as registryWriteRefusal does). Empty when no reason is
// known, as when the hive may be written. Looks at the disk afresh on every call.
std::string registryWriteFailureReason(HKEY key);

// Holds back the writing of the hive files while it lives: the registry functions change the
// hives in memory only (and read them from memory), and commit() then writes each changed
// file once, atomically. So a save that sets several values leaves each file either as it was
// or with every change. Ended without commit(), the changes are forgotten and the files stay
// as they were. One at a time in a process; the caller holds the system's lock (SystemLock),
// so that no other program changes the files in between.
class RegistryTransaction {
public:
    RegistryTransaction();
    ~RegistryTransaction();
    RegistryTransaction(const RegistryTransaction&) = delete;
    RegistryTransaction& operator=(const RegistryTransaction&) = delete;

    // Writes every hive changed since the start; ERROR_ACCESS_DENIED when a write failed, which
    // leaves that file as it was (and forgets its changes). Ends the transaction either way.
    LONG commit();

private:
    bool open_ = true;
};

// Starts reading HKEY_LOCAL_MACHINE's file on a thread of its own and returns at once, so that
// a program that calls this first thing reads it while it sets up its window: the first
// registry call then waits for the read to end instead of making it. Changes nothing; a file
// that changes or appears meanwhile is read again by the call that finds it so.
void prefetchMachineRegistry();

// How many handles are open now; lets tests find handles that were never closed.
std::size_t registryOpenHandleCount();

} // namespace platform
