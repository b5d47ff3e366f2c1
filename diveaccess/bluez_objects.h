// BlueZ's objects as its D-Bus ObjectManager lists them, and the calls that every user of BlueZ
// makes alike: the first adapter, discovery, method calls answered while the bus is pumped,
// pumping the bus while waiting for its signals. Each call is bounded.
//
//     BluezObjects objects;
//     dc_status_t status = bluezManagedObjects(bus, objects);   // UNSUPPORTED: BlueZ is absent
//     std::string adapter;
//     if (status == DC_STATUS_SUCCESS) {
//         status = firstPoweredAdapter(objects, adapter);        // NODEVICE: none, or it is off
//     }
//
// Property values keep their D-Bus type: a property that comes in another type than BlueZ gives
// it reads as absent, so that nothing is ever taken for what it is not.
#pragma once

#include <libdivecomputer/common.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "gatt_choice.h"
#include "gatt_link.h"
#include "sd_bus_handles.h"

namespace diveconnector {

inline constexpr char kBluezName[] = "org.bluez";
inline constexpr char kBluezAdapter[] = "org.bluez.Adapter1";
inline constexpr char kBluezDevice[] = "org.bluez.Device1";
inline constexpr char kObjectManager[] = "org.freedesktop.DBus.ObjectManager";

// What one call to BlueZ may take at the most.
inline constexpr std::chrono::milliseconds kBluezCallTime{5000};

// One property's value in its D-Bus type: `type` is its signature ("s", "o", "b", "n", "as",
// ...). Strings and object paths are text, booleans bool, integers int64_t, arrays of strings
// vectors; any other type keeps only its signature.
struct BluezValue {
    std::string type;
    std::variant<std::monostate, bool, int64_t, std::string, std::vector<std::string>> value;
};
using BluezProperties = std::map<std::string, BluezValue>;       // by property name
using BluezInterfaces = std::map<std::string, BluezProperties>;  // by interface name
using BluezObjects = std::map<std::string, BluezInterfaces>;     // by object path

// sd-bus takes its timeouts in microseconds.
[[nodiscard]] uint64_t busTimeout(std::chrono::milliseconds duration);

// Reads a{sv} into `properties`, replacing the values it names.
int readBluezProperties(sd_bus_message* message, BluezProperties& properties);
// Reads a{sa{sv}}: the interfaces of one object.
int readBluezInterfaces(sd_bus_message* message, BluezInterfaces& interfaces);

// A property of the given D-Bus type; null or nullopt when it is absent or of another type.
[[nodiscard]] const std::string* bluezString(const BluezProperties& properties, const char* name);
[[nodiscard]] const std::string* bluezObjectPath(const BluezProperties& properties,
                                                 const char* name);
[[nodiscard]] std::optional<bool> bluezBoolean(const BluezProperties& properties, const char* name);
[[nodiscard]] const std::vector<std::string>* bluezStrings(const BluezProperties& properties,
                                                           const char* name);
// An integer of D-Bus type `type` ("n" for RSSI, ...).
[[nodiscard]] std::optional<int64_t> bluezInteger(const BluezProperties& properties,
                                                  const char* name, const char* type);
// The D-Bus type a property came in; "" when it is absent.
[[nodiscard]] std::string bluezType(const BluezProperties& properties, const char* name);

// GetManagedObjects. DC_STATUS_UNSUPPORTED when BlueZ is not on the bus, DC_STATUS_IO when the
// call fails otherwise.
[[nodiscard]] dc_status_t bluezManagedObjects(sd_bus* bus, BluezObjects& objects);

// The path of the first adapter; DC_STATUS_NODEVICE when there is none or it is powered off.
[[nodiscard]] dc_status_t firstPoweredAdapter(const BluezObjects& objects, std::string& adapter);

// The unique bus name that owns org.bluez: only its signals are BlueZ's, any client of the system
// bus may emit the same. DC_STATUS_UNSUPPORTED when nobody owns it.
[[nodiscard]] dc_status_t bluezOwner(sd_bus* bus, std::string& owner);

// Pumps the bus until `done` holds (DC_STATUS_SUCCESS) or `deadline` passes (DC_STATUS_TIMEOUT);
// it may end earlier with its own status (DC_STATUS_CANCELLED, DC_STATUS_IO).
using BusWait = std::function<dc_status_t(const std::function<bool()>& done,
                                          std::chrono::steady_clock::time_point deadline)>;

// One method call to BlueZ, sent without blocking and answered while `wait` pumps the bus, so
// that a cancel ends it at once: the call is then abandoned, and its late answer dropped.
// DC_STATUS_TIMEOUT when no answer comes in `timeout`, DC_STATUS_IO when it fails (`error` says
// why), or what `wait` ended with. `reply` (may be null) gets the answer.
[[nodiscard]] dc_status_t callBluez(sd_bus* bus, sd_bus_message* request,
                                    std::chrono::milliseconds timeout, const BusWait& wait,
                                    BusError& error, BusMessage* reply = nullptr);
// The same for a method without arguments.
[[nodiscard]] dc_status_t callBluez(sd_bus* bus, const char* path, const char* interface,
                                    const char* method, std::chrono::milliseconds timeout,
                                    const BusWait& wait, BusError& error);

// Best effort, for the calls made while closing or cleaning up, which no cancel may skip: a
// method without arguments, waited for at most `timeout` without running any handler.
void callBluezBlocking(sd_bus* bus, const char* path, const char* interface, const char* method,
                       std::chrono::milliseconds timeout);

// Starts a discovery on `adapter` for `transport` ("le", "bredr" or "auto"); an adapter that
// refuses the filter discovers all the same. Fails as callBluez does.
[[nodiscard]] dc_status_t startBluezDiscovery(sd_bus* bus, const std::string& adapter,
                                              const char* transport, const BusWait& wait);
// Best effort: BlueZ also ends a client's discovery when the client leaves the bus.
void stopBluezDiscovery(sd_bus* bus, const std::string& adapter);

// Pumps the bus until `done` holds (DC_STATUS_SUCCESS), `deadline` passes (DC_STATUS_TIMEOUT),
// `cancelled` (may be empty) says so (DC_STATUS_CANCELLED) or the bus fails (DC_STATUS_IO).
[[nodiscard]] dc_status_t pumpBus(sd_bus* bus, const std::function<bool()>& done,
                                  std::chrono::steady_clock::time_point deadline,
                                  const std::function<bool()>& cancelled);

// Handles every message the bus holds, running the matched signals' handlers. False when the bus
// fails.
[[nodiscard]] bool processBus(sd_bus* bus);
// Waits for the next message, at most kCancelSlice and never past `deadline` (none: no bound but
// the slice). False when the bus fails.
[[nodiscard]] bool waitForBus(sd_bus* bus,
                              std::optional<std::chrono::steady_clock::time_point> deadline);

}  // namespace diveconnector
