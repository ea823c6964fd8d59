#pragma once

#include "platform/TRegistry.h"

#include <cstdint>
#include <memory>
#include <string>

// Reads and writes typed values of one registry key, KeyPath, through its own registry object.
// Every operation opens the key afresh and closes it again when it succeeded. While ReadOnly
// (as the constructor leaves it) every write is refused before the key is touched, and reads
// never create the key.
//
// The number reads (ReadIntegerValue, ReadSmallIntValue) give 0 for a missing key or value;
// a shorter binary value fills the low-order bytes and leaves the others 0. Numbers are kept
// in the registry as little-endian bytes.
class TRegInfo {
public:
    TRegInfo();
    virtual ~TRegInfo();
    TRegInfo(const TRegInfo&) = delete;
    TRegInfo& operator=(const TRegInfo&) = delete;

    bool ReadOnly() const { return readOnly_; }
    void SetReadOnly(bool readOnly) { readOnly_ = readOnly; }
    TRegistry& Registry() const { return *registry_; }
    const std::string& KeyPath() const { return keyPath_; }
    void SetKeyPath(std::string keyPath) { keyPath_ = std::move(keyPath); }

    // Raises "Property is read-only" while ReadOnly.
    void CheckReadOnly() const;

    // "" for a missing key or value.
    std::string ReadStringValue(const std::string& name) const;
    void WriteStringValue(const std::string& name, const std::string& value);
    // The number of bytes copied into buffer; 0 (buffer untouched) for a missing key or value.
    int ReadBinaryValue(const std::string& name, void* buffer, int size) const;
    void WriteBinaryValue(const std::string& name, const void* buffer, int size);
    std::int32_t ReadIntegerValue(const std::string& name) const;
    void WriteIntegerValue(const std::string& name, std::int32_t value);
    std::int16_t ReadSmallIntValue(const std::string& name) const;
    void WriteSmallIntValue(const std::string& name, std::int16_t value);

private:
    bool OpenKey(bool canCreate) const;

    bool readOnly_ = true;
    std::unique_ptr<TRegistry> registry_;
    std::string keyPath_;
};
