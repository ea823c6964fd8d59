// crestwick-oem: shows and changes the OEM information and logo of the system that --prefix
// or WINEPREFIX names, for scripts and for preparing many machines. Every read and write goes
// through oem::OemSystem, as the main window's do. Names from the command line are bytes and stay
// bytes; texts are read as UTF-8 where they are valid UTF-8 and in the system's ANSI code page
// elsewhere. Errors go to stderr with status 1; a usage error is told in one line, with a hint
// where to look, and status 2.
#include "core/Exceptions.h"
#include "imaging/TBitmap.h"
#include "imaging/TPicture.h"
#include "imaging/jpeg.h"
#include "oem/OemBackup.h"
#include "oem/AnswerFile.h"
#include "oem/ImageVolume.h"
#include "oem/OemSystem.h"
#include "oem/WimImage.h"
#include "oem/WineServer.h"
#include "platform/AtomicFile.h"
#include "platform/CodePage.h"
#include "platform/OpenRegularFile.h"
#include "platform/Prefix.h"
#include "platform/Registry.h"
#include "platform/SystemLock.h"
#include "platform/WinPath.h"
#include "platform/WineRegistry.h"

#include <QCoreApplication>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

// One option of a command: a flag, or one that takes a value (written "--name VALUE" or
// "--name=VALUE").
struct OptionSpec {
    const char* name;
    const char* valueName; // null for a flag
    const char* help;
    bool repeatable = false; // may be given more than once, each value kept
};

struct CommandSpec {
    const char* name;
    const char* operand; // the one name the command takes, or null
    const char* summary;
    std::vector<OptionSpec> options;
};

const OptionSpec kVerbose = {"--verbose", nullptr, "tell what was done"};
// Where a synopsis line breaks.
constexpr std::size_t kSynopsisWidth = 92;

// Options before the command, naming the system to act on instead of WINEPREFIX.
const std::vector<OptionSpec>& globalOptions()
{
    static const std::vector<OptionSpec> list = {
        {"--image", "FILE.wim[:INDEX]",
         "act on image INDEX of a WIM file (needed when it has several)"},
        {"--unattend", "FILE.xml",
         "act on an answer file's OEMInformation (show, set and logo)"},
    };
    return list;
}

const std::vector<CommandSpec>& commands()
{
    static const std::vector<CommandSpec> list = {
        {"show",
         nullptr,
         "Prints the system's generation, its Windows directory, where its OEM information\n"
         "lives, the manufacturer, the model, the two support lines, on NT 6 and later every\n"
         "value of the OEMInformation key, and the logo.",
         {{"--json", nullptr, "print the same facts as one JSON object"},
          {"--list-images", nullptr, "with --image: list the file's images and their Windows"}}},
        {"set",
         nullptr,
         "Changes the given items of the OEM information, and only those; at least one is\n"
         "needed. Texts go to oeminfo.ini in the system's code page; on NT 6 and later\n"
         "the manufacturer, the model and the support values go to the registry too.\n"
         "NAME of --clear: manufacturer, model, line1, line2, support-phone, support-hours\n"
         "or support-url. The support values exist on NT 6 and later only.",
         {{"--manufacturer", "TEXT", "the computer's manufacturer"},
          {"--model", "TEXT", "the computer's model"},
          {"--line1", "TEXT", "the first support line"},
          {"--line2", "TEXT", "the second support line"},
          {"--support-phone", "TEXT", "the support phone number (NT 6+)"},
          {"--support-hours", "TEXT", "the support hours (NT 6+)"},
          {"--support-url", "TEXT", "the support web address (NT 6+)"},
          {"--clear", "NAME", "delete that item (may be repeated)", true},
          kVerbose}},
        {"logo",
         "PICTURE",
         "Saves a BMP or JPEG picture, whatever its name, as the OEM logo (a bitmap). The\n"
         "logo area is 180x114 on 9x and NT 5, 120x120 on NT 6 and later. A bitmap that\n"
         "the tool makes (fitted, or decoded from a JPEG) has the depth BITS; a BMP\n"
         "written as it is keeps its own unless --depth is given.",
         {{"--fit", nullptr, "first shrink the picture to fit the system's logo area"},
          {"--depth", "BITS", "8 or 24 bits per pixel (default 24)"},
          kVerbose}},
        {"backup",
         "FOLDER",
         "Copies the OEM files (and on NT 6 and later the OEM registry values) into FOLDER.",
         {{"--force", nullptr, "replace a backup that FOLDER already holds"}, kVerbose}},
        {"restore",
         "FOLDER",
         "Writes a backup back; files that did not exist at backup time are removed.",
         {kVerbose}},
    };
    return list;
}

