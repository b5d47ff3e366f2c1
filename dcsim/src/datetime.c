#include <libdivecomputer/datetime.h>
#include <time.h>

#include "calendar.h"
#include "calls.h"
#include "platform.h"

dc_ticks_t dc_datetime_now(void) {
    if (DCSIM_ENTER(dc_datetime_now) != DC_STATUS_SUCCESS) {
        return -1;
    }
    return (dc_ticks_t)time(NULL);
}

dc_datetime_t* dc_datetime_gmtime(dc_datetime_t* result, dc_ticks_t ticks) {
    if (DCSIM_ENTER(dc_datetime_gmtime) != DC_STATUS_SUCCESS || result == NULL) {
        return NULL;
    }
    dcsim_ticks_split(ticks, result);
    result->timezone = 0;
    return result;
}

dc_datetime_t* dc_datetime_localtime(dc_datetime_t* result, dc_ticks_t ticks) {
    if (DCSIM_ENTER(dc_datetime_localtime) != DC_STATUS_SUCCESS || result == NULL) {
        return NULL;
    }
    struct tm tm;
    if ((dc_ticks_t)(time_t)ticks != ticks || dcsim_localtime((time_t)ticks, &tm) != 0) {
        return NULL;
    }
    result->year = tm.tm_year + 1900;
    result->month = tm.tm_mon + 1;
    result->day = tm.tm_mday;
    result->hour = tm.tm_hour;
    result->minute = tm.tm_min;
    result->second = tm.tm_sec;
    result->timezone = (int)(dcsim_ticks_join(result->year, result->month, result->day,
                                              result->hour, result->minute, result->second) -
                             ticks);
    return result;
}

dc_ticks_t dc_datetime_mktime(const dc_datetime_t* dt) {
    if (DCSIM_ENTER(dc_datetime_mktime) != DC_STATUS_SUCCESS || dt == NULL) {
        return -1;
    }
    dc_ticks_t ticks =
        dcsim_ticks_join(dt->year, dt->month, dt->day, dt->hour, dt->minute, dt->second);
    if (dt->timezone != DC_TIMEZONE_NONE) {
        ticks -= dt->timezone;
    }
    return ticks;
}
