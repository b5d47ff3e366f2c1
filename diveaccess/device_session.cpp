#include "device_session.h"

#include <libdivecomputer/iterator.h>

#include <cstring>

#include "device_stream.h"
#include "native_exception.h"

namespace diveconnector {

namespace {

bool sameText(const char* expected, const char* actual) {
    return actual != nullptr && std::strcmp(expected, actual) == 0;
}

ContextHandle createContext() {
    dc_context_t* raw = nullptr;
    const dc_status_t status = dc_context_new(&raw);
    ContextHandle context(raw);
    if (status != DC_STATUS_SUCCESS) {
        throw Exception(messages::kCreatingContext, status);
    }
    // libdivecomputer logs to the host's stderr by default, device names included. Failures reach
    // the caller as statuses instead; a failure to silence the log changes nothing else.
    static_cast<void>(dc_context_set_loglevel(context.get(), DC_LOGLEVEL_NONE));
    return context;
}

}  // namespace

DescriptorHandle findDescriptor(const char* vendor, const char* product) {
    dc_iterator_t* rawIterator = nullptr;
    dc_status_t status = dc_descriptor_iterator(&rawIterator);
    const IteratorHandle iterator(rawIterator);
    if (status != DC_STATUS_SUCCESS) {
        writeLine(lines::kCreatingDescriptorIterator);
        throw Exception(messages::kNoMatchingDescriptor, status);
    }

    dc_descriptor_t* rawDescriptor = nullptr;
    while ((status = dc_iterator_next(iterator.get(), &rawDescriptor)) == DC_STATUS_SUCCESS) {
        DescriptorHandle descriptor(rawDescriptor);
        if (sameText(vendor, dc_descriptor_get_vendor(descriptor.get())) &&
            sameText(product, dc_descriptor_get_product(descriptor.get()))) {
            return descriptor;
        }
    }
    if (status != DC_STATUS_DONE) {
        writeLine(lines::kIteratingDescriptors);
        throw Exception(messages::kNoMatchingDescriptor, status);
    }
    throw Exception(messages::kNoMatchingDevice);
}

DeviceSession::DeviceSession(const char* deviceName, const char* vendor, const char* product)
    : deviceName_(deviceName),
      context_(createContext()),
      descriptor_(findDescriptor(vendor, product)) {}

void DeviceClose::operator()(dc_device_t* device) const noexcept {
    const dc_status_t status = dc_device_close(device);
    if (status != DC_STATUS_SUCCESS) {
        writeStatusLine(lines::kClosingDevice, status);
    }
}

DeviceConnection::DeviceConnection(const DeviceSession& session, DownloadListener* listener,
                                   FingerprintCache* fingerprints)
    : events_(session.signalScope(), listener, fingerprints),
      stream_(openDeviceStream(
          session.context(), session.descriptor(), session.deviceName(),
          BleHooks{[this] { return events_.cancelRequested(); },
                   [this](const std::string& address, const std::string& name) {
                       return events_.pinCode(address, name);
                   },
                   BleAccessCodes(fingerprints != nullptr ? fingerprints->directory()
                                                          : std::string())})) {
    dc_device_t* rawDevice = nullptr;
    dc_status_t status =
        dc_device_open(&rawDevice, session.context(), session.descriptor(), stream_.get());
    device_.reset(rawDevice);
    if (status != DC_STATUS_SUCCESS) {
        throw Exception(messages::kOpeningDevice, status);
    }
    status = dc_device_set_events(device_.get(), kDownloadEvents, onDeviceEvent, &events_);
    if (status != DC_STATUS_SUCCESS) {
        throw Exception(messages::kRegisteringEvents, status);
    }
    status = dc_device_set_cancel(device_.get(), onCancelQuery, &events_);
    if (status != DC_STATUS_SUCCESS) {
        throw Exception(messages::kRegisteringCancel, status);
    }
}

}  // namespace diveconnector