const CommandSpec* findCommand(std::string_view name)
{
    for (const CommandSpec& command : commands())
        if (name == command.name)
            return &command;
    return nullptr;
}

// "crestwick-oem set [--manufacturer TEXT] ... [--verbose]", wrapped under its own start.
std::string synopsis(const CommandSpec& command, const std::string& lead)
{
    std::string line = lead + "crestwick-oem " + command.name;
    if (command.operand)
        line += std::string(" ") + command.operand;
    const std::string indent(lead.size() + std::strlen("crestwick-oem ") +
                                 std::strlen(command.name) + 1,
                             ' ');
    std::string out;
    for (const OptionSpec& option : command.options) {
        std::string word = std::string("[") + option.name;
        if (option.valueName)
            word += std::string(" ") + option.valueName;
        word += "]";
        if (line.size() + 1 + word.size() > kSynopsisWidth) {
            out += line + "\n";
            line = indent + word;
        } else {
            line += " " + word;
        }
    }
    return out + line + "\n";
}

std::string usage()
{
    std::string out;
    for (const CommandSpec& command : commands())
        out += synopsis(command, out.empty() ? "Usage: " : "       ");
    out += "       crestwick-oem --image FILE.wim[:INDEX] | --unattend FILE.xml COMMAND ...\n"
           "       crestwick-oem -h | --help | --version\n"
           "Shows and changes the OEM information and logo of the Windows system that\n"
           "WINEPREFIX names, or that '--prefix DIR' (or '-p DIR') before the command names.\n"
           "'crestwick-oem COMMAND --help' tells more about a command.\n";
    return out;
}

std::string commandHelp(const CommandSpec& command)
{
    std::string out = synopsis(command, "Usage: ") + command.summary +
                      "\nActs on the system that --prefix or WINEPREFIX names.\n\n";
    const auto item = [&](std::string left, const char* help) {
        left.resize(std::max<std::size_t>(left.size() + 2, 24), ' ');
        out += "  " + left + help + "\n";
    };
    for (const OptionSpec& option : command.options)
        item(std::string(option.name) + (option.valueName ? std::string(" ") + option.valueName
                                                         : std::string()),
             option.help);
    item("-h, --help", "print this help");
    return out;
}

// What is wrong with the command line, in one line, and the command whose help tells more.
struct UsageError {
    std::string message;
    const CommandSpec* command = nullptr;
};


bool verbose = false;

void say(const std::string& text)
{
    if (verbose)
        std::fprintf(stdout, "%s\n", text.c_str());
}

// A text of the program (UTF-8) as a JSON value; a missing one is null.
QJsonValue jsonText(const std::optional<std::string>& text)
{
    return text ? QJsonValue(QString::fromUtf8(text->data(), qsizetype(text->size())))
                : QJsonValue(QJsonValue::Null);
}

// Refuses a file that exists but cannot be read: what it holds would be taken for missing.
void ensureReadable(const fs::path& path, const std::string& shownAs)
{
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0 && errno == ENOENT)
        return;
    const int fd = platform::openRegularFile(path, platform::FileAccess::ReadOnly);
    if (fd < 0)
        throw Exception("Cannot open file " + shownAs + ": " + std::strerror(errno));
    ::close(fd);
}

