#include <libdivecomputer/descriptor.h>

#include "calls.h"
#include "descriptor.h"
#include "descriptor_table.h"
#include "iterator.h"

typedef struct descriptor_iterator_t {
    dc_iterator_t base;
    dcsim_table_t* table;
    size_t index;
} descriptor_iterator_t;

static dc_status_t descriptor_iterator_next(dc_iterator_t* base, void* item) {
    descriptor_iterator_t* iterator = (descriptor_iterator_t*)base;
    if (iterator->index >= iterator->table->count) {
        return DC_STATUS_DONE;
    }
    const dcsim_table_entry_t* entry = &iterator->table->entries[iterator->index];
    dc_descriptor_t* descriptor = dcsim_descriptor_new(entry->vendor, entry->product, entry->family,
                                                       entry->model, entry->transports);
    if (descriptor == NULL) {
        return DC_STATUS_NOMEMORY;
    }
    iterator->index++;
    *(dc_descriptor_t**)item = descriptor;
    return DC_STATUS_SUCCESS;
}

static void descriptor_iterator_destroy(dc_iterator_t* base) {
    dcsim_table_release(((descriptor_iterator_t*)base)->table);
}

static const dcsim_iterator_vtable_t vtable = {descriptor_iterator_next,
                                               descriptor_iterator_destroy};

static dc_status_t iterator_new(dc_iterator_t** out) {
    if (out == NULL) {
        return DC_STATUS_INVALIDARGS;
    }
    dcsim_table_t* table = dcsim_table_acquire();
    if (table == NULL) {
        return DC_STATUS_NOMEMORY;
    }
    descriptor_iterator_t* iterator =
        (descriptor_iterator_t*)dcsim_iterator_alloc(sizeof *iterator, &vtable);
    if (iterator == NULL) {
        dcsim_table_release(table);
        return DC_STATUS_NOMEMORY;
    }
    iterator->table = table;
    *out = &iterator->base;
    return DC_STATUS_SUCCESS;
}

#ifdef DCSIM_API_0_8

dc_status_t dc_descriptor_iterator(dc_iterator_t** out) {
    dc_status_t status = DCSIM_ENTER(dc_descriptor_iterator);
    return status != DC_STATUS_SUCCESS ? status : iterator_new(out);
}

#else

dc_status_t dc_descriptor_iterator_new(dc_iterator_t** out, dc_context_t* context) {
    (void)context;
    dc_status_t status = DCSIM_ENTER(dc_descriptor_iterator_new);
    return status != DC_STATUS_SUCCESS ? status : iterator_new(out);
}

#endif
