#ifndef DCSIM_PLATFORM_H
#define DCSIM_PLATFORM_H

#include <time.h>

/* The few operating-system calls dcsim needs, kept in one place. */

/* libdivecomputer builds IrDA only on Windows: elsewhere the header it needs
 * (linux/irda.h) is gone from current systems, and the IrDA calls answer
 * DC_STATUS_UNSUPPORTED. */
#ifdef _WIN32
#define DCSIM_HAS_IRDA 1
#else
#define DCSIM_HAS_IRDA 0
#endif

void dcsim_sleep_ms(unsigned int ms);

void dcsim_yield(void);

/* Nonzero if path names an existing regular file (not a device node, which
 * could block on read). */
int dcsim_is_regular_file(const char* path);

/* Nonzero if something of any kind exists at path. */
int dcsim_path_exists(const char* path);

/* Thread-safe localtime(); 0 on success. */
int dcsim_localtime(time_t t, struct tm* out);

#endif
