#include "bluetooth_name_models.h"

#include <libdivecomputer/common.h>
#include <libdivecomputer/version.h>

#include <algorithm>
#include <cctype>
#include <optional>

namespace diveconnector {

namespace {

bool isPelagic(unsigned int family) {
#if DC_VERSION_CHECK(0, 9, 0)
    if (family == DC_FAMILY_PELAGIC_I330R) {
        return true;
    }
#endif
    return family == DC_FAMILY_OCEANIC_ATOM2;
}

bool isHalcyon([[maybe_unused]] unsigned int family) {
#if DC_VERSION_CHECK(0, 9, 0)
    return family == DC_FAMILY_HALCYON_SYMBIOS;
#else
    return false;
#endif
}

bool allDigits(const std::string& text) {
    return std::all_of(text.begin(), text.end(),
                       [](unsigned char c) { return std::isdigit(c) != 0; });
}

bool allHexDigits(const std::string& text) {
    return std::all_of(text.begin(), text.end(),
                       [](unsigned char c) { return std::isxdigit(c) != 0; });
}

// The model number a family's names carry, if this name carries one.
std::optional<unsigned int> numberInName(unsigned int family, const std::string& name) {
    if (isPelagic(family) && name.size() > 2 && allDigits(name.substr(2))) {
        return static_cast<unsigned int>(static_cast<unsigned char>(name[0]) << 8 |
                                         static_cast<unsigned char>(name[1]));
    }
    if (family == DC_FAMILY_CRESSI_GOA) {
        const size_t underscore = name.find('_');
        if (underscore == 0 || underscore == std::string::npos || underscore > 4 ||
            underscore + 1 == name.size()) {
            return std::nullopt;
        }
        const std::string hex = name.substr(0, underscore);
        if (!allHexDigits(hex) || !allHexDigits(name.substr(underscore + 1))) {
            return std::nullopt;
        }
        return static_cast<unsigned int>(std::stoul(hex, nullptr, 16));
    }
    if (isHalcyon(family)) {
        std::string digits;
        if (name.size() >= 3 && (name[0] == 'H' || name[0] == 'h')) {
            digits = name.substr(1, 2);
        } else if (name.size() >= 10 && allDigits(name)) {
            digits = name.substr(4, 2);
        }
        if (digits == "01" || digits == "07") {
            return static_cast<unsigned int>(digits[1] - '0');
        }
    }
    return std::nullopt;
}

// Product names as divers and computers spell them alike: "Puck4" is the "Puck 4".
std::string comparable(const std::string& text) {
    std::string result;
    for (const unsigned char c : text) {
        if (c != ' ' && c != '-' && c != '_') {
            result += static_cast<char>(std::tolower(c));
        }
    }
    return result;
}

bool beginsWith(const std::string& text, const std::string& start) {
    return !start.empty() && text.compare(0, start.size(), start) == 0;
}

bool endsWith(const std::string& text, const std::string& end) {
    return !end.empty() && text.size() >= end.size() &&
           text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// How much of the name the candidate's product name covers: 0 when it does not begin the name.
size_t namedLength(const ModelFacts& candidate, const std::string& name) {
    const std::string product = comparable(candidate.product);
    const std::string full = comparable(candidate.vendor) + product;
    return beginsWith(name, full) ? full.size() : beginsWith(name, product) ? product.size() : 0;
}

}  // namespace

std::vector<ModelFacts> modelsTheNameTells(const std::vector<ModelFacts>& candidates,
                                           const std::string& name) {
    std::vector<ModelFacts> told;
    for (const ModelFacts& candidate : candidates) {
        const std::optional<unsigned int> number = numberInName(candidate.family, name);
        if (number && *number == candidate.model) {
            told.push_back(candidate);
        }
    }
    if (!told.empty()) {
        return told;
    }

    const std::string spoken = comparable(name);
    size_t longest = 0;
    for (const ModelFacts& candidate : candidates) {
        longest = std::max(longest, namedLength(candidate, spoken));
    }
    if (longest > 0) {
        std::copy_if(candidates.begin(), candidates.end(), std::back_inserter(told),
                     [&](const ModelFacts& c) { return namedLength(c, spoken) == longest; });
        return told;
    }

    const bool oneFamily =
        std::all_of(candidates.begin(), candidates.end(),
                    [&](const ModelFacts& c) { return c.family == candidates.front().family; });
    if (oneFamily && spoken.size() >= 2) {
        std::copy_if(candidates.begin(), candidates.end(), std::back_inserter(told),
                     [&](const ModelFacts& c) {
                         const std::string product = comparable(c.product);
                         return beginsWith(product, spoken) || endsWith(product, spoken);
                     });
    }
    return told;
}

}  // namespace diveconnector
