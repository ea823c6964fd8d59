#include "app/TSysInfo.h"

#include "platform/TRegistry.h"

const char* const TSysInfo::kValueNames[kValueCount] = {
    "InstallType",            // 0
    "SetupFlags",             // 1
    "DevicePath",             // 2
    "ProductType",            // 3
    "RegisteredOwner",        // 4
    "RegisteredOrganization", // 5
    "ProductId",              // 6
    "LicensingInfo",          // 7
    "SubVersionNumber",       // 8
    "InventoryPath",          // 9
    "ProgramFilesDir",        // 10
    "CommonFilesDir",         // 11
    "MediaPath",              // 12
    "ConfigPath",             // 13
    "SystemRoot",             // 14
    "OldWinDir",              // 15
    "ProductName",            // 16
    "FirstInstallDateTime",   // 17
    "Version",                // 18
    "VersionNumber",          // 19
    "BootCount",              // 20
    "OtherDevicePath",        // 21
    "Plus! VersionNumber",    // 22
    "Plus! ProductId",        // 23
    "ProgramFilesPath",       // 24
    "SM_AccessoriesName",     // 25
    "PF_AccessoriesName",     // 26
    "WallPaperDir",           // 27
};

TSysInfo::TSysInfo()
{
    Registry().SetRootKey(platform::HKEY_LOCAL_MACHINE);
    SetKeyPath("\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion");
    for (const char* name : kValueNames)
        ValueNames().Add(name);
}
