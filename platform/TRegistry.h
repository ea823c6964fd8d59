#pragma once

#include "platform/Registry.h"

#include <string>

// The kinds of registry data as the registry object names them.
enum TRegDataType { rdUnknown, rdString, rdExpandString, rdInteger, rdBinary };

struct TRegDataInfo {
    TRegDataType RegData = rdUnknown;
    int DataSize = 0;
};

TRegDataType DataTypeToRegData(platform::DWORD type);
platform::DWORD RegDataToDataType(TRegDataType kind);

// Access to the registry through one root key and at most one open key, the current key.
// Failures to open report false; failures to read or write data raise ERegistryException.
class TRegistry {
public:
    TRegistry() = default;
    ~TRegistry();
    TRegistry(const TRegistry&) = delete;
    TRegistry& operator=(const TRegistry&) = delete;

    platform::HKEY RootKey() const { return rootKey_; }
    // Changing the root key closes the current key.
    void SetRootKey(platform::HKEY rootKey);
    // The current key, 0 when none is open.
    platform::HKEY CurrentKey() const { return currentKey_; }
    // The current key's path from the root key.
    const std::string& CurrentPath() const { return currentPath_; }

    // Opens a key and makes it current, closing the key that was current before. A path that
    // begins with "\" is taken from the root key, any other from the current key (or the root
    // key when none is open). With canCreate a missing key is created, with full access;
    // without it the key is opened with full access and, if that is refused, with read access
    // only. A failed open returns false and changes nothing.
    bool OpenKey(const std::string& key, bool canCreate);
    void CloseKey();

    // The kind and size of a value of the current key; false when the value or the key is
    // missing.
    bool GetDataInfo(const std::string& valueName, TRegDataInfo& value) const;
    // -1 when the value is missing.
    int GetDataSize(const std::string& valueName) const;
    TRegDataType GetDataType(const std::string& valueName) const;
    bool ValueExists(const std::string& valueName) const;

    // A plain or expandable string, as stored (not expanded) up to its first NUL. A missing or
    // empty value, or no current key, gives "".
    std::string ReadString(const std::string& name) const;
    void WriteString(const std::string& name, const std::string& value);
    // Removes a value of the current key; false when there was none or it could not be removed.
    bool DeleteValue(const std::string& name);

    // Copies a binary value into buffer and returns its size; a missing value copies nothing
    // and returns 0. A value of another kind or larger than bufSize raises
    // "Invalid data type for '%s'".
    int ReadBinaryData(const std::string& name, void* buffer, int bufSize) const;
    void WriteBinaryData(const std::string& name, const void* buffer, int bufSize);

private:
    void ChangeKey(platform::HKEY key, std::string path);

    platform::HKEY rootKey_ = platform::HKEY_CURRENT_USER;
    platform::HKEY currentKey_ = 0;
    std::string currentPath_;
};
