#ifndef DCSIM_DEVICE_H
#define DCSIM_DEVICE_H

#include <libdivecomputer/device.h>

#include "ble_host.h"
#include "fingerprint.h"

struct dc_device_t {
    dc_context_t* context;
    dc_iostream_t* iostream; /* not owned, as in libdivecomputer */
    dc_family_t family;
    unsigned int model;
    int answered; /* whether the computer speaks the descriptor's protocol */
    unsigned int events;
    dc_event_callback_t event_callback;
    void* event_userdata;
    dc_cancel_callback_t cancel_callback;
    void* cancel_userdata;
    int ble; /* over a custom stream, through the wire protocol */
    dcsim_ble_info_t info;
    unsigned int fingerprint_size; /* the family's, 0 if it has none */
    int has_fingerprint;
    unsigned char fingerprint[DCSIM_FINGERPRINT_MAX];
};

#endif
