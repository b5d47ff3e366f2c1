#include "generator.h"

#include "calendar.h"

/* Rounds to a step, like a dive computer's sensor resolution. Beyond 2^52
 * steps a double is whole already, and NaN or an infinity stays as it is. */
static double quantize(double value, double step) {
    double scaled = value / step;
    if (!(scaled > -4503599627370496.0 && scaled < 4503599627370496.0)) {
        return value;
    }
    long long rounded = (long long)(scaled < 0 ? scaled - 0.5 : scaled + 0.5);
    return (double)rounded * step;
}

static void put_time(dcsim_raw_writer_t* writer, uint64_t ms) {
    dcsim_raw_sample_t sample = {DCSIM_SAMPLE_TIME, {0}};
    sample.value.time_ms = ms;
    dcsim_raw_put_sample(writer, &sample);
}

static void put_depth(dcsim_raw_writer_t* writer, double depth) {
    dcsim_raw_sample_t sample = {DCSIM_SAMPLE_DEPTH, {0}};
    sample.value.depth = depth;
    dcsim_raw_put_sample(writer, &sample);
}

static void put_temperature(dcsim_raw_writer_t* writer, double temperature) {
    dcsim_raw_sample_t sample = {DCSIM_SAMPLE_TEMPERATURE, {0}};
    sample.value.temperature = temperature;
    dcsim_raw_put_sample(writer, &sample);
}

static void put_pressure(dcsim_raw_writer_t* writer, unsigned int tank, double bar) {
    dcsim_raw_sample_t sample = {DCSIM_SAMPLE_PRESSURE, {0}};
    sample.value.pressure.tank = tank;
    sample.value.pressure.value = bar;
    dcsim_raw_put_sample(writer, &sample);
}

double dcsim_profile_maxdepth(const dcsim_profile_t* profile) {
    double maxdepth = 0.0;
    for (size_t i = 0; i < profile->nwaypoints; i++) {
        if (profile->waypoints[i].depth > maxdepth) {
            maxdepth = profile->waypoints[i].depth;
        }
    }
    return maxdepth;
}

static double profile_depth(const dcsim_profile_t* profile, uint64_t t, size_t* segment) {
    const dcsim_waypoint_t* w = profile->waypoints;
    while (*segment + 1 < profile->nwaypoints && w[*segment + 1].time_ms <= t) {
        (*segment)++;
    }
    if (*segment + 1 >= profile->nwaypoints) {
        return w[*segment].depth;
    }
    const dcsim_waypoint_t *a = &w[*segment], *b = &w[*segment + 1];
    double f = (double)(t - a->time_ms) / (double)(b->time_ms - a->time_ms);
    return a->depth + (b->depth - a->depth) * f;
}

void dcsim_profile_write(const dcsim_profile_t* profile, const unsigned char* inserted,
                         dcsim_raw_writer_t* writer) {
    if (profile->nwaypoints == 0) {
        return;
    }
    uint64_t start = profile->waypoints[0].time_ms;
    uint64_t end = profile->waypoints[profile->nwaypoints - 1].time_ms;
    double maxdepth = dcsim_profile_maxdepth(profile);
    size_t segment = 0, next_insert = 0;
    for (uint64_t t = start;; t += profile->interval_ms) {
        double depth = quantize(profile_depth(profile, t, &segment), 0.01);
        put_time(writer, t);
        put_depth(writer, depth);
        if (profile->has_temperature) {
            double f = maxdepth > 0.0 ? depth / maxdepth : 0.0;
            put_temperature(
                writer,
                quantize(profile->temperature_surface +
                             (profile->temperature_bottom - profile->temperature_surface) * f,
                         0.1));
        }
        for (size_t i = 0; i < profile->ntanks; i++) {
            const dcsim_profile_tank_t* tank = &profile->tanks[i];
            double f = end > start ? (double)(t - start) / (double)(end - start) : 1.0;
            put_pressure(writer, tank->tank,
                         quantize(tank->begin + (tank->end - tank->begin) * f, 0.1));
        }
        while (next_insert < profile->ninserts && profile->inserts[next_insert].time_ms <= t) {
            const dcsim_insert_t* insert = &profile->inserts[next_insert++];
            dcsim_raw_append(writer, inserted + insert->offset, insert->length);
        }
        if (end - t < profile->interval_ms) {
            break;
        }
    }
    while (next_insert < profile->ninserts) {
        const dcsim_insert_t* insert = &profile->inserts[next_insert++];
        dcsim_raw_append(writer, inserted + insert->offset, insert->length);
    }
}

