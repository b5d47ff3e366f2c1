#ifndef DC_CUSTOM_H
#define DC_CUSTOM_H

#include "context.h"
#include "iostream.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct dc_custom_cbs_t {
    dc_status_t (*set_timeout)(void* userdata, int timeout);
    dc_status_t (*set_break)(void* userdata, unsigned int value);
    dc_status_t (*set_dtr)(void* userdata, unsigned int value);
    dc_status_t (*set_rts)(void* userdata, unsigned int value);
    dc_status_t (*get_lines)(void* userdata, unsigned int* value);
    dc_status_t (*get_available)(void* userdata, size_t* value);
    dc_status_t (*configure)(void* userdata, unsigned int baudrate, unsigned int databits,
                             dc_parity_t parity, dc_stopbits_t stopbits,
                             dc_flowcontrol_t flowcontrol);
    dc_status_t (*poll)(void* userdata, int timeout);
    dc_status_t (*read)(void* userdata, void* data, size_t size, size_t* actual);
    dc_status_t (*write)(void* userdata, const void* data, size_t size, size_t* actual);
    dc_status_t (*ioctl)(void* userdata, unsigned int request, void* data, size_t size);
    dc_status_t (*flush)(void* userdata);
    dc_status_t (*purge)(void* userdata, dc_direction_t direction);
    dc_status_t (*sleep)(void* userdata, unsigned int milliseconds);
    dc_status_t (*close)(void* userdata);
} dc_custom_cbs_t;

dc_status_t dc_custom_open(dc_iostream_t** iostream, dc_context_t* context,
                           dc_transport_t transport, const dc_custom_cbs_t* callbacks,
                           void* userdata);

#ifdef __cplusplus
}
#endif

#endif
