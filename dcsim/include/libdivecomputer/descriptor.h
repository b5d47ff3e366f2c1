#ifndef DC_DESCRIPTOR_H
#define DC_DESCRIPTOR_H

#include "common.h"
#include "context.h"
#include "iterator.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct dc_descriptor_t dc_descriptor_t;

#ifdef DCSIM_API_0_8

dc_status_t dc_descriptor_iterator(dc_iterator_t** iterator);

void dc_descriptor_free(dc_descriptor_t* descriptor);

const char* dc_descriptor_get_vendor(dc_descriptor_t* descriptor);

const char* dc_descriptor_get_product(dc_descriptor_t* descriptor);

dc_family_t dc_descriptor_get_type(dc_descriptor_t* descriptor);

unsigned int dc_descriptor_get_model(dc_descriptor_t* descriptor);

unsigned int dc_descriptor_get_transports(dc_descriptor_t* descriptor);

#else

dc_status_t dc_descriptor_iterator_new(dc_iterator_t** iterator, dc_context_t* context);

#define dc_descriptor_iterator(iterator) dc_descriptor_iterator_new(iterator, NULL)

void dc_descriptor_free(dc_descriptor_t* descriptor);

const char* dc_descriptor_get_vendor(const dc_descriptor_t* descriptor);

const char* dc_descriptor_get_product(const dc_descriptor_t* descriptor);

dc_family_t dc_descriptor_get_type(const dc_descriptor_t* descriptor);

unsigned int dc_descriptor_get_model(const dc_descriptor_t* descriptor);

unsigned int dc_descriptor_get_transports(const dc_descriptor_t* descriptor);

int dc_descriptor_filter(const dc_descriptor_t* descriptor, dc_transport_t transport,
                         const void* userdata);

#endif

#ifdef __cplusplus
}
#endif

#endif
