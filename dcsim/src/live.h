#ifndef DCSIM_LIVE_H
#define DCSIM_LIVE_H

#include "dcsim.h"

void dcsim_live_add(dcsim_handle_t kind, int delta);

#endif
