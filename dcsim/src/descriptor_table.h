#ifndef DCSIM_DESCRIPTOR_TABLE_H
#define DCSIM_DESCRIPTOR_TABLE_H

#include <stdatomic.h>
#include <stddef.h>

typedef struct dcsim_table_entry_t {
    char* vendor;
    char* product;
    unsigned int family;
    unsigned int model;
    unsigned int transports;
} dcsim_table_entry_t;

/* An immutable snapshot of the descriptor table. Changing the table swaps in
 * a new snapshot, so an iterator keeps walking the one it started on. */
typedef struct dcsim_table_t {
    atomic_int refs;
    size_t count;
    dcsim_table_entry_t* entries;
} dcsim_table_t;

dcsim_table_t* dcsim_table_acquire(void);
void dcsim_table_release(dcsim_table_t* table);

#endif
