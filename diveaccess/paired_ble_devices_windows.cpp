// Before libdivecomputer's headers: windows.h has a DC_VERSION of its own.
#include "win32_device_interfaces.h"
// After it.
#include "paired_ble_devices.h"

#include <map>
#include <string>
#include <utility>

namespace diveconnector {

dc_status_t listPairedBleDevices(std::vector<NearbyBluetoothDevice>& paired,
                                 const SupportLog& log) {
    paired.clear();
    const Win32BluetoothApi* api = systemBluetoothApi();
    if (api == nullptr) {
        log.write(DC_LOGLEVEL_WARNING, "%s", kNoBluetoothLeApi);
        return DC_STATUS_UNSUPPORTED;
    }
    DeviceInterfaces devices;
    const DWORD error = DeviceInterfaces::list(*api, kGuidBluetoothLeDeviceInterface, devices);
    if (error != ERROR_SUCCESS) {
        log.write(DC_LOGLEVEL_WARNING, "Windows' list of Bluetooth LE devices failed (error %u).",
                  static_cast<unsigned int>(error));
        return DC_STATUS_IO;
    }
    std::map<std::string, NearbyBluetoothDevice> byAddress;
    for (const DeviceInterface& device : devices.entries()) {
        const std::string digits = devices.bleAddress(device);
        if (digits.empty()) {
            continue;
        }
        NearbyBluetoothDevice found;
        for (size_t i = 0; i < digits.size(); i += 2) {
            found.address += (i == 0 ? "" : ":") + digits.substr(i, 2);
        }
        found.name =
            utf8FromWide(devices.stringProperty(device, kDevpkeyDeviceFriendlyName).value_or(L""));
        byAddress.emplace(found.address, std::move(found));
    }
    for (auto& entry : byAddress) {
        paired.push_back(std::move(entry.second));
    }
    return DC_STATUS_SUCCESS;
}

}  // namespace diveconnector