/* Depth of sample k of n in a dive to `depth`: descent over the first tenth,
 * a slowly undulating bottom, an ascent to a stop at 5 m and the surface. */
static double generated_depth(unsigned int k, unsigned int n, double depth) {
    if (n < 2) {
        return 0.0;
    }
    double f = (double)k / (double)(n - 1);
    if (f < 0.1) {
        return depth * f / 0.1;
    }
    if (f < 0.75) {
        unsigned int phase = k % 60;
        double wave = (double)(phase < 30 ? phase : 60 - phase) / 30.0;
        return depth * (1.0 - 0.15 * wave);
    }
    double stop = depth < 5.0 ? depth : 5.0;
    if (f < 0.85) {
        double from = depth * 0.9;
        return from + (stop - from) * (f - 0.75) / 0.1;
    }
    if (f < 0.97) {
        return stop;
    }
    return stop * (1.0 - f) / 0.03;
}

void dcsim_generator_write(const dcsim_generator_t* g, unsigned int n, dcsim_raw_writer_t* writer) {
    /* Spread the dives' depths deterministically between 80 % and 120 %. */
    double depth = quantize(g->depth * (0.8 + 0.4 * (double)((n * 37u) % 101u) / 100.0), 0.1);
    dcsim_raw_reserve(writer, 256 + (size_t)g->samples * (30 + 14 * (size_t)g->tanks + 10));

    dcsim_raw_begin(writer);
    dc_datetime_t datetime;
    dcsim_ticks_split(g->start + (dc_ticks_t)n * g->spacing, &datetime);
    datetime.timezone = DC_TIMEZONE_NONE;
    dcsim_raw_put_datetime(writer, &datetime);
    unsigned int divetime =
        (unsigned int)((uint64_t)(g->samples ? g->samples - 1 : 0) * g->interval_ms / 1000);
    dcsim_raw_put_divetime(writer, divetime);
    dcsim_raw_put_number(writer, DCSIM_FIELD_MAXDEPTH, depth);
    const dcsim_raw_gasmix_t gasmix = {g->oxygen, 0.0, DCSIM_USAGE_NONE};
    dcsim_raw_put_gasmix(writer, &gasmix);
    for (unsigned int i = 0; i < g->tanks; i++) {
        const dcsim_raw_tank_t tank = {0,
                                       DCSIM_TANKVOLUME_METRIC,
                                       12.0,
                                       232.0,
                                       200.0,
                                       60.0 + 5.0 * i,
                                       g->tanks > 1 ? DCSIM_USAGE_SIDEMOUNT : DCSIM_USAGE_NONE};
        dcsim_raw_put_tank(writer, &tank);
    }
    dcsim_raw_end_header(writer);

    for (unsigned int k = 0; k < g->samples; k++) {
        double d = quantize(generated_depth(k, g->samples, depth), 0.01);
        double f = g->samples > 1 ? (double)k / (double)(g->samples - 1) : 1.0;
        put_time(writer, (uint64_t)k * g->interval_ms);
        put_depth(writer, d);
        put_temperature(writer,
                        quantize(g->temperature_surface +
                                     (g->temperature_bottom - g->temperature_surface) * d / depth,
                                 0.1));
        for (unsigned int i = 0; i < g->tanks; i++) {
            put_pressure(writer, i, quantize(200.0 - (140.0 - 5.0 * i) * f, 0.1));
        }
    }
}
