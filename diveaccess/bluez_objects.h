// BlueZ's objects as its D-Bus ObjectManager lists them, and the calls that every user of BlueZ
// makes alike: the first adapter, discovery, a method call without arguments, pumping the bus
// while waiting for its signals. Each call is bounded.
//
//     BluezObjects objects;
//     dc_status_t status = bluezManagedObjects(bus, objects);   // UNSUPPORTED: BlueZ is absent
//     std::string adapter;
//     if (status == DC_STATUS_SUCCESS) {
//         status = firstPoweredAdapter(objects, adapter);        // NODEVICE: none, or it is off
//     }
//
// Property values are kept as text: strings and object paths as they are, booleans as "1"/"0",
// integers in decimal, arrays of strings item by item. Other types are left empty.
#pragma once

#include <libdivecomputer/common.h>

#include <chrono>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "sd_bus_handles.h"

namespace diveconnector {

inline constexpr char kBluezName[] = "org.bluez";
inline constexpr char kBluezAdapter[] = "org.bluez.Adapter1";
inline constexpr char kBluezDevice[] = "org.bluez.Device1";
inline constexpr char kObjectManager[] = "org.freedesktop.DBus.ObjectManager";

// What one call to BlueZ may take at the most.
inline constexpr std::chrono::milliseconds kBluezCallTime{5000};
// How long one wait on the bus lasts at the most: a waiter that checks its cancel state between
// waits ends within this time.
inline constexpr std::chrono::milliseconds kCancelSlice{50};

using BluezValue = std::vector<std::string>;
using BluezProperties = std::map<std::string, BluezValue>;       // by property name
using BluezInterfaces = std::map<std::string, BluezProperties>;  // by interface name
using BluezObjects = std::map<std::string, BluezInterfaces>;     // by object path

// sd-bus takes its timeouts in microseconds.
[[nodiscard]] uint64_t busTimeout(std::chrono::milliseconds duration);

[[nodiscard]] std::string upperCase(std::string text);

// Reads a{sv} into `properties`, replacing the values it names.
int readBluezProperties(sd_bus_message* message, BluezProperties& properties);
// Reads a{sa{sv}}: the interfaces of one object.
int readBluezInterfaces(sd_bus_message* message, BluezInterfaces& interfaces);

// The first item of a property's value; null when the property is absent or empty.
[[nodiscard]] const std::string* bluezProperty(const BluezProperties& properties, const char* name);
[[nodiscard]] bool bluezIsTrue(const BluezProperties& properties, const char* name);
[[nodiscard]] std::optional<int64_t> bluezInteger(const BluezProperties& properties,
                                                  const char* name);

// GetManagedObjects. DC_STATUS_UNSUPPORTED when BlueZ is not on the bus, DC_STATUS_IO when the
// call fails otherwise.
[[nodiscard]] dc_status_t bluezManagedObjects(sd_bus* bus, BluezObjects& objects);

// The path of the first adapter; DC_STATUS_NODEVICE when there is none or it is powered off.
[[nodiscard]] dc_status_t firstPoweredAdapter(const BluezObjects& objects, std::string& adapter);

// A method of BlueZ's without arguments. DC_STATUS_TIMEOUT when no answer comes in `timeout`,
// DC_STATUS_IO when it fails (`error` says why).
[[nodiscard]] dc_status_t callBluez(sd_bus* bus, const char* path, const char* interface,
                                    const char* method, std::chrono::milliseconds timeout,
                                    BusError& error);

// Starts a discovery on `adapter` for `transport` ("le", "bredr" or "auto"); an adapter that
// refuses the filter discovers all the same. Fails as callBluez does.
[[nodiscard]] dc_status_t startBluezDiscovery(sd_bus* bus, const std::string& adapter,
                                              const char* transport);
// Best effort: BlueZ also ends a client's discovery when the client leaves the bus.
void stopBluezDiscovery(sd_bus* bus, const std::string& adapter);

// Handles every message the bus holds, running the matched signals' handlers. False when the bus
// fails.
[[nodiscard]] bool processBus(sd_bus* bus);
// Waits for the next message, at most kCancelSlice and never past `deadline` (none: no bound but
// the slice). False when the bus fails.
[[nodiscard]] bool waitForBus(sd_bus* bus,
                              std::optional<std::chrono::steady_clock::time_point> deadline);

}  // namespace diveconnector
