#ifndef DCSIM_LITTLE_ENDIAN_H
#define DCSIM_LITTLE_ENDIAN_H

#include <stdint.h>

/* 32-bit numbers as dcsim's own formats store them (raw dives, the BLE
 * wire protocol): little-endian, whatever the host. */

static inline uint32_t dcsim_get_u32(const unsigned char* p) {
    return (uint32_t)p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16 | (uint32_t)p[3] << 24;
}

/* Returns the position after the number. */
static inline unsigned char* dcsim_put_u32(unsigned char* p, uint32_t value) {
    p[0] = (unsigned char)value;
    p[1] = (unsigned char)(value >> 8);
    p[2] = (unsigned char)(value >> 16);
    p[3] = (unsigned char)(value >> 24);
    return p + 4;
}

#endif
