#include "dive_details.h"

#include <utility>

#include "native_exception.h"
#include "sample_walk.h"

namespace diveconnector {

namespace {

// The field, or empty when the backend does not report it.
template <typename T>
std::optional<T> queryField(dc_parser_t* parser, dc_field_type_t field, unsigned int index = 0) {
    T value{};
    const dc_status_t status = dc_parser_get_field(parser, field, index, &value);
    if (status == DC_STATUS_UNSUPPORTED) {
        return std::nullopt;
    }
    if (status != DC_STATUS_SUCCESS) {
        throw Exception(messages::kParsingDetails, status);
    }
    return value;
}

template <typename MixOrTank>
GasUsage usageOf([[maybe_unused]] const MixOrTank& item) {
#if DC_VERSION_CHECK(0, 9, 0)
    return static_cast<std::uint32_t>(item.usage);
#else
    return std::nullopt;
#endif
}

GasMixDetail gasMixDetail(const dc_gasmix_t& mix) {
    return {mix.oxygen, mix.helium, mix.nitrogen, usageOf(mix)};
}

TankDetail tankDetail(const dc_tank_t& tank) {
    TankDetail detail;
    if (tank.gasmix != DC_GASMIX_UNKNOWN) {
        detail.gasMix = tank.gasmix;
    }
    detail.volumeType = static_cast<std::uint32_t>(tank.type);
    detail.volume = tank.volume;
    detail.workPressure = tank.workpressure;
    detail.beginPressure = tank.beginpressure;
    detail.endPressure = tank.endpressure;
    detail.usage = usageOf(tank);
    return detail;
}

// Every item of an indexed field; an index answering DC_STATUS_UNSUPPORTED stays empty.
template <typename Raw, typename Detail>
std::vector<std::optional<Detail>> queryList(dc_parser_t* parser, dc_field_type_t countField,
                                             dc_field_type_t itemField,
                                             Detail (*convert)(const Raw&)) {
    const std::uint32_t count = queryField<unsigned int>(parser, countField).value_or(0);
    std::vector<std::optional<Detail>> items;
    for (std::uint32_t index = 0; index < count; ++index) {
        const std::optional<Raw> raw = queryField<Raw>(parser, itemField, index);
        items.push_back(raw ? std::optional(convert(*raw)) : std::nullopt);
    }
    return items;
}

double sampleSeconds(unsigned int time) {
#if DC_VERSION_CHECK(0, 9, 0)
    return static_cast<double>(time) / 1000.0;
#else
    return static_cast<double>(time);
#endif
}

}  // namespace

void DetailSamples::add(dc_sample_type_t type, const dc_sample_value_t& value) {
    if (type == DC_SAMPLE_TIME) {
        times.push_back(sampleSeconds(value.time));
        return;
    }
    const auto sample = static_cast<std::int32_t>(times.empty() ? 0 : times.size() - 1);
    switch (type) {
        case DC_SAMPLE_DEPTH:
            depths.push_back({sample, value.depth});
            break;
        case DC_SAMPLE_PRESSURE:
            pressures.push_back({sample, {value.pressure.tank, value.pressure.value}});
            break;
        case DC_SAMPLE_TEMPERATURE:
            temperatures.push_back({sample, value.temperature});
            break;
        case DC_SAMPLE_EVENT:
            events.push_back(
                {sample,
                 {value.event.type, value.event.time, value.event.flags, value.event.value}});
            break;
        case DC_SAMPLE_RBT:
            remainingBottomTimes.push_back({sample, value.rbt});
            break;
        case DC_SAMPLE_HEARTBEAT:
            heartRates.push_back({sample, value.heartbeat});
            break;
        case DC_SAMPLE_BEARING:
            bearings.push_back({sample, value.bearing});
            break;
        case DC_SAMPLE_SETPOINT:
            setpoints.push_back({sample, value.setpoint});
            break;
        case DC_SAMPLE_PPO2:
#if DC_VERSION_CHECK(0, 9, 0)
            ppo2.push_back({sample,
                            {value.ppo2.sensor == DC_SENSOR_NONE
                                 ? std::nullopt
                                 : std::optional<std::uint32_t>(value.ppo2.sensor),
                             value.ppo2.value}});
#else
            ppo2.push_back({sample, {std::nullopt, value.ppo2}});
#endif
            break;
        case DC_SAMPLE_CNS:
            cns.push_back({sample, value.cns});
            break;
        case DC_SAMPLE_DECO: {
            DecoStatus status{value.deco.type, value.deco.time, value.deco.depth, std::nullopt};
#if DC_VERSION_CHECK(0, 9, 0)
            status.timeToSurface = value.deco.tts;
#endif
            deco.push_back({sample, status});
            break;
        }
        case DC_SAMPLE_GASMIX:
            gasSwitches.push_back({sample, value.gasmix});
            break;
        default:
            break;
    }
}

DiveDetails parseDetails(dc_parser_t* parser) {
    DiveDetails details;
    // Asked again: a dive without a date has no time zone either, not the zero of the record's.
    dc_datetime_t datetime{};
    const dc_status_t dated = dc_parser_get_datetime(parser, &datetime);
    if (dated != DC_STATUS_SUCCESS && dated != DC_STATUS_UNSUPPORTED) {
        throw Exception(messages::kParsingDetails, dated);
    }
    if (dated == DC_STATUS_SUCCESS && datetime.timezone != DC_TIMEZONE_NONE) {
        details.timezone = datetime.timezone;
    }
    details.averageDepth = queryField<double>(parser, DC_FIELD_AVGDEPTH);
    details.atmospheric = queryField<double>(parser, DC_FIELD_ATMOSPHERIC);
    details.surfaceTemperature = queryField<double>(parser, DC_FIELD_TEMPERATURE_SURFACE);
    details.minimumTemperature = queryField<double>(parser, DC_FIELD_TEMPERATURE_MINIMUM);
    details.maximumTemperature = queryField<double>(parser, DC_FIELD_TEMPERATURE_MAXIMUM);
    if (const auto mode = queryField<dc_divemode_t>(parser, DC_FIELD_DIVEMODE)) {
        details.diveMode = static_cast<std::uint32_t>(*mode);
    }
    if (const auto model = queryField<dc_decomodel_t>(parser, DC_FIELD_DECOMODEL)) {
        details.decoModel =
            DecoModelDetail{static_cast<std::uint32_t>(model->type), model->conservatism,
                            model->params.gf.low, model->params.gf.high};
    }
    if (const auto salinity = queryField<dc_salinity_t>(parser, DC_FIELD_SALINITY)) {
        details.salinity =
            SalinityDetail{static_cast<std::uint32_t>(salinity->type), salinity->density};
    }
#if DC_VERSION_CHECK(0, 9, 0)
    if (const auto location = queryField<dc_location_t>(parser, DC_FIELD_LOCATION)) {
        details.location =
            LocationDetail{location->latitude, location->longitude, location->altitude};
    }
#endif
    details.gasMixes = queryList<dc_gasmix_t, GasMixDetail>(parser, DC_FIELD_GASMIX_COUNT,
                                                            DC_FIELD_GASMIX, gasMixDetail);
    details.tanks =
        queryList<dc_tank_t, TankDetail>(parser, DC_FIELD_TANK_COUNT, DC_FIELD_TANK, tankDetail);

    const dc_status_t status = walkSamples(parser, details.samples);
    if (status != DC_STATUS_SUCCESS) {
        throw Exception(messages::kParsingDetails, status);
    }
    return details;
}

}  // namespace diveconnector
