#include "protocol.h"

int dcsim_family_talks_at_open(dc_family_t family) {
    switch ((unsigned int)family) {
        case DC_FAMILY_SUUNTO_VYPER2:
        case DC_FAMILY_SUUNTO_D9:
        case DC_FAMILY_SUUNTO_EONSTEEL:
        case DC_FAMILY_UWATEC_SMART:
        case DC_FAMILY_OCEANIC_VTPRO:
        case DC_FAMILY_OCEANIC_VEO250:
        case DC_FAMILY_OCEANIC_ATOM2:
#ifndef DCSIM_API_0_8
        case DC_FAMILY_PELAGIC_I330R:
#endif
        case DC_FAMILY_MARES_ICONHD:
        case DC_FAMILY_HW_FROG:
        case DC_FAMILY_CRESSI_EDY:
        case DC_FAMILY_DIVERITE_NITEKQ:
        case DC_FAMILY_COCHRAN_COMMANDER:
        case DC_FAMILY_TECDIVING_DIVECOMPUTEREU:
        case DC_FAMILY_LIQUIVISION_LYNX:
        case DC_FAMILY_DIVESOFT_FREEDOM:
            return 1;
        default:
            return 0;
    }
}

int dcsim_family_dumps(dc_family_t family) {
    switch ((unsigned int)family) {
        /* These backends download dive by dive and have no memory to read
         * as a whole. */
        case DC_FAMILY_SUUNTO_EONSTEEL:
        case DC_FAMILY_SHEARWATER_PETREL:
        case DC_FAMILY_ATOMICS_COBALT:
            return 0;
        default:
            return 1;
    }
}
