#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "ble_wire.h"
#include "computer.h"
#include "dcsim.h"
#include "lasterror.h"
#include "little_endian.h"
#include "registry.h"

struct dcsim_peripheral_t {
    dcsim_computer_t* computer;
    int greeted;
    int paired;
    unsigned char* reply; /* status byte, then the payload */
    size_t size;
    size_t sent;
    unsigned int sequence;
};

dcsim_peripheral_t* dcsim_peripheral_new(const char* name) {
    dcsim_computer_t* computer = name != NULL ? dcsim_registry_find_bluetooth_name(name) : NULL;
    if (computer == NULL) {
        dcsim_set_error("no attached computer has the Bluetooth name '%s'", name ? name : "");
        return NULL;
    }
    dcsim_peripheral_t* peripheral = calloc(1, sizeof *peripheral);
    if (peripheral == NULL) {
        dcsim_computer_release(computer);
        dcsim_set_error("out of memory");
        return NULL;
    }
    peripheral->computer = computer;
    peripheral->paired = computer->pin == NULL;
    return peripheral;
}

void dcsim_peripheral_free(dcsim_peripheral_t* peripheral) {
    if (peripheral != NULL) {
        dcsim_computer_release(peripheral->computer);
        free(peripheral->reply);
        free(peripheral);
    }
}

/* The code handed out on pairing: fixed per computer, never all zeros. */
static void access_code(const dcsim_computer_t* computer,
                        unsigned char code[DCSIM_BLE_ACCESSCODE]) {
    size_t length = strlen(computer->pin);
    for (int i = 0; i < DCSIM_BLE_ACCESSCODE; i++) {
        code[i] = (unsigned char)((computer->serial >> (8 * (i % 4))) ^ computer->pin[i % length] ^
                                  (0xA5 + 17 * i));
    }
    code[0] |= 1;
}

/* Makes room for a reply of `size` payload bytes after the status byte. */
static unsigned char* start_reply(dcsim_peripheral_t* peripheral, unsigned char status,
                                  size_t size) {
    free(peripheral->reply);
    peripheral->reply = malloc(1 + size);
    peripheral->size = peripheral->sent = 0;
    peripheral->sequence = 0;
    if (peripheral->reply == NULL) {
        return NULL;
    }
    peripheral->reply[0] = status;
    peripheral->size = 1 + size;
    return peripheral->reply + 1;
}

static int reply_status(dcsim_peripheral_t* peripheral, unsigned char status) {
    return start_reply(peripheral, status, 0) != NULL ? 0 : -1;
}

/* The computer's index of wire index `k` (0 the newest); ndives if none. */
static unsigned int dive_index(const dcsim_computer_t* computer, const unsigned char* argument) {
    uint32_t k = dcsim_get_u32(argument);
    return k < computer->ndives ? computer->ndives - 1 - k : computer->ndives;
}