int show(bool json)
{
    const oem::OemSystem system = oem::OemSystem::describe();
    const std::string logo = system.currentLogoFile();
    // A file that is there but cannot be read would show as "(none)", as if it were absent.
    for (const std::string& file : {system.infoFile(), logo})
        if (const auto path = platform::WinPath::toHost(file))
            ensureReadable(*path, file);
    const oem::OemInfo info = system.readInfo();
    const oem::OemSupport support = system.readSupport();
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
    const oem::LogoBox box = system.logoBox();
    if (json) {
        const QJsonObject logoObject{
            {"file", jsonText(logo)},
            {"exists", bool(logoSize)},
            {"size", qint64(logoSize.value_or(0))},
            {"width", width},
            {"height", height},
        };
        QJsonObject object{
            {"generation", jsonText(oem::generationName(system.generation()))},
            {"version", jsonText(system.version())},
            {"windowsDirectory", jsonText(system.windowsDirectory())},
            {"infoFile", jsonText(system.infoFile())},
            {"manufacturerAndModelIn", jsonText(keptIn)},
            {"manufacturer", jsonText(info.manufacturer)},
            {"model", jsonText(info.model)},
            {"line1", jsonText(info.supportLine1)},
            {"line2", jsonText(info.supportLine2)},
            {"logo", logoObject},
            {"logoBox", QJsonObject{{"width", box.width}, {"height", box.height}}},
        };
        // The support part exists on NT 6 alone; elsewhere these members are left out.
        if (system.keepsSupportValues()) {
            object.insert("supportPhone", jsonText(support.phone));
            object.insert("supportHours", jsonText(support.hours));
            object.insert("supportUrl", jsonText(support.url));
            object.insert("helpCustomized", support.helpCustomized
                                                ? QJsonValue(qint64(*support.helpCustomized))
                                                : QJsonValue(QJsonValue::Null));
        }
        const std::string out = QJsonDocument(object).toJson(QJsonDocument::Compact).toStdString() + "\n";
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
    if (!system.infoKey().empty())
        std::printf("%-20s %s\n", "Registry key:", system.infoKey().c_str());
    line("Manufacturer:", info.manufacturer);
    line("Model:", info.model);
    line("Support line 1:", info.supportLine1);
    line("Support line 2:", info.supportLine2);
    if (system.keepsSupportValues()) {
        line("Support phone:", support.phone);
        line("Support hours:", support.hours);
        line("Support URL:", support.url);
        line("Help customized:", support.helpCustomized
                                     ? std::optional(std::to_string(*support.helpCustomized))
                                     : std::nullopt);
    }
    if (logoSize)
        std::printf("%-20s %s (%ju bytes, %dx%d)\n", "Logo:", logo.c_str(), *logoSize, width,
                    height);
    else
        std::printf("%-20s %s (none)\n", "Logo:", logo.c_str());
    std::printf("%-20s %dx%d\n", "Logo area:", box.width, box.height);
    return 0;
}

int set(const oem::OemSystem& system, oem::OemInfo info, oem::OemSupport support,
        const std::vector<oem::OemItem>& cleared)
{
    // An argument that is not UTF-8 was typed in a terminal that uses the system's code page
    // (Latin-1 "M\xFCller"): read so, it reaches the registry as the same letters and
    // oeminfo.ini as the same bytes.
    const platform::CodePage ansi = platform::CodePage::systemAnsi();
    for (std::optional<std::string>* text :
         {&info.manufacturer, &info.model, &info.supportLine1, &info.supportLine2, &support.phone,
          &support.hours, &support.url})
        if (*text)
            **text = ansi.decodeUtf8OrPage(**text);
    // Only the given items are written; the others keep their bytes.
    system.writeInfo(info, oem::FurtherSupportLines::Keep, support, cleared);
    say("Saved the OEM information of " + system.windowsDirectory());
    return 0;
}

// How deep the bitmap that logo writes is: 24 bits unless asked otherwise; nothing when not
// asked, for a bitmap that is written as it is.
struct LogoDepthChoice {
    oem::LogoDepth depth = oem::LogoDepth::Bits24;
    bool given = false;
};

int logo(const std::string& picturePath, bool fit, LogoDepthChoice depth)
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
    try {
        picture.LoadFromFileByContent(windowsPath);
        // A JPEG is decoded in full colour whatever the screen, before any reduction.
        if (auto* jpeg = dynamic_cast<TJPEGImage*>(picture.Graphic()))
            jpeg->SetPixelFormat(jf24Bit);
        if (fit) {
            oem::OemSystem::fitLogo(picture, system.logoBox(), depth.depth);
        } else if (depth.given || !dynamic_cast<TBitmap*>(picture.Graphic())) {
            // A JPEG is decoded here, at the asked depth, instead of at the screen's.
            TBitmap bitmap;
            bitmap.Assign(picture.Graphic());
            oem::OemSystem::setLogoDepth(bitmap, depth.depth);
            picture.SetGraphic(&bitmap);
        }
        system.writeLogo(picture);
    } catch (const EJPEG& error) {
        // The library's words tell a user more than its message number.
        if (error.LibraryText.empty())
            throw;
        throw Exception(picturePath + ": " + error.LibraryText);
    }
    say("Saved the logo as " + system.logoFile());
    return 0;
}

