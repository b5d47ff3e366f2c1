#ifndef DCSIM_TRANSPORT_ITERATOR_H
#define DCSIM_TRANSPORT_ITERATOR_H

#include <libdivecomputer/descriptor.h>

#include "computer.h"

/* Builds the heap item the iterator hands out for a computer; NULL when out
 * of memory. The item is counted as a live iterator item. */
typedef void* (*dcsim_item_fn)(const dcsim_computer_t* computer);

/* An iterator over the attached computers reachable on the transport that
 * dc_descriptor_filter() lets through for the descriptor (if any). */
dc_status_t dcsim_transport_iterator_new(dc_iterator_t** out, dc_transport_t transport,
                                         const dc_descriptor_t* descriptor, dcsim_item_fn item);

/* Allocates an item of `size` bytes and counts it; NULL when out of memory. */
void* dcsim_item_alloc(size_t size);
void dcsim_item_free(void* item);

#endif
