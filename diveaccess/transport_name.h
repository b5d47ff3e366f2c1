// libdivecomputer's transports by the names the support log gives them.
#pragma once

#include <libdivecomputer/common.h>

namespace diveconnector {

[[nodiscard]] inline const char* transportName(unsigned int transport) noexcept {
    switch (transport) {
        case DC_TRANSPORT_SERIAL:
            return "serial";
        case DC_TRANSPORT_USB:
            return "USB";
        case DC_TRANSPORT_USBHID:
            return "USB HID";
        case DC_TRANSPORT_IRDA:
            return "IrDA";
        case DC_TRANSPORT_BLUETOOTH:
            return "Bluetooth";
        case DC_TRANSPORT_BLE:
            return "BLE";
        default:
            return "none";
    }
}

}  // namespace diveconnector
