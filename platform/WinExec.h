#pragma once

#include <cstdint>
#include <filesystem>
#include <string_view>

namespace platform {

// Show commands that a program start or an open operation is given.
inline constexpr unsigned SW_HIDE = 0;
inline constexpr unsigned SW_SHOWNORMAL = 1;
inline constexpr unsigned SW_SHOWNOACTIVATE = 4;

// Results of a program start: above 31 is success; the others name the failure.
inline constexpr unsigned WINEXEC_SUCCESS = 33;
inline constexpr unsigned ERROR_FILE_NOT_FOUND = 2;
inline constexpr unsigned ERROR_BAD_FORMAT = 11;

// Starts the program named at the head of commandLine as a detached process and returns at
// once; the program goes on running when this one ends. The head is the text up to the first
// blank, or a quoted text; the rest is split into arguments at blanks outside quotes.
//
// "rundll32.exe shell32.dll,Control_RunDLL Sysdm.cpl" (in any letter case) starts the System
// Properties window of this machine. Any other program is looked up on PATH (a name with a
// slash is taken as it is). Returns 33 on success, 2 when the program cannot be found and 11
// when it exists but cannot be started. The show command is accepted and not used.
unsigned WinExec(std::string_view commandLine, unsigned showCmd);

// As WinExec, also giving the started process's id (0 when nothing was started).
unsigned WinExec(std::string_view commandLine, unsigned showCmd, std::int64_t& processId);

// Where the System Properties program is looked for: beside the running executable, then in
// a "sysprops" folder beside the executable's folder, then on PATH. Empty when it is nowhere.
std::filesystem::path systemPropertiesProgram();

// Names the System Properties program explicitly (tests point it at the build's copy); an
// empty path restores the lookup above.
void setSystemPropertiesProgram(const std::filesystem::path& program);

} // namespace platform
