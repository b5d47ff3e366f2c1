#ifndef DCSIM_BLE_HOST_H
#define DCSIM_BLE_HOST_H

#include <libdivecomputer/device.h>
#include <stddef.h>

#include "fingerprint.h"

/* dcsim's backend end of the BLE wire protocol (BLE.md), over a custom
 * stream. */

typedef struct dcsim_ble_info_t {
    unsigned int model, firmware, serial, devtime, count;
} dcsim_ble_info_t;

/* The handshake, pairing if needed, and the computer's info. */
dc_status_t dcsim_ble_open(dc_context_t* context, dc_iostream_t* iostream, dcsim_ble_info_t* info);
/* Dive `k` (0 the newest): what its fingerprint is made of, or its raw bytes
 * (malloc'ed). */
dc_status_t dcsim_ble_identity(dc_iostream_t* iostream, unsigned int k, dcsim_dive_identity_t* out);
dc_status_t dcsim_ble_dive(dc_iostream_t* iostream, unsigned int k, unsigned char** data,
                           size_t* size);

#endif
