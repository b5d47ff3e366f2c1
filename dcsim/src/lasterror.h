#ifndef DCSIM_LASTERROR_H
#define DCSIM_LASTERROR_H

/* Records the reason of a failing control call for dcsim_last_error(). */
void dcsim_set_error(const char* format, ...)
#ifdef __GNUC__
    __attribute__((format(printf, 1, 2)))
#endif
    ;

#endif
