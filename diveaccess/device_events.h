// What a dive computer tells the library while it is open, and the two ways to stop a download:
// SIGINT (cancels the transfer, see interrupt_signal.h) and interruptDeviceDownload (ends the
// download at the next dive, keeping the dives parsed so far).
#pragma once

#include <libdivecomputer/device.h>

#include <cstdint>
#include <optional>
#include <string>

#include "diagnostics.h"
#include "download_listener.h"
#include "fingerprint_cache.h"
#include "interrupt_signal.h"

namespace diveconnector {

// Filled by the device's events during the download; read afterwards.
struct DeviceInfo {
    std::uint32_t model = 0;
    std::uint32_t firmware = 0;
    std::uint32_t serial = 0;
    std::uint32_t devtime = 0;
    std::int64_t systime = 0;
    // Distinguishes "serial 0" from "the device never said".
    bool identified = false;
};

// The events a download listens to.
inline constexpr unsigned int kDownloadEvents =
    DC_EVENT_WAITING | DC_EVENT_PROGRESS | DC_EVENT_DEVINFO | DC_EVENT_CLOCK;

// What the event and cancel callbacks of one open device share. libdivecomputer holds its
// address, so it never moves.
//
//     DeviceEvents events(signalScope, listener, diagnostics, fingerprints);   // listener, cache
//                                                                               // may be null
//     dc_device_set_events(device, kDownloadEvents, onDeviceEvent, &events);
//     dc_device_set_cancel(device, onCancelQuery, &events);
//     ... dc_device_foreach ...
//     if (events.listenerFailed()) throw Exception(messages::kEventHandlerFailed);
class DeviceEvents {
  public:
    // All are borrowed and must outlive the registration. The fingerprint cache registers its
    // stored fingerprint with the device as soon as the device identifies itself.
    DeviceEvents(const InterruptSignalScope& signalScope, DownloadListener* listener,
                 const Diagnostics& diagnostics, FingerprintCache* fingerprints = nullptr) noexcept;
    DeviceEvents(const DeviceEvents&) = delete;
    DeviceEvents& operator=(const DeviceEvents&) = delete;

    // Prints one line per waiting, progress, device-information and clock event, tells the
    // listener and ignores every other kind.
    void handle(dc_device_t* device, dc_event_type_t event, const void* data) noexcept;

    [[nodiscard]] const DeviceInfo& info() const noexcept { return info_; }
    [[nodiscard]] const Diagnostics& diagnostics() const noexcept { return diagnostics_; }
    // True once a listener call failed: the download must end and hand over nothing.
    [[nodiscard]] bool listenerFailed() const noexcept { return listenerFailed_; }
    // Ctrl-C since the download began, or a failed listener.
    [[nodiscard]] bool cancelRequested() const noexcept;
    // The listener's PIN for a pairing BLE computer; nullopt without a listener.
    [[nodiscard]] std::optional<std::string> pinCode(const std::string& address,
                                                     const std::string& name) const noexcept;

  private:
    // The listener while it has not failed, else null: a failed listener hears nothing more.
    [[nodiscard]] DownloadListener* listening() const noexcept;

    const InterruptSignalScope& signalScope_;
    DownloadListener* listener_;
    const Diagnostics& diagnostics_;
    FingerprintCache* fingerprints_;
    DeviceInfo info_;
    bool listenerFailed_ = false;
};

// libdivecomputer's event callback; the user data is the connection's DeviceEvents.
void onDeviceEvent(dc_device_t* device, dc_event_type_t event, const void* data,
                   void* events) noexcept;

// libdivecomputer's cancel callback; the user data is the connection's DeviceEvents.
int onCancelQuery(void* events) noexcept;

// Asks every running download to stop at its next dive. Safe from any thread at any time.
void interruptDeviceDownload() noexcept;

// Taken when a download starts: an interruption requested before that is not for this download.
class DownloadInterruption {
  public:
    DownloadInterruption() noexcept;
    [[nodiscard]] bool requested() const noexcept;

  private:
    std::uint64_t requestsAtStart_;
};

}  // namespace diveconnector
