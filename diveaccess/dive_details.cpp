#include "dive_details.h"

namespace diveconnector {

namespace {

// The queries of one dive's details. A query that fails is left out of the details, never the
// dive's reason to fail: the details are an extra the application asked for, and the record the
// download always gives has already been parsed. The support log names what was left out.
class DetailQueries {
  public:
    DetailQueries(dc_parser_t* parser, const SupportLog& log, unsigned int dive)
        : parser_(parser), log_(log), dive_(dive) {}

    // The field, or empty when the backend does not report it or answers with a failure.
    template <typename T>
    [[nodiscard]] std::optional<T> field(dc_field_type_t type, const char* name,
                                         const char* what) const {
        T value{};
        const dc_status_t status = dc_parser_get_field(parser_, type, 0, &value);
        if (status == DC_STATUS_SUCCESS) {
            return value;
        }
        if (status != DC_STATUS_UNSUPPORTED) {
            leftOut(name, what, status);
        }
        return std::nullopt;
    }

    // Every item of an indexed field, by index; an item not reported or failing stays empty, and
    // a count that fails gives no items.
    template <typename Raw, typename Detail>
    [[nodiscard]] std::vector<std::optional<Detail>> list(dc_field_type_t countField,
                                                          const char* countName,
                                                          dc_field_type_t itemField,
                                                          const char* itemName, const char* what,
                                                          Detail (*convert)(const Raw&)) const {
        unsigned int count = 0;
        const dc_status_t counted = dc_parser_get_field(parser_, countField, 0, &count);
        if (counted != DC_STATUS_SUCCESS) {
            if (counted != DC_STATUS_UNSUPPORTED) {
                log_.write(DC_LOGLEVEL_WARNING,
                           "Dive %u: %s answered status %d; the dive's details leave every %s "
                           "out.",
                           dive_, countName, static_cast<int>(counted), what);
            }
            count = 0;
        }
        std::vector<std::optional<Detail>> items;
        for (std::uint32_t index = 0; index < count; ++index) {
            Raw raw{};
            const dc_status_t status = dc_parser_get_field(parser_, itemField, index, &raw);
            if (status == DC_STATUS_SUCCESS) {
                items.push_back(convert(raw));
                continue;
            }
            if (status != DC_STATUS_UNSUPPORTED) {
                log_.write(DC_LOGLEVEL_WARNING,
                           "Dive %u: %s %u answered status %d; the dive's details leave %s %u "
                           "out.",
                           dive_, itemName, index, static_cast<int>(status), what, index);
            }
            items.emplace_back();
        }
        return items;
    }

    void leftOut(const char* name, const char* what, dc_status_t status) const {
        log_.write(DC_LOGLEVEL_WARNING,
                   "Dive %u: %s answered status %d; the dive's details leave %s out.", dive_, name,
                   static_cast<int>(status), what);
    }

  private:
    dc_parser_t* parser_;
    const SupportLog& log_;
    unsigned int dive_;
};

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

DiveDetails parseDetails(dc_parser_t* parser, const SupportLog& log, unsigned int dive) {
    const DetailQueries query(parser, log, dive);
    DiveDetails details;
    // Asked again: a dive without a date has no time zone either, not the zero of the record's.
    dc_datetime_t datetime{};
    const dc_status_t dated = dc_parser_get_datetime(parser, &datetime);
    if (dated == DC_STATUS_SUCCESS && datetime.timezone != DC_TIMEZONE_NONE) {
        details.timezone = datetime.timezone;
    } else if (dated != DC_STATUS_SUCCESS && dated != DC_STATUS_UNSUPPORTED) {
        query.leftOut("dc_parser_get_datetime", "the time zone", dated);
    }
    details.averageDepth =
        query.field<double>(DC_FIELD_AVGDEPTH, "DC_FIELD_AVGDEPTH", "the average depth");
    details.atmospheric = query.field<double>(DC_FIELD_ATMOSPHERIC, "DC_FIELD_ATMOSPHERIC",
                                              "the atmospheric pressure");
    details.surfaceTemperature = query.field<double>(
        DC_FIELD_TEMPERATURE_SURFACE, "DC_FIELD_TEMPERATURE_SURFACE", "the surface temperature");
    details.minimumTemperature = query.field<double>(
        DC_FIELD_TEMPERATURE_MINIMUM, "DC_FIELD_TEMPERATURE_MINIMUM", "the minimum temperature");
    details.maximumTemperature = query.field<double>(
        DC_FIELD_TEMPERATURE_MAXIMUM, "DC_FIELD_TEMPERATURE_MAXIMUM", "the maximum temperature");
    if (const auto mode =
            query.field<dc_divemode_t>(DC_FIELD_DIVEMODE, "DC_FIELD_DIVEMODE", "the dive mode")) {
        details.diveMode = static_cast<std::uint32_t>(*mode);
    }
    if (const auto model = query.field<dc_decomodel_t>(DC_FIELD_DECOMODEL, "DC_FIELD_DECOMODEL",
                                                       "the deco model")) {
        details.decoModel =
            DecoModelDetail{static_cast<std::uint32_t>(model->type), model->conservatism,
                            model->params.gf.low, model->params.gf.high};
    }
    if (const auto salinity =
            query.field<dc_salinity_t>(DC_FIELD_SALINITY, "DC_FIELD_SALINITY", "the salinity")) {
        details.salinity =
            SalinityDetail{static_cast<std::uint32_t>(salinity->type), salinity->density};
    }
#if DC_VERSION_CHECK(0, 9, 0)
    if (const auto location =
            query.field<dc_location_t>(DC_FIELD_LOCATION, "DC_FIELD_LOCATION", "the location")) {
        details.location =
            LocationDetail{location->latitude, location->longitude, location->altitude};
    }
#endif
    details.gasMixes = query.list<dc_gasmix_t, GasMixDetail>(
        DC_FIELD_GASMIX_COUNT, "DC_FIELD_GASMIX_COUNT", DC_FIELD_GASMIX, "DC_FIELD_GASMIX",
        "gas mix", gasMixDetail);
    details.tanks =
        query.list<dc_tank_t, TankDetail>(DC_FIELD_TANK_COUNT, "DC_FIELD_TANK_COUNT", DC_FIELD_TANK,
                                          "DC_FIELD_TANK", "tank", tankDetail);

    return details;
}

}  // namespace diveconnector
