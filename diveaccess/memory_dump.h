// Reading a dive computer's whole memory for a bug report.
//
//     DeviceConnection connection(session, &listener);
//     std::vector<unsigned char> image = dumpMemory(connection);
//
// The dump reports the events of a download and Ctrl-C cancels it. Any failure, a cancellation
// included, throws and returns no bytes.
#pragma once

#include <vector>

#include "device_session.h"

namespace diveconnector {

// Throws messages::kDumpUnsupported for families whose backend cannot dump.
[[nodiscard]] std::vector<unsigned char> dumpMemory(const DeviceConnection& connection);

}  // namespace diveconnector
