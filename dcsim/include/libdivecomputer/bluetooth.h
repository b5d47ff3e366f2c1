#ifndef DC_BLUETOOTH_H
#define DC_BLUETOOTH_H

#include <stddef.h>

#include "common.h"
#include "context.h"
#include "descriptor.h"
#include "iostream.h"
#include "iterator.h"

#ifdef __cplusplus
extern "C" {
#endif

#define DC_BLUETOOTH_SIZE 18

typedef unsigned long long dc_bluetooth_address_t;

typedef struct dc_bluetooth_device_t dc_bluetooth_device_t;

char* dc_bluetooth_addr2str(dc_bluetooth_address_t address, char* str, size_t size);

dc_bluetooth_address_t dc_bluetooth_str2addr(const char* address);

dc_bluetooth_address_t dc_bluetooth_device_get_address(dc_bluetooth_device_t* device);

const char* dc_bluetooth_device_get_name(dc_bluetooth_device_t* device);

void dc_bluetooth_device_free(dc_bluetooth_device_t* device);

dc_status_t dc_bluetooth_iterator_new(dc_iterator_t** iterator, dc_context_t* context,
                                      dc_descriptor_t* descriptor);

dc_status_t dc_bluetooth_open(dc_iostream_t** iostream, dc_context_t* context,
                              dc_bluetooth_address_t address, unsigned int port);

#ifdef __cplusplus
}
#endif

#endif
