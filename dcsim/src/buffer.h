#ifndef DCSIM_BUFFER_H
#define DCSIM_BUFFER_H

#include <libdivecomputer/buffer.h>

/* What the backends do to the caller's buffer, without counting as the
 * application's calls (no fault injection, no call count). */
void dcsim_buffer_clear(dc_buffer_t* buffer);
/* 1 on success, 0 when out of memory. */
int dcsim_buffer_append(dc_buffer_t* buffer, const unsigned char data[], size_t size);

#endif
