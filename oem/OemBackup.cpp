#include "oem/OemBackup.h"

#include "core/ByteReader.h"
#include "core/Exceptions.h"
#include "platform/AtomicFile.h"
#include "platform/CodePage.h"
#include "platform/Registry.h"
#include "platform/WineRegistry.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <sstream>

namespace fs = std::filesystem;

namespace oem {

namespace {

constexpr const char* kManifest = "manifest.txt";
constexpr const char* kManifestHeader = "crestwick-oem backup 2";
constexpr const char* kFirstManifestHeader = "crestwick-oem backup 1";
// The OEMInformation values of the first format, which kept only these.
const std::vector<std::string> kFirstFormatValues = {"Manufacturer", "Model", "Logo"};

// The largest file that a backup holds or restore takes: far more than any logo or
// oeminfo.ini, and little enough to be read whole. The manual page names it.
constexpr std::size_t kMaxBackupFile = std::size_t(64) << 20;
// The largest registry value and manifest: the OEM values are short texts.
constexpr std::size_t kMaxBackupValue = std::size_t(64) << 10;
// The registry part of a backup, in the format of the Windows Registry Editor, so that
// hivexregedit --merge or Windows' reg import can apply it too. Texts that are not plain
// printable ASCII are written as hex(1) (hex(2) when expandable) of their UTF-16LE bytes, which
// keeps them exact whatever code page reads the file.
constexpr const char* kRegistryFile = "OEMInformation.reg";
constexpr const char* kRegHeader = "Windows Registry Editor Version 5.00";
constexpr const char* kRegKey =
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\OEMInformation]";

// The error for a file step that failed: the link refusal in its own words.
Exception fileError(const std::string& message, const std::string& name)
{
    if (errno == ELOOP)
        return Exception(name + " is a symbolic link; not followed");
    return Exception(message + " " + name);
}

// Makes the backup folder, or takes an existing one that is empty or holds an earlier backup
// (which only force replaces), and gives it mode 0700 so that only its owner reads the copies.
void prepareBackupFolder(const fs::path& folder, bool force)
{
    std::error_code error;
    const fs::file_status status = fs::symlink_status(folder, error);
    if (fs::is_symlink(status))
        throw Exception(folder.string() + " is a symbolic link; not followed");
    if (!fs::exists(status)) {
        if (folder.has_parent_path())
            fs::create_directories(folder.parent_path(), error);
        if (::mkdir(folder.c_str(), 0700) != 0)
            throw Exception("Unable to write to " + folder.string());
        return;
    }
    struct stat st {};
    if (!fs::is_directory(status) || ::lstat(folder.c_str(), &st) != 0)
        throw Exception("Unable to write to " + folder.string());
    if (fs::exists(fs::symlink_status(folder / kManifest, error))) {
        if (!force)
            throw Exception(folder.string() +
                            " already holds a backup; give --force to replace it");
    } else if (!fs::is_empty(folder, error)) {
        throw Exception(folder.string() + " is not empty and holds no backup");
    }
    if (st.st_uid != ::geteuid())
        throw Exception(folder.string() + " belongs to another user");
    if (::chmod(folder.c_str(), 0700) != 0)
        throw Exception("Unable to write to " + folder.string());
}

// The .reg line of one value.
std::string regLine(const OemSnapshot::Value& value)
{
    std::string line = "\"" + value.name + "\"=";
    if (!value.data)
        return line + "-";
    const std::string& data = *value.data;
    if (value.type == platform::REG_DWORD && data.size() == 4) {
        const std::uint32_t number = core::littleEndian32(data.data());
        char hex[16];
        std::snprintf(hex, sizeof hex, "dword:%08x", number);
        return line + hex;
    }
    const bool plain = value.type == platform::REG_SZ && !data.empty() && data.back() == '\0' &&
                       std::all_of(data.begin(), data.end() - 1,
                                   [](char c) { return c >= 0x20 && c < 0x7F; });
    if (plain) {
        line += "\"";
        for (char c : std::string_view(data).substr(0, data.size() - 1)) {
            if (c == '\\' || c == '"')
                line += '\\';
            line += c;
        }
        return line + "\"";
    }
    line += value.type == platform::REG_SZ ? "hex(1):" : "hex(2):";
    const std::string utf16 = platform::utf8ToUtf16le(data);
    for (std::size_t i = 0; i < utf16.size(); ++i) {
        char hex[4];
        std::snprintf(hex, sizeof hex, i == 0 ? "%02x" : ",%02x", unsigned(std::uint8_t(utf16[i])));
        line += hex;
    }
    return line;
}

std::string readBackupFile(const fs::path& path, std::size_t limit, int* mode = nullptr)
{
    std::string bytes;
    struct stat st {};
    if (!platform::readWholeFile(path, bytes, platform::Links::Refuse, &st, limit)) {
        if (errno == EFBIG)
            throw Exception(path.string() + " is larger than " +
                            (limit >= (std::size_t(1) << 20)
                                 ? std::to_string(limit >> 20) + " MiB"
                                 : std::to_string(limit >> 10) + " KiB"));
        throw fileError("Cannot open file", path.string());
    }
    if (mode)
        *mode = int(st.st_mode & 0777);
    return bytes;
}

// The kind n of a value written as hex(n), or a dword's digits: a hexadecimal number that
// fits 32 bits.
std::optional<platform::DWORD> parseKind(const std::string& word)
{
    if (word.empty() || word.size() > 8 ||
        !std::all_of(word.begin(), word.end(), [](char c) { return std::isxdigit(std::uint8_t(c)); }))
        return std::nullopt;
    return platform::DWORD(std::stoul(word, nullptr, 16));
}

// Bytes written as "01,02,03"; nothing for anything else.
std::optional<std::string> parseHexBytes(std::string_view text)
{
    std::string bytes;
    for (std::size_t i = 0; i < text.size(); i += 3) {
        if (i + 2 > text.size() || !std::isxdigit(std::uint8_t(text[i])) ||
            !std::isxdigit(std::uint8_t(text[i + 1])) ||
            (i + 2 < text.size() && text[i + 2] != ','))
            return std::nullopt;
        bytes += char(std::stoi(std::string(text.substr(i, 2)), nullptr, 16));
    }
    return bytes;
}

// The values of a backup's .reg file, which holds the OEMInformation key alone, each value
// once, as backup writes them. Raises notABackup for anything else.
std::vector<OemSnapshot::Value> parseRegistryFile(const std::string& text,
                                                       const fs::path& folder,
                                                       const std::string& notABackup)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (!line.empty())
            lines.push_back(line);
    }
    if (lines.size() < 2 || lines[0] != kRegHeader || lines[1] != kRegKey)
        throw Exception(notABackup);
    std::vector<OemSnapshot::Value> values;
    for (std::size_t i = 2; i < lines.size(); ++i) {
        const std::string& line = lines[i];
        const std::size_t close = line.find("\"=");
        if (!line.starts_with('"') || close == std::string::npos)
            throw Exception(notABackup);
        OemSnapshot::Value value;
        value.name = line.substr(1, close - 1);
        const InformationValue* known = findInformationValue(value.name);
        if (!known || std::any_of(values.begin(), values.end(),
                                  [&](const auto& v) { return v.name == value.name; }))
            throw Exception(notABackup);
        const std::string data = line.substr(close + 2);
        if (data == "-") {
            values.push_back(value);
            continue;
        }
        // A number is written as Windows' registry editor writes one: eight hexadecimal digits.
        if (known->number && data.starts_with("dword:")) {
            const std::string digits = data.substr(6);
            const auto number = parseKind(digits);
            if (!number || digits.size() != 8)
                throw Exception(notABackup);
            value.type = platform::REG_DWORD;
            value.data = std::string{char(*number & 0xFF), char(*number >> 8 & 0xFF),
                                     char(*number >> 16 & 0xFF), char(*number >> 24 & 0xFF)};
            values.push_back(value);
            continue;
        }
        if (data.size() >= 2 && data.front() == '"' && data.back() == '"') {
            std::string textValue;
            for (std::size_t at = 1; at + 1 < data.size(); ++at) {
                char c = data[at];
                if (c == '\\' && at + 2 < data.size())
                    c = data[++at];
                else if (c == '"' || c == '\\')
                    throw Exception(notABackup);
                if (c < 0x20 || c >= 0x7F)
                    throw Exception(notABackup);
                textValue += c;
            }
            value.data = textValue + '\0';
            values.push_back(value);
            continue;
        }
        platform::DWORD kind = 0;
        std::string bytes;
        const std::size_t colon = data.find(':');
        const std::string form = data.substr(0, colon);
        if (colon == std::string::npos)
            throw Exception(notABackup);
        if (form == "dword") {
            kind = platform::REG_DWORD;
        } else if (form == "hex") {
            kind = platform::REG_BINARY;
        } else if (form.starts_with("hex(") && form.ends_with(")")) {
            const auto parsed = parseKind(form.substr(4, form.size() - 5));
            if (!parsed)
                throw Exception(notABackup);
            kind = *parsed;
        } else {
            throw Exception(notABackup);
        }
        // The OEM values are texts but for the numbers above: anything else would make the
        // system unreadable.
        if (known->number || (kind != platform::REG_SZ && kind != platform::REG_EXPAND_SZ))
            throw Exception("The backup in " + folder.string() + " holds the value " +
                            value.name + " of kind " + std::to_string(kind) +
                            "; only texts are restored");
        const auto utf16 = parseHexBytes(std::string_view(data).substr(colon + 1));
        if (!utf16 || utf16->size() % 2 != 0)
            throw Exception(notABackup);
        value.type = kind;
        value.data = platform::utf16leToUtf8(*utf16);
        if (platform::utf8ToUtf16le(*value.data) != *utf16)
            throw Exception(notABackup);
        values.push_back(value);
    }
    return values;
}

