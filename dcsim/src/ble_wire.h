#ifndef DCSIM_BLE_WIRE_H
#define DCSIM_BLE_WIRE_H

/* The constants of the BLE wire protocol (BLE.md). */

#include <string.h>

#include "fingerprint.h"
#include "little_endian.h"

#define DCSIM_BLE_PACKET 20
#define DCSIM_BLE_LAST 0x80u
#define DCSIM_BLE_SEQUENCE 0x7Fu
#define DCSIM_BLE_ACCESSCODE 16
#define DCSIM_BLE_PIN_DIGITS 6

enum {
    DCSIM_BLE_HELLO = 'N',
    DCSIM_BLE_PIN = 'P',
    DCSIM_BLE_ACCESS = 'A',
    DCSIM_BLE_INFO = 'I',
    DCSIM_BLE_FINGERPRINT = 'F',
    DCSIM_BLE_DIVE = 'D'
};

enum {
    DCSIM_BLE_OK = 0,
    DCSIM_BLE_PAIRING = 1,
    DCSIM_BLE_WRONG_NAME = 2,
    DCSIM_BLE_BAD_REQUEST = 3,
    DCSIM_BLE_REFUSED = 4,
    DCSIM_BLE_NOT_PAIRED = 5
};

/* The `F` reply: what the backend makes the dive's fingerprint of, as the
 * family's own fingerprint is the backend's business. */
#define DCSIM_BLE_IDENTITY_SIZE 14

static inline void dcsim_ble_identity_encode(const dcsim_dive_identity_t* dive,
                                             unsigned char out[DCSIM_BLE_IDENTITY_SIZE]) {
    const dc_datetime_t* t = &dive->datetime;
    memcpy(out, dive->id, 4);
    out[4] = dive->has_datetime ? 1 : 0;
    dcsim_put_u32(out + 5, dive->has_datetime ? (uint32_t)t->year : 0);
    const unsigned char rest[5] = {(unsigned char)t->month, (unsigned char)t->day,
                                   (unsigned char)t->hour, (unsigned char)t->minute,
                                   (unsigned char)t->second};
    memcpy(out + 9, rest, sizeof rest);
}

static inline void dcsim_ble_identity_decode(const unsigned char in[DCSIM_BLE_IDENTITY_SIZE],
                                             dcsim_dive_identity_t* dive) {
    memset(dive, 0, sizeof *dive);
    memcpy(dive->id, in, 4);
    dive->has_datetime = in[4] != 0;
    dive->datetime.year = (int)dcsim_get_u32(in + 5);
    dive->datetime.month = in[9];
    dive->datetime.day = in[10];
    dive->datetime.hour = in[11];
    dive->datetime.minute = in[12];
    dive->datetime.second = in[13];
    dive->datetime.timezone = DC_TIMEZONE_NONE;
}

#endif
