// The models libdivecomputer knows, as (vendor, product) pairs with their transports, in its own
// table order.
#pragma once

#include <string>
#include <vector>

#include "dc_handles.h"

namespace diveconnector {

struct SupportedDevice {
    std::string vendor;
    std::string product;
    // libdivecomputer's dc_transport_t bits: how the model can be reached.
    unsigned int transports;
};

// Walks the whole descriptor table. A table that cannot be walked, or whose walk fails part-way,
// yields what was read until then: the list is informational and never fails the caller. Only an
// allocation failure leaves it (std::bad_alloc). Equal pairs are kept as they come.
[[nodiscard]] std::vector<SupportedDevice> listSupportedDevices();

// The descriptors behind that list, each owned, for a caller that asks libdivecomputer about the
// models; a walk that cannot start or fails part-way yields those read until then.
[[nodiscard]] std::vector<DescriptorHandle> descriptorTable();

}  // namespace diveconnector
