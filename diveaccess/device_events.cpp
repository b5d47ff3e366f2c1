#include "device_events.h"

#include <atomic>
#include <cinttypes>
#include <cstdio>

#include "interrupt_signal.h"
#include "native_exception.h"

namespace diveconnector {

namespace {

// Counts interruptDeviceDownload calls; each download compares against the count at its start,
// so starting one download never undoes an interruption meant for another.
std::atomic<std::uint64_t> interruptionRequests{0};

}  // namespace

void onDeviceEvent(dc_device_t*, dc_event_type_t event, const void* data, void* info) noexcept {
    DeviceInfo& deviceInfo = *static_cast<DeviceInfo*>(info);
    switch (event) {
        case DC_EVENT_WAITING:
            writeLine("Event: waiting for user action");
            break;
        case DC_EVENT_PROGRESS: {
            const auto* progress = static_cast<const dc_event_progress_t*>(data);
            std::printf("Event: progress %3.2f%% (%u/%u)\n",
                        100.0 * progress->current / progress->maximum, progress->current,
                        progress->maximum);
            break;
        }
        case DC_EVENT_DEVINFO: {
            const auto* devinfo = static_cast<const dc_event_devinfo_t*>(data);
            deviceInfo.model = devinfo->model;
            deviceInfo.firmware = devinfo->firmware;
            deviceInfo.serial = devinfo->serial;
            deviceInfo.identified = true;
            std::printf("Event: model=%u (0x%08x), firmware=%u (0x%08x), serial=%u (0x%08x)\n",
                        devinfo->model, devinfo->model, devinfo->firmware, devinfo->firmware,
                        devinfo->serial, devinfo->serial);
            break;
        }
        case DC_EVENT_CLOCK: {
            const auto* clock = static_cast<const dc_event_clock_t*>(data);
            deviceInfo.devtime = clock->devtime;
            deviceInfo.systime = clock->systime;
            std::printf("Event: systime=%" PRId64 ", devtime=%u\n",
                        static_cast<std::int64_t>(clock->systime), clock->devtime);
            break;
        }
        default:
            return;
    }
    // Progress must show as it happens, also when standard output is a pipe or a file, and stay in
    // order with the flushed lines of the parsing.
    std::fflush(stdout);
}

int onCancelQuery(void* signalScope) noexcept {
    return static_cast<const InterruptSignalScope*>(signalScope)->signalled() ? 1 : 0;
}

void interruptDeviceDownload() noexcept {
    interruptionRequests.fetch_add(1, std::memory_order_relaxed);
}

DownloadInterruption::DownloadInterruption() noexcept
    : requestsAtStart_(interruptionRequests.load(std::memory_order_relaxed)) {}

bool DownloadInterruption::requested() const noexcept {
    return interruptionRequests.load(std::memory_order_relaxed) != requestsAtStart_;
}

}  // namespace diveconnector
