// Opens the I/O stream a dive computer is reached through, from the device name the user gave.
//
// The transport is one the chosen model supports. A name may pick it explicitly with a prefix
// ("serial:", "bluetooth:", "usbhid:", "usb:", "irda:"); otherwise a Bluetooth address
// (XX:XX:XX:XX:XX:XX) opens Bluetooth, else serial takes the name as its port, else USB HID, USB
// and IrDA open the first matching device found. Models reachable only over BLE cannot be opened
// by libdivecomputer itself.
#pragma once

#include <libdivecomputer/context.h>
#include <libdivecomputer/descriptor.h>

#include "dc_handles.h"

namespace diveconnector {

// Throws Exception "Error opening device." with libdivecomputer's status (DC_STATUS_UNSUPPORTED
// when the model has no transport that fits the name).
[[nodiscard]] IostreamHandle openDeviceStream(dc_context_t* context, dc_descriptor_t* descriptor,
                                              const char* deviceName);

}  // namespace diveconnector
