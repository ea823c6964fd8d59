// crestwick-oem: shows and changes the OEM information and logo of the system that WINEPREFIX
// names, for scripts and for preparing many machines. Every read and write goes through
// oem::OemSystem, as the main window's do. Names from the command line are bytes and stay
// bytes; texts are read as UTF-8 where they are valid UTF-8 and in the system's ANSI code page
// elsewhere. Errors go to stderr with status 1; a usage error prints the usage with status 2.
#include "core/Exceptions.h"
#include "imaging/TBitmap.h"
#include "imaging/TPicture.h"
#include "oem/OemSystem.h"
#include "oem/WineServer.h"
#include "platform/AtomicFile.h"
#include "platform/CodePage.h"
#include "platform/Prefix.h"
#include "platform/Registry.h"
#include "platform/WinPath.h"

#include <QGuiApplication>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

constexpr const char* kUsage =
    "Usage: crestwick-oem show [--json]\n"
    "       crestwick-oem set [--manufacturer TEXT] [--model TEXT] [--line1 TEXT] [--line2 TEXT]\n"
    "                         [--verbose]\n"
    "       crestwick-oem logo PICTURE [--fit] [--verbose]\n"
    "       crestwick-oem backup FOLDER [--verbose]\n"
    "       crestwick-oem restore FOLDER [--verbose]\n"
    "       crestwick-oem --help | --version\n"
    "Acts on the system that WINEPREFIX names.\n";

constexpr const char* kManifest = "manifest.txt";
constexpr const char* kManifestHeader = "crestwick-oem backup 1";
// The OEMInformation values that set and logo write on NT 6.
const std::vector<std::string> kValues = {"Manufacturer", "Model", "Logo"};

struct UsageError {};

bool verbose = false;

void say(const std::string& text)
{
    if (verbose)
        std::fprintf(stdout, "%s\n", text.c_str());
}

fs::path host(const std::string& windowsPath)
{
    const auto path = platform::WinPath::toHost(windowsPath);
    if (!path)
        throw Exception("Cannot open file " + windowsPath);
    return *path;
}

