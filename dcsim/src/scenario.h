#ifndef DCSIM_SCENARIO_H
#define DCSIM_SCENARIO_H

#include <stddef.h>

#include "computer.h"

/* Builds a computer from scenario text (format in dcsim/SCENARIO.md). On
 * error answers NULL with "ORIGIN:LINE: reason" (or "line LINE: reason" when
 * origin is NULL) set for dcsim_last_error(). */
dcsim_computer_t* dcsim_scenario_parse(const char* text, size_t size, const char* origin);

#endif
