#include "calls.h"
#include "dcsim.h"
#include "lastopen.h"
#include "version.h"

void dcsim_reset(void) {
    dcsim_faults_clear();
    dcsim_calls_reset();
    dcsim_descriptors_builtin();
    dcsim_detach_all();
    dcsim_version_reset();
    dcsim_last_open_reset();
}
