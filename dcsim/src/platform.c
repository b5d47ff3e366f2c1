#ifndef _WIN32
#define _POSIX_C_SOURCE 200809L
#endif

#include "platform.h"

#include <sys/stat.h>

#ifdef _WIN32
#include <windows.h>
#else
#include <sched.h>
#endif

void dcsim_sleep_ms(unsigned int ms) {
    if (ms == 0) {
        return;
    }
#ifdef _WIN32
    Sleep(ms);
#else
    struct timespec ts = {(time_t)(ms / 1000), (long)(ms % 1000) * 1000000L};
    while (nanosleep(&ts, &ts) != 0) {
    }
#endif
}

void dcsim_yield(void) {
#ifdef _WIN32
    SwitchToThread();
#else
    sched_yield();
#endif
}

int dcsim_is_regular_file(const char* path) {
    struct stat st;
    if (stat(path, &st) != 0) {
        return 0;
    }
    return S_ISREG(st.st_mode);
}

int dcsim_path_exists(const char* path) {
    struct stat st;
    return stat(path, &st) == 0;
}

int dcsim_localtime(time_t t, struct tm* out) {
#ifdef _WIN32
    return localtime_s(out, &t) == 0 ? 0 : -1;
#else
    return localtime_r(&t, out) != NULL ? 0 : -1;
#endif
}
