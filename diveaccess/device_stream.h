// Opens the I/O stream a dive computer is reached through, from the device name the user gave.
//
// The transport is one the chosen model supports. A name may pick it explicitly with a prefix
// ("serial:", "bluetooth:", "ble:", "usbhid:", "usb:", "irda:"); otherwise a Bluetooth address
// (XX:XX:XX:XX:XX:XX) opens Bluetooth, or BLE for a model without Bluetooth, else serial takes
// the name as its port, else USB HID, USB and IrDA open the first matching device found. BLE is
// the library's own stream over BlueZ, in Linux builds that found sd-bus; elsewhere a model
// reachable only over BLE cannot be opened.
#pragma once

#include <libdivecomputer/context.h>
#include <libdivecomputer/descriptor.h>

#include "ble_hooks.h"
#include "dc_handles.h"
#include "support_log.h"

namespace diveconnector {

// Throws Exception "Error opening device." with libdivecomputer's status (DC_STATUS_UNSUPPORTED
// when the model has no transport that fits the name). The log hears which transport was chosen,
// why, and how its opening went. A BLE stream keeps the hooks.
[[nodiscard]] IostreamHandle openDeviceStream(dc_context_t* context, dc_descriptor_t* descriptor,
                                              const char* deviceName, const SupportLog& log,
                                              const BleHooks& hooks);

}  // namespace diveconnector
