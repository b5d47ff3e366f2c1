// Downloads through the library's own layer (diveaccess) and the real libdivecomputer for
// Windows, for the tests under wine (tests/windows/wine_download.py), where no JVM exists. Writes
// one JSON object on the standard output: what the bridge would hand to Java, or the failure.
//
//   download_dives PORT VENDOR PRODUCT [--cache DIR] [--log FILE] [--interrupt-after BYTES]
//                  [--ctrl-c-after BYTES] [--simulated-ble TCP_PORT]
//   download_dives --ports
//   download_dives --transports
//
// --interrupt-after calls interruptDeviceDownload once BYTES of dives have come after the
// computer's identity; --ctrl-c-after sends the console a Ctrl-C there instead
// (GenerateConsoleCtrlEvent, the program's standard input being its terminal) and waits until the
// C runtime has handed it to the library as SIGINT. The cache moves on as the bridge moves it;
// --log writes libdivecomputer's log. --ports prints the serial ports a scan finds, --transports
// the transports libdivecomputer was built with (dc_context_get_transports). --simulated-ble
// stands in for Windows' Bluetooth, which wine lacks: the BLE computer at PORT ("ble:" and its
// address) is paired, named PRODUCT, and has a Shearwater's GATT service, its writes and
// notifications going to and from the emulated computer on that TCP port (ble_relay.py); without
// it BluetoothApis.dll counts as missing.

// Before libdivecomputer's headers: windows.h has a DC_VERSION of its own.
#include "relay_peripheral.h"

#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "console_ctrl_c.h"
#include "dc_handles.h"
#include "device_events.h"
#include "device_session.h"
#include "diagnostics.h"
#include "dive_parser.h"
#include "fingerprint_cache.h"
#include "native_exception.h"
#include "reachable_devices.h"
#include "support_log.h"

namespace {

using namespace diveconnector;

// Interrupts, or presses Ctrl-C, once enough dive bytes have come after the device info.
class Listener final : public DownloadListener {
  public:
    long long interruptAfter = -1;
    long long ctrlCAfter = -1;
    // The download's, which counts the SIGINTs that reach it.
    const InterruptSignalScope* signals = nullptr;
    bool ctrlCFailed = false;
    std::uint32_t model = 0, firmware = 0, serial = 0;

    bool progress(std::uint32_t current, std::uint32_t) noexcept override {
        if (reached(current, interruptAfter)) {
            interruptDeviceDownload();
            interruptAfter = -1;
        }
        if (reached(current, ctrlCAfter)) {
            ctrlCFailed = !pressCtrlC();
            ctrlCAfter = -1;
        }
        current_ = current;
        return true;
    }
    bool waiting() noexcept override { return true; }
    bool deviceInfo(std::uint32_t m, std::uint32_t f, std::uint32_t s) noexcept override {
        model = m;
        firmware = f;
        serial = s;
        infoAt_ = current_;
        return true;
    }
    std::optional<std::string> pinCode(const std::string&, const std::string&) noexcept override {
        return std::nullopt;
    }