int backup(const fs::path& folder, bool force)
{
    const oem::OemSystem system = oem::OemSystem::describe();
    // Everything is read before the folder is touched.
    oem::OemBackup::write(folder, system.snapshot(), force,
                          [](const std::string& name) { say("Copied " + name); });
    return 0;
}

int restore(const fs::path& folder)
{
    const oem::OemSystem system = oem::OemSystem::describe();
    const oem::OemSnapshot snapshot = oem::OemBackup::read(folder, system.generation());
    system.restore(snapshot);
    for (const auto& file : snapshot.files)
        say((file.bytes ? "Restored " : "Removed ") + file.name);
    for (const auto& value : snapshot.values)
        say("Restored the registry value " + value.name);
    return 0;
}

// A command line taken apart: the command, the options given (a flag with no value) and the
// names.
struct Invocation {
    const CommandSpec* command = nullptr;
    std::map<std::string, std::optional<std::string>> options;
    std::map<std::string, std::vector<std::string>> repeated; // values of repeatable options
    std::vector<std::string> names;

    bool has(const char* name) const { return options.contains(name); }
    std::optional<std::string> value(const char* name) const
    {
        const auto it = options.find(name);
        return it == options.end() ? std::nullopt : it->second;
    }
};

// Reads the arguments after the command, as GNU programs do: "--name VALUE" and
// "--name=VALUE" alike, "--" before names that begin with "-". Help is looked for first.
Invocation parse(const CommandSpec& command, const std::vector<std::string>& args)
{
    Invocation call;
    call.command = &command;
    bool namesOnly = false;
    for (std::size_t i = 1; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (namesOnly || arg == "-" || !arg.starts_with("-")) {
            call.names.push_back(arg);
            continue;
        }
        if (arg == "--") {
            namesOnly = true;
            continue;
        }
        const std::size_t equals = arg.find('=');
        const std::string name = arg.substr(0, equals);
        const auto option =
            std::find_if(command.options.begin(), command.options.end(),
                         [&](const OptionSpec& spec) { return name == spec.name; });
        if (!arg.starts_with("--") || option == command.options.end())
            throw UsageError{"unknown option '" + name + "'", &command};
        std::optional<std::string> value;
        if (option->valueName && equals != std::string::npos)
            value = arg.substr(equals + 1);
        else if (option->valueName && i + 1 < args.size())
            value = args[++i];
        else if (option->valueName)
            throw UsageError{"option '" + name + "' needs " + option->valueName, &command};
        else if (equals != std::string::npos)
            throw UsageError{"option '" + name + "' takes no value", &command};
        if (option->valueName && call.has(option->name) && !option->repeatable)
            throw UsageError{"option '" + name + "' is given twice", &command};
        call.options[option->name] = value;
        if (option->repeatable && value)
            call.repeated[option->name].push_back(*value);
    }
    return call;
}

// Refuses to work on a folder that holds no Windows system, or whose registry cannot be read.
void requireSystem()
{
    // Without its folder WINEPREFIX names no system: nothing is created in its place.
    const fs::path root = platform::Prefix::root();
    std::error_code error;
    if (!fs::is_directory(root, error))
        throw Exception("Cannot open file " + root.string());
    // Nor in a folder that holds none: its Windows paths would lead nowhere, and what a save
    // wrote would land in no system.
    if (!platform::Prefix::holdsSystem())
        throw Exception(root.string() +
                        " is not a Windows system (no system.reg, no Windows volume, no drives)");
    // A registry that cannot be read would read as empty, and the system as another one.
    ensureReadable(platform::Prefix::systemReg(), platform::Prefix::systemReg().string());
    if (const auto hive = platform::Prefix::softwareHive())
        ensureReadable(*hive, hive->string());
}

