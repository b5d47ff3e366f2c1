// What a BLE stream asks of the download that opened it, on the downloading thread.
#pragma once

#include <functional>

namespace diveconnector {

struct BleHooks {
    // True once the download is cancelled: a read waiting for the device then ends at once.
    std::function<bool()> cancelled;
};

}  // namespace diveconnector
