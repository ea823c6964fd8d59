#pragma once

namespace platform {

// The profile functions: read and write one value of an INI file, named by its Windows path.
// A name without any folder lies in the Windows directory C:\WINDOWS; a null name is win.ini
// there. The file is read afresh at every call and never cached.

// Copies the value of key in section into buffer, at most size - 1 characters followed by a
// NUL, and returns the number of characters copied; a quoted value is cut before its quotes
// come off, so it keeps at most size - 2. A missing file, section or key gives defaultValue
// without its trailing spaces (a null default is empty; one made only of spaces keeps one).
// A null key copies the names of the section's keys instead (the default when the file or the
// section is not there), and a null section the names of the sections, each followed by a NUL
// and the list by one more; a list that does not fit is cut, still ends in two NULs, and the
// result is then size - 2.
unsigned GetPrivateProfileStringA(const char* section, const char* key, const char* defaultValue,
                                  char* buffer, unsigned size, const char* fileName);

// Sets key in section to value, adding the key, the section or the file as needed. A null
// value deletes the key's line, a null key the whole section; deleting what is not there
// succeeds without touching anything. A null section, a file or folder that cannot be written,
// or a name or value that cannot be stored on one line fails and changes nothing.
// The new content replaces the file atomically and the file keeps its permissions.
bool WritePrivateProfileStringA(const char* section, const char* key, const char* value,
                                const char* fileName);

} // namespace platform
