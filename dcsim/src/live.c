#include "live.h"

#include <stdatomic.h>

static atomic_int live[DCSIM_HANDLE_KINDS];

void dcsim_live_add(dcsim_handle_t kind, int delta) {
    atomic_fetch_add(&live[kind], delta);
}

int dcsim_live(dcsim_handle_t kind) {
    if ((unsigned int)kind >= DCSIM_HANDLE_KINDS) {
        return -1;
    }
    return atomic_load(&live[kind]);
}

int dcsim_live_total(void) {
    int total = 0;
    for (int kind = 0; kind < DCSIM_HANDLE_KINDS; kind++) {
        total += atomic_load(&live[kind]);
    }
    return total;
}

const char* dcsim_handle_name(dcsim_handle_t kind) {
    static const char* const names[DCSIM_HANDLE_KINDS] = {
        "context",  "iterator", "descriptor", "device",
        "iostream", "parser",   "buffer",     "iterator item",
    };
    if ((unsigned int)kind >= DCSIM_HANDLE_KINDS) {
        return "unknown";
    }
    return names[kind];
}
