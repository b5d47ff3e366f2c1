#include "supported_devices.h"

#include <libdivecomputer/descriptor.h>
#include <libdivecomputer/iterator.h>

#include <utility>

namespace diveconnector {

namespace {

// A descriptor without a vendor or product text still names a model; list it with an empty text
// rather than dereferencing null.
std::string textOf(const char* text) {
    return text != nullptr ? std::string(text) : std::string();
}

}  // namespace

std::vector<SupportedDevice> listSupportedDevices() {
    std::vector<SupportedDevice> devices;
    for (const DescriptorHandle& descriptor : descriptorTable()) {
        devices.push_back({textOf(dc_descriptor_get_vendor(descriptor.get())),
                           textOf(dc_descriptor_get_product(descriptor.get())),
                           dc_descriptor_get_transports(descriptor.get())});
    }
    return devices;
}

std::vector<DescriptorHandle> descriptorTable() {
    std::vector<DescriptorHandle> descriptors;

    dc_iterator_t* rawIterator = nullptr;
    // A failed start leaves the iterator null; libdivecomputer answers next() on null with a
    // failure, which ends the walk below with an empty table.
    static_cast<void>(dc_descriptor_iterator(&rawIterator));
    const IteratorHandle iterator(rawIterator);

    dc_descriptor_t* rawDescriptor = nullptr;
    while (dc_iterator_next(iterator.get(), &rawDescriptor) == DC_STATUS_SUCCESS) {
        DescriptorHandle descriptor(rawDescriptor);
        descriptors.push_back(std::move(descriptor));
    }
    return descriptors;
}

}  // namespace diveconnector
