#include <libdivecomputer/irda.h>
#include <string.h>

#include "calls.h"
#include "context.h"
#include "iostream.h"
#include "platform.h"
#include "registry.h"
#include "transport_iterator.h"

struct dc_irda_device_t {
    unsigned int address;
    const char* name;
};

#if DCSIM_HAS_IRDA
static void* irda_item(const dcsim_computer_t* computer) {
    const char* name = computer->irda_name != NULL ? computer->irda_name : "";
    size_t length = strlen(name) + 1;
    dc_irda_device_t* item = dcsim_item_alloc(sizeof *item + length);
    if (item != NULL) {
        char* copy = (char*)(item + 1);
        memcpy(copy, name, length);
        item->address = computer->irda_address;
        item->name = copy;
    }
    return item;
}
#endif

unsigned int dc_irda_device_get_address(dc_irda_device_t* device) {
    if (DCSIM_ENTER(dc_irda_device_get_address) != DC_STATUS_SUCCESS || device == NULL) {
        return 0;
    }
    return device->address;
}

const char* dc_irda_device_get_name(dc_irda_device_t* device) {
    if (DCSIM_ENTER(dc_irda_device_get_name) != DC_STATUS_SUCCESS || device == NULL) {
        return NULL;
    }
    return device->name;
}

void dc_irda_device_free(dc_irda_device_t* device) {
    DCSIM_ENTER(dc_irda_device_free);
    dcsim_item_free(device);
}

dc_status_t dc_irda_iterator_new(dc_iterator_t** out, dc_context_t* context,
                                 dc_descriptor_t* descriptor) {
    (void)context;
    dc_status_t status = DCSIM_ENTER(dc_irda_iterator_new);
    if (status != DC_STATUS_SUCCESS) {
        return status;
    }
#if DCSIM_HAS_IRDA
    return dcsim_transport_iterator_new(out, DC_TRANSPORT_IRDA, descriptor, irda_item);
#else
    (void)out;
    (void)descriptor;
    return DC_STATUS_UNSUPPORTED;
#endif
}

dc_status_t dc_irda_open(dc_iostream_t** out, dc_context_t* context, unsigned int address,
                         unsigned int lsap) {
    (void)lsap;
    dc_status_t status = DCSIM_ENTER(dc_irda_open);
    if (status != DC_STATUS_SUCCESS) {
        return status;
    }
#if !DCSIM_HAS_IRDA
    (void)out;
    (void)context;
    (void)address;
    return DC_STATUS_UNSUPPORTED;
#else
    if (out == NULL) {
        return DC_STATUS_INVALIDARGS;
    }
    dcsim_computer_t* computer = dcsim_registry_find_irda(address);
    if (computer == NULL) {
        /* A connect to an absent peer fails with a host error, which
         * libdivecomputer reports as an I/O error. */
        DCSIM_ERROR(context, "Failed to connect to the IrDA device %08x.", address);
        return DC_STATUS_IO;
    }
    return dcsim_iostream_new(out, DC_TRANSPORT_IRDA, computer);
#endif
}
