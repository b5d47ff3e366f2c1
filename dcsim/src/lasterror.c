#include "lasterror.h"

#include <stdarg.h>
#include <stdio.h>

#include "dcsim.h"

static _Thread_local char last_error[512];

void dcsim_set_error(const char* format, ...) {
    va_list ap;
    va_start(ap, format);
    vsnprintf(last_error, sizeof last_error, format, ap);
    va_end(ap);
}

const char* dcsim_last_error(void) {
    return last_error;
}
