// A GATT link to one BLE device paired with Windows, through the Win32 Bluetooth LE API
// (win32_bluetooth_api.h); Windows' openPlatformGattLink opens it with systemBluetoothApi():
//
//     std::unique_ptr<GattLink> link;
//     const dc_status_t status = Win32GattLink::open(api, "AA:BB:CC:DD:EE:FF", context, link);
//     ... link->writeCharacteristic(...), context.inbox.read(...) ...
//     link.reset();   // unregisters the notifications, closes every handle
//
// The device is the paired one whose LE device interface carries the address; its services and
// characteristics come from Windows' cache, the chosen service is used through its own service
// interface. Each notification reaches the inbox from Windows' callback thread. Windows connects
// by itself on the first request that needs the device: turning the notifications on. Every call
// into Windows returns within Windows' own bound (ATT's 30-second transaction timeout for a device
// that does not answer); a cancel takes effect once it has.
//
// Opening fails with DC_STATUS_NODEVICE when no paired device has the address (the log says to
// pair it in Windows' Bluetooth settings), DC_STATUS_TIMEOUT when a paired device does not answer
// (off or out of reach), DC_STATUS_UNSUPPORTED when Windows knows none of its services or none
// suits, DC_STATUS_IO when Windows refuses a call. While open, Windows reporting the device
// disconnected, or a call failing as if it were, loses it.
#pragma once

// Before libdivecomputer's headers: windows.h has a DC_VERSION of its own.
#include "win32_bluetooth_api.h"
#include "win32_bluetooth_handles.h"
#include "win32_device_interfaces.h"
// After them.
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "gatt_link.h"

namespace diveconnector {

class Win32GattLink final : public GattLink {
    struct OpenKey {
        explicit OpenKey() = default;
    };

  public:
    [[nodiscard]] static dc_status_t open(const Win32BluetoothApi& api, const std::string& address,
                                          const GattLinkContext& context,
                                          std::unique_ptr<GattLink>& link);
    // Only open() constructs one.
    Win32GattLink(OpenKey, const Win32BluetoothApi& api, std::string address,
                  const GattLinkContext& context);
    ~Win32GattLink() override;

    [[nodiscard]] const std::string& address() const noexcept override { return address_; }
    [[nodiscard]] const std::string& name() const noexcept override { return name_; }
    [[nodiscard]] const GattChoice& choice() const noexcept override { return *choice_; }
    [[nodiscard]] const GattCharacteristic* characteristic(const std::string& uuid) const override;
    [[nodiscard]] dc_status_t writeCharacteristic(const GattCharacteristic& target,
                                                  const unsigned char* data, size_t size,
                                                  bool withResponse) override;
    [[nodiscard]] dc_status_t readCharacteristic(const GattCharacteristic& target,
                                                 unsigned char* data, size_t size) override;
    [[nodiscard]] dc_status_t pumpEvents() override;
    [[nodiscard]] dc_status_t waitForEvents(std::optional<Clock::time_point> deadline) override;

  private:
    // A service of the device, as Windows lists it on the device handle, and once used, its own
    // service interface with the characteristics listed there (those that calls on it take).
    struct Service {
        BTH_LE_GATT_SERVICE native{};
        GattService gatt;
        BluetoothHandle handle;
        BTH_LE_GATT_SERVICE nativeThere{};
        std::vector<BTH_LE_GATT_CHARACTERISTIC> characteristicsThere;
    };
    // A registration of the notification callback: its number in the callback registry while it
    // is listed there.
    class CallbackSlot;

    void say(dc_loglevel_t level, const std::string& message) const;
    dc_status_t findDevice();
    dc_status_t listServices();
    dc_status_t openService(Service& service);
    // Registers the callback for the characteristic and turns its notifications on.
    dc_status_t notify(const GattCharacteristic& target, bool credits);
    // A characteristic as the calls on its service interface take it (a copy, which they may
    // change), with that interface's handle.
    struct NativeTarget {
        HANDLE service;
        BTH_LE_GATT_CHARACTERISTIC characteristic;
    };
    // Opens the service interface first; nullopt when the link has no such characteristic (the
    // log says why).
    std::optional<NativeTarget> nativeOf(const GattCharacteristic& target);
    // The devnode's status tells a disconnection once the device was seen connected: Windows
    // may show it connected only some time after the first request that needed it.
    void watchConnection();
    // A failed call about the device, the log telling the HRESULT: DC_STATUS_TIMEOUT when it
    // did not answer while being opened; once open, that loses the device (DC_STATUS_IO); any
    // other failure DC_STATUS_IO.
    dc_status_t failed(const std::string& what, HRESULT result) const;

    const Win32BluetoothApi& api_;
    const std::string address_;  // AA:BB:CC:DD:EE:FF
    const std::string digits_;   // AABBCCDDEEFF
    const GattLinkContext context_;
    std::string name_;
    DeviceInterfaces devices_;
    const DeviceInterface* device_ = nullptr;  // in devices_
    BluetoothHandle deviceHandle_;
    std::vector<Service> services_;
    std::optional<GattChoice> choice_;
    // GattCharacteristic::path to {the index in services_, the characteristic's attribute handle}
    std::map<std::string, std::pair<size_t, USHORT>> where_;
    bool opened_ = false;
    bool seenConnected_ = false;
    Clock::time_point nextStatusCheck_{};
    // Declared last, released first: the registrations go before the registry forgets their
    // numbers, both before the service handles close.
    std::vector<std::unique_ptr<CallbackSlot>> slots_;
    std::vector<GattEventRegistration> events_;
};

}  // namespace diveconnector
