#include "lastopen.h"

#include <stdio.h>

#include "dcsim.h"
#include "spinlock.h"

static dcsim_spinlock_t lock = DCSIM_SPINLOCK_INIT;
static struct {
    int valid;
    char vendor[128];
    char product[128];
    unsigned int model;
    unsigned int transport;
} last;

void dcsim_last_open_record(const char* vendor, const char* product, unsigned int model,
                            dc_transport_t transport) {
    dcsim_spin_lock(&lock);
    last.valid = 1;
    snprintf(last.vendor, sizeof last.vendor, "%s", vendor);
    snprintf(last.product, sizeof last.product, "%s", product);
    last.model = model;
    last.transport = (unsigned int)transport;
    dcsim_spin_unlock(&lock);
}

void dcsim_last_open_reset(void) {
    dcsim_spin_lock(&lock);
    last.valid = 0;
    dcsim_spin_unlock(&lock);
}

int dcsim_last_open(char* vendor, size_t vendor_size, char* product, size_t product_size,
                    unsigned int* model, unsigned int* transport) {
    dcsim_spin_lock(&lock);
    int valid = last.valid;
    if (valid) {
        if (vendor != NULL && vendor_size > 0) {
            snprintf(vendor, vendor_size, "%s", last.vendor);
        }
        if (product != NULL && product_size > 0) {
            snprintf(product, product_size, "%s", last.product);
        }
        if (model != NULL) {
            *model = last.model;
        }
        if (transport != NULL) {
            *transport = last.transport;
        }
    }
    dcsim_spin_unlock(&lock);
    return valid ? 0 : -1;
}
