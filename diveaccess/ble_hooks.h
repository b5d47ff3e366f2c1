// What a BLE stream asks of the download that opened it, on the downloading thread.
#pragma once

#include <libdivecomputer/context.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "ble_access_codes.h"
#include "support_log.h"

namespace diveconnector {

// What the stream did with a pairing computer's access code during one opening: the download
// tells from it whether the computer refused a stored code.
struct AccessCodeUse {
    std::string address;           // the computer's
    bool storedCodeGiven = false;  // the backend got a stored code
    bool pinAsked = false;         // and asked for the PIN since
    bool codeStored = false;       // and handed over a new code since
};

struct BleHooks {
    // True once the download is cancelled: a read waiting for the device then ends at once.
    std::function<bool()> cancelled;
    // The PIN a pairing computer shows, asked for while it is being opened; nullopt: none given.
    std::function<std::optional<std::string>(const std::string& address, const std::string& name)>
        pinCode;
    // Where the access codes of pairing computers are kept.
    BleAccessCodes accessCodes{""};
    // The support log, for what the status cannot say; may be empty.
    std::function<void(dc_loglevel_t level, const std::string& message)> log;
    // When set, the stream records here what it did with the access code.
    std::shared_ptr<AccessCodeUse> accessCodeUse;
    // The download's support log, told the PIN and the access codes so that it masks them; null:
    // none.
    const SupportLog* secretsLog = nullptr;
};

}  // namespace diveconnector
