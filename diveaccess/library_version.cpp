#include "library_version.h"

#include <libdivecomputer/version.h>

#include <cstdio>

namespace diveconnector {

std::optional<VersionMismatch> libraryVersionMismatch() noexcept {
    dc_version_t loaded{};
    const char* loadedText = dc_version(&loaded);
    if (loaded.major == DC_VERSION_MAJOR && loaded.minor == DC_VERSION_MINOR) {
        return std::nullopt;
    }
    VersionMismatch mismatch;
    std::snprintf(mismatch.message, sizeof mismatch.message,
                  "Incompatible libdivecomputer %s (built for %s).",
                  loadedText != nullptr ? loadedText : "of unknown version", DC_VERSION);
    return mismatch;
}

}  // namespace diveconnector
