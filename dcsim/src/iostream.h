#ifndef DCSIM_IOSTREAM_H
#define DCSIM_IOSTREAM_H

#include <libdivecomputer/context.h>
#include <libdivecomputer/custom.h>
#include <libdivecomputer/iostream.h>

#include "computer.h"

/* A connection to a simulated computer, or a custom stream whose callbacks
 * carry the bytes (then `computer` is NULL). */
struct dc_iostream_t {
    dc_transport_t transport;
    dcsim_computer_t* computer;
    dc_context_t* context;
    dc_custom_cbs_t callbacks;
    void* userdata;
};

/* Opens a stream that takes over the reference to `computer`; on failure the
 * reference is released. */
dc_status_t dcsim_iostream_new(dc_iostream_t** out, dc_transport_t transport,
                               dcsim_computer_t* computer);

#endif
