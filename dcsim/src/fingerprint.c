#include "fingerprint.h"

#include <string.h>

#include "calendar.h"

/* Sizes as libdivecomputer 0.8.0 and 0.9.0 have them (the same in both).
 * Where a backend picks a memory layout by model, the descriptor's model
 * decides here. */
unsigned int dcsim_fingerprint_size(dc_family_t family, unsigned int model) {
    switch ((unsigned int)family) {
        case DC_FAMILY_SUUNTO_SOLUTION:
            return 0;
        case DC_FAMILY_SUUNTO_EON:
        case DC_FAMILY_SUUNTO_VYPER:
        case DC_FAMILY_MARES_NEMO:
        case DC_FAMILY_MARES_PUCK:
        case DC_FAMILY_HW_OSTC:
        case DC_FAMILY_HW_FROG:
        case DC_FAMILY_HW_OSTC3:
        case DC_FAMILY_CRESSI_LEONARDO:
            return 5;
        case DC_FAMILY_SUUNTO_VYPER2:
        case DC_FAMILY_SUUNTO_D9:
        case DC_FAMILY_TECDIVING_DIVECOMPUTEREU:
        case DC_FAMILY_SEAC_SCREEN:
            return 7;
        case DC_FAMILY_OCEANIC_VTPRO:
        case DC_FAMILY_OCEANIC_VEO250:
        case DC_FAMILY_OCEANIC_ATOM2: /* 16 or 32 for some models, not told apart here */
        case DC_FAMILY_CITIZEN_AQUALAND:
        case DC_FAMILY_OCEANS_S1:
            return 8;
#ifndef DCSIM_API_0_8
        case DC_FAMILY_PELAGIC_I330R:
            return model == 0x4741 ? 512 : 64; /* the Apeks DSX's logbook entries are larger */
#endif
        case DC_FAMILY_MARES_DARWIN:
        case DC_FAMILY_CRESSI_GOA:
        case DC_FAMILY_ATOMICS_COBALT:
        case DC_FAMILY_DIVERITE_NITEKQ:
        case DC_FAMILY_SPORASUB_SP2:
        case DC_FAMILY_DEEPSIX_EXCURSION:
        case DC_FAMILY_DEEPBLU_COSMIQ:
            return 6;
        case DC_FAMILY_MARES_ICONHD:
            switch (model) {
                case 0x1C: /* Genius, Horizon, Puck Air 2, Sirius, Quad Ci, Puck 4 */
                case 0x2C:
                case 0x2D:
                case 0x2F:
                case 0x31:
                case 0x35:
                    return 4;
                default:
                    return 10;
            }
        case DC_FAMILY_COCHRAN_COMMANDER:
            return model <= 1 ? 4 : 6; /* Commander TM and I: 4 */
        case DC_FAMILY_CRESSI_EDY:
        case DC_FAMILY_ZEAGLE_N2ITION3:
            return 16;
        case DC_FAMILY_DIVESOFT_FREEDOM:
            return 20;
        default: /* Suunto EON Steel, Reefnet, Uwatec, Shearwater, iDive, McLean, Lynx, Halcyon */
            return 4;
    }
}

void dcsim_fingerprint_make(dc_family_t family, unsigned int model,
                            const dcsim_dive_identity_t* dive, unsigned char* out) {
    const unsigned int size = dcsim_fingerprint_size(family, model);
    memset(out, 0, size);
    const dc_datetime_t* t = &dive->datetime;
    switch ((unsigned int)family) {
        case DC_FAMILY_SUUNTO_VYPER:
            /* The five date bytes of the dive's header. */
            if (dive->has_datetime) {
                const int century = ((t->year % 100) + 100) % 100;
                const unsigned char date[5] = {(unsigned char)century, (unsigned char)t->month,
                                               (unsigned char)t->day, (unsigned char)t->hour,
                                               (unsigned char)t->minute};
                memcpy(out, date, sizeof date);
                return;
            }
            break;
        case DC_FAMILY_SHEARWATER_PREDATOR:
        case DC_FAMILY_SHEARWATER_PETREL:
            /* The start in the opening record: seconds since 1970, big-endian. */
            if (dive->has_datetime) {
                const unsigned long long ticks = (unsigned long long)dcsim_ticks_join(
                    t->year, t->month, t->day, t->hour, t->minute, t->second);
                for (int i = 0; i < 4; i++) {
                    out[i] = (unsigned char)(ticks >> (8 * (3 - i)));
                }
                return;
            }
            break;
        default:
            break;
    }
    memcpy(out, dive->id, size < sizeof dive->id ? size : sizeof dive->id);
}
