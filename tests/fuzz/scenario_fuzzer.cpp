// Feeds arbitrary text to dcsim's scenario reader, the text a user hands the tool by naming a
// scenario file as the port. A scenario that is read must make dives the decoder accepts (unless
// it asks for malformed bytes) and that dcsim's parser goes through; one that is refused must say
// on which line.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "dive_walk.h"
#include "rawdive.h"

// dcsim's internal headers are C only.
extern "C" {
#include "computer.h"
#include "scenario.h"
}

namespace {

// Dives of at most this many bytes are made; a scenario may ask for up to 64 MiB a dive, which
// would only slow the fuzzer down.
constexpr std::uint64_t kMaxDiveBytes = 1u << 20;
// Dives made of one scenario: the first and the last of each group, up to this many.
constexpr unsigned int kMaxDives = 16;

std::uint64_t profileBytes(const dcsim_profile_t& profile) {
    const std::uint64_t span =
        profile.waypoints[profile.nwaypoints - 1].time_ms - profile.waypoints[0].time_ms;
    return (span / profile.interval_ms + 1) * (20 + 10 + 14 * profile.ntanks);
}

// Roughly what the dive's raw data takes, at least as much as its samples.
std::uint64_t diveBytes(const dcsim_group_t& group) {
    if (group.generator != nullptr) {
        return std::uint64_t{group.generator->samples} * (30 + 14 * group.generator->tanks);
    }
    const dcsim_dive_t& dive = *group.dive;
    std::uint64_t bytes = dive.header.size + dive.samples.size + dive.raw.size;
    if (dive.has_profile) {
        bytes += profileBytes(dive.profile) + dive.inserted.size;
    }
    for (std::size_t i = 0; i < dive.npatches; ++i) {
        bytes += dive.patches[i].offset + dive.patches[i].length;
    }
    return bytes;
}

// Whether the scenario asked for the dive's bytes to be malformed.
bool malformedOnPurpose(const dcsim_group_t& group) {
    return group.dive != nullptr &&
           (group.dive->has_raw || group.dive->npatches > 0 || group.dive->has_truncate);
}

void makeDive(const dcsim_computer_t* computer, const dcsim_group_t& group, unsigned int index) {
    dcsim_dive_identity_t identity;
    dcsim_computer_identity(computer, index, &identity);
    unsigned char fingerprint[DCSIM_FINGERPRINT_MAX];
    dcsim_fingerprint_make(DC_FAMILY_SHEARWATER_PETREL, 0, &identity, fingerprint);
    dcsim_fingerprint_make(DC_FAMILY_SUUNTO_VYPER, 0, &identity, fingerprint);
    unsigned char* data = nullptr;
    std::size_t size = 0;
    if (dcsim_computer_dive(computer, index, &data, &size) != DC_STATUS_SUCCESS) {
        std::abort();
    }
    dcsim_raw_header_t header;
    if (!malformedOnPurpose(group) &&
        dcsim_raw_dive_decode(data, size, &header, nullptr, nullptr) != DC_STATUS_SUCCESS) {
        std::abort();
    }
    fuzz::walkDive(data, size);
    std::free(data);
}

void makeDives(const dcsim_computer_t* computer) {
    unsigned int first = 0, made = 0, total = 0;
    for (std::size_t i = 0; i < computer->ngroups; ++i) {
        const dcsim_group_t& group = computer->groups[i];
        if (group.count == 0 || (group.dive == nullptr) == (group.generator == nullptr)) {
            std::abort();
        }
        if (made < kMaxDives && diveBytes(group) <= kMaxDiveBytes) {
            makeDive(computer, group, first);
            ++made;
            if (group.count > 1) {
                makeDive(computer, group, first + group.count - 1);
                ++made;
            }
        }
        first += group.count;
        total += group.count;
    }
    if (total != computer->ndives) {
        std::abort();
    }
}

// "line N: reason", N at least 1.
void expectLineError() {
    const char* error = dcsim_last_error();
    unsigned int line = 0;
    char colon = 0;
    if (std::sscanf(error, "line %u%c", &line, &colon) != 2 || line == 0 || colon != ':') {
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::builtinDescriptor();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const char* text = reinterpret_cast<const char*>(data);
    dcsim_computer_t* computer = dcsim_scenario_parse(text, size, nullptr);
    if (computer == nullptr) {
        expectLineError();
        return 0;
    }
    makeDives(computer);
    dcsim_computer_release(computer);

    // The same text attached: only a taken address may be refused on top.
    if (std::memchr(text, '\0', size) == nullptr) {
        const std::string terminated(text, size);
        if (dcsim_attach(terminated.c_str()) != 0 &&
            std::strncmp(dcsim_last_error(), "cannot attach: ", 15) != 0) {
            std::abort();
        }
        dcsim_detach_all();
    }
    fuzz::expectNoLeakedHandle();
    return 0;
}
