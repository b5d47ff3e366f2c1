#include <libdivecomputer/serial.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "calls.h"
#include "context.h"
#include "dcsim.h"
#include "iostream.h"
#include "platform.h"
#include "registry.h"
#include "scenario.h"
#include "textfile.h"
#include "transport_iterator.h"

struct dc_serial_device_t {
    const char* name;
};

static void* serial_item(const dcsim_computer_t* computer) {
    size_t length = strlen(computer->serial_port) + 1;
    dc_serial_device_t* item = dcsim_item_alloc(sizeof *item + length);
    if (item != NULL) {
        char* name = (char*)(item + 1);
        memcpy(name, computer->serial_port, length);
        item->name = name;
    }
    return item;
}

const char* dc_serial_device_get_name(dc_serial_device_t* device) {
    if (DCSIM_ENTER(dc_serial_device_get_name) != DC_STATUS_SUCCESS || device == NULL) {
        return NULL;
    }
    return device->name;
}

void dc_serial_device_free(dc_serial_device_t* device) {
    DCSIM_ENTER(dc_serial_device_free);
    dcsim_item_free(device);
}

dc_status_t dc_serial_iterator_new(dc_iterator_t** out, dc_context_t* context,
                                   dc_descriptor_t* descriptor) {
    (void)context;
    dc_status_t status = DCSIM_ENTER(dc_serial_iterator_new);
    if (status != DC_STATUS_SUCCESS) {
        return status;
    }
    return dcsim_transport_iterator_new(out, DC_TRANSPORT_SERIAL, descriptor, serial_item);
}

/* A regular file at the port's path holds the scenario of the computer. */
static dc_status_t open_scenario_file(dc_context_t* context, const char* path,
                                      dcsim_computer_t** out) {
    char* text;
    size_t size;
    dcsim_computer_t* computer = NULL;
    if (dcsim_read_file(path, &text, &size)) {
        computer = dcsim_scenario_parse(text, size, path);
        free(text);
    }
    if (computer == NULL) {
        fprintf(stderr, "%s\n", dcsim_last_error());
        DCSIM_ERROR(context, "%s", dcsim_last_error());
        return DC_STATUS_IO;
    }
    *out = computer;
    return DC_STATUS_SUCCESS;
}

dc_status_t dc_serial_open(dc_iostream_t** out, dc_context_t* context, const char* name) {
    dc_status_t status = DCSIM_ENTER(dc_serial_open);
    if (status != DC_STATUS_SUCCESS) {
        return status;
    }
    if (out == NULL || name == NULL) {
        return DC_STATUS_INVALIDARGS;
    }
    dcsim_computer_t* computer = dcsim_registry_find_serial(name);
    if (computer == NULL && dcsim_is_regular_file(name)) {
        status = open_scenario_file(context, name, &computer);
        if (status != DC_STATUS_SUCCESS) {
            return status;
        }
    }
    if (computer == NULL && dcsim_path_exists(name)) {
        /* A device node or directory that is no terminal: it cannot be
         * opened or set up as a serial line. */
        DCSIM_ERROR(context, "Failed to set up the serial port '%s' (Not a terminal).", name);
        return DC_STATUS_IO;
    }
    if (computer == NULL) {
        DCSIM_ERROR(context, "Failed to open the serial port '%s' (No such file or directory).",
                    name);
        return DC_STATUS_NODEVICE;
    }
    return dcsim_iostream_new(out, DC_TRANSPORT_SERIAL, computer);
}
