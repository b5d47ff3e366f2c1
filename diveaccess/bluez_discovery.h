// The Bluetooth devices near the first adapter, found through BlueZ's D-Bus API on a system-bus
// connection of its own (DBUS_SYSTEM_BUS_ADDRESS is honoured), LE and classic alike.
//
//     std::vector<NearbyBluetoothDevice> found;
//     const dc_status_t status = discoverNearbyDevices(std::chrono::seconds(10), cancelled, found);
//
// Fails as opening a BLE link does: DC_STATUS_UNSUPPORTED when there is no system bus or BlueZ is
// not on it, DC_STATUS_NODEVICE when there is no adapter or the first one is powered off;
// DC_STATUS_IO or DC_STATUS_TIMEOUT when BlueZ fails or does not answer during the discovery.
// Every call to BlueZ is bounded, so the whole takes `duration` and a few seconds at the most.
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

// Discovers for `duration` (a cancellation ends it early, keeping what was found) and lists in
// `found` the devices seen meanwhile, each once, in the order of their addresses; a device BlueZ
// only remembers from earlier is not listed. A duration of 0 checks BlueZ and the adapter
// without discovering: it succeeds with an empty list. `found` is empty after a failure.
[[nodiscard]] dc_status_t discoverNearbyDevices(std::chrono::milliseconds duration,
                                                const std::function<bool()>& cancelled,
                                                std::vector<NearbyBluetoothDevice>& found);

}  // namespace diveconnector
