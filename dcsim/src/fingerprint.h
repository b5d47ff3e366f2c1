#ifndef DCSIM_FINGERPRINT_H
#define DCSIM_FINGERPRINT_H

#include <libdivecomputer/common.h>
#include <libdivecomputer/datetime.h>

/* Dive fingerprints as each family's real backend makes them: a fixed slice
 * of the dive's own bytes, of a size the backend alone decides and
 * dc_device_set_fingerprint checks. */

/* The largest fingerprint of any backend: an Apeks DSX logbook entry. */
#define DCSIM_FINGERPRINT_MAX 512

/* What a simulated dive offers to be fingerprinted: its 4-byte identity (the
 * scenario's `fingerprint`, or its number in the logbook) and its start, if
 * it has one. */
typedef struct dcsim_dive_identity_t {
    unsigned char id[4];
    int has_datetime;
    dc_datetime_t datetime;
} dcsim_dive_identity_t;

/* The size of the family's fingerprints for the descriptor's model, the only
 * size (besides 0) its dc_device_set_fingerprint accepts; 0 for a backend
 * without fingerprints, whose dc_device_set_fingerprint is unsupported. */
unsigned int dcsim_fingerprint_size(dc_family_t family, unsigned int model);

/* Writes the dcsim_fingerprint_size() bytes of the dive's fingerprint: the
 * date bytes where the real backend's fingerprint is the dive's start (Suunto
 * Vyper: year of the century, month, day, hour, minute; Shearwater: its
 * seconds since 1970, big-endian), otherwise the identity, zero-filled. */
void dcsim_fingerprint_make(dc_family_t family, unsigned int model,
                            const dcsim_dive_identity_t* dive, unsigned char* out);

#endif
