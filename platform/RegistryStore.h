#pragma once

#include "platform/Registry.h"

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace platform {

// One root key of the registry as the registry functions see it, over the file that keeps it:
// either one of Wine's text files (system.reg, user.reg) or the SOFTWARE hive of a Windows
// installation, which stands for HKEY_LOCAL_MACHINE\Software. The registry functions choose
// the store once per system and know nothing of the files.
//
// Key paths are normalized and relative to the root key ("Software\Microsoft"); values are
// kept as stored, text kinds in UTF-16LE. The file is read when needed and again whenever it
// changed on disk, except while changes are held back.
//
// Every change is written at once unless commits are held back (holdCommits): changes then
// stay in memory, and commit() writes the file once, atomically; discard() forgets them.
class RegistryStore {
public:
    struct Value {
        DWORD type = 0;
        std::string data;
    };

    // Wine's text file at file; root tells the comment that a new file begins with.
    static std::unique_ptr<RegistryStore> wineFile(std::filesystem::path file, HKEY root);
    // A SOFTWARE hive, seen from HKEY_LOCAL_MACHINE: only the root and the keys below
    // Software exist, and no other key can be created.
    static std::unique_ptr<RegistryStore> softwareHive(std::filesystem::path file);

    virtual ~RegistryStore() = default;

    virtual const std::filesystem::path& file() const = 0;
    virtual bool keyExists(const std::string& path) = 0;
    virtual std::optional<Value> findValue(const std::string& keyPath, std::string_view name) = 0;

    // ERROR_SUCCESS when the file may be changed now; else the error that a change gives.
    virtual LONG checkWritable() = 0;
    // Creates a key and those above it; created tells whether one was added.
    virtual LONG createKey(const std::string& path, bool& created) = 0;
    // Sets a value of an existing key, which becomes changed now.
    virtual LONG setValue(const std::string& keyPath, std::string_view name,
                          const Value& value) = 0;
    // Removes a value of an existing key; ERROR_FILE_NOT_FOUND when there is none.
    virtual LONG deleteValue(const std::string& keyPath, std::string_view name) = 0;

    virtual void holdCommits(bool hold) = 0;
    // Writes what was held back; ERROR_ACCESS_DENIED when that failed, which leaves the file
    // as it was and forgets the changes.
    virtual LONG commit() = 0;
    virtual void discard() = 0;

    // Why a Windows hive cannot be read, in words for the user; empty when it can, and for
    // Wine's files, whose readers report their own failures.
    virtual std::string readFailure() = 0;
    // Why a Windows disk refuses writes, in its own words; empty for Wine's files.
    virtual std::string writeRefusal() = 0;
    // Why a change is refused now, in the system's words; empty when no reason is known.
    virtual std::string failureReason() = 0;
};

} // namespace platform
