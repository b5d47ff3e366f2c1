#include <libdivecomputer/usb.h>

#include "calls.h"
#include "context.h"
#include "iostream.h"
#include "registry.h"
#include "transport_iterator.h"

struct dc_usb_device_t {
    unsigned int vid;
    unsigned int pid;
    unsigned int id; /* of the computer, which may be detached meanwhile */
};

static void* usb_item(const dcsim_computer_t* computer) {
    dc_usb_device_t* item = dcsim_item_alloc(sizeof *item);
    if (item != NULL) {
        item->vid = computer->usb_vid;
        item->pid = computer->usb_pid;
        item->id = computer->id;
    }
    return item;
}

unsigned int dc_usb_device_get_vid(dc_usb_device_t* device) {
    if (DCSIM_ENTER(dc_usb_device_get_vid) != DC_STATUS_SUCCESS || device == NULL) {
        return 0;
    }
    return device->vid;
}

unsigned int dc_usb_device_get_pid(dc_usb_device_t* device) {
    if (DCSIM_ENTER(dc_usb_device_get_pid) != DC_STATUS_SUCCESS || device == NULL) {
        return 0;
    }
    return device->pid;
}

void dc_usb_device_free(dc_usb_device_t* device) {
    DCSIM_ENTER(dc_usb_device_free);
    dcsim_item_free(device);
}

dc_status_t dc_usb_iterator_new(dc_iterator_t** out, dc_context_t* context,
                                dc_descriptor_t* descriptor) {
    (void)context;
    dc_status_t status = DCSIM_ENTER(dc_usb_iterator_new);
    if (status != DC_STATUS_SUCCESS) {
        return status;
    }
    return dcsim_transport_iterator_new(out, DC_TRANSPORT_USB, descriptor, usb_item);
}

dc_status_t dc_usb_open(dc_iostream_t** out, dc_context_t* context, dc_usb_device_t* device) {
    dc_status_t status = DCSIM_ENTER(dc_usb_open);
    if (status != DC_STATUS_SUCCESS) {
        return status;
    }
    if (out == NULL || device == NULL) {
        return DC_STATUS_INVALIDARGS;
    }
    dcsim_computer_t* computer = dcsim_registry_find_id(device->id);
    if (computer == NULL || !computer->has_usb) {
        dcsim_computer_release(computer);
        DCSIM_ERROR(context, "Failed to open the usb device %04x:%04x (No such device).",
                    device->vid, device->pid);
        return DC_STATUS_NODEVICE;
    }
    return dcsim_iostream_new(out, DC_TRANSPORT_USB, computer);
}
