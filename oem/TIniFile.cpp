#include "oem/TIniFile.h"

#include "core/AsciiCase.h"
#include "core/Exceptions.h"
#include "core/Format.h"
#include "platform/Profile.h"

namespace {

// The buffer a value is read into; one byte of it holds the closing NUL.
constexpr unsigned kReadBufferSize = 1024;
// The buffer a list of key names is read into.
constexpr unsigned kSectionBufferSize = 32768;

} // namespace

std::string TIniFile::ReadString(const std::string& section, const std::string& key,
                                 const std::string& defaultValue) const
{
    char buffer[kReadBufferSize];
    const unsigned count =
        platform::GetPrivateProfileStringA(section.c_str(), key.c_str(), defaultValue.c_str(),
                                           buffer, kReadBufferSize, fileName_.c_str());
    return std::string(buffer, count);
}

void TIniFile::WriteString(const std::string& section, const std::string& key,
                           const std::string& value)
{
    if (!platform::WritePrivateProfileStringA(section.c_str(), key.c_str(), value.c_str(),
                                              fileName_.c_str()))
        throw EIniFileException(core::Format("Unable to write to %s", {fileName_}));
}

void TIniFile::DeleteKey(const std::string& section, const std::string& key)
{
    platform::WritePrivateProfileStringA(section.c_str(), key.c_str(), nullptr, fileName_.c_str());
}

std::vector<std::string> TIniFile::ReadSection(const std::string& section) const
{
    std::vector<char> buffer(kSectionBufferSize);
    const unsigned length = platform::GetPrivateProfileStringA(
        section.c_str(), nullptr, "", buffer.data(), kSectionBufferSize, fileName_.c_str());
    // Each name is followed by a NUL; a list cut short ends in the middle of a name.
    std::vector<std::string> keys;
    std::size_t start = 0;
    for (std::size_t i = 0; i <= length && i < buffer.size(); ++i)
        if (i == length || buffer[i] == '\0') {
            if (i > start)
                keys.emplace_back(buffer.data() + start, i - start);
            start = i + 1;
        }
    return keys;
}

bool TIniFile::ValueExists(const std::string& section, const std::string& key) const
{
    for (const std::string& name : ReadSection(section))
        if (core::asciiEqualsIgnoreCase(name, key))
            return true;
    return false;
}
