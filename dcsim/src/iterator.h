#ifndef DCSIM_ITERATOR_H
#define DCSIM_ITERATOR_H

#include <libdivecomputer/iterator.h>
#include <stddef.h>

typedef struct dcsim_iterator_vtable_t {
    /* Stores the next item through `item` and answers SUCCESS, or DONE. */
    dc_status_t (*next)(dc_iterator_t* iterator, void* item);
    void (*destroy)(dc_iterator_t* iterator);
} dcsim_iterator_vtable_t;

/* The common head of every iterator. */
struct dc_iterator_t {
    const dcsim_iterator_vtable_t* vtable;
};

/* Allocates a zeroed iterator of `size` bytes (its struct starts with
 * dc_iterator_t) and counts it as live; NULL when out of memory. */
dc_iterator_t* dcsim_iterator_alloc(size_t size, const dcsim_iterator_vtable_t* vtable);

#endif
