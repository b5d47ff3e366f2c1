#include "ble_host.h"

#include <libdivecomputer/ble.h>
#include <libdivecomputer/iostream.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "ble_wire.h"
#include "context.h"
#include "little_endian.h"

#define TIMEOUT_MS 3000

typedef struct reply_t {
    unsigned char* data; /* after the status byte */
    size_t size;
} reply_t;

static dc_status_t send_request(dc_iostream_t* iostream, const unsigned char* request,
                                size_t size) {
    size_t written = 0;
    dc_status_t status = dc_iostream_write(iostream, request, size, &written);
    if (status == DC_STATUS_SUCCESS && written != size) {
        status = DC_STATUS_IO;
    }
    return status;
}

/* Reads one reply, a notification per read, and answers its status byte in
 * `answer`. The packet header catches merged, split or lost notifications. */
static dc_status_t receive(dc_iostream_t* iostream, unsigned char* answer, reply_t* reply) {
    unsigned char* data = NULL;
    size_t size = 0;
    for (unsigned int sequence = 0;; sequence++) {
        /* Room for more than a packet, so that a merged one shows. */
        unsigned char packet[4 * DCSIM_BLE_PACKET];
        size_t length = 0;
        dc_status_t status = dc_iostream_read(iostream, packet, sizeof packet, &length);
        if (status == DC_STATUS_SUCCESS &&
            (length < 2 || length > DCSIM_BLE_PACKET ||
             (packet[0] & DCSIM_BLE_SEQUENCE) != (sequence & DCSIM_BLE_SEQUENCE))) {
            status = DC_STATUS_PROTOCOL;
        }
        unsigned char* larger = status == DC_STATUS_SUCCESS ? realloc(data, size + length) : NULL;
        if (status == DC_STATUS_SUCCESS && larger == NULL) {
            status = DC_STATUS_NOMEMORY;
        }
        if (status != DC_STATUS_SUCCESS) {
            free(data);
            return status;
        }
        data = larger;
        memcpy(data + size, packet + 1, length - 1);
        size += length - 1;
        if (packet[0] & DCSIM_BLE_LAST) {
            break;
        }
    }
    *answer = data[0];
    reply->size = size - 1;
    memmove(data, data + 1, reply->size);
    reply->data = data;
    return DC_STATUS_SUCCESS;
}

static dc_status_t status_of(unsigned char answer) {
    switch (answer) {
        case DCSIM_BLE_OK:
            return DC_STATUS_SUCCESS;
        case DCSIM_BLE_WRONG_NAME:
            return DC_STATUS_IO;
        case DCSIM_BLE_REFUSED:
        case DCSIM_BLE_NOT_PAIRED:
        case DCSIM_BLE_PAIRING:
            return DC_STATUS_NOACCESS;
        default:
            return DC_STATUS_PROTOCOL;
    }
}

/* One request and its reply; `expected` payload bytes, or any with SIZE_MAX.
 * On success the caller frees reply->data. */
static dc_status_t transact(dc_iostream_t* iostream, const unsigned char* request, size_t size,
                            size_t expected, unsigned char* answer, reply_t* reply) {
    dc_status_t status = send_request(iostream, request, size);
    if (status == DC_STATUS_SUCCESS) {
        status = receive(iostream, answer, reply);
    }
    if (status == DC_STATUS_SUCCESS && *answer == DCSIM_BLE_OK && expected != SIZE_MAX &&
        reply->size != expected) {
        free(reply->data);
        status = DC_STATUS_PROTOCOL;
    }
    return status;
}

/* A request whose reply must be OK with `expected` payload bytes. */
static dc_status_t request_ok(dc_iostream_t* iostream, const unsigned char* request, size_t size,
                              size_t expected, reply_t* reply) {
    unsigned char answer;
    dc_status_t status = transact(iostream, request, size, expected, &answer, reply);
    if (status == DC_STATUS_SUCCESS && answer != DCSIM_BLE_OK) {
        free(reply->data);
        status = status_of(answer);
    }
    return status;
}

#ifndef DCSIM_API_0_8

/* Sends the stored access code; SUCCESS if the computer took it, DONE if
 * there is none. A refused code fails with PROTOCOL, as 0.9.0's i330R backend
 * fails on the unexpected response code: it does not ask for the PIN again. */
static dc_status_t send_access_code(dc_iostream_t* iostream) {
    unsigned char request[1 + DCSIM_BLE_ACCESSCODE] = {DCSIM_BLE_ACCESS};
    static const unsigned char none[DCSIM_BLE_ACCESSCODE];
    dc_status_t status =
        dc_iostream_ioctl(iostream, DC_IOCTL_BLE_GET_ACCESSCODE, request + 1, DCSIM_BLE_ACCESSCODE);
    if (status == DC_STATUS_UNSUPPORTED ||
        (status == DC_STATUS_SUCCESS && memcmp(request + 1, none, sizeof none) == 0)) {
        return DC_STATUS_DONE;
    }
    if (status != DC_STATUS_SUCCESS) {
        return status;
    }
    unsigned char answer;
    reply_t reply;
    status = transact(iostream, request, sizeof request, 0, &answer, &reply);
    if (status != DC_STATUS_SUCCESS) {
        return status;
    }
    free(reply.data);
    return answer == DCSIM_BLE_OK        ? DC_STATUS_SUCCESS
           : answer == DCSIM_BLE_REFUSED ? DC_STATUS_PROTOCOL
                                         : status_of(answer);
}

