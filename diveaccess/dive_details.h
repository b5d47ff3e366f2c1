// Everything a dive's parser reports beyond the record the application always gets: the other
// header fields, every gas mix and tank, and every sample kind, each value kept.
//
//     DiveDetails details = parseDetails(parser.get(), log, diveNumber);
//     const DiveProfile profile = parseSamples(parser.get(), &details.samples);
//     if (details.averageDepth) ... *details.averageDepth ...
//
// A field the backend does not give (DC_STATUS_UNSUPPORTED, or a member this libdivecomputer
// release lacks) is an empty optional, never zero. So is a field whose query fails: the details
// are an extra, and a dive is never lost for one of them. Sample values are lists, one entry per
// value in the order libdivecomputer delivered them, each with the index of the time sample it
// belongs to (values before the first time sample belong to it), so two events or two tanks'
// pressures at one time sample are both kept. They are gathered in the walk that makes the
// record's profile (parseSamples in dive_profile.h), so the backend decodes the samples once.
#pragma once

#include <libdivecomputer/datetime.h>
#include <libdivecomputer/parser.h>
#include <libdivecomputer/version.h>

#include <cstdint>
#include <optional>
#include <vector>

#include "support_log.h"

namespace diveconnector {

// Whose gas a mix or tank is: libdivecomputer's dc_usage_t values (NONE 0, OXYGEN 1, DILUENT 2,
// SIDEMOUNT 3), reported from 0.9 on.
using GasUsage = std::optional<std::uint32_t>;

struct GasMixDetail {
    double oxygen = 0.0;  // fractions
    double helium = 0.0;
    double nitrogen = 0.0;
    GasUsage usage;
};

struct TankDetail {
    std::optional<std::uint32_t> gasMix;  // empty for DC_GASMIX_UNKNOWN
    std::uint32_t volumeType = 0;         // dc_tankvolume_t: NONE 0, METRIC 1, IMPERIAL 2
    double volume = 0.0;                  // water capacity, litres
    double workPressure = 0.0;            // bar
    double beginPressure = 0.0;
    double endPressure = 0.0;
    GasUsage usage;
};

struct DecoModelDetail {
    std::uint32_t type = 0;  // dc_decomodel_type_t: NONE, BUHLMANN, VPM, RGBM, DCIEM
    std::int32_t conservatism = 0;
    std::uint32_t gradientFactorLow = 0;  // percent, Bühlmann only
    std::uint32_t gradientFactorHigh = 0;
};

struct SalinityDetail {
    std::uint32_t type = 0;  // dc_water_t: FRESH 0, SALT 1
    double density = 0.0;    // kg/m³
};

struct LocationDetail {
    double latitude = 0.0;  // decimal degrees
    double longitude = 0.0;
    double altitude = 0.0;  // metres
};

// One sample value and the index of the time sample it belongs to.
template <typename T>
struct Reading {
    std::int32_t sample = 0;
    T value{};
};

struct TankPressure {
    std::uint32_t tank = 0;
    double bar = 0.0;
};

struct SampleEvent {
    std::uint32_t type = 0;  // SAMPLE_EVENT_*
    std::uint32_t time = 0;
    std::uint32_t flags = 0;  // SAMPLE_FLAGS_BEGIN 1, SAMPLE_FLAGS_END 2
    std::uint32_t value = 0;
};

struct Ppo2Value {
    std::optional<std::uint32_t> sensor;  // empty: no specific sensor, or before 0.9
    double bar = 0.0;
};

struct DecoStatus {
    std::uint32_t type = 0;  // dc_deco_type_t: NDL 0, SAFETYSTOP 1, DECOSTOP 2, DEEPSTOP 3
    std::uint32_t time = 0;  // seconds
    double depth = 0.0;      // metres
    std::optional<std::uint32_t> timeToSurface;  // seconds, from 0.9 on
};

struct DetailSamples {
    std::vector<double> times;  // seconds, one per time sample
    std::vector<Reading<double>> depths;
    std::vector<Reading<TankPressure>> pressures;
    std::vector<Reading<double>> temperatures;
    std::vector<Reading<SampleEvent>> events;
    std::vector<Reading<std::uint32_t>> remainingBottomTimes;  // minutes
    std::vector<Reading<std::uint32_t>> heartRates;            // beats per minute
    std::vector<Reading<std::uint32_t>> bearings;              // degrees
    std::vector<Reading<double>> setpoints;                    // bar
    std::vector<Reading<Ppo2Value>> ppo2;
    std::vector<Reading<double>> cns;  // fraction, 1.0 = 100 %
    std::vector<Reading<DecoStatus>> deco;
    std::vector<Reading<std::uint32_t>> gasSwitches;  // index into the gas mixes

    // Adds one value as libdivecomputer delivers it; VENDOR and unknown kinds are not kept.
    void add(dc_sample_type_t type, const dc_sample_value_t& value);
};

struct DiveDetails {
    std::optional<std::int32_t> timezone;      // seconds east of UTC
    std::optional<double> averageDepth;        // metres
    std::optional<double> atmospheric;         // bar
    std::optional<double> surfaceTemperature;  // °C
    std::optional<double> minimumTemperature;
    std::optional<double> maximumTemperature;
    std::optional<std::uint32_t> diveMode;  // dc_divemode_t: FREEDIVE, GAUGE, OC, CCR, SCR
    std::optional<DecoModelDetail> decoModel;
    std::optional<SalinityDetail> salinity;
    std::optional<LocationDetail> location;  // from 0.9 on
    // Every mix and tank by index; an index the dive does not report stays empty.
    std::vector<std::optional<GasMixDetail>> gasMixes;
    std::vector<std::optional<TankDetail>> tanks;
    DetailSamples samples;
};

// Queries every field (of the date only its time zone); the samples stay empty. A query that fails
// with anything but DC_STATUS_UNSUPPORTED leaves its field (or its gas mix or tank) empty and is
// a warning in the support log naming the dive (`dive`, counted from 1 in the download's order),
// the query and the status. Throws only what the lists' allocation throws.
[[nodiscard]] DiveDetails parseDetails(dc_parser_t* parser, const SupportLog& log,
                                       unsigned int dive);

}  // namespace diveconnector
