// What a dive computer tells the library while it is open, and the two ways to stop a download:
// SIGINT (cancels the transfer, see interrupt_signal.h) and interruptDeviceDownload (ends the
// download at the next dive, keeping the dives parsed so far).
#pragma once

#include <libdivecomputer/device.h>

#include <cstdint>

namespace diveconnector {

// Filled by onDeviceEvent during the download; read afterwards.
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

// libdivecomputer's event callback; the user data is the connection's DeviceInfo. Prints one line
// per waiting, progress, device-information and clock event and ignores every other kind.
void onDeviceEvent(dc_device_t* device, dc_event_type_t event, const void* data,
                   void* info) noexcept;

// libdivecomputer's cancel callback; the user data is the download's InterruptSignalScope.
int onCancelQuery(void* signalScope) noexcept;

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
