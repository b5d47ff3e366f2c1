// Feeds arbitrary sample streams to the profile assembly and checks the alignment invariant
// against a straightforward model: entry i of each series is the first value of its kind that
// arrived for time sample i (values before the first time sample count for it), or empty.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <vector>

#include "dive_profile.h"

namespace {

using diveconnector::DiveProfile;
using diveconnector::ProfileBuilder;

struct Model {
    std::vector<float> times;
    std::vector<std::optional<float>> depths, pressures, temperatures;
    std::vector<std::optional<std::int32_t>> events;

    template <typename T>
    static void note(std::vector<std::optional<T>>& series, std::size_t sample, T value) {
        if (series.size() <= sample) {
            series.resize(sample + 1);
        }
        if (!series[sample]) {
            series[sample] = value;
        }
    }
};

template <typename T>
void expectSeries(const std::vector<std::optional<T>>& actual,
                  const std::vector<std::optional<T>>& model, std::size_t count) {
    if (actual.size() < count) {
        std::abort();
    }
    for (std::size_t i = 0; i < count; ++i) {
        const std::optional<T> expected = i < model.size() ? model[i] : std::nullopt;
        if (actual[i].has_value() != expected.has_value()) {
            std::abort();
        }
        if (expected && std::memcmp(&*actual[i], &*expected, sizeof(T)) != 0) {
            std::abort();
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    ProfileBuilder builder;
    Model model;
    std::size_t sampleCount = 0;

    // Each record: one type byte, then eight bytes of value.
    constexpr std::size_t kRecord = 9;
    for (std::size_t at = 0; at + kRecord <= size; at += kRecord) {
        const auto type = static_cast<dc_sample_type_t>(data[at] % 16);
        std::uint64_t bits;
        std::memcpy(&bits, data + at + 1, sizeof bits);
        double real;
        std::memcpy(&real, &bits, sizeof real);
        const auto word = static_cast<unsigned int>(bits);

        dc_sample_value_t value{};
        const std::size_t current = sampleCount > 0 ? sampleCount - 1 : 0;
        switch (type) {
            case DC_SAMPLE_TIME: {
                value.time = word;
#if DC_VERSION_CHECK(0, 9, 0)
                model.times.push_back(static_cast<float>(word / 1000.0));
#else
                model.times.push_back(static_cast<float>(word));
#endif
                ++sampleCount;
                break;
            }
            case DC_SAMPLE_DEPTH:
                value.depth = real;
                Model::note(model.depths, current, static_cast<float>(real));
                break;
            case DC_SAMPLE_PRESSURE:
                value.pressure.tank = word;
                value.pressure.value = real;
                Model::note(model.pressures, current, static_cast<float>(real));
                break;
            case DC_SAMPLE_TEMPERATURE:
                value.temperature = real;
                Model::note(model.temperatures, current, static_cast<float>(real));
                break;
            case DC_SAMPLE_EVENT:
                value.event.type = word;
                Model::note(model.events, current, static_cast<std::int32_t>(word));
                break;
            default:
                std::memcpy(&value, data + at + 1, sizeof bits);
                break;
        }
        builder.add(type, value);
    }

    const DiveProfile profile = std::move(builder).finish();
    if (profile.size() != sampleCount || profile.timeSeries.size() != sampleCount) {
        std::abort();
    }
    for (std::size_t i = 0; i < sampleCount; ++i) {
        if (std::memcmp(&*profile.timeSeries[i], &model.times[i], sizeof(float)) != 0) {
            std::abort();
        }
    }
    expectSeries(profile.depthSeries, model.depths, sampleCount);
    expectSeries(profile.pressureSeries, model.pressures, sampleCount);
    expectSeries(profile.temperatureSeries, model.temperatures, sampleCount);
    expectSeries(profile.eventSeries, model.events, sampleCount);
    // Never more than one entry per time sample (one when there is none at all).
    const std::size_t bound = sampleCount > 0 ? sampleCount : 1;
    if (profile.depthSeries.size() > bound || profile.pressureSeries.size() > bound ||
        profile.temperatureSeries.size() > bound || profile.eventSeries.size() > bound) {
        std::abort();
    }
    return 0;
}
