#ifndef DCSIM_PROTOCOL_H
#define DCSIM_PROTOCOL_H

#include <libdivecomputer/common.h>

/* Whether the real backend of the family exchanges data with the computer
 * while dc_device_open runs (a handshake, a version or identity query), so
 * that a computer speaking another protocol already fails the open. The other
 * backends only set up the line and fail at the first command of the
 * download. */
int dcsim_family_talks_at_open(dc_family_t family);

/* Whether the family's real backend implements dc_device_dump; the others
 * answer DC_STATUS_UNSUPPORTED. */
int dcsim_family_dumps(dc_family_t family);

#endif