// A value of a first-format backup: the manifest's "value NAME KIND" with the data in
// NAME.value, or "value NAME absent". Only the OEM texts, each once, in UTF-8.
OemSnapshot::Value readFirstFormatValue(const fs::path& folder, const std::string& name,
                                        const std::string& state, const std::string& notABackup,
                                        const std::vector<OemSnapshot::Value>& earlier)
{
    if (std::find(kFirstFormatValues.begin(), kFirstFormatValues.end(), name) ==
            kFirstFormatValues.end() ||
        std::any_of(earlier.begin(), earlier.end(), [&](const auto& v) { return v.name == name; }))
        throw Exception(notABackup);
    OemSnapshot::Value value;
    value.name = name;
    if (state == "absent")
        return value;
    if (state.empty() || state.size() > 10 ||
        !std::all_of(state.begin(), state.end(), [](char c) { return c >= '0' && c <= '9'; }))
        throw Exception(notABackup);
    const unsigned long long kind = std::stoull(state);
    if (kind != platform::REG_SZ && kind != platform::REG_EXPAND_SZ)
        throw Exception("The backup in " + folder.string() + " holds the value " + name +
                        " of kind " + state + "; only texts are restored");
    value.type = platform::DWORD(kind);
    value.data = readBackupFile(folder / (name + ".value"), kMaxBackupValue);
    if (platform::utf16leToUtf8(platform::utf8ToUtf16le(*value.data)) != *value.data)
        throw Exception(notABackup);
    return value;
}

} // namespace

