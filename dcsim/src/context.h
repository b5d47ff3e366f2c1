#ifndef DCSIM_CONTEXT_H
#define DCSIM_CONTEXT_H

#include <libdivecomputer/context.h>

/* Logs through the context the way libdivecomputer's backends do; a NULL
 * context logs nothing. */
void dcsim_log(dc_context_t* context, dc_loglevel_t level, const char* file, unsigned int line,
               const char* function, const char* format, ...)
#ifdef __GNUC__
    __attribute__((format(printf, 6, 7)))
#endif
    ;

#define DCSIM_ERROR(context, ...) \
    dcsim_log(context, DC_LOGLEVEL_ERROR, __FILE__, __LINE__, __func__, __VA_ARGS__)
#define DCSIM_INFO(context, ...) \
    dcsim_log(context, DC_LOGLEVEL_INFO, __FILE__, __LINE__, __func__, __VA_ARGS__)
#define DCSIM_DEBUG(context, ...) \
    dcsim_log(context, DC_LOGLEVEL_DEBUG, __FILE__, __LINE__, __func__, __VA_ARGS__)

#endif
