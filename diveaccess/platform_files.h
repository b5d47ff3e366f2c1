// The operating system's file calls behind the state directory and the support log; one
// implementation per platform (platform_files_posix.cpp, platform_files_windows.cpp). Paths are
// UTF-8 (Windows takes non-ASCII paths only as UTF-16).
#pragma once

#include <cstddef>
#include <cstdio>
#include <memory>
#include <string>

namespace diveconnector {

struct FileClose {
    void operator()(std::FILE* file) const noexcept { std::fclose(file); }
};
// An open C file, closed when the owner goes:
//
//     const FileHandle file = openFileForReading(path);
//     if (!file) { ... }
using FileHandle = std::unique_ptr<std::FILE, FileClose>;

enum class DirectoryCreation { kCreated, kExists, kParentMissing, kFailed };

// Creates one directory, readable by the user only; kExists when a directory is already there.
[[nodiscard]] DirectoryCreation makeUserDirectory(const std::string& path) noexcept;

// Null when the file cannot be opened.
[[nodiscard]] FileHandle openFileForReading(const std::string& path) noexcept;

// Opens the file for appending, creating it readable and writable by the user only if needed;
// null on any failure. An existing file keeps its permissions.
[[nodiscard]] FileHandle openFileForAppending(const std::string& path) noexcept;

// Writes the bytes to a new user-only file in `directory`, flushes it to the disk and renames it
// to `path` (in that directory), replacing any file there. False on any failure, with no new file
// left behind.
[[nodiscard]] bool replaceFile(const std::string& directory, const std::string& path,
                               const unsigned char* data, std::size_t size) noexcept;

// Removes the file; true when it is gone, also when there was none.
[[nodiscard]] bool removeFile(const std::string& path) noexcept;

}  // namespace diveconnector
