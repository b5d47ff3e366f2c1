#include "device_events.h"

#include <atomic>
#include <cinttypes>

#include "interrupt_signal.h"

namespace diveconnector {

namespace {

// Counts interruptDeviceDownload calls; each download compares against the count at its start,
// so starting one download never undoes an interruption meant for another.
std::atomic<std::uint64_t> interruptionRequests{0};

}  // namespace

DeviceEvents::DeviceEvents(const InterruptSignalScope& signalScope, DownloadListener* listener,
                           const Diagnostics& diagnostics, FingerprintCache* fingerprints) noexcept
    : signalScope_(signalScope),
      listener_(listener),
      diagnostics_(diagnostics),
      fingerprints_(fingerprints) {}

DownloadListener* DeviceEvents::listening() const noexcept {
    return listenerFailed_ ? nullptr : listener_;
}

bool DeviceEvents::cancelRequested() const noexcept {
    return listenerFailed_ || signalScope_.cancelsDownload();
}

void DeviceEvents::handle(dc_device_t* device, dc_event_type_t event, const void* data) noexcept {
    // The line comes before the listener hears of the event, so the two tell the same order.
    switch (event) {
        case DC_EVENT_WAITING:
            diagnostics_.line("Event: waiting for user action");
            if (DownloadListener* listener = listening()) {
                listenerFailed_ = !listener->waiting();
            }
            break;
        case DC_EVENT_PROGRESS: {
            const auto* progress = static_cast<const dc_event_progress_t*>(data);
            diagnostics_.formattedLine("Event: progress %3.2f%% (%u/%u)\n",
                                       100.0 * progress->current / progress->maximum,
                                       progress->current, progress->maximum);
            if (DownloadListener* listener = listening()) {
                listenerFailed_ = !listener->progress(progress->current, progress->maximum);
            }
            break;
        }
        case DC_EVENT_DEVINFO: {
            const auto* devinfo = static_cast<const dc_event_devinfo_t*>(data);
            info_.model = devinfo->model;
            info_.firmware = devinfo->firmware;
            info_.serial = devinfo->serial;
            info_.identified = true;
            diagnostics_.formattedLine(
                "Event: model=%u (0x%08x), firmware=%u (0x%08x), serial=%u (0x%08x)\n",
                devinfo->model, devinfo->model, devinfo->firmware, devinfo->firmware,
                devinfo->serial, devinfo->serial);
            if (fingerprints_ != nullptr) {
                fingerprints_->registerStored(device, devinfo->serial);
            }
            if (DownloadListener* listener = listening()) {
                listenerFailed_ =
                    !listener->deviceInfo(devinfo->model, devinfo->firmware, devinfo->serial);
            }
            break;
        }
        case DC_EVENT_CLOCK: {
            const auto* clock = static_cast<const dc_event_clock_t*>(data);
            info_.devtime = clock->devtime;
            info_.systime = clock->systime;
            diagnostics_.formattedLine("Event: systime=%" PRId64 ", devtime=%u\n",
                                       static_cast<std::int64_t>(clock->systime), clock->devtime);
            break;
        }
        default:
            break;
    }
}

void onDeviceEvent(dc_device_t* device, dc_event_type_t event, const void* data,
                   void* events) noexcept {
    static_cast<DeviceEvents*>(events)->handle(device, event, data);
}

int onCancelQuery(void* events) noexcept {
    return static_cast<const DeviceEvents*>(events)->cancelRequested() ? 1 : 0;
}

void interruptDeviceDownload() noexcept {
    interruptionRequests.fetch_add(1, std::memory_order_relaxed);
}

DownloadInterruption::DownloadInterruption() noexcept
    : requestsAtStart_(interruptionRequests.load(std::memory_order_relaxed)) {}

bool DownloadInterruption::requested() const noexcept {
    return interruptionRequests.load(std::memory_order_relaxed) != requestsAtStart_;
}

std::optional<std::string> DeviceEvents::pinCode(const std::string& address,
                                                 const std::string& name) const noexcept {
    DownloadListener* const listener = listening();
    if (listener == nullptr) {
        return std::nullopt;
    }
    const InterruptSignalPause pause;
    return listener->pinCode(address, name);
}

}  // namespace diveconnector
