#include "dive_profile.h"

#include "dive_details.h"
#include "native_exception.h"
#include "sample_walk.h"

namespace diveconnector {

namespace {

// Sample times are milliseconds from libdivecomputer 0.9.0 on, seconds before.
float sampleSeconds(unsigned int time) {
#if DC_VERSION_CHECK(0, 9, 0)
    return static_cast<float>(static_cast<double>(time) / 1000.0);
#else
    return static_cast<float>(time);
#endif
}

// Records `value` for the current time sample unless that sample already has one of this kind.
template <typename T>
void keepFirst(std::vector<std::optional<T>>& series, std::int32_t sampleCount, T value) {
    const std::size_t current = sampleCount > 0 ? static_cast<std::size_t>(sampleCount) - 1 : 0;
    if (series.size() == current) {
        series.emplace_back(value);
    }
}

// Both assemblies in one walk, so that the backend decodes the samples once.
struct ProfileAndDetails {
    ProfileBuilder& profile;
    DetailSamples& details;

    void add(dc_sample_type_t type, const dc_sample_value_t& value) {
        profile.add(type, value);
        details.add(type, value);
    }
};

}  // namespace

void DiveProfile::padTo(std::size_t length) {
    for (auto* series : {&timeSeries, &depthSeries, &pressureSeries, &temperatureSeries}) {
        if (series->size() < length) {
            series->resize(length);
        }
    }
    if (eventSeries.size() < length) {
        eventSeries.resize(length);
    }
}

void ProfileBuilder::add(dc_sample_type_t type, const dc_sample_value_t& value) {
    DiveProfile& p = profile_;
    switch (type) {
        case DC_SAMPLE_TIME:
            if (p.sampleCount > 0) {
                p.padTo(static_cast<std::size_t>(p.sampleCount));
            }
            ++p.sampleCount;
            p.timeSeries.emplace_back(sampleSeconds(value.time));
            break;
        case DC_SAMPLE_DEPTH:
            keepFirst(p.depthSeries, p.sampleCount, static_cast<float>(value.depth));
            break;
        case DC_SAMPLE_PRESSURE:
            keepFirst(p.pressureSeries, p.sampleCount, static_cast<float>(value.pressure.value));
            break;
        case DC_SAMPLE_TEMPERATURE:
            keepFirst(p.temperatureSeries, p.sampleCount, static_cast<float>(value.temperature));
            break;
        case DC_SAMPLE_EVENT:
            // The type's 32 bits, read as a signed Java int.
            keepFirst(p.eventSeries, p.sampleCount, static_cast<std::int32_t>(value.event.type));
            break;
        case DC_SAMPLE_GASMIX:
            if (!p.firstGasMix) {
                p.firstGasMix = value.gasmix;
            }
            break;
        default:
            break;
    }
}

DiveProfile ProfileBuilder::finish() && {
    profile_.padTo(profile_.size());
    return std::move(profile_);
}

DiveProfile parseSamples(dc_parser_t* parser, DetailSamples* details) {
    ProfileBuilder builder;
    dc_status_t status = DC_STATUS_SUCCESS;
    if (details != nullptr) {
        ProfileAndDetails both{builder, *details};
        status = walkSamples(parser, both);
    } else {
        status = walkSamples(parser, builder);
    }
    if (status != DC_STATUS_SUCCESS) {
        throw Exception(messages::kParsingSamples, status);
    }
    return std::move(builder).finish();
}

}  // namespace diveconnector
