#include "oem/OemSystem.h"

#include "core/AsciiCase.h"
#include "core/ByteReader.h"
#include "core/Exceptions.h"
#include "core/Format.h"
#include "imaging/BitmapDrawTarget.h"
#include "imaging/TBitmap.h"
#include "imaging/TPicture.h"
#include "imaging/TStream.h"
#include "oem/TIniFile.h"
#include "oem/WineServer.h"
#include "platform/AtomicFile.h"
#include "platform/CodePage.h"
#include "platform/Prefix.h"
#include "platform/ProfileText.h"
#include "platform/Registry.h"
#include "platform/SystemLock.h"
#include "platform/TRegistry.h"
#include "platform/WinPath.h"

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <iterator>
#include <sys/stat.h>
#include <system_error>
#include <tuple>
#include <utility>

namespace oem {

namespace {

// Where each generation names its Windows directory.
constexpr const char* kWindowsKey = "\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion";
constexpr const char* kWindowsNtKey = "\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion";
// Spelled as Wine spells the keys above it, so that a new section looks like its neighbours.
constexpr const char* kOemInformationKey =
    "Software\\Microsoft\\Windows\\CurrentVersion\\OEMInformation";
constexpr const char* kSystemRoot = "SystemRoot";
// Where the platform keeps Windows when the registry does not say.
constexpr const char* kPlatformWindowsDirectory = "C:\\WINDOWS\\";

// The NT system folder (the 9x one, "system", is the default) and the first NT version that
// reads the registry instead of the files.
constexpr const char* kSystemFolderNt = "system32";
constexpr int kFirstRegistryMajorVersion = 6;

// oeminfo.ini.
constexpr const char* kGeneral = "general";
constexpr const char* kSupport = "Support Information";
constexpr const char* kFurtherLines[] = {"Line3", "Line4", "Line5", "Line6"};
// How much of a value of oeminfo.ini is read, as the profile functions read it into a buffer
// of 1024 bytes.
constexpr std::size_t kIniValueLimit = 1023;
// The most support lines a sheet lists.
constexpr int kMaxSupportLines = 99;

// The OEMInformation values.
constexpr const char* kManufacturer = "Manufacturer";
constexpr const char* kModel = "Model";
constexpr const char* kLogo = "Logo";
constexpr const char* kSupportPhone = "SupportPhone";
constexpr const char* kSupportHours = "SupportHours";
constexpr const char* kSupportUrl = "SupportURL";
constexpr const char* kHelpCustomized = "HelpCustomized";

// The logo areas of the System pages.
constexpr LogoBox kSheetLogoBox{OemSystem::kLogoWidth, OemSystem::kLogoHeight};
constexpr LogoBox kNt6LogoBox{120, 120};

// Where the user's shell folders are named (HKEY_CURRENT_USER), and where the user's profile
// folder is, for the %USERPROFILE% of the unexpanded names.
constexpr const char* kShellFoldersKey =
    "\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
constexpr const char* kUserShellFoldersKey =
    "\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders";
constexpr const char* kVolatileEnvironmentKey = "\\Volatile Environment";

// How a value of the wrong kind is taken.
enum class WrongKind { Raise, Ignore };

// A string value of the open key, or nothing when it is missing (or, when asked, of another
// kind). Raising uses the registry object's own message.
std::optional<std::string> optionalString(const TRegistry& registry, const char* name,
                                          WrongKind wrongKind)
{
    if (registry.CurrentKey() == 0 || !registry.ValueExists(name))
        return std::nullopt;
    const TRegDataType kind = registry.GetDataType(name);
    if (wrongKind == WrongKind::Ignore && kind != rdString && kind != rdExpandString)
        return std::nullopt;
    return registry.ReadString(name);
}

// A 32-bit number value of the open key.
std::optional<std::uint32_t> optionalNumber(const TRegistry& registry, const char* name)
{
    platform::DWORD type = 0;
    platform::BYTE data[4] = {};
    platform::DWORD size = sizeof data;
    if (registry.CurrentKey() == 0 ||
        platform::RegQueryValueExA(registry.CurrentKey(), name, nullptr, &type, data, &size) !=
            platform::ERROR_SUCCESS ||
        type != platform::REG_DWORD || size != sizeof data)
        return std::nullopt;
    return core::littleEndian32(data);
}

// The major number of a version such as "6.1"; nothing when it does not start with digits.
std::optional<int> majorOf(const std::string& version)
{
    int major = 0;
    std::size_t i = 0;
    for (; i < version.size() && i < 4 && version[i] >= '0' && version[i] <= '9'; ++i)
        major = major * 10 + (version[i] - '0');
    if (i == 0)
        return std::nullopt;
    return major;
}

// The name of the folder in the Windows directory that matches name without regard to case,
// as the disk spells it; name itself when there is none.
std::string folderAsSpelled(const std::string& windowsDirectory, const std::string& name)
{
    std::error_code ec;
    const auto host = platform::WinPath::toHost(windowsDirectory + name);
    if (host && std::filesystem::is_directory(*host, ec))
        return host->filename().string();
    return name;
}

// Replaces every occurrence of %name% (any letter case) by value.
std::string expandVariable(std::string text, std::string_view name, const std::string& value)
{
    const std::string pattern = "%" + core::AsciiLowerCase(name) + "%";
    for (std::size_t at = 0;;) {
        const std::string lower = core::AsciiLowerCase(text);
        at = lower.find(pattern, at);
        if (at == std::string::npos)
            return text;
        text.replace(at, pattern.size(), value);
        at += value.size();
    }
}

// Opens the key of the NT 6 values for reading, creating nothing; without the key, the
// registry object stays without a current key.
void openOemInformation(TRegistry& registry)
{
    registry.SetRootKey(platform::HKEY_LOCAL_MACHINE);
    registry.OpenKey(std::string("\\") + kOemInformationKey, false);
}

// An item of oeminfo.ini as text: the stored value, whose bytes are in the system's ANSI code
// page, else the default.
std::optional<std::string> readIni(const TIniFile& ini, const char* section, const char* key,
                                   const std::optional<std::string>& defaultValue,
                                   const platform::CodePage& ansi)
{
    if (ini.ValueExists(section, key))
        return ansi.decode(ini.ReadString(section, key, ""));
    if (defaultValue)
        return ini.ReadString(section, key, *defaultValue);
    return std::nullopt;
}

// "Failed to set data for '%s'" naming the value, followed by the system's reason when it
// tells one ("Permission denied").
[[noreturn]] void failedToSet(const char* name)
{
    std::string message = core::Format("Failed to set data for '%s'", {name});
    if (const std::string why = platform::registryWriteFailureReason(platform::HKEY_LOCAL_MACHINE);
        !why.empty())
        message += ": " + why;
    throw ERegistryException(message);
}

// Stores a string value of the open key, or fails as above.
void setString(TRegistry& registry, const char* name, const std::string& text)
{
    try {
        registry.WriteString(name, text);
    } catch (const ERegistryException&) {
        failedToSet(name);
    }
}

// Opens the key of the NT 6 values for writing, creating it when missing, or fails as above
// naming the first value to be written.
void createOemInformation(TRegistry& registry, const char* firstValue)
{
    registry.SetRootKey(platform::HKEY_LOCAL_MACHINE);
    if (!registry.OpenKey(std::string("\\") + kOemInformationKey, true))
        failedToSet(firstValue);
}

// Refuses text that oeminfo.ini cannot store: a value of an INI file ends at its line's end.
void ensureOneLine(const char* key, const std::optional<std::string>& text)
{
    if (text && text->find_first_of("\r\n") != std::string::npos)
        throw EIniFileException(core::Format(
            "The text for '%s' holds a line break, which an INI file cannot store", {key}));
}

// The largest OEM file that is read whole: far more than any logo or oeminfo.ini.
constexpr std::size_t kMaxOemFile = std::size_t(64) << 20;

// A text value of the open key as the registry functions give it: UTF-8 with its closing NUL.
std::string rawValue(const TRegistry& registry, const char* name)
{
    platform::DWORD size = 0;
    std::string data;
    if (platform::RegQueryValueExA(registry.CurrentKey(), name, nullptr, nullptr, nullptr, &size) ==
        platform::ERROR_SUCCESS) {
        data.resize(size);
        if (platform::RegQueryValueExA(registry.CurrentKey(), name, nullptr, nullptr,
                                       reinterpret_cast<platform::BYTE*>(data.data()),
                                       &size) != platform::ERROR_SUCCESS)
            throw ERegistryException(core::Format("Invalid data type for '%s'", {name}));
        data.resize(size);
    }
    return data;
}

// The error of a file step that failed: a refused link in its own words.
// The error of a file that could not be read or written, with errno's reason beside it.
template <class E = Exception>
E fileError(const char* message, const std::string& windowsPath, int error = errno)
{
    if (error == ELOOP)
        return E(core::Format("%s is a symbolic link; not followed", {windowsPath}));
    E result(std::string(message) + " " + windowsPath);
    if (error != 0)
        result.SystemReason = std::strerror(error);
    return result;
}

constexpr const char* kNoPicture = "There is no picture to save.";

// Refuses a logo that is empty or whose file form would not load back as the same picture,
// before anything is written: such a file would replace a good logo with nothing.
void ensureLoadsBack(TBitmap& bitmap)
{
    if (bitmap.Empty())
        throw Exception(kNoPicture);
    TMemoryStream bytes;
    bitmap.SaveToStream(bytes);
    bytes.SetPosition(0);
    TBitmap loaded;
    try {
        loaded.LoadFromStream(bytes);
    } catch (const Exception&) {
        throw Exception(kNoPicture);
    }
    if (loaded.Empty() || loaded.Width() != bitmap.Width() || loaded.Height() != bitmap.Height())
        throw Exception(kNoPicture);
}

} // namespace

const InformationValue* findInformationValue(const std::string& name)
{
    for (const InformationValue& value : kInformationValues)
        if (name == value.name)
            return &value;
    return nullptr;
}

const char* generationName(Generation generation)
{
    switch (generation) {
    case Generation::Windows9x:
        return "9x";
    case Generation::Nt5:
        return "NT 5";
    case Generation::Nt6:
        return "NT 6+";
    }
    return "";
}

std::string OemSystem::infoKey() const
{
    return keepsInfoInRegistry() ? std::string("HKEY_LOCAL_MACHINE\\") + kOemInformationKey
                                 : std::string();
}

OemSystem OemSystem::describe(MissingRoot whenMissing)
{
    // A damaged Windows registry would read as empty, and the system as a 9x one.
    if (const std::string why = platform::registryReadFailure(); !why.empty())
        throw ERegistryException(why);
    OemSystem system;
    TRegistry registry;
    registry.SetRootKey(platform::HKEY_LOCAL_MACHINE);

    std::optional<std::string> windowsRoot;
    if (registry.OpenKey(kWindowsKey, false) && registry.ValueExists(kSystemRoot))
        windowsRoot = registry.ReadString(kSystemRoot);
    const bool ntKey = registry.OpenKey(kWindowsNtKey, false);
    // The version of the NT key, when it has one.
    std::optional<int> major;
    if (ntKey) {
        if (const auto number = optionalNumber(registry, "CurrentMajorVersionNumber")) {
            major = int(*number);
            system.version_ =
                std::to_string(*number) + "." +
                std::to_string(optionalNumber(registry, "CurrentMinorVersionNumber").value_or(0));
        } else {
            system.version_ =
                optionalString(registry, "CurrentVersion", WrongKind::Ignore).value_or("");
            major = majorOf(system.version_);
        }
    }
    const bool ntRoot = ntKey && registry.ValueExists(kSystemRoot);
    // The 9x value alone makes a 9x system; beside an NT key of version 6 or later it is a
    // leftover in an NT registry (an older Wine wrote it, or another program did), whose
    // system folder is system32.
    if (windowsRoot && !(major && *major >= kFirstRegistryMajorVersion)) {
        system.version_.clear();
        system.systemRoot_ = *windowsRoot;
        system.windowsDirectory_ = system.systemRoot_ + "\\";
        return system;
    }

    if (!windowsRoot && !ntRoot) {
        system.version_.clear();
        system.windowsDirectory_ =
            whenMissing == MissingRoot::CurrentDriveRoot ? "\\" : kPlatformWindowsDirectory;
        system.systemRoot_ =
            system.windowsDirectory_.substr(0, system.windowsDirectory_.size() - 1);
        return system;
    }
    system.systemRoot_ = ntRoot ? registry.ReadString(kSystemRoot) : *windowsRoot;
    system.windowsDirectory_ = system.systemRoot_ + "\\";
    system.productName_ = optionalString(registry, "ProductName", WrongKind::Ignore).value_or("");
    // Every NT system names its version; one that does not is taken for a current one.
    system.generation_ =
        major && *major < kFirstRegistryMajorVersion ? Generation::Nt5 : Generation::Nt6;
    system.systemFolder_ = folderAsSpelled(system.windowsDirectory_, kSystemFolderNt);
    return system;
}

std::string OemSystem::currentLogoFile() const
{
    if (!keepsInfoInRegistry())
        return logoFile();
    TRegistry registry;
    openOemInformation(registry);
    const auto logo = optionalString(registry, kLogo, WrongKind::Ignore);
    if (!logo)
        return logoFile();
    std::string path = expandVariable(*logo, "SystemRoot", systemRoot_);
    path = expandVariable(path, "windir", systemRoot_);
    if (systemRoot_.size() >= 2 && systemRoot_[1] == ':')
        path = expandVariable(path, "SystemDrive", systemRoot_.substr(0, 2));
    return path;
}

OemInfo OemSystem::readInfo(const OemInfo& defaults) const
{
    std::optional<std::string> manufacturer;
    std::optional<std::string> model;
    if (keepsInfoInRegistry()) {
        TRegistry registry;
        openOemInformation(registry);
        manufacturer = optionalString(registry, kManufacturer, WrongKind::Raise);
        model = optionalString(registry, kModel, WrongKind::Raise);
    }
    const TIniFile ini(infoFile());
    const platform::CodePage ansi = platform::CodePage::systemAnsi();
    OemInfo info;
    info.manufacturer = manufacturer
                            ? manufacturer
                            : readIni(ini, kGeneral, kManufacturer, defaults.manufacturer, ansi);
    info.model = model ? model : readIni(ini, kGeneral, kModel, defaults.model, ansi);
    info.supportLine1 = readIni(ini, kSupport, "Line1", defaults.supportLine1, ansi);
    info.supportLine2 = readIni(ini, kSupport, "Line2", defaults.supportLine2, ansi);
    return info;
}

OemSupport OemSystem::readSupport() const
{
    OemSupport support;
    if (!keepsSupportValues())
        return support;
    TRegistry registry;
    openOemInformation(registry);
    support.phone = optionalString(registry, kSupportPhone, WrongKind::Raise);
    support.hours = optionalString(registry, kSupportHours, WrongKind::Raise);
    support.url = optionalString(registry, kSupportUrl, WrongKind::Raise);
    support.helpCustomized = optionalNumber(registry, kHelpCustomized);
    return support;
}

OemSheet OemSystem::readSheet() const
{
    OemSheet sheet;
    if (keepsInfoInRegistry()) {
        TRegistry registry;
        openOemInformation(registry);
        sheet.manufacturer = optionalString(registry, kManufacturer, WrongKind::Ignore);
        sheet.model = optionalString(registry, kModel, WrongKind::Ignore);
        sheet.supportPhone = optionalString(registry, kSupportPhone, WrongKind::Ignore);
        sheet.supportHours = optionalString(registry, kSupportHours, WrongKind::Ignore);
        sheet.supportUrl = optionalString(registry, kSupportUrl, WrongKind::Ignore);
        if (optionalString(registry, kLogo, WrongKind::Ignore))
            if (const std::string logo = currentLogoFile(); platform::WinPath::isRegularFile(logo))
                sheet.logoFile = logo;
        sheet.shown = sheet.manufacturer || sheet.model || sheet.supportPhone ||
                      sheet.supportHours || sheet.supportUrl || !sheet.logoFile.empty();
        return sheet;
    }

    const std::string info = infoFile();
    if (!platform::WinPath::isRegularFile(info))
        return sheet;
    sheet.shown = true;
    const TIniFile ini(info);
    const platform::CodePage ansi = platform::CodePage::systemAnsi();
    sheet.manufacturer = ansi.decode(ini.ReadString(kGeneral, kManufacturer, ""));
    sheet.model = ansi.decode(ini.ReadString(kGeneral, kModel, ""));
    // The support lines are Line1, Line2, ... up to the first one that is missing.
    const std::vector<std::string> keys = ini.ReadSection(kSupport);
    for (int n = 1; n <= kMaxSupportLines; ++n) {
        const std::string key = "Line" + std::to_string(n);
        if (std::none_of(keys.begin(), keys.end(), [&](const std::string& name) {
                return core::asciiEqualsIgnoreCase(name, key);
            }))
            break;
        sheet.supportLines.push_back(ansi.decode(ini.ReadString(kSupport, key, "")));
    }
    if (platform::WinPath::isRegularFile(logoFile()))
        sheet.logoFile = logoFile();
    return sheet;
}

std::unique_ptr<TBitmap> OemSystem::readLogo() const
{
    const std::string logo = currentLogoFile();
    if (!platform::WinPath::isRegularFile(logo))
        return nullptr;
    auto bitmap = std::make_unique<TBitmap>();
    bitmap->LoadFromFile(logo);
    return bitmap;
}

std::filesystem::path OemSystem::hostFile(const std::string& windowsPath)
{
    if (const auto host = platform::WinPath::toHost(windowsPath))
        return *host;
    char letter = windowsPath.size() >= 2 && windowsPath[1] == ':'
                      ? windowsPath[0]
                      : platform::WinPath::currentDrive();
    if (letter == 0)
        letter = 'C';
    throw Exception(core::Format("Drive %s: of this system cannot be found",
                                 {std::string(1, core::asciiUpper(letter))}));
}

void OemSystem::refuseLink(const std::string& windowsPath)
{
    const std::filesystem::path host = hostFile(windowsPath);
    // A folder on the way that another user turned into a link out of the system is refused
    // too; a missing folder is left to the write, which reports it as usual.
    std::error_code ec;
    const std::filesystem::path folder = std::filesystem::canonical(host.parent_path(), ec);
    if (!ec && !platform::Prefix::inSystemTree(folder))
        throw Exception(core::Format("%s leads out of this system; not followed",
                                     {windowsPath.substr(0, windowsPath.find_last_of('\\'))}));
    if (platform::refusesLink(host))
        throw Exception(core::Format("%s is a symbolic link; not followed", {windowsPath}));
}

void OemSystem::ensureWritable(const std::string& file, const char* firstValue) const
{
    refuseLink(file);
    // On a Windows disk whose registry or volume may not be written, no save writes anything,
    // files included, and the reason is the disk's own.
    if (const std::string why = platform::registryWriteRefusal(platform::HKEY_LOCAL_MACHINE);
        !why.empty())
        throw ERegistryException(why);
    if (!keepsInfoInRegistry())
        return;
    WineServer::ensureNotRunning(platform::Prefix::root());
    if (!firstValue)
        return;
    // Asking for the right to change the Software key tells whether the hive that holds the
    // OEM values may be written, without writing it.
    platform::HKEY software = 0;
    if (platform::RegOpenKeyExA(platform::HKEY_LOCAL_MACHINE, "Software", 0,
                                platform::KEY_SET_VALUE | platform::KEY_CREATE_SUB_KEY,
                                &software) != platform::ERROR_SUCCESS)
        failedToSet(firstValue);
    platform::RegCloseKey(software);
}

void OemSystem::writeInfo(const OemInfo& info, FurtherSupportLines further,
                          const OemSupport& support, const std::vector<OemItem>& cleared) const
{
    const auto clears = [&](OemItem item) {
        return std::find(cleared.begin(), cleared.end(), item) != cleared.end();
    };
    const bool supportValues = support.phone || support.hours || support.url ||
                               clears(OemItem::SupportPhone) || clears(OemItem::SupportHours) ||
                               clears(OemItem::SupportUrl);
    if (supportValues && !keepsSupportValues())
        throw Exception(core::Format("%s systems have no support phone, hours or web address",
                                     {generationName(generation_)}));
    ensureOneLine(kManufacturer, info.manufacturer);
    ensureOneLine(kModel, info.model);
    ensureOneLine("Line1", info.supportLine1);
    ensureOneLine("Line2", info.supportLine2);
    // The registry values this save sets or deletes, in the order of the key's values; the
    // first names a failure to write the registry.
    std::vector<std::pair<const char*, const std::optional<std::string>*>> registryChanges;
    if (keepsInfoInRegistry()) {
        const std::pair<OemItem, std::pair<const char*, const std::optional<std::string>*>>
            items[] = {
                {OemItem::Manufacturer, {kManufacturer, &info.manufacturer}},
                {OemItem::Model, {kModel, &info.model}},
                {OemItem::SupportPhone, {kSupportPhone, &support.phone}},
                {OemItem::SupportHours, {kSupportHours, &support.hours}},
                {OemItem::SupportUrl, {kSupportUrl, &support.url}},
            };
        static const std::optional<std::string> kDelete;
        for (const auto& [item, change] : items)
            if (*change.second)
                registryChanges.push_back(change);
            else if (clears(item))
                registryChanges.push_back({change.first, &kDelete});
    }
    const char* firstValue = !registryChanges.empty() ? registryChanges.front().first
                             : info.manufacturer      ? kManufacturer
                             : info.model             ? kModel
                                                      : nullptr;
    const platform::SystemLock lock(platform::Prefix::root());
    ensureWritable(infoFile(), firstValue);
    const bool registry = keepsInfoInRegistry() && firstValue;
    removeStaleTemporaries(registry);

    // The new oeminfo.ini is made in memory, from the file as it is now.
    const std::string file = infoFile();
    const std::filesystem::path host = hostFile(file);
    const auto unableToWrite = [&](int error) {
        return fileError<EIniFileException>("Unable to write to", file, error);
    };
    std::string old;
    std::error_code ec;
    const bool existed = std::filesystem::exists(std::filesystem::symlink_status(host, ec));
    // A file that could not be replaced is found now, before any file changes.
    if ((existed && (!platform::readWholeFile(host, old, platform::Links::WithinSystem) ||
                     !platform::isWritable(host))) ||
        !platform::isWritable(host.parent_path()))
        throw unableToWrite(errno);
    std::string text = old;
    const platform::CodePage ansi = platform::CodePage::systemAnsi();
    const auto write = [&](const char* section, const char* key,
                           const std::optional<std::string>& value) {
        if (!value)
            return;
        std::string bytes = ansi.encode(*value);
        // What the user did not change keeps its stored bytes, whatever they are.
        if (const auto stored = platform::ProfileText::value(text, section, key, kIniValueLimit);
            stored && ansi.decode(*stored) == *value)
            bytes = *stored;
        if (!platform::ProfileText::canStore(section, key, bytes))
            throw unableToWrite(0);
        text = platform::ProfileText::writeValue(text, section, key, bytes);
    };
    write(kGeneral, kManufacturer, info.manufacturer);
    write(kGeneral, kModel, info.model);
    write(kSupport, "Line1", info.supportLine1);
    write(kSupport, "Line2", info.supportLine2);
    if (further == FurtherSupportLines::Remove && existed)
        for (const char* key : kFurtherLines)
            if (auto edited = platform::ProfileText::deleteKey(text, kSupport, key))
                text = std::move(*edited);
    for (const auto& [item, section, key] :
         {std::tuple{OemItem::Manufacturer, kGeneral, kManufacturer},
          std::tuple{OemItem::Model, kGeneral, kModel},
          std::tuple{OemItem::SupportLine1, kSupport, "Line1"},
          std::tuple{OemItem::SupportLine2, kSupport, "Line2"}})
        if (clears(item) && existed)
            if (auto edited = platform::ProfileText::deleteKey(text, section, key))
                text = std::move(*edited);
    const bool wroteText =
        info.manufacturer || info.model || info.supportLine1 || info.supportLine2;

    // The registry changes are made in memory and written in one commit, before the file.
    if (registry) {
        platform::RegistryTransaction transaction;
        TRegistry values;
        const bool anySet = std::any_of(registryChanges.begin(), registryChanges.end(),
                                        [](const auto& change) { return bool(*change.second); });
        // Deleting values creates no key that was not there.
        if (anySet)
            createOemInformation(values, firstValue);
        else
            openOemInformation(values);
        if (values.CurrentKey() != 0)
            for (const auto& [name, value] : registryChanges) {
                if (*value) {
                    setString(values, name, **value);
                    continue;
                }
                const platform::LONG rc = platform::RegDeleteValueA(values.CurrentKey(), name);
                if (rc != platform::ERROR_SUCCESS && rc != platform::ERROR_FILE_NOT_FOUND)
                    failedToSet(name);
            }
        if (transaction.commit() != platform::ERROR_SUCCESS)
            failedToSet(firstValue);
    }
    if ((text != old || (wroteText && !existed)) &&
        !platform::writeFileAtomically(host, text, platform::Links::WithinSystem))
        throw unableToWrite(errno);
    // Writes that left no file where the system looks for it are no save.
    if (wroteText && !platform::WinPath::isRegularFile(file))
        throw unableToWrite(0);
}

void OemSystem::writeLogo(const std::function<void(const std::string& target)>& save) const
{
    const std::string target = logoFile();
    const platform::SystemLock lock(platform::Prefix::root());
    ensureWritable(target, kLogo);
    removeStaleTemporaries(keepsInfoInRegistry());
    save(target);
    // A save that left no file where the system looks for it is no save.
    if (!platform::WinPath::isRegularFile(target))
        throw EFCreateError(core::Format("Cannot create file %s", {target}));
    if (!keepsInfoInRegistry())
        return;
    platform::RegistryTransaction transaction;
    TRegistry registry;
    createOemInformation(registry, kLogo);
    setString(registry, kLogo, target);
    if (transaction.commit() != platform::ERROR_SUCCESS)
        failedToSet(kLogo);
}

void OemSystem::removeStaleTemporaries(bool registry) const
{
    for (const std::string& file : {infoFile(), logoFile()})
        if (const auto host = platform::WinPath::toHost(file))
            platform::removeStaleTemporaries(*host);
    if (registry)
        platform::removeStaleTemporaries(
            platform::Prefix::softwareHive().value_or(platform::Prefix::systemReg()));
}

OemSnapshot OemSystem::snapshot() const
{
    OemSnapshot snapshot;
    snapshot.generation = generation_;
    for (const auto& [name, windowsPath] :
         {std::pair{"oeminfo.ini", infoFile()}, std::pair{"oemlogo.bmp", logoFile()}}) {
        refuseLink(windowsPath);
        const std::filesystem::path host = hostFile(windowsPath);
        OemSnapshot::File file;
        file.name = name;
        std::error_code ec;
        if (std::filesystem::exists(std::filesystem::symlink_status(host, ec))) {
            std::string bytes;
            struct stat st {};
            if (!platform::readWholeFile(host, bytes, platform::Links::WithinSystem, &st,
                                         kMaxOemFile))
                throw fileError("Cannot open file", windowsPath);
            file.bytes = std::move(bytes);
            file.mode = int(st.st_mode & 0777);
        }
        snapshot.files.push_back(std::move(file));
    }
    if (!keepsInfoInRegistry())
        return snapshot;
    TRegistry registry;
    openOemInformation(registry);
    for (const InformationValue& known : kInformationValues) {
        const char* name = known.name;
        OemSnapshot::Value value;
        value.name = name;
        value.type = known.number ? platform::REG_DWORD : platform::REG_SZ;
        if (registry.CurrentKey() != 0 && registry.ValueExists(name)) {
            const TRegDataType kind = registry.GetDataType(name);
            const bool number = kind == rdInteger;
            if (number != known.number || (!number && kind != rdString && kind != rdExpandString))
                throw ERegistryException(core::Format("Invalid data type for '%s'", {name}));
            value.type = number             ? platform::REG_DWORD
                         : kind == rdString ? platform::REG_SZ
                                            : platform::REG_EXPAND_SZ;
            value.data = rawValue(registry, name);
            if (number && value.data->size() != 4)
                throw ERegistryException(core::Format("Invalid data type for '%s'", {name}));
        }
        snapshot.values.push_back(std::move(value));
    }
    return snapshot;
}

void OemSystem::restore(const OemSnapshot& snapshot) const
{
    if (snapshot.generation != generation_)
        throw Exception(core::Format(
            "The backup was taken from a system of generation %s; this system is of generation %s",
            {generationName(snapshot.generation), generationName(generation_)}));
    const auto windowsPathOf = [&](const std::string& name) {
        if (name == "oeminfo.ini")
            return infoFile();
        if (name == "oemlogo.bmp")
            return logoFile();
        throw Exception(core::Format("%s is not a file of the OEM data", {name}));
    };
    for (const OemSnapshot::Value& value : snapshot.values) {
        const InformationValue* known = findInformationValue(value.name);
        if (!keepsInfoInRegistry() || !known)
            throw Exception(core::Format("%s is not a text value of the OEM data", {value.name}));
        // A value that is to be deleted may carry any kind.
        if (value.data &&
            (known->number
                 ? value.type != platform::REG_DWORD || value.data->size() != 4
                 : value.type != platform::REG_SZ && value.type != platform::REG_EXPAND_SZ))
            throw Exception(core::Format("%s is not a %s value of the OEM data",
                                         {value.name, known->number ? "number" : "text"}));
    }

    const platform::SystemLock lock(platform::Prefix::root());
    const char* firstValue = snapshot.values.empty() ? nullptr : snapshot.values[0].name.c_str();
    ensureWritable(infoFile(), firstValue);
    for (const OemSnapshot::File& file : snapshot.files) {
        const std::string windowsPath = windowsPathOf(file.name);
        refuseLink(windowsPath);
        const std::filesystem::path host = hostFile(windowsPath);
        std::error_code ec;
        if (!platform::isWritable(host.parent_path()) ||
            (std::filesystem::exists(std::filesystem::symlink_status(host, ec)) &&
             !platform::isWritable(host)))
            throw fileError("Unable to write to", windowsPath);
    }
    removeStaleTemporaries(firstValue != nullptr);

    if (firstValue) {
        platform::RegistryTransaction transaction;
        TRegistry registry;
        registry.SetRootKey(platform::HKEY_LOCAL_MACHINE);
        const bool anyData = std::any_of(snapshot.values.begin(), snapshot.values.end(),
                                         [](const OemSnapshot::Value& v) { return bool(v.data); });
        if (anyData)
            createOemInformation(registry, firstValue);
        else
            registry.OpenKey(std::string("\\") + kOemInformationKey, false);
        if (registry.CurrentKey() != 0)
            for (const OemSnapshot::Value& value : snapshot.values) {
                const platform::LONG rc =
                    value.data
                        ? platform::RegSetValueExA(
                              registry.CurrentKey(), value.name.c_str(), 0, value.type,
                              reinterpret_cast<const platform::BYTE*>(value.data->data()),
                              platform::DWORD(value.data->size()))
                        : platform::RegDeleteValueA(registry.CurrentKey(), value.name.c_str());
                if (rc != platform::ERROR_SUCCESS &&
                    (value.data || rc != platform::ERROR_FILE_NOT_FOUND))
                    failedToSet(value.name.c_str());
            }
        if (transaction.commit() != platform::ERROR_SUCCESS)
            failedToSet(firstValue);
    }
    for (const OemSnapshot::File& file : snapshot.files) {
        const std::string windowsPath = windowsPathOf(file.name);
        const std::filesystem::path host = hostFile(windowsPath);
        const bool done =
            file.bytes ? platform::writeFileAtomically(host, *file.bytes,
                                                       platform::Links::WithinSystem, file.mode)
                       : platform::removeFile(host, platform::Links::WithinSystem);
        if (!done)
            throw fileError("Unable to write to", windowsPath);
    }
}

void OemSystem::writeLogo(TBitmap& bitmap) const
{
    writeLogo([&](const std::string& target) { bitmap.SaveToFile(target); });
}

void OemSystem::writeLogo(TPicture& picture) const
{
    const TGraphic* graphic = picture.Graphic();
    if (!graphic || graphic->Empty())
        throw Exception(kNoPicture);
    writeLogo([&](const std::string& target) {
        TBitmap bitmap;
        if (dynamic_cast<TBitmap*>(picture.Graphic())) {
            // A bitmap is written as the bitmap it is, and the picture holds the copy.
            bitmap.Assign(&picture.Bitmap());
            ensureLoadsBack(bitmap);
            picture.SetGraphic(&bitmap);
            picture.SaveToFile(target);
            return;
        }
        // Whatever else was loaded, whatever its file was called, is decoded into a bitmap
        // of its full size; the picture keeps what it holds.
        bitmap.Assign(picture.Graphic());
        ensureLoadsBack(bitmap);
        bitmap.SaveToFile(target);
    });
}

LogoBox OemSystem::logoBox() const
{
    return generation_ == Generation::Nt6 ? kNt6LogoBox : kSheetLogoBox;
}

LogoBox OemSystem::windowFitBox() const
{
    const LogoBox sheet = logoBox();
    return {std::min(sheet.width, kLogoWidth), std::min(sheet.height, kLogoHeight)};
}

void OemSystem::setLogoDepth(TBitmap& bitmap, LogoDepth depth)
{
    // A bitmap of a fixed depth is device-independent: its pixels and the colours of the
    // 8-bit form (the halftone palette) are the same on every machine.
    if (depth == LogoDepth::Bits8)
        bitmap.SetPixelFormat(pf8bit);
    else if (depth == LogoDepth::Bits24)
        bitmap.SetPixelFormat(pf24bit);
}

void OemSystem::fitLogo(TPicture& picture, LogoBox box, LogoDepth depth)
{
    const TRect fitted = FitRect(box.width, box.height, picture.Width(), picture.Height());
    TBitmap bitmap;
    // Drawn into a 24-bit device-independent bitmap, never one of the screen's depth, unless
    // the screen's depth is asked for.
    if (depth != LogoDepth::Screen)
        bitmap.SetPixelFormat(pf24bit);
    bitmap.SetSize(fitted.Width(), fitted.Height());
    if (TGraphic* graphic = picture.Graphic(); graphic != nullptr && !bitmap.Empty()) {
        BitmapDrawTarget target(bitmap);
        graphic->Draw(target, fitted);
    }
    setLogoDepth(bitmap, depth);
    picture.SetGraphic(&bitmap);
}

OemSystem::UserFolders OemSystem::userFolders() const
{
    UserFolders folders;
    if (generation_ == Generation::Windows9x)
        return folders;
    const auto isFolder = [](const std::string& windowsPath) {
        std::error_code ec;
        const auto host = platform::WinPath::toHost(windowsPath);
        return host && std::filesystem::is_directory(*host, ec);
    };
    TRegistry registry;
    registry.SetRootKey(platform::HKEY_CURRENT_USER);
    std::string profile;
    if (registry.OpenKey(kVolatileEnvironmentKey, false))
        profile = optionalString(registry, "USERPROFILE", WrongKind::Ignore).value_or("");
    const auto find = [&](const char* name) -> std::string {
        if (registry.OpenKey(kShellFoldersKey, false))
            if (auto path = optionalString(registry, name, WrongKind::Ignore);
                path && !path->empty() && isFolder(*path))
                return *path;
        if (registry.OpenKey(kUserShellFoldersKey, false))
            if (auto path = optionalString(registry, name, WrongKind::Ignore); path) {
                if (!profile.empty())
                    *path = expandVariable(*path, "USERPROFILE", profile);
                if (!path->empty() && path->find('%') == std::string::npos && isFolder(*path))
                    return *path;
            }
        return {};
    };
    const auto withoutSlash = [](std::string path) {
        while (path.size() > 3 && path.back() == '\\')
            path.pop_back();
        return path;
    };
    folders.createFolders = false;
    folders.desktop = withoutSlash(find("Desktop"));
    folders.startMenu = withoutSlash(find("Start Menu"));
    folders.programs = withoutSlash(find("Programs"));
    return folders;
}

} // namespace oem
