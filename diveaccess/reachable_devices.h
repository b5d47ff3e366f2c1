// What a diver can download from right now: the serial ports, the attached USB and USB HID dive
// computers of known models, and the Bluetooth devices nearby, each with the models it may be.
//
//     const ScanResult result = findReachableDevices(std::chrono::seconds(10), log);
//     for (const FoundDevice& found : result.found) { ... download from found.port ... }
//
// Bluetooth goes through BlueZ where BLE is built in (it sees LE and classic devices, with their
// signal strength); on Windows through libdivecomputer's classic Bluetooth search and the LE
// devices paired with Windows (the only ones its Bluetooth LE API reaches), else through
// libdivecomputer's classic search alone.
#pragma once

#include <chrono>
#include <string>
#include <vector>

#include "support_log.h"

namespace diveconnector {

struct ModelName {
    std::string vendor;
    std::string product;
};

struct FoundDevice {
    std::string port;            // the device name a download takes
    std::string name;            // what the device calls itself; "vvvv:pppp" for USB
    int rssi = 0;                // dBm; 0 when not known
    unsigned int transport = 0;  // the dc_transport_t it was found on
    // In the table's order, each once; none for a serial port or a name no model matches.
    std::vector<ModelName> models;
};

struct ScanResult {
    std::vector<FoundDevice> found;
    // The dc_transport_t bits searched: a transport that libdivecomputer lacks here, or whose
    // search failed (the log says why), is missing.
    unsigned int searched = 0;
};

enum class BluetoothSearch { kBluez, kLibdivecomputer, kWindows };

#ifdef _WIN32
inline constexpr BluetoothSearch kPlatformBluetoothSearch = BluetoothSearch::kWindows;
#elif defined(DIVECONNECTOR_BLE)
inline constexpr BluetoothSearch kPlatformBluetoothSearch = BluetoothSearch::kBluez;
#else
inline constexpr BluetoothSearch kPlatformBluetoothSearch = BluetoothSearch::kLibdivecomputer;
#endif

// Searches Bluetooth for `bluetoothTime` through BlueZ; libdivecomputer's classic search takes the
// time it takes, Windows lists its paired devices at once. 0: Bluetooth is not searched. Throws
// Exception "Could not create the context." when libdivecomputer cannot start; every other failure
// only leaves a transport unsearched.
[[nodiscard]] ScanResult findReachableDevices(std::chrono::milliseconds bluetoothTime,
                                              const SupportLog& log,
                                              BluetoothSearch search = kPlatformBluetoothSearch);

}  // namespace diveconnector
