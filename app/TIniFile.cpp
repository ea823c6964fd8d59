#include "app/TIniFile.h"

#include "core/Exceptions.h"
#include "core/Format.h"
#include "platform/Profile.h"

namespace {

// The buffer a value is read into; one byte of it holds the closing NUL.
constexpr unsigned kReadBufferSize = 1024;

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
