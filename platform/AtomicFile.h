#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace platform {

// Replaces the file at target with bytes, or creates it: the bytes go to a temporary file in
// the same folder, are flushed to disk and renamed over the target, so that a failure at any
// point leaves the old file exactly as it was. An existing file keeps its permissions.
// Fails (returns false) when the folder is missing or read-only, when the target is a
// read-only file or a directory, or on any write error.
bool writeFileAtomically(const std::filesystem::path& target, std::string_view bytes);

// Reads a whole regular file (or a file a link names). Returns false when it cannot be opened
// or read, and for anything that is not a regular file, which is never opened for reading.
bool readWholeFile(const std::filesystem::path& path, std::string& bytes);

// The Windows notion of writable: the user has write access and the file or folder is not
// marked read-only. Root may write anywhere, so the permission bits decide for it too.
bool isWritable(const std::filesystem::path& path);

} // namespace platform
