#ifndef DCSIM_BUILTIN_COMPUTER_H
#define DCSIM_BUILTIN_COMPUTER_H

#include "computer.h"

/* A new reference to a freshly built default computer (DCSIM_BUILTIN_PORT):
 * a two-week dive trip. NULL only when out of memory. */
dcsim_computer_t* dcsim_builtin_computer(void);

#endif
