// Both libdivecomputer 0.8 and 0.9 install libdivecomputer.so.0, with different ABIs: a library
// built for one that loads the other would pass the parser the wrong arguments and corrupt
// memory. Every working export asks first:
//
//     if (const auto mismatch = libraryVersionMismatch()) return raise(mismatch->message);
#pragma once

#include <optional>

namespace diveconnector {

struct VersionMismatch {
    // "Incompatible libdivecomputer <loaded> (built for <compile-time>)."
    char message[160];
};

// Set when the loaded library's major or minor version differs from the headers this library was
// built with. Allocates nothing, so an export can ask before anything can fail.
[[nodiscard]] std::optional<VersionMismatch> libraryVersionMismatch() noexcept;

}  // namespace diveconnector
