#ifndef DCSIM_DESCRIPTOR_FILTER_H
#define DCSIM_DESCRIPTOR_FILTER_H

#include <libdivecomputer/descriptor.h>

/* A USB or USB HID device as the filter sees it; the layout of 0.9's public
 * dc_usb_desc_t and dc_usbhid_desc_t. */
typedef struct dcsim_usb_ids_t {
    unsigned short vid;
    unsigned short pid;
} dcsim_usb_ids_t;

/* dc_descriptor_filter() of the release dcsim presents, which the transport
 * iterators also apply: a NULL descriptor matches everything, a descriptor
 * without the transport nothing, a NULL userdata (or a family without a
 * filter for the transport) everything; otherwise the family's table decides.
 * The userdata is a dcsim_usb_ids_t for USB and USB HID, else the device's
 * path or name. */
int dcsim_descriptor_filter(const dc_descriptor_t* descriptor, dc_transport_t transport,
                            const void* userdata);

#endif
