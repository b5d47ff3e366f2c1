#include <inttypes.h>
#include <libdivecomputer/bluetooth.h>
#include <stdio.h>
#include <string.h>

#include "calls.h"
#include "context.h"
#include "iostream.h"
#include "registry.h"
#include "transport_iterator.h"

struct dc_bluetooth_device_t {
    dc_bluetooth_address_t address;
    const char* name;
};

char* dc_bluetooth_addr2str(dc_bluetooth_address_t address, char* str, size_t size) {
    if (DCSIM_ENTER(dc_bluetooth_addr2str) != DC_STATUS_SUCCESS || str == NULL ||
        size < DC_BLUETOOTH_SIZE) {
        return NULL;
    }
    int n = snprintf(str, size, "%02X:%02X:%02X:%02X:%02X:%02X",
                     (unsigned int)(address >> 40) & 0xFF, (unsigned int)(address >> 32) & 0xFF,
                     (unsigned int)(address >> 24) & 0xFF, (unsigned int)(address >> 16) & 0xFF,
                     (unsigned int)(address >> 8) & 0xFF, (unsigned int)address & 0xFF);
    if (n < 0 || (size_t)n >= size) {
        return NULL;
    }
    return str;
}

/* As lenient as libdivecomputer's: colons are skipped anywhere and every hex
 * digit shifts in; anything else gives 0. */
dc_bluetooth_address_t dc_bluetooth_str2addr(const char* str) {
    if (DCSIM_ENTER(dc_bluetooth_str2addr) != DC_STATUS_SUCCESS || str == NULL) {
        return 0;
    }
    dc_bluetooth_address_t address = 0;
    for (; *str; str++) {
        unsigned char c = (unsigned char)*str;
        unsigned int digit;
        if (c == ':') {
            continue;
        } else if (c >= '0' && c <= '9') {
            digit = c - '0';
        } else if (c >= 'A' && c <= 'F') {
            digit = c - 'A' + 10;
        } else if (c >= 'a' && c <= 'f') {
            digit = c - 'a' + 10;
        } else {
            return 0;
        }
        address = address << 4 | digit;
    }
    return address;
}

static void* bluetooth_item(const dcsim_computer_t* computer) {
    const char* name = computer->bluetooth_name != NULL ? computer->bluetooth_name : "";
    size_t length = strlen(name) + 1;
    dc_bluetooth_device_t* item = dcsim_item_alloc(sizeof *item + length);
    if (item != NULL) {
        char* copy = (char*)(item + 1);
        memcpy(copy, name, length);
        item->address = computer->bluetooth_address;
        item->name = copy;
    }
    return item;
}

dc_bluetooth_address_t dc_bluetooth_device_get_address(dc_bluetooth_device_t* device) {
    if (DCSIM_ENTER(dc_bluetooth_device_get_address) != DC_STATUS_SUCCESS || device == NULL) {
        return 0;
    }
    return device->address;
}

const char* dc_bluetooth_device_get_name(dc_bluetooth_device_t* device) {
    if (DCSIM_ENTER(dc_bluetooth_device_get_name) != DC_STATUS_SUCCESS || device == NULL) {
        return NULL;
    }
    return device->name;
}

void dc_bluetooth_device_free(dc_bluetooth_device_t* device) {
    DCSIM_ENTER(dc_bluetooth_device_free);
    dcsim_item_free(device);
}

dc_status_t dc_bluetooth_iterator_new(dc_iterator_t** out, dc_context_t* context,
                                      dc_descriptor_t* descriptor) {
    (void)context;
    dc_status_t status = DCSIM_ENTER(dc_bluetooth_iterator_new);
    if (status != DC_STATUS_SUCCESS) {
        return status;
    }
    return dcsim_transport_iterator_new(out, DC_TRANSPORT_BLUETOOTH, descriptor, bluetooth_item);
}

dc_status_t dc_bluetooth_open(dc_iostream_t** out, dc_context_t* context,
                              dc_bluetooth_address_t address, unsigned int port) {
    (void)port;
    dc_status_t status = DCSIM_ENTER(dc_bluetooth_open);
    if (status != DC_STATUS_SUCCESS) {
        return status;
    }
    if (out == NULL) {
        return DC_STATUS_INVALIDARGS;
    }
    dcsim_computer_t* computer = dcsim_registry_find_bluetooth(address);
    if (computer == NULL) {
        /* An absent peer makes connect() fail with "host is down", which
         * libdivecomputer reports as an I/O error. */
        DCSIM_ERROR(context, "Failed to connect to the Bluetooth device %012" PRIx64 ".",
                    (uint64_t)address);
        return DC_STATUS_IO;
    }
    return dcsim_iostream_new(out, DC_TRANSPORT_BLUETOOTH, computer);
}
