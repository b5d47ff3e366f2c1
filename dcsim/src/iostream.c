#include "iostream.h"

#include <libdivecomputer/ioctl.h>
#include <stdlib.h>

#include "calls.h"
#include "context.h"
#include "live.h"

dc_status_t dcsim_iostream_new(dc_iostream_t** out, dc_transport_t transport,
                               dcsim_computer_t* computer) {
    dc_iostream_t* iostream = calloc(1, sizeof *iostream);
    if (iostream == NULL) {
        dcsim_computer_release(computer);
        return DC_STATUS_NOMEMORY;
    }
    iostream->transport = transport;
    iostream->computer = computer;
    dcsim_live_add(DCSIM_IOSTREAM, 1);
    *out = iostream;
    return DC_STATUS_SUCCESS;
}

dc_status_t dc_custom_open(dc_iostream_t** out, dc_context_t* context, dc_transport_t transport,
                           const dc_custom_cbs_t* callbacks, void* userdata) {
    dc_status_t status = DCSIM_ENTER(dc_custom_open);
    if (status != DC_STATUS_SUCCESS) {
        return status;
    }
    /* Like libdivecomputer, the transport is taken as given and the table is
     * copied. */
    if (out == NULL || callbacks == NULL) {
        return DC_STATUS_INVALIDARGS;
    }
    dc_iostream_t* iostream = calloc(1, sizeof *iostream);
    if (iostream == NULL) {
        return DC_STATUS_NOMEMORY;
    }
    iostream->transport = transport;
    iostream->context = context;
    iostream->callbacks = *callbacks;
    iostream->userdata = userdata;
    dcsim_live_add(DCSIM_IOSTREAM, 1);
    *out = iostream;
    return DC_STATUS_SUCCESS;
}

dc_transport_t dc_iostream_get_transport(dc_iostream_t* iostream) {
    if (DCSIM_ENTER(dc_iostream_get_transport) != DC_STATUS_SUCCESS || iostream == NULL) {
        return DC_TRANSPORT_NONE;
    }
    return iostream->transport;
}

/* The simulated transports exchange no bytes: their computers hand over the
 * dives directly, so byte-level calls on them are not supported. */
static dc_status_t custom_only(dc_status_t entered, const dc_iostream_t* iostream) {
    if (entered != DC_STATUS_SUCCESS) {
        return entered;
    }
    if (iostream == NULL) {
        return DC_STATUS_INVALIDARGS;
    }
    return iostream->computer != NULL ? DC_STATUS_UNSUPPORTED : DC_STATUS_SUCCESS;
}

/* On a custom stream a missing callback succeeds and does nothing, as in
 * libdivecomputer. */
#define DCSIM_STREAM_CALL(name, member, ...)                                 \
    dc_status_t status = custom_only(DCSIM_ENTER(name), iostream);           \
    if (status != DC_STATUS_SUCCESS || iostream->callbacks.member == NULL) { \
        return status;                                                       \
    }                                                                        \
    return iostream->callbacks.member(iostream->userdata, __VA_ARGS__)

dc_status_t dc_iostream_set_timeout(dc_iostream_t* iostream, int timeout) {
    DCSIM_STREAM_CALL(dc_iostream_set_timeout, set_timeout, timeout);
}

dc_status_t dc_iostream_set_break(dc_iostream_t* iostream, unsigned int value) {
    DCSIM_STREAM_CALL(dc_iostream_set_break, set_break, value);
}

dc_status_t dc_iostream_set_dtr(dc_iostream_t* iostream, unsigned int value) {
    DCSIM_STREAM_CALL(dc_iostream_set_dtr, set_dtr, value);
}

dc_status_t dc_iostream_set_rts(dc_iostream_t* iostream, unsigned int value) {
    DCSIM_STREAM_CALL(dc_iostream_set_rts, set_rts, value);
}

dc_status_t dc_iostream_get_lines(dc_iostream_t* iostream, unsigned int* value) {
    DCSIM_STREAM_CALL(dc_iostream_get_lines, get_lines, value);
}

dc_status_t dc_iostream_get_available(dc_iostream_t* iostream, size_t* value) {
    DCSIM_STREAM_CALL(dc_iostream_get_available, get_available, value);
}

dc_status_t dc_iostream_configure(dc_iostream_t* iostream, unsigned int baudrate,
                                  unsigned int databits, dc_parity_t parity, dc_stopbits_t stopbits,
                                  dc_flowcontrol_t flowcontrol) {
    DCSIM_STREAM_CALL(dc_iostream_configure, configure, baudrate, databits, parity, stopbits,
                      flowcontrol);
}

dc_status_t dc_iostream_poll(dc_iostream_t* iostream, int timeout) {
    DCSIM_STREAM_CALL(dc_iostream_poll, poll, timeout);
}

