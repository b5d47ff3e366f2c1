// A libdivecomputer custom stream (transport BLE) over the platform's GATT link (gatt_link.h:
// BlueZ on Linux), with everything but the platform's calls shared by every platform.
//
//     dc_iostream_t* raw = nullptr;
//     const dc_status_t status = openBleStream(context, "AA:BB:CC:DD:EE:FF", hooks, &raw);
//     IostreamHandle stream(raw);   // closing it stops the notifications and disconnects
//
// One read hands over one notification (the rest of a larger one comes with the next read);
// configure, DTR and RTS succeed without effect; GET_NAME answers the advertised name; the
// characteristic ioctls read and write the device's characteristics; GET_PINCODE asks
// hooks.pinCode (UNSUPPORTED when it gives none), GET_ACCESSCODE and SET_ACCESSCODE go to
// hooks.accessCodes (and hooks.accessCodeUse, when set, records what became of the code); the PIN
// and the codes are also told to hooks.secretsLog, which masks them. Other ioctls are
// UNSUPPORTED. A read waiting for the device ends with DC_STATUS_CANCELLED once hooks.cancelled
// says so, and with DC_STATUS_IO once the device is gone or floods the link (hooks.log says why).
#pragma once

#include <libdivecomputer/context.h>
#include <libdivecomputer/iostream.h>

#include "ble_hooks.h"

namespace diveconnector {

[[nodiscard]] dc_status_t openBleStream(dc_context_t* context, const char* address,
                                        const BleHooks& hooks, dc_iostream_t** stream);

}  // namespace diveconnector
