#ifndef DCSIM_PLATFORM_H
#define DCSIM_PLATFORM_H

#include <time.h>

/* The few operating-system calls dcsim needs, kept in one place. */

void dcsim_sleep_ms(unsigned int ms);

void dcsim_yield(void);

/* Nonzero if path names an existing regular file (not a device node, which
 * could block on read). */
int dcsim_is_regular_file(const char* path);

/* Thread-safe localtime(); 0 on success. */
int dcsim_localtime(time_t t, struct tm* out);

#endif
