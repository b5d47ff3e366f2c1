#ifndef DC_USB_H
#define DC_USB_H

#include "common.h"
#include "context.h"
#include "descriptor.h"
#include "iostream.h"
#include "iterator.h"

#ifdef __cplusplus
extern "C" {
#endif

#ifndef DCSIM_API_0_8
typedef struct dc_usb_desc_t {
    unsigned short vid;
    unsigned short pid;
} dc_usb_desc_t;
#endif

typedef struct dc_usb_device_t dc_usb_device_t;

unsigned int dc_usb_device_get_vid(dc_usb_device_t* device);

unsigned int dc_usb_device_get_pid(dc_usb_device_t* device);

void dc_usb_device_free(dc_usb_device_t* device);

dc_status_t dc_usb_iterator_new(dc_iterator_t** iterator, dc_context_t* context,
                                dc_descriptor_t* descriptor);

dc_status_t dc_usb_open(dc_iostream_t** iostream, dc_context_t* context, dc_usb_device_t* device);

#ifdef __cplusplus
}
#endif

#endif
