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

ContextHandle createContext(const SupportLog& log) {
    dc_context_t* raw = nullptr;
    const dc_status_t status = dc_context_new(&raw);
    ContextHandle context(raw);
    if (status != DC_STATUS_SUCCESS) {
        throw Exception(messages::kCreatingContext, status);
    }
    // libdivecomputer logs to the host's stderr by default, device names included: its log goes
    // to the support log or nowhere. A failure there changes nothing else.
    log.attach(context.get());
    return context;
}

}  // namespace

DescriptorHandle findDescriptor(const char* vendor, const char* product,
                                const Diagnostics& diagnostics) {
    dc_iterator_t* rawIterator = nullptr;
    dc_status_t status = dc_descriptor_iterator(&rawIterator);
    const IteratorHandle iterator(rawIterator);
    if (status != DC_STATUS_SUCCESS) {
        diagnostics.line(lines::kCreatingDescriptorIterator);
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
        diagnostics.line(lines::kIteratingDescriptors);
        throw Exception(messages::kNoMatchingDescriptor, status);
    }
    throw Exception(messages::kNoMatchingDevice);
}

DeviceSession::DeviceSession(const char* deviceName, const char* vendor, const char* product,
                             const Diagnostics& diagnostics)
    : deviceName_(deviceName),
      diagnostics_(diagnostics),
      context_(createContext(diagnostics.log())),
      descriptor_(findDescriptor(vendor, product, diagnostics)) {}

void DeviceClose::operator()(dc_device_t* device) const noexcept {
    const dc_status_t status = dc_device_close(device);
    if (status != DC_STATUS_SUCCESS) {
        diagnostics->statusLine(lines::kClosingDevice, status);
        diagnostics->log().write(DC_LOGLEVEL_WARNING, "Closing the device failed with status %d.",
                                 static_cast<int>(status));
    }
}

DeviceConnection::DeviceConnection(const DeviceSession& session, DownloadListener* listener,
                                   FingerprintCache* fingerprints)
    : events_(session.signalScope(), listener, session.diagnostics(), fingerprints),
      device_(nullptr, DeviceClose{&session.diagnostics()}) {
    const SupportLog& log = session.diagnostics().log();
    const BleHooks hooks{
        [this] { return events_.cancelRequested(); },
        [this](const std::string& address, const std::string& name) {
            return events_.pinCode(address, name);
        },
        BleAccessCodes(fingerprints != nullptr ? fingerprints->directory() : std::string()),
        [&log](dc_loglevel_t level, const std::string& message) {
            log.write(level, "%s", message.c_str());
        },
        std::make_shared<AccessCodeUse>(), &log};
    dc_status_t status = open(session, hooks);
    const AccessCodeUse& use = *hooks.accessCodeUse;
    // A pairing computer that refuses its stored access code fails the handshake (0.9.0:
    // DC_STATUS_PROTOCOL; later releases ask for the PIN themselves and fail with
    // DC_STATUS_NOACCESS): the code is stale, and kept it would lock the diver out for good.
    if ((status == DC_STATUS_PROTOCOL || status == DC_STATUS_NOACCESS) && use.storedCodeGiven &&
        !use.codeStored) {
        const bool forgotten = hooks.accessCodes.forget(use.address);
        log.write(DC_LOGLEVEL_WARNING,
                  "The computer refused the stored access code (status %d): %s.",
                  static_cast<int>(status),
                  !forgotten     ? "its file cannot be removed"
                  : use.pinAsked ? "it is dropped"
                                 : "it is dropped, and the computer opened again for its PIN");
        if (forgotten && !use.pinAsked) {
            *hooks.accessCodeUse = AccessCodeUse();
            status = open(session, hooks);
        }
    }
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

dc_status_t DeviceConnection::open(const DeviceSession& session, const BleHooks& hooks) {
    device_.reset();
    stream_.reset();
    stream_ = openDeviceStream(session.context(), session.descriptor(), session.deviceName(),
                               session.diagnostics().log(), hooks);
    dc_device_t* rawDevice = nullptr;
    const dc_status_t status =
        dc_device_open(&rawDevice, session.context(), session.descriptor(), stream_.get());
    device_.reset(rawDevice);
    return status;
}

}  // namespace diveconnector
