#ifndef DC_IRDA_H
#define DC_IRDA_H

#include "common.h"
#include "context.h"
#include "descriptor.h"
#include "iostream.h"
#include "iterator.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct dc_irda_device_t dc_irda_device_t;

unsigned int dc_irda_device_get_address(dc_irda_device_t* device);

const char* dc_irda_device_get_name(dc_irda_device_t* device);

void dc_irda_device_free(dc_irda_device_t* device);

dc_status_t dc_irda_iterator_new(dc_iterator_t** iterator, dc_context_t* context,
                                 dc_descriptor_t* descriptor);

dc_status_t dc_irda_open(dc_iostream_t** iostream, dc_context_t* context, unsigned int address,
                         unsigned int lsap);

#ifdef __cplusplus
}
#endif

#endif
