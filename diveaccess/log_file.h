// Opening the support log's file by a UTF-8 path, the one thing about it that differs between
// platforms (Windows takes non-ASCII paths only as UTF-16).
//
//     LogFile file = openLogFile(path);   // appends; null when the file cannot be opened
//     if (file) std::fputs(line, file.get());
#pragma once

#include <cstdio>
#include <memory>

namespace diveconnector {

struct LogFileClose {
    void operator()(std::FILE* file) const noexcept { std::fclose(file); }
};
using LogFile = std::unique_ptr<std::FILE, LogFileClose>;

// Opens the file for appending, creating it if needed; null on any failure.
[[nodiscard]] LogFile openLogFile(const char* utf8Path) noexcept;

}  // namespace diveconnector
