// The two objects of one download, created in this order and released in reverse:
//
//     DeviceSession session(deviceName, vendor, product, diagnostics);  // context + the model
//     DownloadInterruption interruption;                    // from here on, interrupts count
//     DeviceConnection connection(session, listener, fingerprints);   // open, handlers registered
//     ... downloadDives(connection, interruption) ...
//
// Both throw Exception on failure, after releasing what they had acquired.
#pragma once

#include <libdivecomputer/context.h>
#include <libdivecomputer/descriptor.h>
#include <libdivecomputer/device.h>

#include <memory>

#include "ble_hooks.h"
#include "dc_handles.h"
#include "device_events.h"
#include "diagnostics.h"
#include "interrupt_signal.h"

namespace diveconnector {

class DeviceSession {
  public:
    // The names are NUL-terminated UTF-8; vendor and product match libdivecomputer's ASCII names
    // byte for byte. deviceName is borrowed and must outlive the opening of the connection;
    // vendor and product are used here only. The diagnostics are borrowed and outlive the session;
    // libdivecomputer's log goes to their support log.
    DeviceSession(const char* deviceName, const char* vendor, const char* product,
                  const Diagnostics& diagnostics);

    [[nodiscard]] dc_context_t* context() const noexcept { return context_.get(); }
    [[nodiscard]] dc_descriptor_t* descriptor() const noexcept { return descriptor_.get(); }
    [[nodiscard]] const char* deviceName() const noexcept { return deviceName_; }
    [[nodiscard]] const InterruptSignalScope& signalScope() const noexcept { return signalScope_; }
    [[nodiscard]] const Diagnostics& diagnostics() const noexcept { return diagnostics_; }

  private:
    // First member: Ctrl-C counts from before anything is opened until after everything is closed.
    InterruptSignalScope signalScope_;
    const char* deviceName_;
    const Diagnostics& diagnostics_;
    ContextHandle context_;
    DescriptorHandle descriptor_;
};

// The descriptor whose vendor and product equal the given texts byte for byte; the first in
// libdivecomputer's order when several do. Throws "No matching device found." (no status) when
// none does, "No matching device descriptor found." with the status when the table cannot be read.
[[nodiscard]] DescriptorHandle findDescriptor(const char* vendor, const char* product,
                                              const Diagnostics& diagnostics);

// Closes the device when the owner goes; a failing close is reported as a line, never thrown.
struct DeviceClose {
    const Diagnostics* diagnostics;
    void operator()(dc_device_t* device) const noexcept;
};
using DeviceHandle = std::unique_ptr<dc_device_t, DeviceClose>;

class DeviceConnection {
  public:
    // The listener and the fingerprint cache (null: none) are borrowed and must outlive the
    // connection.
    DeviceConnection(const DeviceSession& session, DownloadListener* listener,
                     FingerprintCache* fingerprints = nullptr);
    // libdivecomputer holds the address of events_, so the connection never moves.
    DeviceConnection(const DeviceConnection&) = delete;
    DeviceConnection& operator=(const DeviceConnection&) = delete;

    [[nodiscard]] dc_device_t* device() const noexcept { return device_.get(); }
    [[nodiscard]] const DeviceInfo& info() const noexcept { return events_.info(); }
    [[nodiscard]] const DeviceEvents& events() const noexcept { return events_; }

  private:
    // Opens the stream and the device anew; the status of dc_device_open.
    dc_status_t open(const DeviceSession& session, const BleHooks& hooks);

    DeviceEvents events_;
    // The stream outlives the device: dc_device_close does not close it.
    IostreamHandle stream_;
    DeviceHandle device_;
};

}  // namespace diveconnector
