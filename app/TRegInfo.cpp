#include "app/TRegInfo.h"

#include "core/Exceptions.h"
#include "core/Format.h"
#include "platform/TRegistry.h"

TRegInfo::TRegInfo() : registry_(std::make_unique<TRegistry>()) {}

TRegInfo::~TRegInfo() = default;

void TRegInfo::CheckReadOnly() const
{
    if (readOnly_)
        throw ERegistryException("Property is read-only");
}

bool TRegInfo::OpenKey(bool canCreate) const
{
    // The key path is always taken from the root key: a key left open by an operation that
    // failed must not become the base of the next one.
    const std::string path = keyPath_.starts_with('\\') ? keyPath_ : "\\" + keyPath_;
    return registry_->OpenKey(path, canCreate);
}

std::string TRegInfo::ReadStringValue(const std::string& name) const
{
    if (!OpenKey(!readOnly_))
        return {};
    std::string value = registry_->ReadString(name);
    registry_->CloseKey();
    return value;
}

void TRegInfo::WriteStringValue(const std::string& name, const std::string& value)
{
    CheckReadOnly();
    if (!OpenKey(true))
        throw ERegistryException(core::Format("Failed to set data for '%s'", {name}));
    registry_->WriteString(name, value);
    registry_->CloseKey();
}

int TRegInfo::ReadBinaryValue(const std::string& name, void* buffer, int size) const
{
    if (!OpenKey(!readOnly_))
        return 0;
    const int count = registry_->ReadBinaryData(name, buffer, size);
    registry_->CloseKey();
    return count;
}

void TRegInfo::WriteBinaryValue(const std::string& name, const void* buffer, int size)
{
    CheckReadOnly();
    if (!OpenKey(true))
        throw ERegistryException(core::Format("Failed to set data for '%s'", {name}));
    registry_->WriteBinaryData(name, buffer, size);
    registry_->CloseKey();
}

std::int32_t TRegInfo::ReadIntegerValue(const std::string& name) const
{
    unsigned char bytes[4] = {};
    ReadBinaryValue(name, bytes, sizeof bytes);
    return std::int32_t(std::uint32_t(bytes[0]) | std::uint32_t(bytes[1]) << 8 |
                        std::uint32_t(bytes[2]) << 16 | std::uint32_t(bytes[3]) << 24);
}

void TRegInfo::WriteIntegerValue(const std::string& name, std::int32_t value)
{
    CheckReadOnly();
    const auto bits = std::uint32_t(value);
    const unsigned char bytes[4] = {
        static_cast<unsigned char>(bits), static_cast<unsigned char>(bits >> 8),
        static_cast<unsigned char>(bits >> 16), static_cast<unsigned char>(bits >> 24)};
    WriteBinaryValue(name, bytes, sizeof bytes);
}

std::int16_t TRegInfo::ReadSmallIntValue(const std::string& name) const
{
    unsigned char bytes[2] = {};
    ReadBinaryValue(name, bytes, sizeof bytes);
    return std::int16_t(std::uint16_t(bytes[0] | bytes[1] << 8));
}

void TRegInfo::WriteSmallIntValue(const std::string& name, std::int16_t value)
{
    CheckReadOnly();
    const auto bits = std::uint16_t(value);
    const unsigned char bytes[2] = {static_cast<unsigned char>(bits),
                                    static_cast<unsigned char>(bits >> 8)};
    WriteBinaryValue(name, bytes, sizeof bytes);
}
