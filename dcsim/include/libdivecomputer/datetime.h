#ifndef DC_DATETIME_H
#define DC_DATETIME_H

#include <limits.h>

#ifdef __cplusplus
extern "C" {
#endif

#define DC_TIMEZONE_NONE INT_MIN

#ifdef _MSC_VER
typedef __int64 dc_ticks_t;
#else
typedef long long int dc_ticks_t;
#endif

typedef struct dc_datetime_t {
    int year;
    int month;
    int day;
    int hour;
    int minute;
    int second;
    int timezone;
} dc_datetime_t;

dc_ticks_t dc_datetime_now(void);

dc_datetime_t* dc_datetime_localtime(dc_datetime_t* result, dc_ticks_t ticks);

dc_datetime_t* dc_datetime_gmtime(dc_datetime_t* result, dc_ticks_t ticks);

dc_ticks_t dc_datetime_mktime(const dc_datetime_t* dt);

#ifdef __cplusplus
}
#endif

#endif
