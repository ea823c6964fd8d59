#pragma once

#include "app/TRegInfo.h"
#include "core/TStringList.h"

#include <cstdint>
#include <memory>
#include <string>

// Addresses the values of the key by their index into ValueNames, an unsorted list of value
// names. An index outside the list raises "List index out of bounds (%d)".
class TRegIndexInfo : public TRegInfo {
public:
    TRegIndexInfo();
    ~TRegIndexInfo() override;

    TStringList& ValueNames() const { return *valueNames_; }

    std::string GetStringValue(int index) const;
    void SetStringValue(int index, const std::string& value);
    std::int32_t GetIntegerValue(int index) const;
    void SetIntegerValue(int index, std::int32_t value);
    std::uint16_t GetSmallIntValue(int index) const;
    void SetSmallIntValue(int index, std::uint16_t value);

private:
    std::unique_ptr<TStringList> valueNames_;
};
