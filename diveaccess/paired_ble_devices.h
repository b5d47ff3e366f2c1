// The BLE devices paired with Windows, which are the only ones its Bluetooth LE API reaches
// (paired_ble_devices_windows.cpp, through the Win32BluetoothApi table):
//
//     std::vector<NearbyBluetoothDevice> paired;
//     const dc_status_t status = listPairedBleDevices(paired, log);
//
// Each comes with the name Windows shows for it and its address in upper case, in the order of
// the addresses, as LE devices (classic false) without signal strength: Windows lists a paired
// device whether or not it is in reach. DC_STATUS_UNSUPPORTED when Windows has no Bluetooth LE
// API (BluetoothApis.dll, Windows 8 and later), DC_STATUS_IO when Windows' device list cannot be
// read; `log` says which.
#pragma once

#include <libdivecomputer/common.h>

#include <vector>

#include "bluez_discovery.h"  // NearbyBluetoothDevice
#include "support_log.h"

namespace diveconnector {

[[nodiscard]] dc_status_t listPairedBleDevices(std::vector<NearbyBluetoothDevice>& paired,
                                               const SupportLog& log);

}  // namespace diveconnector
