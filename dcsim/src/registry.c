#include "registry.h"

#include <stdlib.h>
#include <string.h>

#include "builtin_computer.h"
#include "dcsim.h"
#include "lasterror.h"
#include "scenario.h"
#include "spinlock.h"
#include "textfile.h"

static dcsim_spinlock_t lock = DCSIM_SPINLOCK_INIT;
static dcsim_computer_t** attached;
static size_t nattached, capacity;
static unsigned int next_id = 1;
static dcsim_computer_t* builtin;

dcsim_computer_t* dcsim_registry_builtin(void) {
    dcsim_spin_lock(&lock);
    dcsim_computer_t* computer = dcsim_computer_acquire(builtin);
    dcsim_spin_unlock(&lock);
    if (computer != NULL) {
        return computer;
    }
    /* First use. A racing thread may build one too; the first one installed
     * wins and the other is dropped. */
    computer = dcsim_builtin_computer();
    if (computer == NULL) {
        return NULL;
    }
    dcsim_spin_lock(&lock);
    if (builtin == NULL) {
        builtin = computer;
        dcsim_computer_acquire(computer);
        dcsim_spin_unlock(&lock);
        return computer;
    }
    dcsim_computer_t* winner = dcsim_computer_acquire(builtin);
    dcsim_spin_unlock(&lock);
    dcsim_computer_release(computer);
    return winner;
}

/* Where two computers would answer to the same address; NULL if nowhere.
 * Called with the lock held. */
static const char* conflict(const dcsim_computer_t* computer) {
    if (computer->serial_port != NULL && strcmp(computer->serial_port, DCSIM_BUILTIN_PORT) == 0) {
        return "serial port " DCSIM_BUILTIN_PORT " belongs to the built-in computer";
    }
    for (size_t i = 0; i < nattached; i++) {
        const dcsim_computer_t* other = attached[i];
        if (computer->serial_port != NULL && other->serial_port != NULL &&
            strcmp(computer->serial_port, other->serial_port) == 0) {
            return "its serial port is taken by a computer attached before";
        }
        if (computer->has_bluetooth && other->has_bluetooth &&
            computer->bluetooth_address == other->bluetooth_address) {
            return "its Bluetooth address is taken by a computer attached before";
        }
        if (computer->has_irda && other->has_irda &&
            computer->irda_address == other->irda_address) {
            return "its IrDA address is taken by a computer attached before";
        }
    }
    return NULL;
}

static int attach(dcsim_computer_t* computer, const char* origin) {
    dcsim_spin_lock(&lock);
    const char* reason = conflict(computer);
    if (reason == NULL && nattached == capacity) {
        size_t grown = capacity ? 2 * capacity : 8;
        dcsim_computer_t** larger = realloc(attached, grown * sizeof *larger);
        if (larger == NULL) {
            reason = "out of memory";
        } else {
            attached = larger;
            capacity = grown;
        }
    }
    if (reason == NULL) {
        computer->id = next_id++;
        attached[nattached++] = computer;
    }
    dcsim_spin_unlock(&lock);
    if (reason != NULL) {
        dcsim_set_error("%s%scannot attach: %s", origin ? origin : "", origin ? ": " : "", reason);
        dcsim_computer_release(computer);
        return -1;
    }
    return 0;
}

int dcsim_attach(const char* scenario_text) {
    if (scenario_text == NULL) {
        dcsim_set_error("dcsim_attach: no scenario text");
        return -1;
    }
    dcsim_computer_t* computer = dcsim_scenario_parse(scenario_text, strlen(scenario_text), NULL);
    return computer != NULL ? attach(computer, NULL) : -1;
}

int dcsim_attach_file(const char* path) {
    char* text;
    size_t size;
    if (path == NULL) {
        dcsim_set_error("dcsim_attach_file: no path");
        return -1;
    }
    if (!dcsim_read_file(path, &text, &size)) {
        return -1;
    }
    dcsim_computer_t* computer = dcsim_scenario_parse(text, size, path);
    free(text);
    return computer != NULL ? attach(computer, path) : -1;
}

