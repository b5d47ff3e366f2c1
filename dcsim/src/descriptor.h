#ifndef DCSIM_DESCRIPTOR_H
#define DCSIM_DESCRIPTOR_H

#include <libdivecomputer/descriptor.h>

struct dc_descriptor_t {
    const char* vendor;
    const char* product;
    dc_family_t family;
    unsigned int model;
    unsigned int transports;
};

/* A heap copy, counted as live until dc_descriptor_free(); NULL when out of
 * memory. */
dc_descriptor_t* dcsim_descriptor_new(const char* vendor, const char* product, unsigned int family,
                                      unsigned int model, unsigned int transports);

#endif