void OemBackup::write(const fs::path& folder, const OemSnapshot& snapshot, bool force,
                      const std::function<void(const std::string&)>& copied)
{
    std::string manifest = std::string(kManifestHeader) + "\n";
    manifest += std::string("generation ") + generationName(snapshot.generation) + "\n";
    for (const OemSnapshot::File& file : snapshot.files)
        manifest += "file " + file.name + (file.bytes ? " present\n" : " absent\n");
    std::string reg;
    if (!snapshot.values.empty()) {
        reg = std::string(kRegHeader) + "\r\n\r\n" + kRegKey + "\r\n";
        for (const OemSnapshot::Value& value : snapshot.values)
            reg += regLine(value) + "\r\n";
        reg += "\r\n";
    }

    prepareBackupFolder(folder, force);
    // Files of an earlier backup that this one does not hold go, so that none is mistaken
    // for part of it.
    const auto holds = [&](const std::string& name) {
        return (name == kRegistryFile && !reg.empty()) ||
               std::any_of(snapshot.files.begin(), snapshot.files.end(),
                           [&](const auto& file) { return file.name == name && file.bytes; });
    };
    for (const char* stale : {"oeminfo.ini", "oemlogo.bmp", kRegistryFile})
        if (!holds(stale) && !platform::removeFile(folder / stale, platform::Links::Refuse))
            throw fileError("Unable to write to", (folder / stale).string());
    for (const OemSnapshot::File& file : snapshot.files) {
        if (!file.bytes)
            continue;
        // The copy is never more readable than the original.
        if (!platform::writeFileAtomically(folder / file.name, *file.bytes,
                                           platform::Links::Refuse, file.mode))
            throw fileError("Unable to write to", (folder / file.name).string());
        copied(file.name);
    }
    if (!reg.empty() && !platform::writeFileAtomically(folder / kRegistryFile, reg,
                                                       platform::Links::Refuse, 0600))
        throw fileError("Unable to write to", (folder / kRegistryFile).string());
    if (!platform::writeFileAtomically(folder / kManifest, manifest, platform::Links::Refuse,
                                       0600))
        throw fileError("Unable to write to", (folder / kManifest).string());
}


