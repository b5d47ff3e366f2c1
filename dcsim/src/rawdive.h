#ifndef DCSIM_RAWDIVE_H
#define DCSIM_RAWDIVE_H

/* dcsim's raw dive format (described in dcsim/RAWDIVE.md): what a simulated
 * dive computer hands to the dive callback and what dcsim's parser reads.
 *
 * The format holds everything libdivecomputer 0.8 and 0.9 can deliver, in
 * types of its own; the parser converts to the API it presents. Everything
 * here is a pure function of its arguments and never reads outside the given
 * bytes, so a fuzzer can compile rawdive.c on its own and call
 * dcsim_raw_dive_decode(). */

#include <libdivecomputer/common.h>
#include <libdivecomputer/datetime.h>
#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define DCSIM_RAW_MAGIC "DCSM"
#define DCSIM_RAW_VERSION 1
#define DCSIM_RAW_PREAMBLE_SIZE 12
/* Largest payload of one record. */
#define DCSIM_RAW_MAX_PAYLOAD 255
/* The largest sample type: in C++ an enumeration only holds the values of
 * its smallest bit-field, 0-15 for dc_sample_type_t, so a larger type would
 * be undefined behaviour in a C++ callback. */
#define DCSIM_RAW_MAX_SAMPLE_TYPE 15
/* Value bytes of a sample of a kind libdivecomputer does not define. */
#define DCSIM_RAW_OTHER_SIZE 24

/* Fields and samples are numbered as libdivecomputer's dc_field_type_t and
 * dc_sample_type_t (0.9 adds LOCATION). */
enum {
    DCSIM_FIELD_DIVETIME,
    DCSIM_FIELD_MAXDEPTH,
    DCSIM_FIELD_AVGDEPTH,
    DCSIM_FIELD_GASMIX_COUNT,
    DCSIM_FIELD_GASMIX,
    DCSIM_FIELD_SALINITY,
    DCSIM_FIELD_ATMOSPHERIC,
    DCSIM_FIELD_TEMPERATURE_SURFACE,
    DCSIM_FIELD_TEMPERATURE_MINIMUM,
    DCSIM_FIELD_TEMPERATURE_MAXIMUM,
    DCSIM_FIELD_TANK_COUNT,
    DCSIM_FIELD_TANK,
    DCSIM_FIELD_DIVEMODE,
    DCSIM_FIELD_DECOMODEL,
    DCSIM_FIELD_LOCATION
};

enum {
    DCSIM_SAMPLE_TIME,
    DCSIM_SAMPLE_DEPTH,
    DCSIM_SAMPLE_PRESSURE,
    DCSIM_SAMPLE_TEMPERATURE,
    DCSIM_SAMPLE_EVENT,
    DCSIM_SAMPLE_RBT,
    DCSIM_SAMPLE_HEARTBEAT,
    DCSIM_SAMPLE_BEARING,
    DCSIM_SAMPLE_VENDOR,
    DCSIM_SAMPLE_SETPOINT,
    DCSIM_SAMPLE_PPO2,
    DCSIM_SAMPLE_CNS,
    DCSIM_SAMPLE_DECO,
    DCSIM_SAMPLE_GASMIX
};

/* libdivecomputer 0.9's dc_usage_t and dc_tankvolume_t. */
enum { DCSIM_USAGE_NONE, DCSIM_USAGE_OXYGEN, DCSIM_USAGE_DILUENT, DCSIM_USAGE_SIDEMOUNT };
enum { DCSIM_TANKVOLUME_NONE, DCSIM_TANKVOLUME_METRIC, DCSIM_TANKVOLUME_IMPERIAL };

/* Where a fault recorded in a dive strikes. */
typedef enum dcsim_raw_stage_t {
    DCSIM_RAW_STAGE_CREATE = 1,   /* making the parser */
    DCSIM_RAW_STAGE_DATETIME = 2, /* dc_parser_get_datetime */
    DCSIM_RAW_STAGE_FIELD = 3,    /* dc_parser_get_field */
    DCSIM_RAW_STAGE_SAMPLES = 4,  /* dc_parser_samples_foreach, after `after` samples */
    DCSIM_RAW_STAGE_DESTROY = 5   /* dc_parser_destroy */
} dcsim_raw_stage_t;

/* Enumerations hold libdivecomputer's values (dc_usage_t, dc_tankvolume_t,
 * dc_water_t, dc_divemode_t, dc_decomodel_type_t, dc_deco_type_t). */
typedef struct dcsim_raw_gasmix_t {
    double oxygen; /* fractions */
    double helium;
    unsigned int usage;
} dcsim_raw_gasmix_t;

typedef struct dcsim_raw_tank_t {
    unsigned int gasmix; /* an index, or 0xFFFFFFFF */
    unsigned int volume_type;
    double volume;
    double workpressure;
    double beginpressure;
    double endpressure;
    unsigned int usage;
} dcsim_raw_tank_t;

typedef struct dcsim_raw_decomodel_t {
    unsigned int type;
    int conservatism;
    unsigned int gf_high;
    unsigned int gf_low;
} dcsim_raw_decomodel_t;

typedef struct dcsim_raw_location_t {
    double latitude;
    double longitude;
    double altitude;
} dcsim_raw_location_t;