dc_status_t dc_iostream_ioctl(dc_iostream_t* iostream, unsigned int request, void* data,
                              size_t size) {
    dc_status_t status = DCSIM_ENTER(dc_iostream_ioctl);
    if (status != DC_STATUS_SUCCESS) {
        return status;
    }
    /* The size must be the one the request encodes, unless it is variable. */
    if ((DC_IOCTL_DIR(request) != DC_IOCTL_DIR_NONE && data == NULL) ||
        (DC_IOCTL_SIZE(request) != DC_IOCTL_SIZE_VARIABLE && DC_IOCTL_SIZE(request) != size)) {
        return DC_STATUS_INVALIDARGS;
    }
    status = custom_only(status, iostream);
    if (status != DC_STATUS_SUCCESS || iostream->callbacks.ioctl == NULL) {
        return status;
    }
    /* libdivecomputer logs what goes in before the call and what comes out
     * after it, whatever the call returned. */
    DCSIM_INFO(iostream->context, "Ioctl: request=0x%08x (dir=%u, type=%u, nr=%u, size=%u)",
               request, DC_IOCTL_DIR(request), DC_IOCTL_TYPE(request), DC_IOCTL_NR(request),
               DC_IOCTL_SIZE(request));
    if (DC_IOCTL_DIR(request) & DC_IOCTL_DIR_WRITE) {
        DCSIM_HEXDUMP(iostream->context, DC_LOGLEVEL_INFO, "Ioctl write", data, size);
    }
    status = iostream->callbacks.ioctl(iostream->userdata, request, data, size);
    if (DC_IOCTL_DIR(request) & DC_IOCTL_DIR_READ) {
        DCSIM_HEXDUMP(iostream->context, DC_LOGLEVEL_INFO, "Ioctl read", data, size);
    }
    return status;
}

dc_status_t dc_iostream_flush(dc_iostream_t* iostream) {
    dc_status_t status = custom_only(DCSIM_ENTER(dc_iostream_flush), iostream);
    if (status != DC_STATUS_SUCCESS || iostream->callbacks.flush == NULL) {
        return status;
    }
    return iostream->callbacks.flush(iostream->userdata);
}

dc_status_t dc_iostream_purge(dc_iostream_t* iostream, dc_direction_t direction) {
    DCSIM_STREAM_CALL(dc_iostream_purge, purge, direction);
}

dc_status_t dc_iostream_sleep(dc_iostream_t* iostream, unsigned int milliseconds) {
    DCSIM_STREAM_CALL(dc_iostream_sleep, sleep, milliseconds);
}

/* libdivecomputer hands the callbacks a count of its own and passes on what
 * they left there, 0 if nothing. */
dc_status_t dc_iostream_read(dc_iostream_t* iostream, void* data, size_t size, size_t* actual) {
    size_t count = 0;
    dc_status_t status = custom_only(DCSIM_ENTER(dc_iostream_read), iostream);
    if (status == DC_STATUS_SUCCESS && iostream->callbacks.read != NULL) {
        status = iostream->callbacks.read(iostream->userdata, data, size, &count);
        DCSIM_HEXDUMP(iostream->context, DC_LOGLEVEL_INFO, "Read", data, count);
    }
    if (actual != NULL) {
        *actual = count;
    }
    return status;
}

dc_status_t dc_iostream_write(dc_iostream_t* iostream, const void* data, size_t size,
                              size_t* actual) {
    size_t count = 0;
    dc_status_t status = custom_only(DCSIM_ENTER(dc_iostream_write), iostream);
    if (status == DC_STATUS_SUCCESS && iostream->callbacks.write != NULL) {
        status = iostream->callbacks.write(iostream->userdata, data, size, &count);
        DCSIM_HEXDUMP(iostream->context, DC_LOGLEVEL_INFO, "Write", data, count);
    }
    if (actual != NULL) {
        *actual = count;
    }
    return status;
}

dc_status_t dc_iostream_close(dc_iostream_t* iostream) {
    dc_status_t status = DCSIM_ENTER(dc_iostream_close);
    if (iostream != NULL) {
        /* The callback runs even under an injected fault, or the
         * application's side of the stream would leak. */
        dc_status_t closed = DC_STATUS_SUCCESS;
        if (iostream->computer == NULL && iostream->callbacks.close != NULL) {
            closed = iostream->callbacks.close(iostream->userdata);
        }
        dcsim_computer_release(iostream->computer);
        free(iostream);
        dcsim_live_add(DCSIM_IOSTREAM, -1);
        if (status == DC_STATUS_SUCCESS) {
            status = closed;
        }
    }
    return status;
}
