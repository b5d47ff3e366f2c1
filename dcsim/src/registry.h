#ifndef DCSIM_REGISTRY_H
#define DCSIM_REGISTRY_H

#include <libdivecomputer/bluetooth.h>

#include "computer.h"

/* The attached simulated computers. Every lookup answers a reference the
 * caller releases with dcsim_computer_release(), or NULL. */

/* The built-in computer; NULL only when out of memory. */
dcsim_computer_t* dcsim_registry_builtin(void);

/* DCSIM_BUILTIN_PORT or the serial port of an attached computer. */
dcsim_computer_t* dcsim_registry_find_serial(const char* name);
/* Still attached? (A USB item names its computer by id.) */
dcsim_computer_t* dcsim_registry_find_id(unsigned int id);
dcsim_computer_t* dcsim_registry_find_irda(unsigned int address);
dcsim_computer_t* dcsim_registry_find_bluetooth(dc_bluetooth_address_t address);
dcsim_computer_t* dcsim_registry_find_bluetooth_name(const char* name);

/* References to every attached computer reachable on the transport (the
 * built-in one included for serial), in attach order. Answers the count, or
 * -1 when out of memory. */
int dcsim_registry_list(dc_transport_t transport, dcsim_computer_t*** computers);
void dcsim_registry_list_free(dcsim_computer_t** computers, int count);

#endif
