// The device interfaces of one interface class that Windows lists (SetupDi), with what the BLE
// link and the scan read of them, all through the Win32BluetoothApi table:
//
//     DeviceInterfaces devices;
//     const DWORD error = DeviceInterfaces::list(api, kGuidBluetoothLeDeviceInterface, devices);
//     for (const DeviceInterface& device : devices.entries()) {
//         const std::string digits = devices.bleAddress(device);   // "AABBCCDDEEFF"; empty:
//         unknown
//         ... api.CreateFileW(device.path.c_str(), ...) ...
//     }
//
// The list holds its SetupDi set, which the devnodes belong to, until it goes.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "win32_bluetooth_api.h"
#include "win32_bluetooth_handles.h"

namespace diveconnector {

struct DeviceInterface {
    std::wstring path;        // for CreateFileW
    SP_DEVINFO_DATA devnode;  // the device node the interface belongs to
};

class DeviceInterfaces {
  public:
    // The present interfaces of the class: ERROR_SUCCESS, or the Win32 error that ended the
    // listing. An interface that goes while it is being listed is left out.
    [[nodiscard]] static DWORD list(const Win32BluetoothApi& api, const GUID& interfaceClass,
                                    DeviceInterfaces& interfaces);

    [[nodiscard]] const std::vector<DeviceInterface>& entries() const noexcept { return entries_; }
    // The device instance ID of the interface's devnode; empty when Windows gives none.
    [[nodiscard]] std::wstring instanceId(const DeviceInterface& entry) const;
    // A DEVPROP_TYPE_STRING property of the devnode; nullopt when it has none.
    [[nodiscard]] std::optional<std::wstring> stringProperty(const DeviceInterface& entry,
                                                             const DEVPROPKEY& key) const;
    // A DEVPROP_TYPE_UINT32 property of the devnode; nullopt when it has none.
    [[nodiscard]] std::optional<ULONG> uint32Property(const DeviceInterface& entry,
                                                      const DEVPROPKEY& key) const;
    // An LE device interface's address as 12 upper-case hex digits, most significant first: the
    // address property, else the digits after "BTHLE\DEV_" of the instance ID; empty when
    // neither tells.
    [[nodiscard]] std::string bleAddress(const DeviceInterface& entry) const;

  private:
    const Win32BluetoothApi* api_ = nullptr;
    DeviceInfoSet set_;
    std::vector<DeviceInterface> entries_;
};

// The UTF-8 form of a Windows string; empty when it is not valid UTF-16.
[[nodiscard]] std::string utf8FromWide(const std::wstring& text);

}  // namespace diveconnector