// The items that set --clear names: the option's own name, or the name of the registry value
// or oeminfo.ini item (any letter case).
struct ClearName {
    const char* option;
    const char* stored;
    oem::OemItem item;
};
constexpr ClearName kClearNames[] = {
    {"manufacturer", "Manufacturer", oem::OemItem::Manufacturer},
    {"model", "Model", oem::OemItem::Model},
    {"line1", "Line1", oem::OemItem::SupportLine1},
    {"line2", "Line2", oem::OemItem::SupportLine2},
    {"support-phone", "SupportPhone", oem::OemItem::SupportPhone},
    {"support-hours", "SupportHours", oem::OemItem::SupportHours},
    {"support-url", "SupportURL", oem::OemItem::SupportUrl},
};

bool sameLetters(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

std::vector<oem::OemItem> clearedItems(const Invocation& call)
{
    std::vector<oem::OemItem> items;
    const auto it = call.repeated.find("--clear");
    if (it == call.repeated.end())
        return items;
    for (const std::string& name : it->second) {
        const auto known = std::find_if(
            std::begin(kClearNames), std::end(kClearNames), [&](const ClearName& entry) {
                return sameLetters(name, entry.option) || sameLetters(name, entry.stored);
            });
        if (known == std::end(kClearNames))
            throw UsageError{"option '--clear' does not know the item '" + name + "'",
                             call.command};
        // Its option is named as the item is: one line cannot both set and delete it.
        if (call.has((std::string("--") + known->option).c_str()))
            throw UsageError{std::string("option '--clear' deletes ") + known->option +
                                 ", which the line also sets",
                             call.command};
        items.push_back(known->item);
    }
    return items;
}

// The options that only NT 6 and later have a place for.
bool namesSupportValue(const Invocation& call, const std::vector<oem::OemItem>& cleared)
{
    return call.has("--support-phone") || call.has("--support-hours") ||
           call.has("--support-url") ||
           std::any_of(cleared.begin(), cleared.end(), [](oem::OemItem item) {
               return item == oem::OemItem::SupportPhone || item == oem::OemItem::SupportHours ||
                      item == oem::OemItem::SupportUrl;
           });
}

LogoDepthChoice depthOf(const Invocation& call)
{
    LogoDepthChoice choice;
    const auto value = call.value("--depth");
    if (!value)
        return choice;
    choice.given = true;
    if (*value == "8")
        choice.depth = oem::LogoDepth::Bits8;
    else if (*value != "24")
        throw UsageError{"option '--depth' takes 8 or 24, not '" + *value + "'", call.command};
    return choice;
}

// Takes "--prefix DIR", "--prefix=DIR" or "-p DIR" from the start of the line: the system to
// act on, in place of WINEPREFIX's.
std::vector<std::string> takePrefix(std::vector<std::string> args)
{
    while (!args.empty()) {
        std::optional<std::string> folder;
        std::size_t used = 1;
        if (args[0].starts_with("--prefix=")) {
            folder = args[0].substr(9);
        } else if (args[0] == "--prefix" || args[0] == "-p") {
            if (args.size() < 2)
                throw UsageError{"option '" + args[0] + "' needs DIR"};
            folder = args[1];
            used = 2;
        } else {
            break;
        }
        if (folder->empty())
            throw UsageError{"option '--prefix' needs DIR"};
        ::setenv("WINEPREFIX", folder->c_str(), 1);
        args.erase(args.begin(), args.begin() + std::ptrdiff_t(used));
    }
    return args;
}

// The system named before the command, instead of WINEPREFIX.
struct Target {
    std::optional<std::string> image;    // FILE.wim[:INDEX]
    std::optional<std::string> unattend; // FILE.xml
};

// Takes the options before the command off the front of args.
Target takeGlobalOptions(std::vector<std::string>& args)
{
    Target target;
    while (!args.empty() && args.front().starts_with("--")) {
        const std::string arg = args.front();
        const std::size_t equals = arg.find('=');
        const std::string name = arg.substr(0, equals);
        const auto& list = globalOptions();
        const auto option = std::find_if(list.begin(), list.end(),
                                         [&](const OptionSpec& spec) { return name == spec.name; });
        if (option == list.end())
            break;
        std::size_t used = 1;
        std::string value;
        if (equals != std::string::npos)
            value = arg.substr(equals + 1);
        else if (args.size() > 1)
            value = args[used++];
        else
            throw UsageError{"option '" + name + "' needs " + option->valueName};
        std::optional<std::string>& slot = name == "--image" ? target.image : target.unattend;
        if (slot)
            throw UsageError{"option '" + name + "' is given twice"};
        slot = value;
        args.erase(args.begin(), args.begin() + std::ptrdiff_t(used));
    }
    if (target.image && target.unattend)
        throw UsageError{"give --image or --unattend, not both"};
    return target;
}

// An answer file's bytes, read whole; its errors name the file as given.
std::string readAnswerFile(const std::string& file)
{
    std::string bytes;
    if (!platform::readWholeFile(file, bytes))
        throw Exception("Cannot open file " + file + ": " + std::strerror(errno));
    return bytes;
}

int answerShow(const std::string& file, bool json)
{
    const oem::AnswerFile answers(readAnswerFile(file), file);
    const oem::AnswerOemInformation items = answers.read();
    const std::pair<const char*, const std::optional<std::string>*> rows[] = {
        {"manufacturer", &items.manufacturer}, {"model", &items.model},
        {"logo", &items.logo},                 {"supportHours", &items.supportHours},
        {"supportPhone", &items.supportPhone}, {"supportUrl", &items.supportUrl},
        {"helpCustomized", &items.helpCustomized}};
    if (json) {
        QJsonObject object{{"answerFile", jsonText(file)}, {"pass", jsonText(answers.pass())}};
        for (const auto& [name, value] : rows)
            object.insert(name, jsonText(*value));
        const std::string out =
            QJsonDocument(object).toJson(QJsonDocument::Compact).toStdString() + "\n";
        std::fputs(out.c_str(), stdout);
        return 0;
    }
    std::printf("%-20s %s\n", "Answer file:", file.c_str());
    std::printf("%-20s %s\n", "Pass:", answers.pass().empty() ? "(none)" : answers.pass().c_str());
    const char* labels[] = {"Manufacturer:",  "Model:",       "Logo:",           "Support hours:",
                            "Support phone:", "Support URL:", "Help customized:"};
    for (std::size_t i = 0; i < std::size(rows); ++i)
        std::printf("%-20s %s\n", labels[i], *rows[i].second ? (*rows[i].second)->c_str() : "(none)");
    return 0;
}

// Writes the given items into the answer file: the new document replaces the file at once.
int answerSet(const std::string& file, oem::AnswerOemInformation items)
{
    oem::AnswerFile answers(readAnswerFile(file), file);
    // Texts typed in a terminal that uses the system's code page are taken as its letters.
    const platform::CodePage ansi = platform::CodePage::systemAnsi();
    for (std::optional<std::string>* text : {&items.manufacturer, &items.model, &items.logo,
                                              &items.supportPhone, &items.supportHours,
                                              &items.supportUrl})
        if (*text)
            **text = ansi.decodeUtf8OrPage(**text);
    answers.write(items);
    if (!platform::writeFileAtomically(file, answers.bytes(), platform::Links::Follow))
        throw Exception("Unable to write to " + file + ": " + std::strerror(errno));
    say("Saved the OEM information of " + file);
    return 0;
}

// A private folder for an image's files, removed with everything in it.
struct TemporaryFolder {
    fs::path path;
    TemporaryFolder()
    {
        std::error_code error;
        std::string pattern = (fs::temp_directory_path(error) / "crestwick-image-XXXXXX").string();
        if (!::mkdtemp(pattern.data()))
            throw Exception("Cannot create a temporary folder: " + std::string(std::strerror(errno)));
        path = pattern;
    }
    ~TemporaryFolder()
    {
        std::error_code error;
        fs::remove_all(path, error);
    }
};

// Splits FILE.wim[:INDEX]; the index is the part after the last colon when it is a number.
std::pair<std::string, std::optional<int>> imageOperand(const std::string& operand)
{
    const std::size_t colon = operand.rfind(':');
    if (colon == std::string::npos || colon + 1 == operand.size() ||
        operand.find_first_not_of("0123456789", colon + 1) != std::string::npos)
        return {operand, std::nullopt};
    const std::string digits = operand.substr(colon + 1);
    if (digits.size() > 6)
        throw UsageError{"no image " + digits + " in " + operand.substr(0, colon)};
    return {operand.substr(0, colon), std::stoi(digits)};
}

// Lists the images of a WIM file: index, name and the Windows that its registry names.
int listImages(oem::WimImage& wim)
{
    for (int image = 1; image <= wim.imageCount(); ++image) {
        std::string windows = "(no Windows)";
        try {
            TemporaryFolder folder;
            ::setenv("WINEPREFIX", folder.path.c_str(), 1);
            oem::ImageVolume volume(wim, image, folder.path);
            const oem::OemSystem system = oem::OemSystem::describe();
            windows = system.productName().empty() ? std::string(oem::generationName(system.generation()))
                                                   : system.productName();
            if (!system.version().empty())
                windows += " (" + system.version() + ")";
        } catch (const Exception&) {
            // An image without Windows (a data image) is listed all the same.
        }
        std::printf("%d\t%s\t%s\n", image, wim.imageName(image).c_str(), windows.c_str());
    }
    return 0;
}

// What the command line asks a command to write.
struct Request {
    oem::OemInfo info;
    oem::OemSupport support;
    std::vector<oem::OemItem> cleared;
    LogoDepthChoice depth;
};

int runCommand(const std::vector<std::string>& args, const Target& target);
int dispatch(const Invocation& call, const Request& request);
int onAnswerFile(const std::string& file, const Invocation& call, const Request& request);
int onImage(const std::string& operand, const Invocation& call, const Request& request);

int run(std::vector<std::string> args)
{
    // --prefix and --image/--unattend may come in either order before the command.
    args = takePrefix(std::move(args));
    const Target target = takeGlobalOptions(args);
    args = takePrefix(std::move(args));
    return runCommand(args, target);
}

int runCommand(const std::vector<std::string>& args, const Target& target)
{
    if (args.empty())
        throw UsageError{"no command given"};
    if (args[0] == "-h" || args[0] == "--help") {
        std::fputs(usage().c_str(), stdout);
        return 0;
    }
    if (args[0] == "--version") {
        std::printf("crestwick-oem %s\n", CRESTWICK_VERSION);
        return 0;
    }
    const CommandSpec* command = findCommand(args[0]);
    if (!command)
        throw UsageError{(args[0].starts_with("-") ? "unknown option '" : "unknown command '") +
                         args[0] + "'"};
    // Help wins over whatever else the line holds, right or wrong.
    const auto end = std::find(args.begin(), args.end(), "--");
    if (std::find(args.begin(), end, "-h") != end || std::find(args.begin(), end, "--help") != end) {
        std::fputs(commandHelp(*command).c_str(), stdout);
        return 0;
    }
    const Invocation call = parse(*command, args);
    const std::size_t names = command->operand ? 1 : 0;
    if (call.names.size() < names)
        throw UsageError{std::string("missing ") + command->operand, command};
    if (call.names.size() > names)
        throw UsageError{"unexpected argument '" + call.names[names] + "'", command};
    Request request;
    oem::OemInfo& info = request.info;
    info.manufacturer = call.value("--manufacturer");
    info.model = call.value("--model");
    info.supportLine1 = call.value("--line1");
    info.supportLine2 = call.value("--line2");
    oem::OemSupport& support = request.support;
    support.phone = call.value("--support-phone");
    support.hours = call.value("--support-hours");
    support.url = call.value("--support-url");
    request.cleared = clearedItems(call);
    if (command->name == std::string_view("set") && !info.manufacturer && !info.model &&
        !info.supportLine1 && !info.supportLine2 && !support.phone && !support.hours &&
        !support.url && request.cleared.empty())
        throw UsageError{"nothing to set: give --manufacturer, --model, --line1, --line2, a "
                         "support value or --clear",
                         command};
    request.depth = depthOf(call);
    verbose = call.has("--verbose");
    if (call.has("--list-images") && !target.image)
        throw UsageError{"--list-images needs --image", command};
    if (target.unattend)
        return onAnswerFile(*target.unattend, call, request);
    if (target.image)
        return onImage(*target.image, call, request);

    requireSystem();
    return dispatch(call, request);
}

int dispatch(const Invocation& call, const Request& request)
{
    const CommandSpec* command = call.command;
    const std::string_view name = command->name;
    if (name == "show")
        return show(call.has("--json"));
    if (name == "set") {
        const oem::OemSystem system = oem::OemSystem::describe();
        // 9x and NT 5 keep no support values: asking for them is a mistake of the command
        // line, told before anything is written.
        if (namesSupportValue(call, request.cleared) && !system.keepsSupportValues())
            throw UsageError{std::string("the support phone, hours and web address exist on "
                                         "NT 6 and later; this system is of generation ") +
                                 oem::generationName(system.generation()),
                             command};
        return set(system, request.info, request.support, request.cleared);
    }
    if (name == "logo")
        return logo(call.names[0], call.has("--fit"), request.depth);
    if (name == "backup")
        return backup(call.names[0], call.has("--force"));
    return restore(call.names[0]);
}

// show, set and logo on an answer file; logo only names the picture, which belongs to the image.
int onAnswerFile(const std::string& file, const Invocation& call, const Request& request)
{
    const oem::OemInfo& info = request.info;
    const CommandSpec* command = call.command;
    const std::string_view name = command->name;
    if (name == "show")
        return answerShow(file, call.has("--json"));
    if (name == "set") {
        if (info.supportLine1 || info.supportLine2)
            throw UsageError{"an answer file has no support lines: give --manufacturer, --model "
                             "or a support value",
                             command};
        if (!request.cleared.empty())
            throw UsageError{"'--clear' does not work on an answer file", command};
        oem::AnswerOemInformation items;
        items.manufacturer = info.manufacturer;
        items.model = info.model;
        items.supportPhone = request.support.phone;
        items.supportHours = request.support.hours;
        items.supportUrl = request.support.url;
        return answerSet(file, items);
    }
    if (name == "logo") {
        if (call.has("--fit"))
            throw UsageError{"--fit needs a picture to change; an answer file only names the logo",
                             command};
        oem::AnswerOemInformation items;
        items.logo = call.names[0];
        return answerSet(file, items);
    }
    throw UsageError{"'" + std::string(name) + "' does not work on an answer file", command};
}

// Any command on one image of a WIM file: its hive and OEM files are laid out as a Windows
// volume in a private folder, the command acts on that as on a mounted disk, and what it
// changed goes back into the image in one update.
int onImage(const std::string& operand, const Invocation& call, const Request& request)
{
    const std::string_view name = call.command->name;
    const auto [file, index] = imageOperand(operand);
    const bool writes = name == "set" || name == "logo" || name == "restore";
    oem::WimImage wim(file, writes ? oem::WimImage::Access::Write : oem::WimImage::Access::Read);
    if (call.has("--list-images"))
        return listImages(wim);
    if (!index && wim.imageCount() != 1)
        throw UsageError{file + " holds " + std::to_string(wim.imageCount()) +
                             " images: name one as " + file + ":INDEX",
                         call.command};
    const int image = index.value_or(1);
    if (image < 1 || image > wim.imageCount())
        throw UsageError{"no image " + std::to_string(image) + " in " + file, call.command};
    TemporaryFolder folder;
    ::setenv("WINEPREFIX", folder.path.c_str(), 1);
    oem::ImageVolume volume(wim, image, folder.path);
    const int status = dispatch(call, request);
    if (writes)
        for (const std::string& path : volume.commit())
            say("Wrote " + path + " into image " + std::to_string(image) + " of " + file);
    return status;
}

} // namespace

int main(int argc, char** argv)
{
    std::vector<std::string> args(argv + 1, argv + argc);
    // Qt's own diagnostics (a missing runtime folder, say) are not this program's words.
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
    // No window is ever shown, and nothing that the tool writes depends on a screen.
    QCoreApplication app(argc, argv);
    try {
        return run(std::move(args));
    } catch (const UsageError& error) {
        std::fprintf(stderr, "crestwick-oem: %s\nTry 'crestwick-oem%s%s --help' for more information.\n",
                     error.message.c_str(), error.command ? " " : "",
                     error.command ? error.command->name : "");
        return 2;
    } catch (const Exception& error) {
        // The system's reason, when it gave one, follows the program's own words.
        std::fprintf(stderr, "crestwick-oem: %s%s%s\n", error.what(),
                     error.SystemReason.empty() ? "" : ": ", error.SystemReason.c_str());
        return 1;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "crestwick-oem: %s\n", error.what());
        return 1;
    }
}