void dcsim_detach_all(void) {
    dcsim_spin_lock(&lock);
    dcsim_computer_t** list = attached;
    size_t count = nattached;
    attached = NULL;
    nattached = capacity = 0;
    dcsim_spin_unlock(&lock);
    for (size_t i = 0; i < count; i++) {
        dcsim_computer_release(list[i]);
    }
    free(list);
}

/* The first attached computer the predicate accepts, acquired. */
static dcsim_computer_t* find(int (*accept)(const dcsim_computer_t*, const void*),
                              const void* key) {
    dcsim_computer_t* found = NULL;
    dcsim_spin_lock(&lock);
    for (size_t i = 0; i < nattached && found == NULL; i++) {
        if (accept(attached[i], key)) {
            found = dcsim_computer_acquire(attached[i]);
        }
    }
    dcsim_spin_unlock(&lock);
    return found;
}

static int has_serial(const dcsim_computer_t* c, const void* name) {
    return c->serial_port != NULL && strcmp(c->serial_port, name) == 0;
}

static int has_id(const dcsim_computer_t* c, const void* id) {
    return c->id == *(const unsigned int*)id;
}

static int has_irda(const dcsim_computer_t* c, const void* address) {
    return c->has_irda && c->irda_address == *(const unsigned int*)address;
}

static int has_bluetooth(const dcsim_computer_t* c, const void* address) {
    return c->has_bluetooth && c->bluetooth_address == *(const dc_bluetooth_address_t*)address;
}

static int has_bluetooth_name(const dcsim_computer_t* c, const void* name) {
    return c->has_bluetooth && c->bluetooth_name != NULL && strcmp(c->bluetooth_name, name) == 0;
}

dcsim_computer_t* dcsim_registry_find_serial(const char* name) {
    if (strcmp(name, DCSIM_BUILTIN_PORT) == 0) {
        return dcsim_registry_builtin();
    }
    return find(has_serial, name);
}

dcsim_computer_t* dcsim_registry_find_id(unsigned int id) {
    return find(has_id, &id);
}

dcsim_computer_t* dcsim_registry_find_irda(unsigned int address) {
    return find(has_irda, &address);
}

dcsim_computer_t* dcsim_registry_find_bluetooth(dc_bluetooth_address_t address) {
    return find(has_bluetooth, &address);
}

dcsim_computer_t* dcsim_registry_find_bluetooth_name(const char* name) {
    return find(has_bluetooth_name, name);
}

static int reachable(const dcsim_computer_t* c, dc_transport_t transport) {
    switch (transport) {
        case DC_TRANSPORT_SERIAL:
            return c->serial_port != NULL;
        case DC_TRANSPORT_USB:
            return c->has_usb;
        case DC_TRANSPORT_USBHID:
            return c->has_usbhid;
        case DC_TRANSPORT_IRDA:
            return c->has_irda;
        case DC_TRANSPORT_BLUETOOTH:
        case DC_TRANSPORT_BLE:
            return c->has_bluetooth;
        default:
            return 0;
    }
}

int dcsim_registry_list(dc_transport_t transport, dcsim_computer_t*** out) {
    dcsim_computer_t* first = transport == DC_TRANSPORT_SERIAL ? dcsim_registry_builtin() : NULL;
    if (transport == DC_TRANSPORT_SERIAL && first == NULL) {
        return -1;
    }
    dcsim_spin_lock(&lock);
    size_t room = nattached + 1;
    dcsim_computer_t** list = malloc(room * sizeof *list);
    int count = 0;
    if (list != NULL) {
        if (first != NULL) {
            list[count++] = first;
        }
        for (size_t i = 0; i < nattached; i++) {
            if (reachable(attached[i], transport)) {
                list[count++] = dcsim_computer_acquire(attached[i]);
            }
        }
    }
    dcsim_spin_unlock(&lock);
    if (list == NULL) {
        dcsim_computer_release(first);
        return -1;
    }
    *out = list;
    return count;
}

void dcsim_registry_list_free(dcsim_computer_t** computers, int count) {
    for (int i = 0; i < count; i++) {
        dcsim_computer_release(computers[i]);
    }
    free(computers);
}
