#include "backend_names.h"

#include <libdivecomputer/version.h>

namespace diveconnector {

namespace {

struct BackendName {
    dc_family_t family;
    const char* name;
};

constexpr BackendName kBackendNames[] = {
    {DC_FAMILY_SUUNTO_SOLUTION, "solution"},
    {DC_FAMILY_SUUNTO_EON, "eon"},
    {DC_FAMILY_SUUNTO_VYPER, "vyper"},
    {DC_FAMILY_SUUNTO_VYPER2, "vyper2"},
    {DC_FAMILY_SUUNTO_D9, "d9"},
    {DC_FAMILY_SUUNTO_EONSTEEL, "eonsteel"},
    {DC_FAMILY_UWATEC_ALADIN, "aladin"},
    {DC_FAMILY_UWATEC_MEMOMOUSE, "memomouse"},
    {DC_FAMILY_UWATEC_SMART, "smart"},
    {DC_FAMILY_REEFNET_SENSUS, "sensus"},
    {DC_FAMILY_REEFNET_SENSUSPRO, "sensuspro"},
    {DC_FAMILY_REEFNET_SENSUSULTRA, "sensusultra"},
    {DC_FAMILY_OCEANIC_VTPRO, "vtpro"},
    {DC_FAMILY_OCEANIC_VEO250, "veo250"},
    {DC_FAMILY_OCEANIC_ATOM2, "atom2"},
#if DC_VERSION_CHECK(0, 9, 0)
    {DC_FAMILY_PELAGIC_I330R, "i330r"},
#endif
    {DC_FAMILY_MARES_NEMO, "nemo"},
    {DC_FAMILY_MARES_PUCK, "puck"},
    {DC_FAMILY_MARES_DARWIN, "darwin"},
    {DC_FAMILY_MARES_ICONHD, "iconhd"},
    {DC_FAMILY_HW_OSTC, "ostc"},
    {DC_FAMILY_HW_FROG, "frog"},
    {DC_FAMILY_HW_OSTC3, "ostc3"},
    {DC_FAMILY_CRESSI_EDY, "edy"},
    {DC_FAMILY_CRESSI_LEONARDO, "leonardo"},
    {DC_FAMILY_CRESSI_GOA, "goa"},
    {DC_FAMILY_ZEAGLE_N2ITION3, "n2ition3"},
    {DC_FAMILY_ATOMICS_COBALT, "cobalt"},
    {DC_FAMILY_SHEARWATER_PREDATOR, "predator"},
    {DC_FAMILY_SHEARWATER_PETREL, "petrel"},
    {DC_FAMILY_DIVERITE_NITEKQ, "nitekq"},
    {DC_FAMILY_CITIZEN_AQUALAND, "aqualand"},
    {DC_FAMILY_DIVESYSTEM_IDIVE, "idive"},
    {DC_FAMILY_COCHRAN_COMMANDER, "cochran"},
    {DC_FAMILY_TECDIVING_DIVECOMPUTEREU, "divecomputereu"},
    {DC_FAMILY_MCLEAN_EXTREME, "extreme"},
    {DC_FAMILY_LIQUIVISION_LYNX, "lynx"},
    {DC_FAMILY_SPORASUB_SP2, "sp2"},
    {DC_FAMILY_DEEPSIX_EXCURSION, "excursion"},
    {DC_FAMILY_SEAC_SCREEN, "screen"},
    {DC_FAMILY_DEEPBLU_COSMIQ, "cosmiq"},
    {DC_FAMILY_OCEANS_S1, "s1"},
    {DC_FAMILY_DIVESOFT_FREEDOM, "freedom"},
#if DC_VERSION_CHECK(0, 9, 0)
    {DC_FAMILY_HALCYON_SYMBIOS, "symbios"},
#endif
};

}  // namespace

const char* backendName(dc_family_t family) noexcept {
    for (const BackendName& entry : kBackendNames) {
        if (entry.family == family) {
            return entry.name;
        }
    }
    return nullptr;
}

}  // namespace diveconnector
