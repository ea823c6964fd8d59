#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace platform {

// One of the system's 8-bit code pages, by its Windows number, and the conversion of the
// program's UTF-8 texts to and from it. The Windows ANSI code pages are supported: 1250 to
// 1258, 874 (Thai), 932 (Japanese), 936 (Simplified Chinese), 949 (Korean), 950 (Traditional
// Chinese) and 65001 (UTF-8); any other number stands for Windows-1252, the code page of a
// Western system.
//
// A character the code page cannot hold becomes "?", as the system writes it, never a look-alike
// letter that could name another file; so do malformed UTF-8 and bytes the code page does not
// define. Everything else converts exactly, NULs included.
class CodePage {
public:
    static constexpr unsigned kWestern = 1252;

    // A number that is not supported gives Windows-1252.
    explicit CodePage(unsigned number);

    // The system's ANSI code page: the "ACP" text under
    // HKEY_LOCAL_MACHINE\System\CurrentControlSet\Control\Nls\CodePage, e.g. "1251".
    // Windows-1252 when the value is missing, not a number, or names an unsupported code page.
    static CodePage systemAnsi();

    static bool isSupported(unsigned number);

    unsigned number() const { return number_; }

    // UTF-8 text to the code page's bytes.
    std::string encode(std::string_view utf8) const;
    // The code page's bytes to UTF-8 text.
    std::string decode(std::string_view bytes) const;

    // Bytes of unknown origin, such as a host file name or a command-line argument, to UTF-8
    // text: what is valid UTF-8 stays as it is, and every stretch that is not is decoded from
    // the code page. Names that are not UTF-8 were mostly written by a system that used its
    // ANSI code page, so "caf\xE9" reads as "café" in Windows-1252, and encode() of the result
    // gives back the bytes wherever the code page defines them.
    std::string decodeUtf8OrPage(std::string_view bytes) const;

private:
    unsigned number_ = kWestern;
};

// Conversions between UTF-8, the form of the program's texts, and UTF-16, the form of the
// registry's. UTF-8 is read by the rules decodeUtf8OrPage() applies (RFC 3629: no overlong
// forms, no surrogates, nothing above U+10FFFF); a byte that does not begin a well-formed
// sequence becomes U+FFFD on its own, as does a surrogate of UTF-16 without its partner.
// Everything else converts exactly, NULs included.
void appendUtf16(std::u16string& out, std::string_view utf8);
// The length of the well-formed UTF-8 sequence at pos, or 0 when the bytes there are not one.
std::size_t validUtf8Length(std::string_view text, std::size_t pos);
void appendUtf8(std::string& out, std::u16string_view utf16);

// UTF-16 code units as little-endian bytes, and back; an odd final byte is ignored.
std::string toLittleEndian(std::u16string_view units);
std::u16string fromLittleEndian(std::string_view bytes);

// The two combined: the program's UTF-8 texts to and from the registry's UTF-16LE data.
std::string utf8ToUtf16le(std::string_view utf8);
std::string utf16leToUtf8(std::string_view utf16le);

} // namespace platform
