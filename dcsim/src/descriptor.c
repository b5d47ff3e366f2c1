#include "descriptor.h"

#include <stdlib.h>
#include <string.h>

#include "calls.h"
#include "descriptor_filter.h"
#include "live.h"

dc_descriptor_t* dcsim_descriptor_new(const char* vendor, const char* product, unsigned int family,
                                      unsigned int model, unsigned int transports) {
    size_t vendor_size = strlen(vendor) + 1;
    size_t product_size = strlen(product) + 1;
    dc_descriptor_t* descriptor = malloc(sizeof *descriptor + vendor_size + product_size);
    if (descriptor == NULL) {
        return NULL;
    }
    char* strings = (char*)(descriptor + 1);
    memcpy(strings, vendor, vendor_size);
    memcpy(strings + vendor_size, product, product_size);
    descriptor->vendor = strings;
    descriptor->product = strings + vendor_size;
    descriptor->family = (dc_family_t)family;
    descriptor->model = model;
    descriptor->transports = transports;
    dcsim_live_add(DCSIM_DESCRIPTOR, 1);
    return descriptor;
}

void dc_descriptor_free(dc_descriptor_t* descriptor) {
    DCSIM_ENTER(dc_descriptor_free);
    if (descriptor != NULL) {
        free(descriptor);
        dcsim_live_add(DCSIM_DESCRIPTOR, -1);
    }
}

/* 0.9 made the getters take a const descriptor. */
#ifdef DCSIM_API_0_8
#define GETTER_DESCRIPTOR dc_descriptor_t
#else
#define GETTER_DESCRIPTOR const dc_descriptor_t
#endif

const char* dc_descriptor_get_vendor(GETTER_DESCRIPTOR* descriptor) {
    if (DCSIM_ENTER(dc_descriptor_get_vendor) != DC_STATUS_SUCCESS || descriptor == NULL) {
        return NULL;
    }
    return descriptor->vendor;
}

const char* dc_descriptor_get_product(GETTER_DESCRIPTOR* descriptor) {
    if (DCSIM_ENTER(dc_descriptor_get_product) != DC_STATUS_SUCCESS || descriptor == NULL) {
        return NULL;
    }
    return descriptor->product;
}

dc_family_t dc_descriptor_get_type(GETTER_DESCRIPTOR* descriptor) {
    if (DCSIM_ENTER(dc_descriptor_get_type) != DC_STATUS_SUCCESS || descriptor == NULL) {
        return DC_FAMILY_NULL;
    }
    return descriptor->family;
}

unsigned int dc_descriptor_get_model(GETTER_DESCRIPTOR* descriptor) {
    if (DCSIM_ENTER(dc_descriptor_get_model) != DC_STATUS_SUCCESS || descriptor == NULL) {
        return 0;
    }
    return descriptor->model;
}

unsigned int dc_descriptor_get_transports(GETTER_DESCRIPTOR* descriptor) {
    if (DCSIM_ENTER(dc_descriptor_get_transports) != DC_STATUS_SUCCESS || descriptor == NULL) {
        return DC_TRANSPORT_NONE;
    }
    return descriptor->transports;
}

#ifndef DCSIM_API_0_8

int dc_descriptor_filter(const dc_descriptor_t* descriptor, dc_transport_t transport,
                         const void* userdata) {
    if (DCSIM_ENTER(dc_descriptor_filter) != DC_STATUS_SUCCESS) {
        return 0;
    }
    return dcsim_descriptor_filter(descriptor, transport, userdata);
}

#endif
