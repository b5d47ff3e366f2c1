// Which models a Bluetooth device's name tells. libdivecomputer's descriptor filter accepts a name
// for a whole family ("Perdix" passes every BLE Shearwater, "FQ001124" every Pelagic), but the
// name often says more: a product name, or a model number in the Pelagic, Cressi and Halcyon way.
//
//     const std::vector<ModelFacts> told = modelsTheNameTells(candidates, "Perdix 2");
//     // empty: the name tells none of the candidates apart
#pragma once

#include <string>
#include <vector>

namespace diveconnector {

struct ModelFacts {
    std::string vendor;
    std::string product;
    unsigned int family = 0;  // dc_family_t
    unsigned int model = 0;
};

// Of the candidates, those the name points at, in their order:
// - a model number the candidate's family puts in its names (Pelagic: the first two characters,
//   "FQ" being 0x4651; Cressi: lower-case hex before "_"; Halcyon: "H01"/"H07", or digits with
//   "01"/"07" in places five and six);
// - else the candidates whose product name, alone or after the vendor, begins the name (spaces,
//   "-" and "_" ignored, any case), the longest such names only ("Perdix 2" over "Perdix");
// - else, when the candidates are of one family, those whose product begins or ends with the name
//   ("Aladin" for the Aladin A1 and A2, "HUD" for the G2 HUD).
[[nodiscard]] std::vector<ModelFacts> modelsTheNameTells(const std::vector<ModelFacts>& candidates,
                                                         const std::string& name);

}  // namespace diveconnector
