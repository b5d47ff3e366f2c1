#include "iostream.h"

#include <stdlib.h>

#include "calls.h"
#include "live.h"

dc_status_t dcsim_iostream_new(dc_iostream_t** out, dc_transport_t transport,
                               dcsim_computer_t* computer) {
    dc_iostream_t* iostream = malloc(sizeof *iostream);
    if (iostream == NULL) {
        dcsim_computer_release(computer);
        return DC_STATUS_NOMEMORY;
    }
    iostream->transport = transport;
    iostream->computer = computer;
    dcsim_live_add(DCSIM_IOSTREAM, 1);
    *out = iostream;
    return DC_STATUS_SUCCESS;
}

dc_transport_t dc_iostream_get_transport(dc_iostream_t* iostream) {
    if (DCSIM_ENTER(dc_iostream_get_transport) != DC_STATUS_SUCCESS || iostream == NULL) {
        return DC_TRANSPORT_NONE;
    }
    return iostream->transport;
}

dc_status_t dc_iostream_close(dc_iostream_t* iostream) {
    dc_status_t status = DCSIM_ENTER(dc_iostream_close);
    if (iostream != NULL) {
        dcsim_computer_release(iostream->computer);
        free(iostream);
        dcsim_live_add(DCSIM_IOSTREAM, -1);
    }
    return status;
}
