#pragma once

#include <string>
#include <vector>

// An INI file named by its Windows path. It keeps nothing of the file's content: every read and
// every write goes straight to the file through the platform's profile functions.
class TIniFile {
public:
    explicit TIniFile(std::string fileName) : fileName_(std::move(fileName)) {}

    // The value of key in section, at most 1023 characters; defaultValue when the file, the
    // section or the key is missing.
    std::string ReadString(const std::string& section, const std::string& key,
                           const std::string& defaultValue) const;
    // Stores value under key in section; raises EIniFileException when the file cannot be
    // written.
    void WriteString(const std::string& section, const std::string& key, const std::string& value);
    // The names of the keys of section, in file order; none when the file or the section is
    // missing.
    std::vector<std::string> ReadSection(const std::string& section) const;
    // True when key exists in section (whatever its value).
    bool ValueExists(const std::string& section, const std::string& key) const;
    // Removes key from section. A failure is ignored.
    void DeleteKey(const std::string& section, const std::string& key);

    const std::string& FileName() const { return fileName_; }

private:
    std::string fileName_;
};
