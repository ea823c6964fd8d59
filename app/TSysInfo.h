#pragma once

#include "app/TRegIndexInfo.h"

#include <cstdint>
#include <string>

// The values of HKEY_LOCAL_MACHINE "\SOFTWARE\Microsoft\Windows\CurrentVersion", one property
// per value. The program reads SystemRoot, the Windows directory. Being read-only, every
// setter raises "Property is read-only" and leaves the registry as it was.
class TSysInfo : public TRegIndexInfo {
public:
    // The value names, in the order of their indexes.
    static constexpr int kValueCount = 28;
    static const char* const kValueNames[kValueCount];

    TSysInfo();

    // SetupFlags (index 1) has no property.
    std::uint16_t InstallType() const { return GetSmallIntValue(0); }
    void SetInstallType(std::uint16_t value) { SetSmallIntValue(0, value); }
    std::string DevicePath() const { return GetStringValue(2); }
    void SetDevicePath(const std::string& value) { SetStringValue(2, value); }
    std::string ProductType() const { return GetStringValue(3); }
    void SetProductType(const std::string& value) { SetStringValue(3, value); }
    std::string RegisteredOwner() const { return GetStringValue(4); }
    void SetRegisteredOwner(const std::string& value) { SetStringValue(4, value); }
    std::string RegisteredOrganization() const { return GetStringValue(5); }
    void SetRegisteredOrganization(const std::string& value) { SetStringValue(5, value); }
    std::string ProductId() const { return GetStringValue(6); }
    void SetProductId(const std::string& value) { SetStringValue(6, value); }
    std::string LicensingInfo() const { return GetStringValue(7); }
    void SetLicensingInfo(const std::string& value) { SetStringValue(7, value); }
    std::string SubVersionNumber() const { return GetStringValue(8); }
    void SetSubVersionNumber(const std::string& value) { SetStringValue(8, value); }
    std::string InventoryPath() const { return GetStringValue(9); }
    void SetInventoryPath(const std::string& value) { SetStringValue(9, value); }
    std::string ProgramFilesDir() const { return GetStringValue(10); }
    void SetProgramFilesDir(const std::string& value) { SetStringValue(10, value); }
    std::string CommonFilesDir() const { return GetStringValue(11); }
    void SetCommonFilesDir(const std::string& value) { SetStringValue(11, value); }
    std::string MediaPath() const { return GetStringValue(12); }
    void SetMediaPath(const std::string& value) { SetStringValue(12, value); }
    std::string ConfigPath() const { return GetStringValue(13); }
    void SetConfigPath(const std::string& value) { SetStringValue(13, value); }
    std::string SystemRoot() const { return GetStringValue(14); }
    void SetSystemRoot(const std::string& value) { SetStringValue(14, value); }
    std::string OldWinDir() const { return GetStringValue(15); }
    void SetOldWinDir(const std::string& value) { SetStringValue(15, value); }
    std::string ProductName() const { return GetStringValue(16); }
    void SetProductName(const std::string& value) { SetStringValue(16, value); }
    std::int32_t FirstInstallDateTime() const { return GetIntegerValue(17); }
    void SetFirstInstallDateTime(std::int32_t value) { SetIntegerValue(17, value); }
    std::string Version() const { return GetStringValue(18); }
    void SetVersion(const std::string& value) { SetStringValue(18, value); }
    std::string VersionNumber() const { return GetStringValue(19); }
    void SetVersionNumber(const std::string& value) { SetStringValue(19, value); }
    std::string BootCount() const { return GetStringValue(20); }
    void SetBootCount(const std::string& value) { SetStringValue(20, value); }
    std::string OtherDevicePath() const { return GetStringValue(21); }
    void SetOtherDevicePath(const std::string& value) { SetStringValue(21, value); }
    std::string Plus__VersionNumber() const { return GetStringValue(22); }
    void SetPlus__VersionNumber(const std::string& value) { SetStringValue(22, value); }
    std::string Plus__ProductId() const { return GetStringValue(23); }
    void SetPlus__ProductId(const std::string& value) { SetStringValue(23, value); }
    std::string ProgramFilesPath() const { return GetStringValue(24); }
    void SetProgramFilesPath(const std::string& value) { SetStringValue(24, value); }
    std::string SM_AccessoriesName() const { return GetStringValue(25); }
    void SetSM_AccessoriesName(const std::string& value) { SetStringValue(25, value); }
    std::string PF_AccessoriesName() const { return GetStringValue(26); }
    void SetPF_AccessoriesName(const std::string& value) { SetStringValue(26, value); }
    std::string WallPaperDir() const { return GetStringValue(27); }
    void SetWallPaperDir(const std::string& value) { SetStringValue(27, value); }
};
