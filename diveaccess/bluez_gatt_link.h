// The GATT link to one BLE device through BlueZ's D-Bus API, on its own system-bus connection
// (DBUS_SYSTEM_BUS_ADDRESS is honoured): Linux's GattLink, opened by openPlatformGattLink. The bus
// is pumped only by the thread that calls the link, inside the stream's waits; each notification
// of the device becomes one packet in the stream's inbox. Only the signals of the bus name that
// owns org.bluez count: any other client of the system bus may emit the same.
//
//     std::unique_ptr<GattLink> link;
//     const dc_status_t status = openPlatformGattLink("AA:BB:CC:DD:EE:FF", context, link);
//     ... through the BLE stream ...
//     link.reset();   // stops the notifications and disconnects what it connected
//
// The device is taken under any powered adapter that BlueZ knows it by, else searched for under
// the first adapter. Opening fails with DC_STATUS_UNSUPPORTED when there is no system bus or
// BlueZ is not on it, DC_STATUS_NODEVICE when no powered adapter knows the device and the first
// adapter is missing, powered off or does not find it within the discovery time, DC_STATUS_IO when
// connecting is refused (a refusal is tried again twice first), DC_STATUS_TIMEOUT when the services
// are not resolved in time, DC_STATUS_UNSUPPORTED when no service suits and DC_STATUS_CANCELLED
// within a fraction of a second of a cancel, whatever BlueZ is doing meanwhile.
#pragma once

#include <libdivecomputer/context.h>

#include <chrono>
#include <cstddef>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "bluez_objects.h"
#include "gatt_choice.h"
#include "gatt_link.h"
#include "sd_bus_handles.h"

namespace diveconnector {

class BluezGattLink final : public GattLink {
  public:
    // How long an unknown device is searched for.
    static constexpr std::chrono::milliseconds kDiscoveryTime{10000};

    [[nodiscard]] static dc_status_t open(const std::string& address,
                                          const GattLinkContext& context,
                                          std::unique_ptr<GattLink>& link);
    ~BluezGattLink() override;

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
    BluezGattLink(Bus bus, const std::string& address, const GattLinkContext& context);

    dc_status_t watchSignals();
    dc_status_t connect();
    dc_status_t findDevice(const BluezObjects& objects);
    dc_status_t discover(const std::string& adapter);
    dc_status_t connectDevice();
    dc_status_t chooseCharacteristics();
    dc_status_t startNotify(const std::string& path);
    // A call to BlueZ, answered while the link waits.
    dc_status_t call(sd_bus_message* request, std::chrono::milliseconds timeout, BusError& error,
                     BusMessage* reply = nullptr);
    dc_status_t call(const std::string& path, const char* interface, const char* method,
                     std::chrono::milliseconds timeout, BusError& error);
    // Waits through the stream: until `done` holds, the deadline passes (TIMEOUT), the device is
    // gone or floods the queue (IO) or the download is cancelled (CANCELLED).
    dc_status_t waitUntil(const std::function<bool()>& done, Clock::time_point deadline);
    [[nodiscard]] bool fromBluez(sd_bus_message* message) const;
    [[nodiscard]] bool inUse(const std::string& characteristicPath) const;
    void say(dc_loglevel_t level, const std::string& message) const;
    void onDeviceChanged(const BluezProperties& changed);
    void onValue(const std::string& path, sd_bus_message* message);

    static int onPropertiesChanged(sd_bus_message* message, void* userdata, sd_bus_error* error);
    static int onInterfacesAdded(sd_bus_message* message, void* userdata, sd_bus_error* error);
    static int onInterfacesRemoved(sd_bus_message* message, void* userdata, sd_bus_error* error);
    static int onOwnerChanged(sd_bus_message* message, void* userdata, sd_bus_error* error);

    Bus bus_;
    std::string address_;
    GattLinkContext context_;
    std::string owner_;                     // the unique bus name of BlueZ
    std::map<std::string, bool> adapters_;  // powered, by path
    std::string adapterPath_;
    std::string devicePath_;
    std::string name_;
    bool connected_ = false;
    bool servicesResolved_ = false;
    bool connectedHere_ = false;  // only a connection the link made is closed by it
    std::optional<GattChoice> choice_;
    std::map<std::string, GattCharacteristic> characteristics_;  // by UUID
    std::vector<std::string> notifying_;
    // Declared last: released first, before the bus they belong to.
    BusSlot ownerSlot_;
    BusSlot propertiesSlot_;
    BusSlot addedSlot_;
    BusSlot removedSlot_;
};

}  // namespace diveconnector
