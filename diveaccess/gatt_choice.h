// Which GATT service and characteristics of a dive computer carry its data over BLE.
//
// Dive computers put their serial link behind vendor services; a known one is taken by its rank,
// firmware-upgrade services and unknown 16-bit standard services are never taken, and otherwise
// the first service with a writable and a notifying characteristic is used. Heinrichs Weikamp's
// Terminal I/O and u-blox services add a credit characteristic for flow control.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace diveconnector {

struct GattCharacteristic {
    std::string path;
    std::string uuid;  // lower case
    std::vector<std::string> flags;

    [[nodiscard]] bool has(const char* flag) const;
    [[nodiscard]] bool writable() const { return has("write") || has("write-without-response"); }
    [[nodiscard]] bool notifies() const { return has("notify") || has("indicate"); }
};

struct GattService {
    std::string path;
    std::string uuid;  // lower case
    std::vector<GattCharacteristic> characteristics;
};

struct GattChoice {
    GattCharacteristic write;   // each write of libdivecomputer goes here
    GattCharacteristic notify;  // each notification is one read
    // Terminal I/O flow control: the device indicates its credits on creditsNotify (may be the
    // same characteristic as creditsWrite), the host grants credits through creditsWrite.
    std::optional<GattCharacteristic> creditsWrite;
    std::optional<GattCharacteristic> creditsNotify;
};

// The choice among a device's services, or none if no service suits.
[[nodiscard]] std::optional<GattChoice> chooseGattService(const std::vector<GattService>& services);

// Every BLE link compares addresses ("AA:BB:CC:DD:EE:FF") in upper case and UUIDs in lower case.
[[nodiscard]] std::string upperCaseAddress(std::string address);
[[nodiscard]] std::string lowerCaseUuid(std::string uuid);

}  // namespace diveconnector
