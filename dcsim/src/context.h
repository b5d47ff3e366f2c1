#ifndef DCSIM_CONTEXT_H
#define DCSIM_CONTEXT_H

#include <libdivecomputer/context.h>
#include <stddef.h>

/* Logs through the context the way libdivecomputer's backends do; a NULL
 * context logs nothing. */
void dcsim_log(dc_context_t* context, dc_loglevel_t level, const char* file, unsigned int line,
               const char* function, const char* format, ...)
#ifdef __GNUC__
    __attribute__((format(printf, 6, 7)))
#endif
    ;

/* As libdivecomputer logs a stream's bytes: "<prefix>: size=<n>, data=<hex>",
 * the whole buffer in upper-case hexadecimal on one line (cut short where the
 * line would pass the size of its message buffer). */
void dcsim_hexdump(dc_context_t* context, dc_loglevel_t level, const char* file, unsigned int line,
                   const char* function, const char* prefix, const void* data, size_t size);

#define DCSIM_HEXDUMP(context, level, prefix, data, size) \
    dcsim_hexdump(context, level, __FILE__, __LINE__, __func__, prefix, data, size)

#define DCSIM_ERROR(context, ...) \
    dcsim_log(context, DC_LOGLEVEL_ERROR, __FILE__, __LINE__, __func__, __VA_ARGS__)
#define DCSIM_INFO(context, ...) \
    dcsim_log(context, DC_LOGLEVEL_INFO, __FILE__, __LINE__, __func__, __VA_ARGS__)
#define DCSIM_DEBUG(context, ...) \
    dcsim_log(context, DC_LOGLEVEL_DEBUG, __FILE__, __LINE__, __func__, __VA_ARGS__)

#endif