static dc_status_t pair(dc_context_t* context, dc_iostream_t* iostream) {
    dc_status_t status = send_access_code(iostream);
    if (status == DC_STATUS_PROTOCOL) {
        DCSIM_ERROR(context, "The device refused the access code.");
    }
    if (status != DC_STATUS_DONE) {
        return status;
    }
    char pin[DCSIM_BLE_PIN_DIGITS + 1] = {0};
    status = dc_iostream_ioctl(iostream, DC_IOCTL_BLE_GET_PINCODE, pin, sizeof pin);
    if (status != DC_STATUS_SUCCESS) {
        DCSIM_ERROR(context, "Failed to get the PIN code.");
        return status;
    }
    pin[DCSIM_BLE_PIN_DIGITS] = '\0';
    size_t digits = strlen(pin);
    if (digits == 0 || strspn(pin, "0123456789") != digits) {
        DCSIM_ERROR(context, "Invalid PIN code.");
        return DC_STATUS_INVALIDARGS;
    }
    unsigned char request[1 + DCSIM_BLE_PIN_DIGITS] = {DCSIM_BLE_PIN};
    memcpy(request + 1, pin, digits);
    reply_t reply;
    status = request_ok(iostream, request, 1 + digits, DCSIM_BLE_ACCESSCODE, &reply);
    if (status != DC_STATUS_SUCCESS) {
        return status;
    }
    /* As the Aqualung i330R's backend does. */
    DCSIM_HEXDUMP(context, DC_LOGLEVEL_DEBUG, "Access code", reply.data, reply.size);
    status = dc_iostream_ioctl(iostream, DC_IOCTL_BLE_SET_ACCESSCODE, reply.data, reply.size);
    free(reply.data);
    return status == DC_STATUS_UNSUPPORTED ? DC_STATUS_SUCCESS : status;
}

#endif

dc_status_t dcsim_ble_open(dc_context_t* context, dc_iostream_t* iostream, dcsim_ble_info_t* info) {
    dc_status_t status = dc_iostream_set_timeout(iostream, TIMEOUT_MS);
    if (status == DC_STATUS_SUCCESS) {
        status = dc_iostream_purge(iostream, DC_DIRECTION_ALL);
    }
    if (status != DC_STATUS_SUCCESS) {
        return status;
    }
    unsigned char hello[DCSIM_BLE_PACKET] = {DCSIM_BLE_HELLO};
    status = dc_iostream_ioctl(iostream, DC_IOCTL_BLE_GET_NAME, hello + 1, sizeof hello - 1);
    if (status != DC_STATUS_SUCCESS && status != DC_STATUS_UNSUPPORTED) {
        return status;
    }
    const unsigned char* end = memchr(hello + 1, '\0', sizeof hello - 1);
    size_t length = status != DC_STATUS_SUCCESS ? 0
                    : end != NULL               ? (size_t)(end - (hello + 1))
                                                : sizeof hello - 1;
    if (length == 0) {
        DCSIM_ERROR(context, "The device has no name.");
        return DC_STATUS_IO;
    }
    unsigned char answer;
    reply_t reply;
    status = transact(iostream, hello, 1 + length, 0, &answer, &reply);
    if (status != DC_STATUS_SUCCESS) {
        return status;
    }
    free(reply.data);
    if (answer == DCSIM_BLE_PAIRING) {
#ifdef DCSIM_API_0_8
        DCSIM_ERROR(context, "The device needs pairing.");
        return DC_STATUS_NOACCESS;
#else
        status = pair(context, iostream);
#endif
    } else {
        status = status_of(answer);
    }
    if (status != DC_STATUS_SUCCESS) {
        return status;
    }
    const unsigned char request[] = {DCSIM_BLE_INFO};
    status = request_ok(iostream, request, sizeof request, 20, &reply);
    if (status != DC_STATUS_SUCCESS) {
        return status;
    }
    info->model = dcsim_get_u32(reply.data);
    info->firmware = dcsim_get_u32(reply.data + 4);
    info->serial = dcsim_get_u32(reply.data + 8);
    info->devtime = dcsim_get_u32(reply.data + 12);
    info->count = dcsim_get_u32(reply.data + 16);
    free(reply.data);
    return DC_STATUS_SUCCESS;
}

dc_status_t dcsim_ble_identity(dc_iostream_t* iostream, unsigned int k,
                               dcsim_dive_identity_t* out) {
    unsigned char request[5] = {DCSIM_BLE_FINGERPRINT};
    dcsim_put_u32(request + 1, k);
    reply_t reply;
    dc_status_t status =
        request_ok(iostream, request, sizeof request, DCSIM_BLE_IDENTITY_SIZE, &reply);
    if (status == DC_STATUS_SUCCESS) {
        dcsim_ble_identity_decode(reply.data, out);
        free(reply.data);
    }
    return status;
}

dc_status_t dcsim_ble_dive(dc_iostream_t* iostream, unsigned int k, unsigned char** data,
                           size_t* size) {
    unsigned char request[5] = {DCSIM_BLE_DIVE};
    dcsim_put_u32(request + 1, k);
    reply_t reply;
    dc_status_t status = request_ok(iostream, request, sizeof request, SIZE_MAX, &reply);
    if (status != DC_STATUS_SUCCESS) {
        return status;
    }
    if (reply.size < 4 || dcsim_get_u32(reply.data) != reply.size - 4) {
        free(reply.data);
        return DC_STATUS_PROTOCOL;
    }
    memmove(reply.data, reply.data + 4, reply.size - 4);
    *data = reply.data;
    *size = reply.size - 4;
    return DC_STATUS_SUCCESS;
}
