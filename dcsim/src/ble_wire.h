#ifndef DCSIM_BLE_WIRE_H
#define DCSIM_BLE_WIRE_H

/* The constants of the BLE wire protocol (BLE.md). */

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

#endif