  private:
    // The console runs its control handlers on a thread of their own: the download goes on once
    // the SIGINT has come, so the next cancel query meets it.
    [[nodiscard]] bool pressCtrlC() const noexcept {
        if (signals == nullptr || !sendConsoleCtrlC()) {
            return false;
        }
        for (int waited = 0; !signals->signalled(); ++waited) {
            if (waited == 6000) {  // a minute: it never came
                return false;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return true;
    }

    [[nodiscard]] bool reached(std::uint32_t current, long long after) const noexcept {
        return infoAt_ && after >= 0 && current > *infoAt_ + after;
    }

    std::uint32_t current_ = 0;
    std::optional<std::uint32_t> infoAt_;
};

void printOptional(const std::optional<float>& value) {
    if (value) {
        std::printf("%.9g", static_cast<double>(*value));
    } else {
        std::printf("null");
    }
}

void printDive(const DiveRecord& dive) {
    const dc_datetime_t& t = dive.datetime;
    std::printf(
        "{\"datetime\": \"%04d-%02d-%02d %02d:%02d:%02d\", \"divetime\": %.9g, "
        "\"maxdepth\": %.9g, \"oxygen\": %.9g, \"helium\": %.9g, \"fingerprint\": \"",
        t.year, t.month, t.day, t.hour, t.minute, t.second, dive.divetime, dive.maxdepth,
        dive.gasmix.oxygen * 100.0, dive.gasmix.helium * 100.0);
    for (const unsigned char byte : dive.fingerprint) {
        std::printf("%02x", byte);
    }
    std::printf("\", \"samples\": [");
    const DiveProfile& profile = dive.profile;
    for (std::size_t i = 0; i < profile.size(); ++i) {
        std::printf(i == 0 ? "[" : ", [");
        printOptional(profile.timeSeries[i]);
        std::printf(", ");
        printOptional(profile.depthSeries[i]);
        std::printf(", ");
        if (profile.eventSeries[i]) {
            std::printf("%" PRId32, *profile.eventSeries[i]);
        } else {
            std::printf("null");
        }
        std::printf(", ");
        printOptional(profile.pressureSeries[i]);
        std::printf(", ");
        printOptional(profile.temperatureSeries[i]);
        std::printf("]");
    }
    std::printf("]}");
}

int noCtrlC() {
    std::printf("{\"message\": \"no Ctrl-C reached the download\"}\n");
    return 1;
}

// A paired Shearwater whose end is the relay's emulated computer.
SimulatedComputer relayedComputer(const char* port, const char* product, unsigned short relay) {
    SimulatedComputer computer;
    computer.address = std::strncmp(port, "ble:", 4) == 0 ? port + 4 : port;
    computer.name = product;
    computer.service = "fe25c237-0ece-443c-b0aa-e02033e7029d";
    computer.writeCharacteristic = computer.notifyCharacteristic =
        "27b7570b-359e-45a3-91bb-cf7e70049bd2";
    computer.peripheral = [relay] { return std::make_unique<RelayPeripheral>(relay); };
    return computer;
}

int download(const char* port, const char* vendor, const char* product, const std::string& cache,
             const std::string& logPath, Listener& listener) {
    const SupportLog log = SupportLog::open(logPath, "all");
    const Diagnostics diagnostics(true, log);
    FingerprintCache fingerprints(cache, FingerprintCache::Stored::kUse);
    std::vector<DiveRecord> records;
    bool stopped = false;
    try {
        const DeviceSession session(port, vendor, product, diagnostics);
        const DownloadInterruption interruption;
        listener.signals = &session.signalScope();
        const DeviceConnection connection(session, &listener, &fingerprints);
        records = downloadDives(connection, interruption);
        stopped = interruption.requested() || session.signalScope().signalled();
    } catch (const Exception& error) {
        if (listener.ctrlCFailed) {
            return noCtrlC();
        }
        std::printf("{\"status\": %" PRId32 ", \"message\": \"%s\"}\n", error.status().value_or(0),
                    error.message().c_str());
        return 0;
    }
    if (listener.ctrlCFailed) {
        return noCtrlC();
    }
    if (!records.empty() && !stopped && !fingerprints.store(records.front().fingerprint)) {
        std::printf("{\"message\": \"cannot store the fingerprint\"}\n");
        return 1;
    }
    std::printf("{\"model\": %" PRIu32 ", \"firmware\": %" PRIu32 ", \"serial\": %" PRIu32
                ", \"stopped\": %s, \"dives\": [",
                listener.model, listener.firmware, listener.serial, stopped ? "true" : "false");
    for (std::size_t i = 0; i < records.size(); ++i) {
        std::printf(i == 0 ? "" : ", ");
        printDive(records[i]);
    }
    std::printf("]}\n");
    return 0;
}

int ports() {
    const SupportLog log;
    const ScanResult result = findReachableDevices(std::chrono::milliseconds(0), log);
    std::printf("{\"searched\": %u, \"ports\": [", result.searched);
    const char* separator = "";
    for (const FoundDevice& found : result.found) {
        if (found.transport == DC_TRANSPORT_SERIAL) {
            std::printf("%s\"%s\"", separator, found.port.c_str());
            separator = ", ";
        }
    }
    std::printf("]}\n");
    return 0;
}

int transports() {
    dc_context_t* context = nullptr;
    if (dc_context_new(&context) != DC_STATUS_SUCCESS) {
        std::printf("{\"message\": \"no context\"}\n");
        return 1;
    }
    const ContextHandle owner(context);
    std::printf("{\"transports\": %u}\n", dc_context_get_transports(context));
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 2 && std::strcmp(argv[1], "--ports") == 0) {
        return ports();
    }
    if (argc == 2 && std::strcmp(argv[1], "--transports") == 0) {
        return transports();
    }
    if (argc < 4) {
        std::fprintf(stderr,
                     "usage: download_dives PORT VENDOR PRODUCT [--cache DIR] "
                     "[--log FILE] [--interrupt-after BYTES] [--ctrl-c-after BYTES] "
                     "[--simulated-ble TCP_PORT]\n");
        return 2;
    }
    Listener listener;
    std::string cache;
    std::string log;
    std::optional<SimulatedBluetooth> bluetooth;
    for (int i = 4; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--cache") == 0) {
            cache = argv[i + 1];
        } else if (std::strcmp(argv[i], "--log") == 0) {
            log = argv[i + 1];
        } else if (std::strcmp(argv[i], "--interrupt-after") == 0) {
            listener.interruptAfter = std::atoll(argv[i + 1]);
        } else if (std::strcmp(argv[i], "--ctrl-c-after") == 0) {
            listener.ctrlCAfter = std::atoll(argv[i + 1]);
        } else if (std::strcmp(argv[i], "--simulated-ble") == 0) {
            const auto relay = static_cast<unsigned short>(std::atoi(argv[i + 1]));
            bluetooth.emplace(
                std::vector<SimulatedComputer>{relayedComputer(argv[1], argv[3], relay)});
        }
    }
    const int result = download(argv[1], argv[2], argv[3], cache, log, listener);
    if (bluetooth && bluetooth->live() != 0) {
        std::printf("{\"message\": \"left open: %s\"}\n", bluetooth->liveSummary().c_str());
        return 1;
    }
    return result;
}
