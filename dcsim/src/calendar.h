#ifndef DCSIM_CALENDAR_H
#define DCSIM_CALENDAR_H

#include <libdivecomputer/datetime.h>

/* Calendar arithmetic by hand: timegm() is not portable and gmtime() is not
 * thread-safe. Ticks are seconds since 1970-01-01 00:00 in the proleptic
 * Gregorian calendar, without leap seconds. */

/* Sets year to second of `out` (not the timezone). */
void dcsim_ticks_split(dc_ticks_t ticks, dc_datetime_t* out);

/* Out-of-range fields carry over as with mktime(). */
dc_ticks_t dcsim_ticks_join(long long year, long long month, long long day, long long hour,
                            long long minute, long long second);

#endif