/* The header of a dive: everything but the samples. */
typedef struct dcsim_raw_header_t {
    unsigned int fields; /* bit (1u << field) set for each field the dive has */
    int has_datetime;
    dc_datetime_t datetime;
    unsigned int divetime;
    double maxdepth;
    double avgdepth;
    unsigned int water;
    double density;
    double atmospheric;
    double temperature_surface;
    double temperature_minimum;
    double temperature_maximum;
    unsigned int divemode;
    dcsim_raw_decomodel_t decomodel;
    dcsim_raw_location_t location;
    unsigned int ngasmixes;
    unsigned int ntanks;
} dcsim_raw_header_t;

typedef struct dcsim_raw_sample_t {
    unsigned int type; /* DCSIM_SAMPLE_*, or up to DCSIM_RAW_MAX_SAMPLE_TYPE */
    union {
        uint64_t time_ms;
        double depth;
        struct {
            unsigned int tank;
            double value;
        } pressure;
        double temperature;
        struct {
            unsigned int type;
            unsigned int time;
            unsigned int flags;
            unsigned int value;
        } event;
        unsigned int rbt;
        unsigned int heartbeat;
        unsigned int bearing;
        struct {
            unsigned int type;
            unsigned int size;
            const unsigned char* data;
        } vendor;
        double setpoint;
        struct {
            unsigned int sensor; /* 0xFFFFFFFF for none */
            double value;
        } ppo2;
        double cns;
        struct {
            unsigned int type;
            unsigned int time;
            double depth;
            unsigned int tts;
        } deco;
        unsigned int gasmix;
        struct {
            unsigned char bytes[DCSIM_RAW_OTHER_SIZE];
            unsigned int size;
        } other;
    } value;
} dcsim_raw_sample_t;

/* Answers nonzero to stop the walk. */
typedef int (*dcsim_raw_sample_fn)(const dcsim_raw_sample_t* sample, void* userdata);

/* ---- Decoding: each answers DC_STATUS_DATAFORMAT for malformed data ---- */

/* Checks the preamble and every header record. */
dc_status_t dcsim_raw_header(const unsigned char* data, size_t size, dcsim_raw_header_t* out);

/* The index-th gas mix or tank; DC_STATUS_INVALIDARGS past the last one. */
dc_status_t dcsim_raw_gasmix(const unsigned char* data, size_t size, unsigned int index,
                             dcsim_raw_gasmix_t* out);
dc_status_t dcsim_raw_tank(const unsigned char* data, size_t size, unsigned int index,
                           dcsim_raw_tank_t* out);

/* The first fault recorded for the stage (and, for DCSIM_RAW_STAGE_FIELD, the
 * field); 1 if there is one. */
int dcsim_raw_find_fault(const unsigned char* data, size_t size, dcsim_raw_stage_t stage,
                         unsigned int field, dc_status_t* status, unsigned int* after);

/* Walks the samples in order, calling fn for each; a NULL fn only checks
 * them. Samples before a malformed record are delivered. */
dc_status_t dcsim_raw_samples(const unsigned char* data, size_t size, dcsim_raw_sample_fn fn,
                              void* userdata);

/* Decodes all of it: header, every gas mix and tank, then the samples. */
dc_status_t dcsim_raw_dive_decode(const unsigned char* data, size_t size, dcsim_raw_header_t* out,
                                  dcsim_raw_sample_fn fn, void* userdata);

/* ---- Encoding ----------------------------------------------------------- */

/* A growing byte buffer. Errors are sticky: check `failed` once at the end. */
typedef struct dcsim_raw_writer_t {
    unsigned char* data;
    size_t size;
    size_t capacity;
    int failed;
} dcsim_raw_writer_t;

void dcsim_raw_writer_init(dcsim_raw_writer_t* writer);
void dcsim_raw_writer_release(dcsim_raw_writer_t* writer);
void dcsim_raw_reserve(dcsim_raw_writer_t* writer, size_t capacity);
void dcsim_raw_append(dcsim_raw_writer_t* writer, const void* bytes, size_t size);

/* A dive is: begin, header records, end_header, sample records. */
void dcsim_raw_begin(dcsim_raw_writer_t* writer);
void dcsim_raw_end_header(dcsim_raw_writer_t* writer);

void dcsim_raw_put_datetime(dcsim_raw_writer_t* writer, const dc_datetime_t* datetime);
void dcsim_raw_put_divetime(dcsim_raw_writer_t* writer, unsigned int seconds);
/* MAXDEPTH, AVGDEPTH, ATMOSPHERIC and the TEMPERATURE fields. */
void dcsim_raw_put_number(dcsim_raw_writer_t* writer, unsigned int field, double value);
/* Each adds one more, in index order. */
void dcsim_raw_put_gasmix(dcsim_raw_writer_t* writer, const dcsim_raw_gasmix_t* gasmix);
void dcsim_raw_put_tank(dcsim_raw_writer_t* writer, const dcsim_raw_tank_t* tank);
void dcsim_raw_put_salinity(dcsim_raw_writer_t* writer, unsigned int water, double density);
void dcsim_raw_put_divemode(dcsim_raw_writer_t* writer, unsigned int divemode);
void dcsim_raw_put_decomodel(dcsim_raw_writer_t* writer, const dcsim_raw_decomodel_t* model);
void dcsim_raw_put_location(dcsim_raw_writer_t* writer, const dcsim_raw_location_t* location);
void dcsim_raw_put_fault(dcsim_raw_writer_t* writer, dcsim_raw_stage_t stage, int any_field,
                         unsigned int field, dc_status_t status, unsigned int after);
void dcsim_raw_put_sample(dcsim_raw_writer_t* writer, const dcsim_raw_sample_t* sample);

#ifdef __cplusplus
}
#endif

#endif