OemSnapshot OemBackup::read(const fs::path& folder, Generation generation)
{
    const std::string notABackup = "Not a crestwick-oem backup: " + folder.string();
    // A backup holds no links: one in it is refused before anything is read.
    std::error_code error;
    if (fs::is_symlink(fs::symlink_status(folder, error)))
        throw Exception(folder.string() + " is a symbolic link; not followed");
    for (fs::directory_iterator it(folder, error), end; !error && it != end;
         it.increment(error))
        if (it->is_symlink(error))
            throw Exception(it->path().string() + " is a symbolic link; not followed");

    const std::string manifest = readBackupFile(folder / kManifest, kMaxBackupValue);
    std::istringstream lines(manifest);
    std::string header;
    std::getline(lines, header);
    // Backups of the first format keep each registry value in a file of its own, named in the
    // manifest with its kind; they are read as they were written.
    const bool firstFormat = header == kFirstManifestHeader;
    if (header != kManifestHeader && !firstFormat)
        throw Exception(notABackup);
    // Everything is read and checked before anything is written.
    OemSnapshot snapshot;
    snapshot.generation = generation;
    for (std::string line; std::getline(lines, line);) {
        if (line.empty())
            continue;
        if (line.starts_with("generation ")) {
            // A backup of one generation holds the files and values of that generation only.
            const std::string taken = line.substr(11);
            const std::string here = generationName(generation);
            if (taken != here)
                throw Exception("The backup in " + folder.string() +
                                " was taken from a system of generation " + taken +
                                "; this system is of generation " + here);
            continue;
        }
        std::istringstream words(line);
        std::string kind, name, state, extra;
        words >> kind >> name >> state >> extra;
        if (firstFormat && kind == "value" && extra.empty()) {
            snapshot.values.push_back(readFirstFormatValue(folder, name, state, notABackup,
                                                           snapshot.values));
            continue;
        }
        if (!extra.empty() || kind != "file" ||
            (name != "oeminfo.ini" && name != "oemlogo.bmp") ||
            (state != "absent" && state != "present") ||
            std::any_of(snapshot.files.begin(), snapshot.files.end(),
                        [&](const auto& file) { return file.name == name; }))
            throw Exception(notABackup);
        OemSnapshot::File file;
        file.name = name;
        if (state == "present")
            file.bytes = readBackupFile(folder / name, kMaxBackupFile, &file.mode);
        snapshot.files.push_back(std::move(file));
    }
    if (!firstFormat && fs::exists(fs::symlink_status(folder / kRegistryFile, error)))
        snapshot.values = parseRegistryFile(readBackupFile(folder / kRegistryFile, kMaxBackupValue),
                                            folder, notABackup);
    return snapshot;
}

} // namespace oem
