// A simulated Windows Bluetooth stack for the tests under wine, whose BluetoothApis.dll only has
// stubs that abort the process: BLE dive computers paired in Windows, behind the table of Win32
// calls the library's Windows link makes (win32_bluetooth_api.h). While a simulation lives,
// systemBluetoothApi() answers its table; without one it answers null, as when BluetoothApis.dll
// is missing.
//
//     SimulatedBluetooth bluetooth({SimulatedComputer{"00:11:22:33:44:55", "Perdix Sim"}});
//     ... open the computer's BLE stream, download ...
//     EXPECT_EQ(bluetooth.live(), 0) << bluetooth.liveSummary();   // nothing left open
//
// What it does as Windows does (../shared facts, Microsoft's documentation): SetupAPI lists one
// BLE device interface per paired computer and one GATT service interface per primary service,
// named by instance IDs and device paths that hold the address; CreateFileW opens them; the
// BluetoothGATTGet* calls answer from the cache, with the two-call pattern and Windows' HRESULTs;
// SetCharacteristicValue writes with or without response by its flags; notifications come only
// to a characteristic whose client configuration descriptor is on and that has a registered
// value-changed event, through the callback on a thread of the simulation's own, the value
// valid only during the callback. Where Windows' behaviour is not established (the codes and
// times of an unreachable device, which handle ChangedAttributeHandle names), it takes a
// plausible one and says so here: a computer that does not answer blocks each write for
// kUnreachableCall and fails it with ERROR_SEM_TIMEOUT, a disconnected one fails them at once
// with ERROR_DEVICE_NOT_CONNECTED, and either shows DN_DEVICE_DISCONNECTED in its devnode status.
//
// The computer's end is a SimulatedPeripheral, one per connection: by default the mock BlueZ's
// script peripheral (tests/ble/bluez_mock.py): 'S' count(2 LE) size(1) gives `count`
// notifications of `size` bytes, byte j of notification k being (k * 7 + j) & 0xFF; 'X'
// disconnects; anything else comes back unchanged.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "win32_bluetooth_api.h"

namespace diveconnector {

inline constexpr char kNordicUart[] = "6e400001-b5a3-f393-e0a9-e50e24dcca9e";

// The computer's end of one connection: the notifications that answer each data write.
class SimulatedPeripheral {
  public:
    using Packets = std::vector<std::vector<unsigned char>>;

    virtual ~SimulatedPeripheral() = default;
    // nullopt: the computer disconnects instead.
    [[nodiscard]] virtual std::optional<Packets> answer(const unsigned char* data, size_t size) = 0;
};

struct SimulatedComputer {
    std::string address;  // "00:11:22:33:44:55"
    std::string name;     // as Windows shows the paired device
    // Makes the computer's end anew for each connection; empty: the script peripheral.
    std::function<std::unique_ptr<SimulatedPeripheral>()> peripheral;
    // The data service; empty: only the standard services. Ignored behind Terminal I/O.
    std::string service = kNordicUart;
    // Its characteristics: empty, two named as Nordic UART's are from the service (written,
    // notifying); the same UUID twice, one characteristic that is written and notifies.
    std::string writeCharacteristic;
    std::string notifyCharacteristic;
    // More characteristics of the data service, readable: UUID and value.
    std::vector<std::pair<std::string, std::vector<unsigned char>>> readable;
    // Heinrichs Weikamp's Terminal I/O service instead: data RX written, data TX notified,
    // credits RX written with response, credits TX indicated. Each data notification costs one
    // of the credits the client granted; the computer grants hostCredits when its indications
    // are turned on and one more hostCreditDelay after each data write.
    bool terminalIo = false;
    unsigned int hostCredits = 32;
    std::chrono::milliseconds hostCreditDelay{0};
    // The data write characteristic's procedures. A write without response where it has none is
    // dropped unanswered, as a computer drops an unexpected Write Command.
    bool writable = true;
    bool writableWithoutResponse = true;
    // The largest notification, ATT_MTU - 3 (247 negotiated).
    size_t largestNotification = 244;
    // Between two notifications of a reply; 0: a burst.
    std::chrono::milliseconds gap{0};
    // Disconnects after this many notifications; negative: never.
    int disconnectAfter = -1;
    // False: paired, but off or out of range; the cache still answers.
    bool reachable = true;
    // Each unregistered event's callback runs once more afterwards, with its context, once the
    // next connection has registered its events: Windows does not say that UnregisterEvent waits
    // for a callback under way.
    bool callbackAfterUnregister = false;
};

// What one computer saw, for the assertions.
struct SimulatedComputerCounts {
    unsigned int writes = 0;  // data writes with response
    unsigned int writesWithoutResponse = 0;
    unsigned int droppedWrites = 0;         // without response where the characteristic has none
    unsigned int notifications = 0;         // data delivered to a callback
    unsigned int lostNotifications = 0;     // data with no registered event or its descriptor off
    unsigned int waitingNotifications = 0;  // Terminal I/O: waiting for credits
    std::vector<unsigned char> grants;      // Terminal I/O: the client's credit grants
    unsigned int overruns = 0;       // Terminal I/O: data writes beyond the computer's credits
    unsigned int lateCallbacks = 0;  // callbackAfterUnregister: those made
};

class SimulatedBluetooth {
  public:
    // A computer that does not answer holds each GATT write this long.
    static constexpr std::chrono::milliseconds kUnreachableCall{2000};

    explicit SimulatedBluetooth(std::vector<SimulatedComputer> computers);
    ~SimulatedBluetooth();
    SimulatedBluetooth(const SimulatedBluetooth&) = delete;
    SimulatedBluetooth& operator=(const SimulatedBluetooth&) = delete;

    // Open files, device information sets and registered events.
    [[nodiscard]] int live() const;
    [[nodiscard]] std::string liveSummary() const;
    // Calls of a table function so far, by its Win32 name ("BluetoothGATTRegisterEvent").
    [[nodiscard]] unsigned int calls(const std::string& function) const;
    [[nodiscard]] SimulatedComputerCounts counts(const std::string& address) const;

    struct Simulation;

  private:
    std::unique_ptr<Simulation> simulation_;
};

}  // namespace diveconnector
