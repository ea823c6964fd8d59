#include "platform/TRegistry.h"

#include "core/Exceptions.h"
#include "core/Format.h"

#include <cstring>
#include <string_view>
#include <vector>

using namespace platform;

namespace {

[[noreturn]] void raise(const char* pattern, const std::string& name)
{
    throw ERegistryException(core::Format(pattern, {name}));
}

} // namespace

TRegDataType DataTypeToRegData(DWORD type)
{
    switch (type) {
    case REG_SZ:
        return rdString;
    case REG_EXPAND_SZ:
        return rdExpandString;
    case REG_DWORD:
        return rdInteger;
    case REG_BINARY:
        return rdBinary;
    default:
        return rdUnknown;
    }
}

DWORD RegDataToDataType(TRegDataType kind)
{
    switch (kind) {
    case rdString:
        return REG_SZ;
    case rdExpandString:
        return REG_EXPAND_SZ;
    case rdInteger:
        return REG_DWORD;
    case rdBinary:
        return REG_BINARY;
    case rdUnknown:
        break;
    }
    return REG_NONE;
}

TRegistry::~TRegistry()
{
    CloseKey();
}

void TRegistry::SetRootKey(HKEY rootKey)
{
    if (rootKey == rootKey_)
        return;
    rootKey_ = rootKey;
    CloseKey();
}

void TRegistry::CloseKey()
{
    if (currentKey_ != 0)
        RegCloseKey(currentKey_);
    currentKey_ = 0;
    currentPath_.clear();
}

void TRegistry::ChangeKey(HKEY key, std::string path)
{
    CloseKey();
    currentKey_ = key;
    currentPath_ = std::move(path);
}

bool TRegistry::OpenKey(const std::string& key, bool canCreate)
{
    const bool relative = key.empty() || key.front() != '\\';
    const HKEY parent = relative && currentKey_ != 0 ? currentKey_ : rootKey_;
    std::string path = relative ? key : key.substr(1);

    HKEY opened = 0;
    LONG rc;
    if (canCreate && !path.empty()) {
        rc = RegCreateKeyExA(parent, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                             KEY_ALL_ACCESS, nullptr, &opened, nullptr);
    } else {
        rc = RegOpenKeyExA(parent, path.c_str(), 0, KEY_ALL_ACCESS, &opened);
        // A user who may not change the key may still read it.
        if (rc != ERROR_SUCCESS && !canCreate)
            rc = RegOpenKeyExA(parent, path.c_str(), 0, KEY_READ, &opened);
    }
    if (rc != ERROR_SUCCESS)
        return false;
    if (relative && currentKey_ != 0 && !path.empty())
        path = currentPath_ + "\\" + path;
    else if (relative && currentKey_ != 0)
        path = currentPath_;
    ChangeKey(opened, std::move(path));
    return true;
}

bool TRegistry::GetDataInfo(const std::string& valueName, TRegDataInfo& value) const
{
    value = TRegDataInfo{};
    DWORD type = 0;
    DWORD size = 0;
    if (RegQueryValueExA(currentKey_, valueName.c_str(), nullptr, &type, nullptr, &size) !=
        ERROR_SUCCESS)
        return false;
    value.RegData = DataTypeToRegData(type);
    value.DataSize = int(size);
    return true;
}

int TRegistry::GetDataSize(const std::string& valueName) const
{
    TRegDataInfo info;
    return GetDataInfo(valueName, info) ? info.DataSize : -1;
}

TRegDataType TRegistry::GetDataType(const std::string& valueName) const
{
    TRegDataInfo info;
    return GetDataInfo(valueName, info) ? info.RegData : rdUnknown;
}

bool TRegistry::ValueExists(const std::string& valueName) const
{
    TRegDataInfo info;
    return GetDataInfo(valueName, info);
}

std::string TRegistry::ReadString(const std::string& name) const
{
    TRegDataInfo info;
    if (!GetDataInfo(name, info) || info.DataSize <= 0)
        return {};
    std::vector<BYTE> buffer(std::size_t(info.DataSize));
    DWORD type = 0;
    DWORD size = DWORD(buffer.size());
    if (RegQueryValueExA(currentKey_, name.c_str(), nullptr, &type, buffer.data(), &size) !=
        ERROR_SUCCESS)
        raise("Failed to get data for '%s'", name);
    const TRegDataType kind = DataTypeToRegData(type);
    if (kind != rdString && kind != rdExpandString)
        raise("Invalid data type for '%s'", name);
    const std::string_view text(reinterpret_cast<const char*>(buffer.data()), size);
    return std::string(text.substr(0, text.find('\0')));
}

void TRegistry::WriteString(const std::string& name, const std::string& value)
{
    if (RegSetValueExA(currentKey_, name.c_str(), 0, REG_SZ,
                       reinterpret_cast<const BYTE*>(value.c_str()),
                       DWORD(value.size() + 1)) != ERROR_SUCCESS)
        raise("Failed to set data for '%s'", name);
}

bool TRegistry::DeleteValue(const std::string& name)
{
    return RegDeleteValueA(currentKey_, name.c_str()) == ERROR_SUCCESS;
}

int TRegistry::ReadBinaryData(const std::string& name, void* buffer, int bufSize) const
{
    TRegDataInfo info;
    if (!GetDataInfo(name, info))
        return 0;
    if (info.RegData != rdBinary || info.DataSize > bufSize)
        raise("Invalid data type for '%s'", name);
    DWORD type = 0;
    DWORD size = DWORD(info.DataSize);
    // The value is fetched into a buffer of its own size, so that a value grown meanwhile
    // fails instead of writing past the caller's buffer.
    std::vector<BYTE> data(size);
    if (RegQueryValueExA(currentKey_, name.c_str(), nullptr, &type, data.data(), &size) !=
        ERROR_SUCCESS)
        raise("Failed to get data for '%s'", name);
    if (size > 0)
        std::memcpy(buffer, data.data(), size);
    return int(size);
}

void TRegistry::WriteBinaryData(const std::string& name, const void* buffer, int bufSize)
{
    if (bufSize < 0 ||
        RegSetValueExA(currentKey_, name.c_str(), 0, REG_BINARY, static_cast<const BYTE*>(buffer),
                       DWORD(bufSize)) != ERROR_SUCCESS)
        raise("Failed to set data for '%s'", name);
}
