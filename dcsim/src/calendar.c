#include "calendar.h"

static long long floor_div(long long a, long long b) {
    return a / b - (a % b != 0 && (a < 0) != (b < 0));
}

static long long days_from_civil(long long year, int month, int day) {
    year -= month <= 2;
    long long era = floor_div(year, 400);
    long long yoe = year - era * 400;
    long long doy = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
    long long doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

static void civil_from_days(long long days, int* year, int* month, int* day) {
    days += 719468;
    long long era = floor_div(days, 146097);
    long long doe = days - era * 146097;
    long long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    long long doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    long long mp = (5 * doy + 2) / 153;
    int m = (int)(mp < 10 ? mp + 3 : mp - 9);
    *year = (int)(yoe + era * 400 + (m <= 2));
    *month = m;
    *day = (int)(doy - (153 * mp + 2) / 5 + 1);
}

void dcsim_ticks_split(dc_ticks_t ticks, dc_datetime_t* out) {
    long long days = floor_div(ticks, 86400);
    long long seconds = ticks - days * 86400;
    civil_from_days(days, &out->year, &out->month, &out->day);
    out->hour = (int)(seconds / 3600);
    out->minute = (int)(seconds / 60 % 60);
    out->second = (int)(seconds % 60);
}

dc_ticks_t dcsim_ticks_join(long long year, long long month, long long day, long long hour,
                            long long minute, long long second) {
    long long months = year * 12 + (month - 1);
    long long y = floor_div(months, 12);
    int m = (int)(months - y * 12) + 1;
    long long days = days_from_civil(y, m, 1) + (day - 1);
    return ((days * 24 + hour) * 60 + minute) * 60 + second;
}
