#ifndef DCSIM_LASTOPEN_H
#define DCSIM_LASTOPEN_H

#include <libdivecomputer/common.h>

void dcsim_last_open_record(const char* vendor, const char* product, unsigned int model,
                            dc_transport_t transport);

void dcsim_last_open_reset(void);

#endif
