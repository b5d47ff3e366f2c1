#ifndef DCSIM_SPINLOCK_H
#define DCSIM_SPINLOCK_H

#include <stdatomic.h>

#include "platform.h"

/* Guards short critical sections (a table swap, a list append); C11 threads
 * are missing on some of the toolchains the product is built with. */
typedef atomic_flag dcsim_spinlock_t;

#define DCSIM_SPINLOCK_INIT ATOMIC_FLAG_INIT

static inline void dcsim_spin_lock(dcsim_spinlock_t* lock) {
    while (atomic_flag_test_and_set_explicit(lock, memory_order_acquire)) {
        dcsim_yield();
    }
}

static inline void dcsim_spin_unlock(dcsim_spinlock_t* lock) {
    atomic_flag_clear_explicit(lock, memory_order_release);
}

#endif
