#include "iterator.h"

#include <stdlib.h>

#include "calls.h"
#include "live.h"

dc_iterator_t* dcsim_iterator_alloc(size_t size, const dcsim_iterator_vtable_t* vtable) {
    dc_iterator_t* iterator = calloc(1, size);
    if (iterator == NULL) {
        return NULL;
    }
    iterator->vtable = vtable;
    dcsim_live_add(DCSIM_ITERATOR, 1);
    return iterator;
}

dc_status_t dc_iterator_next(dc_iterator_t* iterator, void* item) {
    dc_status_t status = DCSIM_ENTER(dc_iterator_next);
    if (status != DC_STATUS_SUCCESS) {
        return status;
    }
    if (iterator == NULL) {
        return DC_STATUS_UNSUPPORTED;
    }
    if (item == NULL) {
        return DC_STATUS_INVALIDARGS;
    }
    return iterator->vtable->next(iterator, item);
}

dc_status_t dc_iterator_free(dc_iterator_t* iterator) {
    dc_status_t status = DCSIM_ENTER(dc_iterator_free);
    if (iterator != NULL) {
        iterator->vtable->destroy(iterator);
        free(iterator);
        dcsim_live_add(DCSIM_ITERATOR, -1);
    }
    return status;
}