std::string jsonString(const std::string& text)
{
    std::string out = "\"";
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (byte < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", byte);
            out += escaped;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

std::string jsonOptional(const std::optional<std::string>& text)
{
    return text ? jsonString(*text) : "null";
}

int show(bool json)
{
    const oem::OemSystem system = oem::OemSystem::describe();
    const oem::OemInfo info = system.readInfo();
    const std::string logo = system.currentLogoFile();
    std::optional<std::uintmax_t> logoSize;
    int width = 0;
    int height = 0;
    if (const auto path = platform::WinPath::toHost(logo)) {
        std::error_code error;
        const auto size = fs::file_size(*path, error);
        if (!error)
            logoSize = size;
    }
    if (logoSize) {
        try {
            if (const auto bitmap = system.readLogo()) {
                width = bitmap->Width();
                height = bitmap->Height();
            }
        } catch (const Exception&) {
            // A logo that is not a bitmap shows its size only.
        }
    }
    const char* keptIn = system.keepsInfoInRegistry() ? "registry" : "oeminfo.ini";
    if (json) {
        std::string out = "{";
        out += "\"generation\": " + jsonString(oem::generationName(system.generation()));
        out += ", \"version\": " + jsonString(system.version());
        out += ", \"windowsDirectory\": " + jsonString(system.windowsDirectory());
        out += ", \"infoFile\": " + jsonString(system.infoFile());
        out += ", \"manufacturerAndModelIn\": " + jsonString(keptIn);
        out += ", \"manufacturer\": " + jsonOptional(info.manufacturer);
        out += ", \"model\": " + jsonOptional(info.model);
        out += ", \"line1\": " + jsonOptional(info.supportLine1);
        out += ", \"line2\": " + jsonOptional(info.supportLine2);
        out += ", \"logo\": {\"file\": " + jsonString(logo);
        out += ", \"exists\": " + std::string(logoSize ? "true" : "false");
        out += ", \"size\": " + std::to_string(logoSize.value_or(0));
        out += ", \"width\": " + std::to_string(width);
        out += ", \"height\": " + std::to_string(height) + "}}\n";
        std::fputs(out.c_str(), stdout);
        return 0;
    }
    const auto line = [](const char* name, const std::optional<std::string>& value) {
        std::printf("%-20s %s\n", name, value ? value->c_str() : "(none)");
    };
    std::printf("%-20s %s\n", "Generation:", oem::generationName(system.generation()));
    if (!system.version().empty())
        std::printf("%-20s %s\n", "Version:", system.version().c_str());
    std::printf("%-20s %s\n", "Windows directory:", system.windowsDirectory().c_str());
    std::printf("%-20s %s\n", "Information file:", system.infoFile().c_str());
    if (system.keepsInfoInRegistry())
        std::printf("%-20s HKEY_LOCAL_MACHINE\\%s\n",
                    "Registry key:", oem::OemSystem::oemInformationKey());
    line("Manufacturer:", info.manufacturer);
    line("Model:", info.model);
    line("Support line 1:", info.supportLine1);
    line("Support line 2:", info.supportLine2);
    if (logoSize)
        std::printf("%-20s %s (%ju bytes, %dx%d)\n", "Logo:", logo.c_str(), *logoSize, width,
                    height);
    else
        std::printf("%-20s %s (none)\n", "Logo:", logo.c_str());
    return 0;
}

int set(oem::OemInfo info)
{
    const oem::OemSystem system = oem::OemSystem::describe();
    // An argument that is not UTF-8 was typed in a terminal that uses the system's code page
    // (Latin-1 "M\xFCller"): read so, it reaches the registry as the same letters and
    // oeminfo.ini as the same bytes.
    const platform::CodePage ansi = platform::CodePage::systemAnsi();
    for (std::optional<std::string>* text :
         {&info.manufacturer, &info.model, &info.supportLine1, &info.supportLine2})
        if (*text)
            **text = ansi.decodeUtf8OrPage(**text);
    // Only the given items are written; the others keep their bytes.
    system.writeInfo(info, oem::FurtherSupportLines::Keep);
    say("Saved the OEM information of " + system.windowsDirectory());
    return 0;
}

int logo(const std::string& picturePath, bool fit)
{
    const oem::OemSystem system = oem::OemSystem::describe();
    // The picture is named as the shell names it; the picture framework takes Windows paths,
    // so it gets the drive path that leads to the same file.
    std::error_code error;
    if (!fs::is_regular_file(picturePath, error))
        throw Exception("Cannot open file " + picturePath);
    std::string windowsPath = platform::WinPath::fromHost(fs::absolute(picturePath, error));
    if (windowsPath.empty())
        windowsPath = picturePath;
    // A picture named by hand may carry any extension (.jpeg, .jpe, a JPEG called .bmp): it
    // is read as what its bytes say it is.
    TPicture picture;
    picture.LoadFromFileByContent(windowsPath);
    if (fit)
        oem::OemSystem::fitLogo(picture);
    system.writeLogo(picture);
    say("Saved the logo as " + system.logoFile());
    return 0;
}

struct RegistryValue {
    platform::DWORD type = 0;
    std::string data;
};

std::optional<RegistryValue> readValue(const std::string& name)
{
    platform::HKEY key = 0;
    if (platform::RegOpenKeyExA(platform::HKEY_LOCAL_MACHINE, oem::OemSystem::oemInformationKey(),
                                0, platform::KEY_QUERY_VALUE, &key) != platform::ERROR_SUCCESS)
        return std::nullopt;
    RegistryValue value;
    platform::DWORD size = 0;
    std::optional<RegistryValue> result;
    if (platform::RegQueryValueExA(key, name.c_str(), nullptr, &value.type, nullptr, &size) ==
        platform::ERROR_SUCCESS) {
        value.data.resize(size);
        if (platform::RegQueryValueExA(key, name.c_str(), nullptr, &value.type,
                                       reinterpret_cast<platform::BYTE*>(value.data.data()),
                                       &size) == platform::ERROR_SUCCESS) {
            value.data.resize(size);
            result = value;
        }
    }
    platform::RegCloseKey(key);
    return result;
}

void writeValue(const std::string& name, const RegistryValue& value)
{
    platform::HKEY key = 0;
    const std::string failed = "Failed to set data for '" + name + "'";
    if (platform::RegCreateKeyExA(platform::HKEY_LOCAL_MACHINE, oem::OemSystem::oemInformationKey(),
                                  0, nullptr, 0, platform::KEY_WRITE, nullptr, &key,
                                  nullptr) != platform::ERROR_SUCCESS)
        throw Exception(failed);
    const platform::LONG result =
        platform::RegSetValueExA(key, name.c_str(), 0, value.type,
                                 reinterpret_cast<const platform::BYTE*>(value.data.data()),
                                 platform::DWORD(value.data.size()));
    platform::RegCloseKey(key);
    if (result != platform::ERROR_SUCCESS)
        throw Exception(failed);
}

std::string readFileOrThrow(const fs::path& path)
{
    std::string bytes;
    if (!platform::readWholeFile(path, bytes))
        throw Exception("Cannot open file " + path.string());
    return bytes;
}

void writeFileOrThrow(const fs::path& path, const std::string& bytes)
{
    if (!platform::writeFileAtomically(path, bytes))
        throw Exception("Unable to write to " + path.string());
}

// The files that set and logo write: the backup's name for each, and the Windows path.
std::vector<std::pair<std::string, std::string>> oemFiles(const oem::OemSystem& system)
{
    return {{"oeminfo.ini", system.infoFile()}, {"oemlogo.bmp", system.logoFile()}};
}

int backup(const fs::path& folder)
{
    const oem::OemSystem system = oem::OemSystem::describe();
    std::error_code error;
    fs::create_directories(folder, error);
    if (error || !fs::is_directory(folder))
        throw Exception("Unable to write to " + folder.string());
    std::string manifest = std::string(kManifestHeader) + "\n";
    for (const auto& [name, windowsPath] : oemFiles(system)) {
        const fs::path path = host(windowsPath);
        if (!fs::exists(path)) {
            manifest += "file " + name + " absent\n";
            continue;
        }
        writeFileOrThrow(folder / name, readFileOrThrow(path));
        manifest += "file " + name + " present\n";
        say("Copied " + windowsPath);
    }
    if (system.keepsInfoInRegistry()) {
        for (const std::string& name : kValues) {
            const auto value = readValue(name);
            if (!value) {
                manifest += "value " + name + " absent\n";
                continue;
            }
            writeFileOrThrow(folder / (name + ".value"), value->data);
            manifest += "value " + name + " " + std::to_string(value->type) + "\n";
            say("Copied the registry value " + name);
        }
    }
    writeFileOrThrow(folder / kManifest, manifest);
    return 0;
}

int restore(const fs::path& folder)
{
    const oem::OemSystem system = oem::OemSystem::describe();
    std::string manifest;
    if (!platform::readWholeFile(folder / kManifest, manifest))
        throw Exception("Cannot open file " + (folder / kManifest).string());
    std::istringstream lines(manifest);
    std::string header;
    std::getline(lines, header);
    if (header != kManifestHeader)
        throw Exception("Not a crestwick-oem backup: " + folder.string());
    // Everything is read and checked before anything is written.
    struct Entry {
        bool isFile;
        std::string name;
        std::optional<std::string> bytes;
        platform::DWORD type;
    };
    std::vector<Entry> entries;
    for (std::string line; std::getline(lines, line);) {
        std::istringstream words(line);
        std::string kind, name, state;
        words >> kind >> name >> state;
        const bool absent = state == "absent";
        if (kind == "file" && (name == "oeminfo.ini" || name == "oemlogo.bmp")) {
            entries.push_back({true, name, std::nullopt, 0});
            if (!absent)
                entries.back().bytes = readFileOrThrow(folder / name);
        } else if (kind == "value" &&
                   (name == "Manufacturer" || name == "Model" || name == "Logo")) {
            entries.push_back({false, name, std::nullopt, 0});
            if (!absent) {
                entries.back().type = platform::DWORD(std::strtoul(state.c_str(), nullptr, 10));
                entries.back().bytes = readFileOrThrow(folder / (name + ".value"));
            }
        } else if (!line.empty()) {
            throw Exception("Not a crestwick-oem backup: " + folder.string());
        }
    }
    if (system.keepsInfoInRegistry()) {
        oem::WineServer::ensureNotRunning(platform::Prefix::root());
        const std::string refusal = platform::registryWriteRefusal(platform::HKEY_LOCAL_MACHINE);
        if (!refusal.empty())
            throw Exception(refusal);
    }
    for (const Entry& entry : entries) {
        if (!entry.isFile)
            continue;
        const std::string windowsPath =
            entry.name == "oeminfo.ini" ? system.infoFile() : system.logoFile();
        const fs::path path = host(windowsPath);
        if (entry.bytes) {
            writeFileOrThrow(path, *entry.bytes);
            say("Restored " + windowsPath);
        } else {
            std::error_code error;
            if (fs::remove(path, error))
                say("Removed " + windowsPath);
            else if (error)
                throw Exception("Unable to write to " + windowsPath);
        }
    }
    for (const Entry& entry : entries) {
        if (entry.isFile || !entry.bytes || !system.keepsInfoInRegistry())
            continue;
        writeValue(entry.name, {entry.type, *entry.bytes});
        say("Restored the registry value " + entry.name);
    }
    return 0;
}

int run(const std::vector<std::string>& args)
{
    if (args.empty())
        throw UsageError{};
    if (args.size() == 1 && args[0] == "--help") {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (args.size() == 1 && args[0] == "--version") {
        std::printf("crestwick-oem %s\n", CRESTWICK_VERSION);
        return 0;
    }
    const std::string& command = args[0];
    const auto requireSystem = [] {
        // Without its folder WINEPREFIX names no system: nothing is created in its place.
        const fs::path root = platform::Prefix::root();
        std::error_code error;
        if (!fs::is_directory(root, error))
            throw Exception("Cannot open file " + root.string());
        // Nor in a folder that holds none: its Windows paths would lead nowhere, and what a
        // save wrote would land in no system.
        if (!platform::Prefix::holdsSystem())
            throw Exception(root.string() +
                            " is not a Windows system (no system.reg, no Windows volume, no "
                            "drives)");
    };
    std::vector<std::string> positional;
    bool json = false;
    bool fit = false;
    oem::OemInfo info;
    bool namesOnly = false; // after "--", a name may start with "-"
    for (std::size_t i = 1; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (namesOnly) {
            positional.push_back(arg);
            continue;
        }
        const auto takeText = [&](std::optional<std::string>& into) {
            if (command != "set" || i + 1 >= args.size() || into)
                throw UsageError{};
            into = args[++i];
        };
        if (arg == "--")
            namesOnly = true;
        else if (arg == "--json" && command == "show")
            json = true;
        else if (arg == "--fit" && command == "logo")
            fit = true;
        else if (arg == "--verbose" && command != "show")
            verbose = true;
        else if (arg == "--manufacturer")
            takeText(info.manufacturer);
        else if (arg == "--model")
            takeText(info.model);
        else if (arg == "--line1")
            takeText(info.supportLine1);
        else if (arg == "--line2")
            takeText(info.supportLine2);
        else if (arg.size() > 1 && arg[0] == '-')
            throw UsageError{};
        else
            positional.push_back(arg);
    }
    const bool takesNoName = command == "show" || command == "set";
    const bool takesOneName = command == "logo" || command == "backup" || command == "restore";
    if (!(takesNoName && positional.empty()) && !(takesOneName && positional.size() == 1))
        throw UsageError{};
    requireSystem();
    if (command == "show")
        return show(json);
    if (command == "set")
        return set(info);
    if (command == "logo")
        return logo(positional[0], fit);
    if (command == "backup")
        return backup(positional[0]);
    return restore(positional[0]);
}

} // namespace

int main(int argc, char** argv)
{
    std::vector<std::string> args(argv + 1, argv + argc);
    // The picture framework draws through Qt's painting; no window is ever shown.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // Qt's own diagnostics (a missing runtime folder, say) are not this program's words.
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
    QGuiApplication app(argc, argv);
    try {
        return run(args);
    } catch (const UsageError&) {
        std::fputs(kUsage, stderr);
        return 2;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "crestwick-oem: %s\n", error.what());
        return 1;
    }
}
