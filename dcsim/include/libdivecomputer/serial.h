#ifndef DC_SERIAL_H
#define DC_SERIAL_H

#include "common.h"
#include "context.h"
#include "descriptor.h"
#include "iostream.h"
#include "iterator.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct dc_serial_device_t dc_serial_device_t;

const char* dc_serial_device_get_name(dc_serial_device_t* device);

void dc_serial_device_free(dc_serial_device_t* device);

dc_status_t dc_serial_iterator_new(dc_iterator_t** iterator, dc_context_t* context,
                                   dc_descriptor_t* descriptor);

dc_status_t dc_serial_open(dc_iostream_t** iostream, dc_context_t* context, const char* name);

#ifdef __cplusplus
}
#endif

#endif
