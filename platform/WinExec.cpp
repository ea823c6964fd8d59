#include "platform/WinExec.h"

#include "core/AsciiCase.h"

#include <QProcess>
#include <QStandardPaths>
#include <QString>
#include <QStringList>

#include <string>
#include <system_error>
#include <vector>

namespace fs = std::filesystem;

namespace platform {

namespace {

const char* const kSystemPropertiesName = "crestwick-sysprops";

fs::path& explicitSystemProperties()
{
    static fs::path program;
    return program;
}

bool isBlank(char c) { return c == ' ' || c == '\t'; }

// Splits a command line the way the platform's start-up code does for simple cases: blanks
// separate words, double quotes group blanks into a word and are removed.
std::vector<std::string> splitCommandLine(std::string_view line)
{
    std::vector<std::string> words;
    std::size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && isBlank(line[i]))
            ++i;
        if (i == line.size())
            break;
        std::string word;
        bool quoted = false;
        for (; i < line.size() && (quoted || !isBlank(line[i])); ++i) {
            if (line[i] == '"')
                quoted = !quoted;
            else
                word += line[i];
        }
        words.push_back(std::move(word));
    }
    return words;
}

// The file-name part of a Windows or host path.
std::string_view baseName(std::string_view path)
{
    const std::size_t cut = path.find_last_of("\\/:");
    return cut == std::string_view::npos ? path : path.substr(cut + 1);
}

bool isControlPanelSystemApplet(const std::vector<std::string>& words)
{
    if (words.size() != 3)
        return false;
    const std::string_view program = baseName(words[0]);
    if (!core::asciiEqualsIgnoreCase(program, "rundll32.exe") &&
        !core::asciiEqualsIgnoreCase(program, "rundll32"))
        return false;
    return core::asciiEqualsIgnoreCase(words[1], "shell32.dll,Control_RunDLL") &&
           core::asciiEqualsIgnoreCase(baseName(words[2]), "sysdm.cpl");
}

bool isExecutableFile(const fs::path& path)
{
    std::error_code ec;
    return fs::is_regular_file(path, ec) &&
           (fs::status(path, ec).permissions() & fs::perms::owner_exec) != fs::perms::none;
}

unsigned startDetached(const fs::path& program, const QStringList& arguments,
                       std::int64_t& processId)
{
    qint64 pid = 0;
    if (!QProcess::startDetached(QString::fromStdString(program.string()), arguments, QString(),
                                 &pid))
        return ERROR_BAD_FORMAT;
    processId = pid;
    return WINEXEC_SUCCESS;
}

} // namespace

fs::path systemPropertiesProgram()
{
    if (!explicitSystemProperties().empty())
        return explicitSystemProperties();
    std::error_code ec;
    const fs::path self = fs::read_symlink("/proc/self/exe", ec);
    if (!ec) {
        const fs::path folder = self.parent_path();
        // Installed, it lies with the program's helpers; in the build tree, beside the program
        // or in its own folder.
        for (const fs::path& candidate :
             {folder.parent_path() / "libexec" / "crestwick" / kSystemPropertiesName,
              folder / kSystemPropertiesName,
              folder.parent_path() / "sysprops" / kSystemPropertiesName})
            if (isExecutableFile(candidate))
                return candidate;
    }
    const QString found = QStandardPaths::findExecutable(kSystemPropertiesName);
    return found.isEmpty() ? fs::path() : fs::path(found.toStdString());
}

void setSystemPropertiesProgram(const fs::path& program) { explicitSystemProperties() = program; }

unsigned WinExec(std::string_view commandLine, unsigned showCmd)
{
    std::int64_t processId = 0;
    return WinExec(commandLine, showCmd, processId);
}

unsigned WinExec(std::string_view commandLine, unsigned /*showCmd*/, std::int64_t& processId)
{
    processId = 0;
    const std::vector<std::string> words = splitCommandLine(commandLine);
    if (words.empty())
        return ERROR_FILE_NOT_FOUND;

    if (isControlPanelSystemApplet(words)) {
        const fs::path program = systemPropertiesProgram();
        if (program.empty() || !isExecutableFile(program))
            return ERROR_FILE_NOT_FOUND;
        return startDetached(program, {}, processId);
    }

    fs::path program;
    if (words[0].find('/') != std::string::npos) {
        program = words[0];
    } else {
        const QString found = QStandardPaths::findExecutable(QString::fromStdString(words[0]));
        if (found.isEmpty())
            return ERROR_FILE_NOT_FOUND;
        program = found.toStdString();
    }
    if (!isExecutableFile(program))
        return ERROR_FILE_NOT_FOUND;
    QStringList arguments;
    for (std::size_t i = 1; i < words.size(); ++i)
        arguments << QString::fromStdString(words[i]);
    return startDetached(program, arguments, processId);
}

} // namespace platform
