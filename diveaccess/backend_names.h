// The short names libdivecomputer's example tool gives the device families in its fingerprint
// cache files, for every family of the release the library is built for.
#pragma once

#include <libdivecomputer/common.h>

namespace diveconnector {

// The backend name of the family, or null for a family without one.
[[nodiscard]] const char* backendName(dc_family_t family) noexcept;

}  // namespace diveconnector
