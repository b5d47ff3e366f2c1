#include "version.h"

#include <libdivecomputer/version.h>
#include <stdatomic.h>
#include <stdio.h>

#include "calls.h"
#include "dcsim.h"

/* major, minor and micro packed 16:8:8 so readers never see a torn version */
#define PACK(major, minor, micro) \
    (((unsigned long)(major) << 16) | ((unsigned long)(minor) << 8) | (unsigned long)(micro))

static atomic_ulong version = PACK(DC_VERSION_MAJOR, DC_VERSION_MINOR, DC_VERSION_MICRO);

void dcsim_set_version(unsigned int major, unsigned int minor, unsigned int micro) {
    atomic_store(&version, PACK(major & 0xFFFF, minor & 0xFF, micro & 0xFF));
}

void dcsim_version_reset(void) {
    atomic_store(&version, PACK(DC_VERSION_MAJOR, DC_VERSION_MINOR, DC_VERSION_MICRO));
}

const char* dc_version(dc_version_t* out) {
    /* Each thread keeps its own copy so a later dcsim_set_version() cannot
     * change a string another thread is still reading. */
    static _Thread_local char text[32];
    if (DCSIM_ENTER(dc_version) != DC_STATUS_SUCCESS) {
        return NULL;
    }
    unsigned long packed = atomic_load(&version);
    unsigned int major = (unsigned int)(packed >> 16);
    unsigned int minor = (unsigned int)((packed >> 8) & 0xFF);
    unsigned int micro = (unsigned int)(packed & 0xFF);
    if (out != NULL) {
        out->major = major;
        out->minor = minor;
        out->micro = micro;
    }
    snprintf(text, sizeof text, "%u.%u.%u", major, minor, micro);
    return text;
}

int dc_version_check(unsigned int major, unsigned int minor, unsigned int micro) {
    if (DCSIM_ENTER(dc_version_check) != DC_STATUS_SUCCESS) {
        return 0;
    }
    unsigned long packed = atomic_load(&version);
    unsigned int have_major = (unsigned int)(packed >> 16);
    unsigned int have_minor = (unsigned int)((packed >> 8) & 0xFF);
    unsigned int have_micro = (unsigned int)(packed & 0xFF);
    if (have_major != major) {
        return have_major > major;
    }
    if (have_minor != minor) {
        return have_minor > minor;
    }
    return have_micro >= micro;
}
