// The Bluetooth devices near the first adapter, found through BlueZ's D-Bus API on a system-bus
// connection of its own (DBUS_SYSTEM_BUS_ADDRESS is honoured), LE and classic alike.
//
//     std::vector<NearbyBluetoothDevice> found;
//     const dc_status_t status = discoverNearbyDevices(std::chrono::seconds(10), cancelled, found);
//
// Fails as opening a BLE link does: DC_STATUS_UNSUPPORTED when there is no system bus or BlueZ is
// not on it, DC_STATUS_NODEVICE when there is no adapter or the first one is powered off.
#pragma once

#include <libdivecomputer/common.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

namespace diveconnector {

struct NearbyBluetoothDevice {
    std::string address;   // upper case
    std::string name;      // as advertised; empty if it advertises none
    int rssi = 0;          // dBm
    bool classic = false;  // seen over classic Bluetooth (BR/EDR), not only over LE
};

// Discovers for `duration` (a cancellation ends it early, keeping what was found) and lists the
// devices seen meanwhile, each once, in the order of their addresses.
[[nodiscard]] dc_status_t discoverNearbyDevices(std::chrono::milliseconds duration,
                                                const std::function<bool()>& cancelled,
                                                std::vector<NearbyBluetoothDevice>& found);

}  // namespace diveconnector
