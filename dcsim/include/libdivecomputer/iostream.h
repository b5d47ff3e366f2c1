#ifndef DC_IOSTREAM_H
#define DC_IOSTREAM_H

#include "common.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct dc_iostream_t dc_iostream_t;

dc_transport_t dc_iostream_get_transport(dc_iostream_t* iostream);

dc_status_t dc_iostream_close(dc_iostream_t* iostream);

#ifdef __cplusplus
}
#endif

#endif
