#ifndef DC_CONTEXT_H
#define DC_CONTEXT_H

#include "common.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct dc_context_t dc_context_t;

typedef enum dc_loglevel_t {
    DC_LOGLEVEL_NONE,
    DC_LOGLEVEL_ERROR,
    DC_LOGLEVEL_WARNING,
    DC_LOGLEVEL_INFO,
    DC_LOGLEVEL_DEBUG,
    DC_LOGLEVEL_ALL
} dc_loglevel_t;

typedef void (*dc_logfunc_t)(dc_context_t* context, dc_loglevel_t loglevel, const char* file,
                             unsigned int line, const char* function, const char* message,
                             void* userdata);

dc_status_t dc_context_new(dc_context_t** context);

dc_status_t dc_context_free(dc_context_t* context);

dc_status_t dc_context_set_loglevel(dc_context_t* context, dc_loglevel_t loglevel);

dc_status_t dc_context_set_logfunc(dc_context_t* context, dc_logfunc_t logfunc, void* userdata);

unsigned int dc_context_get_transports(dc_context_t* context);

#ifdef __cplusplus
}
#endif

#endif
