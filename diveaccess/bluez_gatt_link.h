// A GATT link to one BLE device through BlueZ's D-Bus API, on its own system-bus connection
// (DBUS_SYSTEM_BUS_ADDRESS is honoured). The bus is pumped only by the thread that calls the
// link, inside its waits; each notification of the device becomes one packet. Only the signals of
// the bus name that owns org.bluez count: any other client of the system bus may emit the same.
//
//     std::unique_ptr<BluezGattLink> link;
//     const dc_status_t status = BluezGattLink::open("AA:BB:CC:DD:EE:FF", cancelled, log, link);
//     ... link->write(...), link->read(...) ...
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
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "bluez_objects.h"
#include "gatt_choice.h"
#include "sd_bus_handles.h"

namespace diveconnector {

class BluezGattLink {
  public:
    using CancelQuery = std::function<bool()>;
    // Where the link says what went wrong beyond its status; may be empty.
    using Log = std::function<void(dc_loglevel_t level, const std::string& message)>;
    using Clock = std::chrono::steady_clock;

    // How long an unknown device is searched for.
    static constexpr std::chrono::milliseconds kDiscoveryTime{10000};
    // Notifications queued unread past which the device counts as flooding the link: far more
    // than any backend lets pile up.
    static constexpr size_t kMaxQueuedPackets = 16384;
    static constexpr size_t kMaxQueuedBytes = 4 * 1024 * 1024;

    [[nodiscard]] static dc_status_t open(const std::string& address, CancelQuery cancelled,
                                          Log log, std::unique_ptr<BluezGattLink>& link);
    ~BluezGattLink();
    BluezGattLink(const BluezGattLink&) = delete;
    BluezGattLink& operator=(const BluezGattLink&) = delete;

    // The device's address, in upper case.
    [[nodiscard]] const std::string& address() const noexcept { return address_; }
    // The name the device advertises; empty if it advertises none.
    [[nodiscard]] const std::string& name() const noexcept { return name_; }

    // Reads wait this long: negative blocks, 0 does not wait.
    void setTimeout(int milliseconds) noexcept { timeoutMs_ = milliseconds; }
    // One packet, or its rest; the rest of a packet larger than `size` comes with the next read.
    // DC_STATUS_IO once the device is gone or has flooded the queue.
    [[nodiscard]] dc_status_t read(void* data, size_t size, size_t* actual);
    [[nodiscard]] dc_status_t poll(int timeoutMs);
    // Waits while packets keep being queued.
    [[nodiscard]] dc_status_t sleep(unsigned int milliseconds);
    // Drops every queued packet, a partly read one included.
    void purgeInput() noexcept;
    // One GATT write: without response where the characteristic allows it. Behind Terminal I/O
    // each write spends one of the credits the device granted, waiting up to kBluezCallTime
    // for one (DC_STATUS_TIMEOUT).
    [[nodiscard]] dc_status_t write(const void* data, size_t size, size_t* actual);
    // The value of a characteristic of the device, exactly `size` bytes of it.
    [[nodiscard]] dc_status_t readCharacteristic(const std::string& uuid, unsigned char* data,
                                                 size_t size);
    [[nodiscard]] dc_status_t writeCharacteristic(const std::string& uuid,
                                                  const unsigned char* data, size_t size);

  private:
    BluezGattLink(Bus bus, std::string address, CancelQuery cancelled, Log log);

    dc_status_t watchSignals();
    dc_status_t connect();
    dc_status_t findDevice(const BluezObjects& objects);
    dc_status_t discover(const std::string& adapter);
    dc_status_t connectDevice();
    dc_status_t chooseCharacteristics();
    dc_status_t startNotify(const std::string& path);
    dc_status_t writeValue(const std::string& path, const unsigned char* data, size_t size,
                           bool withResponse);
    dc_status_t grantCredits(unsigned char credits);
    // A call to BlueZ, answered while the link waits.
    dc_status_t call(sd_bus_message* request, std::chrono::milliseconds timeout, BusError& error,
                     BusMessage* reply = nullptr);
    dc_status_t call(const std::string& path, const char* interface, const char* method,
                     std::chrono::milliseconds timeout, BusError& error);
    // Pumps the bus until `done` holds, the deadline passes (TIMEOUT), the device is gone or
    // floods the queue (IO) or the download is cancelled (CANCELLED). No deadline: forever.
    dc_status_t waitUntil(const std::function<bool()>& done,
                          std::optional<Clock::time_point> deadline);
    [[nodiscard]] std::optional<Clock::time_point> deadlineAfter(int milliseconds) const;
    [[nodiscard]] bool hasInput() const noexcept {
        return offset_ < current_.size() || !queue_.empty();
    }
    [[nodiscard]] bool fromBluez(sd_bus_message* message) const;
    [[nodiscard]] bool inUse(const std::string& characteristicPath) const;
    void say(dc_loglevel_t level, const std::string& message) const;
    void lose(const std::string& why);
    void onDeviceChanged(const BluezProperties& changed);
    void onValue(const std::string& path, sd_bus_message* message);
    void queuePacket(const unsigned char* bytes, size_t size);

    static int onPropertiesChanged(sd_bus_message* message, void* userdata, sd_bus_error* error);
    static int onInterfacesAdded(sd_bus_message* message, void* userdata, sd_bus_error* error);
    static int onInterfacesRemoved(sd_bus_message* message, void* userdata, sd_bus_error* error);
    static int onOwnerChanged(sd_bus_message* message, void* userdata, sd_bus_error* error);

    Bus bus_;
    std::string address_;
    CancelQuery cancelled_;
    Log log_;
    std::string owner_;                     // the unique bus name of BlueZ
    std::map<std::string, bool> adapters_;  // powered, by path
    std::string adapterPath_;
    std::string devicePath_;
    std::string name_;
    bool connected_ = false;
    bool servicesResolved_ = false;
    bool connectedHere_ = false;  // only a connection the link made is closed by it
    bool gone_ = false;
    bool flooded_ = false;
    std::optional<GattChoice> choice_;
    std::map<std::string, std::string> characteristicPaths_;  // by UUID
    std::vector<std::string> notifying_;
    int credits_ = 0;  // granted to the device for its notifications
    bool creditsLow_ = false;
    int deviceCredits_ = 0;  // granted by the device for the link's writes
    int timeoutMs_ = -1;
    std::deque<std::vector<unsigned char>> queue_;
    size_t queuedBytes_ = 0;
    std::vector<unsigned char> current_;
    size_t offset_ = 0;
    // Declared last: released first, before the bus they belong to.
    BusSlot ownerSlot_;
    BusSlot propertiesSlot_;
    BusSlot addedSlot_;
    BusSlot removedSlot_;
};

}  // namespace diveconnector
