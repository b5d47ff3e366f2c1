#include "transport_iterator.h"

#include <stdlib.h>

#include "descriptor_filter.h"
#include "iterator.h"
#include "live.h"
#include "registry.h"

typedef struct transport_iterator_t {
    dc_iterator_t base;
    dcsim_computer_t** computers;
    int count;
    int index;
    dcsim_item_fn item;
} transport_iterator_t;

static dc_status_t transport_iterator_next(dc_iterator_t* base, void* out) {
    transport_iterator_t* iterator = (transport_iterator_t*)base;
    if (iterator->index >= iterator->count) {
        return DC_STATUS_DONE;
    }
    void* item = iterator->item(iterator->computers[iterator->index]);
    if (item == NULL) {
        return DC_STATUS_NOMEMORY;
    }
    iterator->index++;
    *(void**)out = item;
    return DC_STATUS_SUCCESS;
}

static void transport_iterator_destroy(dc_iterator_t* base) {
    transport_iterator_t* iterator = (transport_iterator_t*)base;
    dcsim_registry_list_free(iterator->computers, iterator->count);
}

/* What libdivecomputer's enumeration hands dc_descriptor_filter() for the
 * computer: its USB ids, or the name its item carries. */
static const void* filter_data(const dcsim_computer_t* c, dc_transport_t transport,
                               dcsim_usb_ids_t* ids) {
    switch (transport) {
        case DC_TRANSPORT_USB:
            ids->vid = (unsigned short)c->usb_vid;
            ids->pid = (unsigned short)c->usb_pid;
            return ids;
        case DC_TRANSPORT_USBHID:
            ids->vid = (unsigned short)c->usbhid_vid;
            ids->pid = (unsigned short)c->usbhid_pid;
            return ids;
        case DC_TRANSPORT_IRDA:
            return c->irda_name != NULL ? c->irda_name : "";
        case DC_TRANSPORT_BLUETOOTH:
            return c->bluetooth_name != NULL ? c->bluetooth_name : "";
        default:
            return c->serial_port;
    }
}

static const dcsim_iterator_vtable_t vtable = {transport_iterator_next, transport_iterator_destroy};

dc_status_t dcsim_transport_iterator_new(dc_iterator_t** out, dc_transport_t transport,
                                         const dc_descriptor_t* descriptor, dcsim_item_fn item) {
    if (out == NULL) {
        return DC_STATUS_INVALIDARGS;
    }
    dcsim_computer_t** computers;
    int count = dcsim_registry_list(transport, &computers);
    if (count < 0) {
        return DC_STATUS_NOMEMORY;
    }
    dcsim_usb_ids_t ids;
    int kept = 0;
    for (int i = 0; i < count; i++) {
        if (dcsim_descriptor_filter(descriptor, transport,
                                    filter_data(computers[i], transport, &ids))) {
            computers[kept++] = computers[i];
        } else {
            dcsim_computer_release(computers[i]);
        }
    }
    transport_iterator_t* iterator =
        (transport_iterator_t*)dcsim_iterator_alloc(sizeof *iterator, &vtable);
    if (iterator == NULL) {
        dcsim_registry_list_free(computers, kept);
        return DC_STATUS_NOMEMORY;
    }
    iterator->computers = computers;
    iterator->count = kept;
    iterator->item = item;
    *out = &iterator->base;
    return DC_STATUS_SUCCESS;
}

void* dcsim_item_alloc(size_t size) {
    void* item = calloc(1, size);
    if (item != NULL) {
        dcsim_live_add(DCSIM_ITERATOR_ITEM, 1);
    }
    return item;
}

void dcsim_item_free(void* item) {
    if (item != NULL) {
        free(item);
        dcsim_live_add(DCSIM_ITERATOR_ITEM, -1);
    }
}
