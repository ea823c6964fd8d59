#include "app/TRegIndexInfo.h"

TRegIndexInfo::TRegIndexInfo() : valueNames_(std::make_unique<TStringList>()) {}

TRegIndexInfo::~TRegIndexInfo() = default;

std::string TRegIndexInfo::GetStringValue(int index) const
{
    return ReadStringValue(std::string(valueNames_->Strings(index)));
}

void TRegIndexInfo::SetStringValue(int index, const std::string& value)
{
    WriteStringValue(std::string(valueNames_->Strings(index)), value);
}

std::int32_t TRegIndexInfo::GetIntegerValue(int index) const
{
    return ReadIntegerValue(std::string(valueNames_->Strings(index)));
}

void TRegIndexInfo::SetIntegerValue(int index, std::int32_t value)
{
    WriteIntegerValue(std::string(valueNames_->Strings(index)), value);
}

std::uint16_t TRegIndexInfo::GetSmallIntValue(int index) const
{
    return std::uint16_t(ReadSmallIntValue(std::string(valueNames_->Strings(index))));
}

void TRegIndexInfo::SetSmallIntValue(int index, std::uint16_t value)
{
    WriteSmallIntValue(std::string(valueNames_->Strings(index)), std::int16_t(value));
}
