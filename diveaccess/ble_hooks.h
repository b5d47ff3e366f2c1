// What a BLE stream asks of the download that opened it, on the downloading thread.
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "ble_access_codes.h"

namespace diveconnector {

struct BleHooks {
    // True once the download is cancelled: a read waiting for the device then ends at once.
    std::function<bool()> cancelled;
    // The PIN a pairing computer shows, asked for while it is being opened; nullopt: none given.
    std::function<std::optional<std::string>(const std::string& address, const std::string& name)>
        pinCode;
    // Where the access codes of pairing computers are kept.
    BleAccessCodes accessCodes{""};
};

}  // namespace diveconnector
