#pragma once

#include <string>
#include <string_view>

namespace core {

// Changes only the letters a to z (or A to Z); every other byte, including UTF-8 sequences,
// passes unchanged.
std::string AsciiUpperCase(std::string_view text);
std::string AsciiLowerCase(std::string_view text);

constexpr char asciiUpper(char c)
{
    return c >= 'a' && c <= 'z' ? char(c - 'a' + 'A') : c;
}
constexpr char asciiLower(char c)
{
    return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c;
}

// True when every byte of the text is ASCII.
constexpr bool isAscii(std::string_view text)
{
    for (char c : text)
        if (static_cast<unsigned char>(c) >= 0x80)
            return false;
    return true;
}

// True when the two texts differ only in the case of ASCII letters.
bool asciiEqualsIgnoreCase(std::string_view a, std::string_view b);

} // namespace core
