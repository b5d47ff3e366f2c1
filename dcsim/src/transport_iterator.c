#include "transport_iterator.h"

#include <stdlib.h>

#include "descriptor.h"
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
    /* Keep what the descriptor lets through: it must list the transport, and
     * beyond serial the computer must answer to it. */
    int kept = 0;
    for (int i = 0; i < count; i++) {
        int pass = descriptor == NULL ||
                   ((descriptor->transports & transport) &&
                    (transport == DC_TRANSPORT_SERIAL ||
                     dcsim_computer_answers(computers[i], descriptor->vendor, descriptor->product,
                                            (unsigned int)descriptor->family, descriptor->model)));
        if (pass) {
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
