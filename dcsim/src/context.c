#include "context.h"

#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>

#include "calls.h"
#include "live.h"
#include "platform.h"

struct dc_context_t {
    dc_loglevel_t loglevel;
    dc_logfunc_t logfunc;
    void* userdata;
};

static void stderr_logfunc(dc_context_t* context, dc_loglevel_t loglevel, const char* file,
                           unsigned int line, const char* function, const char* message,
                           void* userdata) {
    static const char* const names[] = {"NONE", "ERROR", "WARNING", "INFO", "DEBUG", "ALL"};
    (void)context;
    (void)userdata;
    if (loglevel == DC_LOGLEVEL_ERROR || loglevel == DC_LOGLEVEL_WARNING) {
        fprintf(stderr, "%s: %s [in %s:%u (%s)]\n", names[loglevel], message, file, line, function);
    } else {
        fprintf(stderr, "%s: %s\n", names[loglevel], message);
    }
}

void dcsim_log(dc_context_t* context, dc_loglevel_t level, const char* file, unsigned int line,
               const char* function, const char* format, ...) {
    if (context == NULL || context->logfunc == NULL || level > context->loglevel) {
        return;
    }
    char message[1024];
    va_list ap;
    va_start(ap, format);
    vsnprintf(message, sizeof message, format, ap);
    va_end(ap);
    context->logfunc(context, level, file, line, function, message, context->userdata);
}

void dcsim_hexdump(dc_context_t* context, dc_loglevel_t level, const char* file, unsigned int line,
                   const char* function, const char* prefix, const void* data, size_t size) {
    static const char digits[] = "0123456789ABCDEF";
    /* libdivecomputer's message buffer: 16 KiB and a little. */
    char message[16384 + 32];
    if (context == NULL || context->logfunc == NULL || level > context->loglevel) {
        return;
    }
    int length =
        snprintf(message, sizeof message, "%s: size=%u, data=", prefix, (unsigned int)size);
    if (length < 0 || (size_t)length >= sizeof message) {
        return;
    }
    const unsigned char* bytes = data;
    size_t at = (size_t)length;
    for (size_t i = 0; i < size && at + 2 < sizeof message; ++i) {
        message[at++] = digits[bytes[i] >> 4];
        message[at++] = digits[bytes[i] & 0x0F];
    }
    message[at] = '\0';
    context->logfunc(context, level, file, line, function, message, context->userdata);
}

dc_status_t dc_context_new(dc_context_t** out) {
    dc_status_t status = DCSIM_ENTER(dc_context_new);
    if (status != DC_STATUS_SUCCESS) {
        return status;
    }
    if (out == NULL) {
        return DC_STATUS_INVALIDARGS;
    }
    dc_context_t* context = malloc(sizeof *context);
    if (context == NULL) {
        return DC_STATUS_NOMEMORY;
    }
    context->loglevel = DC_LOGLEVEL_WARNING;
    context->logfunc = stderr_logfunc;
    context->userdata = NULL;
    dcsim_live_add(DCSIM_CONTEXT, 1);
    *out = context;
    return DC_STATUS_SUCCESS;
}

dc_status_t dc_context_free(dc_context_t* context) {
    dc_status_t status = DCSIM_ENTER(dc_context_free);
    if (context != NULL) {
        free(context);
        dcsim_live_add(DCSIM_CONTEXT, -1);
    }
    return status;
}

dc_status_t dc_context_set_loglevel(dc_context_t* context, dc_loglevel_t loglevel) {
    dc_status_t status = DCSIM_ENTER(dc_context_set_loglevel);
    if (status != DC_STATUS_SUCCESS) {
        return status;
    }
    if (context == NULL) {
        return DC_STATUS_INVALIDARGS;
    }
    context->loglevel = loglevel;
    return DC_STATUS_SUCCESS;
}

dc_status_t dc_context_set_logfunc(dc_context_t* context, dc_logfunc_t logfunc, void* userdata) {
    dc_status_t status = DCSIM_ENTER(dc_context_set_logfunc);
    if (status != DC_STATUS_SUCCESS) {
        return status;
    }
    if (context == NULL) {
        return DC_STATUS_INVALIDARGS;
    }
    context->logfunc = logfunc;
    context->userdata = userdata;
    return DC_STATUS_SUCCESS;
}

unsigned int dc_context_get_transports(dc_context_t* context) {
    (void)context;
    if (DCSIM_ENTER(dc_context_get_transports) != DC_STATUS_SUCCESS) {
        return DC_TRANSPORT_NONE;
    }
    /* Every simulated transport the platform's build has; never BLE, which
     * libdivecomputer leaves to the application. */
    return DC_TRANSPORT_SERIAL | DC_TRANSPORT_USB | DC_TRANSPORT_USBHID |
           (DCSIM_HAS_IRDA ? DC_TRANSPORT_IRDA : DC_TRANSPORT_NONE) | DC_TRANSPORT_BLUETOOTH;
}