int dcsim_peripheral_write(dcsim_peripheral_t* peripheral, const unsigned char* data, size_t size) {
    if (peripheral == NULL || data == NULL || size == 0 || size > DCSIM_BLE_PACKET) {
        dcsim_set_error("a request holds 1 to %d bytes", DCSIM_BLE_PACKET);
        return -1;
    }
    const dcsim_computer_t* computer = peripheral->computer;
    const unsigned char command = data[0];
    const unsigned char* argument = data + 1;
    const size_t length = size - 1;
    if (command == DCSIM_BLE_HELLO) {
        const char* name = computer->bluetooth_name != NULL ? computer->bluetooth_name : "";
        peripheral->greeted = length == strlen(name) && memcmp(argument, name, length) == 0;
        return reply_status(peripheral, !peripheral->greeted ? DCSIM_BLE_WRONG_NAME
                                        : peripheral->paired ? DCSIM_BLE_OK
                                                             : DCSIM_BLE_PAIRING);
    }
    if (!peripheral->greeted) {
        return reply_status(peripheral, DCSIM_BLE_BAD_REQUEST);
    }
    if (command == DCSIM_BLE_PIN || command == DCSIM_BLE_ACCESS) {
        unsigned char code[DCSIM_BLE_ACCESSCODE];
        if (computer->pin == NULL) {
            return reply_status(peripheral, DCSIM_BLE_BAD_REQUEST);
        }
        access_code(computer, code);
        if (command == DCSIM_BLE_ACCESS) {
            peripheral->paired = length == sizeof code && memcmp(argument, code, sizeof code) == 0;
            return reply_status(peripheral, peripheral->paired ? DCSIM_BLE_OK : DCSIM_BLE_REFUSED);
        }
        peripheral->paired =
            length == strlen(computer->pin) && memcmp(argument, computer->pin, length) == 0;
        if (!peripheral->paired) {
            return reply_status(peripheral, DCSIM_BLE_REFUSED);
        }
        unsigned char* payload = start_reply(peripheral, DCSIM_BLE_OK, sizeof code);
        if (payload == NULL) {
            return -1;
        }
        memcpy(payload, code, sizeof code);
        return 0;
    }
    if (!peripheral->paired) {
        return reply_status(peripheral, DCSIM_BLE_NOT_PAIRED);
    }
    if (command == DCSIM_BLE_INFO && length == 0) {
        unsigned char* payload = start_reply(peripheral, DCSIM_BLE_OK, 20);
        if (payload == NULL) {
            return -1;
        }
        dcsim_put_u32(payload, computer->model);
        dcsim_put_u32(payload + 4, computer->firmware);
        dcsim_put_u32(payload + 8, computer->serial);
        dcsim_put_u32(payload + 12, computer->devtime);
        dcsim_put_u32(payload + 16, computer->ndives);
        return 0;
    }
    if ((command == DCSIM_BLE_FINGERPRINT || command == DCSIM_BLE_DIVE) && length == 4) {
        const unsigned int index = dive_index(computer, argument);
        if (index == computer->ndives) {
            return reply_status(peripheral, DCSIM_BLE_BAD_REQUEST);
        }
        if (command == DCSIM_BLE_FINGERPRINT) {
            unsigned char* payload = start_reply(peripheral, DCSIM_BLE_OK, DCSIM_BLE_IDENTITY_SIZE);
            if (payload == NULL) {
                return -1;
            }
            dcsim_dive_identity_t dive;
            dcsim_computer_identity(computer, index, &dive);
            dcsim_ble_identity_encode(&dive, payload);
            return 0;
        }
        unsigned char* dive;
        size_t dive_size;
        if (dcsim_computer_dive(computer, index, &dive, &dive_size) != DC_STATUS_SUCCESS) {
            return -1;
        }
        unsigned char* payload = start_reply(peripheral, DCSIM_BLE_OK, 4 + dive_size);
        if (payload != NULL) {
            dcsim_put_u32(payload, (uint32_t)dive_size);
            memcpy(payload + 4, dive, dive_size);
        }
        free(dive);
        return payload != NULL ? 0 : -1;
    }
    return reply_status(peripheral, DCSIM_BLE_BAD_REQUEST);
}

size_t dcsim_peripheral_read(dcsim_peripheral_t* peripheral, unsigned char* packet, size_t room) {
    if (peripheral == NULL || packet == NULL || room < 2 || peripheral->sent == peripheral->size) {
        return 0;
    }
    if (room > DCSIM_BLE_PACKET) {
        room = DCSIM_BLE_PACKET;
    }
    size_t left = peripheral->size - peripheral->sent;
    size_t chunk = left < room - 1 ? left : room - 1;
    packet[0] = (unsigned char)((peripheral->sequence++ & DCSIM_BLE_SEQUENCE) |
                                (chunk == left ? DCSIM_BLE_LAST : 0));
    memcpy(packet + 1, peripheral->reply + peripheral->sent, chunk);
    peripheral->sent += chunk;
    return chunk + 1;
}
