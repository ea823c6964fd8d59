#pragma once

#include <filesystem>
#include <string>

// The kinds of file that a Unix tree holds and a Windows drive never does.
enum class SpecialKind { Fifo, Socket, LinkToZero, LinkToNull };

inline constexpr SpecialKind kSpecialKinds[] = {SpecialKind::Fifo, SpecialKind::Socket,
                                                SpecialKind::LinkToZero, SpecialKind::LinkToNull};

// A name for test messages: "FIFO", "socket", "link to /dev/zero", "link to /dev/null".
std::string describe(SpecialKind kind);

// Makes one at path (its folder must exist): a real FIFO, a UNIX socket bound to the path
// (closed again; the file stays), or a symbolic link to the device. Fails the test when the
// system refuses.
void makeSpecialFile(SpecialKind kind, const std::filesystem::path& path);
