// A dive's samples as five parallel series, entry i of each belonging to the i-th time sample.
//
//     const DiveProfile profile = parseSamples(parser);   // throws Exception on a failed walk
//     const DiveProfile same = parseSamples(parser, &details.samples);   // and the details' too
//     for (size_t i = 0; i < profile.size(); ++i) { profile.depthSeries[i] ... }
//
// An empty entry (std::nullopt) means the time sample carried no value of that kind; it is not
// the value 0.
#pragma once

#include <libdivecomputer/parser.h>
#include <libdivecomputer/version.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace diveconnector {

struct DiveProfile {
    std::int32_t sampleCount = 0;
    std::vector<std::optional<float>> timeSeries;  // seconds
    std::vector<std::optional<float>> depthSeries;
    std::vector<std::optional<float>> pressureSeries;
    std::vector<std::optional<float>> temperatureSeries;
    std::vector<std::optional<std::int32_t>> eventSeries;
    // The gas-mix index of the first gas-mix sample: the mix the dive starts on.
    std::optional<std::uint32_t> firstGasMix;

    // Appends empty entries to each series until it holds at least `length`; never removes any.
    void padTo(std::size_t length);
    [[nodiscard]] std::size_t size() const noexcept {
        return static_cast<std::size_t>(sampleCount);
    }
};

struct DetailSamples;

// Walks the parser's samples into a profile and, when `details` is given, every sample value into
// them in the same walk. A walk that fails, DC_STATUS_UNSUPPORTED included, yields no profile:
// Exception "Error parsing the sample data." with the status.
[[nodiscard]] DiveProfile parseSamples(dc_parser_t* parser, DetailSamples* details = nullptr);

// Assembles a profile from a sample stream, one (type, value) at a time: at most one value of each
// kind per time sample, the first that arrives for it, so a second tank's pressure or a second
// event never pushes the rest of a series onto the wrong samples. Values that come before the
// first time sample belong to it.
class ProfileBuilder {
  public:
    void add(dc_sample_type_t type, const dc_sample_value_t& value);
    // The finished profile: every series holds at least sampleCount entries.
    [[nodiscard]] DiveProfile finish() &&;

  private:
    DiveProfile profile_;
};

}  // namespace diveconnector
