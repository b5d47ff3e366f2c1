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
