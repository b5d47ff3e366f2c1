// The library's state directory: small files that must outlive a download, such as the fingerprint
// cache (`<dir>/<backend>-<SERIAL>.bin`) or a transport's own files in a subfolder
// (`<dir>/<subfolder>/<name>`). The application names the directory in a Java system property
// that the bridge reads; unset or empty, the library keeps no state.
//
//     const std::string dir = ...;                              // from the bridge, "" for none
//     const std::string path = statePath(dir, "ble", address);
//     if (!path.empty()) {
//         const auto stored = readStateFile(path, 64);          // nullopt: missing or unreadable
//         ...
//         static_cast<void>(writeStateFile(path, bytes.data(), bytes.size()));
//     }
//
// Paths are UTF-8. Nothing here throws: a state file that cannot be read or written is a state
// not kept, never a failed download.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace diveconnector {

// The longest path a state file may have, in bytes with its terminator, as libdivecomputer's
// example tool limits its cache paths.
inline constexpr std::size_t kStatePathLimit = 1024;

// `directory` and the parts joined with '/', or "" when the directory is empty, a part is no plain
// name ("", ".", "..", or holding '/', '\\' or NUL) or the path would exceed the limit: a path
// that cannot be formed whole is never used cut short.
[[nodiscard]] std::string statePath(const std::string& directory, const std::string& subfolder,
                                    const std::string& name);
[[nodiscard]] std::string statePath(const std::string& directory, const std::string& name);

// The whole file, or nullopt when it is missing, unreadable or longer than maxSize bytes.
[[nodiscard]] std::optional<std::vector<unsigned char>> readStateFile(const std::string& path,
                                                                      std::size_t maxSize) noexcept;

// Replaces the file with `size` bytes so that a reader sees the old or the new content whole,
// never a part: a new file in the same directory, flushed to the disk, then renamed over it.
// Missing directories on the way are created, readable by the user only. False on any failure,
// which leaves the old file as it was and no temporary file behind.
[[nodiscard]] bool writeStateFile(const std::string& path, const unsigned char* data,
                                  std::size_t size) noexcept;

}  // namespace diveconnector
