#include "calls.h"

#include <stdatomic.h>
#include <stdlib.h>
#include <string.h>

#include "dcsim.h"
#include "lasterror.h"
#include "spinlock.h"

static const struct {
    const char* name;
    int can_fail;
} functions[DCSIM_FUNCTION_COUNT] = {
#define DCSIM_FUNCTION_ENTRY(name, can_fail) {#name, can_fail},
    DCSIM_FUNCTIONS(DCSIM_FUNCTION_ENTRY)
#undef DCSIM_FUNCTION_ENTRY
};

typedef struct fault_t {
    dcsim_function_t function;
    unsigned int call; /* value of the call counter that triggers it */
    dc_status_t status;
} fault_t;

static atomic_uint calls[DCSIM_FUNCTION_COUNT];

static dcsim_spinlock_t lock = DCSIM_SPINLOCK_INIT;
static fault_t* faults;
static size_t nfaults, capacity;
/* Lets every call skip the lock while no fault is armed. */
static atomic_size_t armed;

static int lookup(const char* name) {
    if (name == NULL) {
        return -1;
    }
    for (int i = 0; i < DCSIM_FUNCTION_COUNT; i++) {
        if (strcmp(functions[i].name, name) == 0) {
            return i;
        }
    }
    return -1;
}

dc_status_t dcsim_enter(dcsim_function_t function) {
    unsigned int call = atomic_fetch_add(&calls[function], 1) + 1;
    if (atomic_load(&armed) == 0) {
        return DC_STATUS_SUCCESS;
    }
    dc_status_t status = DC_STATUS_SUCCESS;
    dcsim_spin_lock(&lock);
    for (size_t i = 0; i < nfaults; i++) {
        if (faults[i].function == function && faults[i].call == call) {
            status = faults[i].status;
            faults[i] = faults[--nfaults];
            atomic_fetch_sub(&armed, 1);
            break;
        }
    }
    dcsim_spin_unlock(&lock);
    return status;
}

int dcsim_fault(const char* function, unsigned int nth, dc_status_t status) {
    int index = lookup(function);
    if (index < 0) {
        dcsim_set_error("dcsim_fault: no function named '%s'", function ? function : "(null)");
        return -1;
    }
    if (!functions[index].can_fail) {
        dcsim_set_error("dcsim_fault: %s returns nothing, so it cannot fail", function);
        return -1;
    }
    if (nth == 0) {
        dcsim_set_error("dcsim_fault: calls are counted from 1");
        return -1;
    }
    if (status == DC_STATUS_SUCCESS) {
        dcsim_set_error("dcsim_fault: DC_STATUS_SUCCESS is not a failure");
        return -1;
    }
    dcsim_spin_lock(&lock);
    if (nfaults == capacity) {
        size_t grown = capacity ? 2 * capacity : 16;
        fault_t* larger = realloc(faults, grown * sizeof *larger);
        if (larger == NULL) {
            dcsim_spin_unlock(&lock);
            dcsim_set_error("dcsim_fault: out of memory");
            return -1;
        }
        faults = larger;
        capacity = grown;
    }
    faults[nfaults].function = (dcsim_function_t)index;
    faults[nfaults].call = atomic_load(&calls[index]) + nth;
    faults[nfaults].status = status;
    nfaults++;
    atomic_fetch_add(&armed, 1);
    dcsim_spin_unlock(&lock);
    return 0;
}

void dcsim_faults_clear(void) {
    dcsim_spin_lock(&lock);
    nfaults = 0;
    atomic_store(&armed, 0);
    dcsim_spin_unlock(&lock);
}

unsigned int dcsim_calls(const char* function) {
    int index = lookup(function);
    return index < 0 ? 0 : atomic_load(&calls[index]);
}

void dcsim_calls_reset(void) {
    for (int i = 0; i < DCSIM_FUNCTION_COUNT; i++) {
        atomic_store(&calls[i], 0);
    }
}
