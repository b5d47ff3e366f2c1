#ifndef DC_PARSER_H
#define DC_PARSER_H

#include <stddef.h>

#include "common.h"
#include "context.h"
#include "datetime.h"
#include "descriptor.h"
#include "device.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef enum dc_sample_type_t {
    DC_SAMPLE_TIME,
    DC_SAMPLE_DEPTH,
    DC_SAMPLE_PRESSURE,
    DC_SAMPLE_TEMPERATURE,
    DC_SAMPLE_EVENT,
    DC_SAMPLE_RBT,
    DC_SAMPLE_HEARTBEAT,
    DC_SAMPLE_BEARING,
    DC_SAMPLE_VENDOR,
    DC_SAMPLE_SETPOINT,
    DC_SAMPLE_PPO2,
    DC_SAMPLE_CNS,
    DC_SAMPLE_DECO,
    DC_SAMPLE_GASMIX
} dc_sample_type_t;

typedef enum dc_field_type_t {
    DC_FIELD_DIVETIME,
    DC_FIELD_MAXDEPTH,
    DC_FIELD_AVGDEPTH,
    DC_FIELD_GASMIX_COUNT,
    DC_FIELD_GASMIX,
    DC_FIELD_SALINITY,
    DC_FIELD_ATMOSPHERIC,
    DC_FIELD_TEMPERATURE_SURFACE,
    DC_FIELD_TEMPERATURE_MINIMUM,
    DC_FIELD_TEMPERATURE_MAXIMUM,
    DC_FIELD_TANK_COUNT,
    DC_FIELD_TANK,
    DC_FIELD_DIVEMODE,
    DC_FIELD_DECOMODEL,
#ifndef DCSIM_API_0_8
    DC_FIELD_LOCATION
#endif
} dc_field_type_t;

/* 11 and 25 are the gas change events of 0.8, superseded by DC_SAMPLE_GASMIX. */
typedef enum parser_sample_event_t {
    SAMPLE_EVENT_NONE = 0,
    SAMPLE_EVENT_DECOSTOP = 1,
    SAMPLE_EVENT_RBT = 2,
    SAMPLE_EVENT_ASCENT = 3,
    SAMPLE_EVENT_CEILING = 4,
    SAMPLE_EVENT_WORKLOAD = 5,
    SAMPLE_EVENT_TRANSMITTER = 6,
    SAMPLE_EVENT_VIOLATION = 7,
    SAMPLE_EVENT_BOOKMARK = 8,
    SAMPLE_EVENT_SURFACE = 9,
    SAMPLE_EVENT_SAFETYSTOP = 10,
    SAMPLE_EVENT_GASCHANGE = 11, /* Deprecated: replaced by DC_SAMPLE_GASMIX. */
    SAMPLE_EVENT_SAFETYSTOP_VOLUNTARY = 12,
    SAMPLE_EVENT_SAFETYSTOP_MANDATORY = 13,
    SAMPLE_EVENT_DEEPSTOP = 14,
    SAMPLE_EVENT_CEILING_SAFETYSTOP = 15,
    SAMPLE_EVENT_FLOOR = 16,
    SAMPLE_EVENT_DIVETIME = 17,
    SAMPLE_EVENT_MAXDEPTH = 18,
    SAMPLE_EVENT_OLF = 19,
    SAMPLE_EVENT_PO2 = 20,
    SAMPLE_EVENT_AIRTIME = 21,
    SAMPLE_EVENT_RGBM = 22,
    SAMPLE_EVENT_HEADING = 23,
    SAMPLE_EVENT_TISSUELEVEL = 24,
    SAMPLE_EVENT_GASCHANGE2 = 25 /* Deprecated: replaced by DC_SAMPLE_GASMIX. */
} parser_sample_event_t;

typedef enum parser_sample_flags_t {
    SAMPLE_FLAGS_NONE = 0,
    SAMPLE_FLAGS_BEGIN = (1 << 0),
    SAMPLE_FLAGS_END = (1 << 1)
} parser_sample_flags_t;

typedef enum dc_water_t { DC_WATER_FRESH, DC_WATER_SALT } dc_water_t;

typedef enum dc_divemode_t {
    DC_DIVEMODE_FREEDIVE,
    DC_DIVEMODE_GAUGE,
    DC_DIVEMODE_OC,
    DC_DIVEMODE_CCR,
    DC_DIVEMODE_SCR
} dc_divemode_t;

typedef enum dc_deco_type_t {
    DC_DECO_NDL,
    DC_DECO_SAFETYSTOP,
    DC_DECO_DECOSTOP,
    DC_DECO_DEEPSTOP
} dc_deco_type_t;

typedef enum dc_decomodel_type_t {
    DC_DECOMODEL_NONE,
    DC_DECOMODEL_BUHLMANN,
    DC_DECOMODEL_VPM,
    DC_DECOMODEL_RGBM,
    DC_DECOMODEL_DCIEM
} dc_decomodel_type_t;

typedef struct dc_decomodel_t {
    dc_decomodel_type_t type;
    int conservatism;
    union {
        struct {
            unsigned int high;
            unsigned int low;
        } gf;
    } params;
} dc_decomodel_t;

typedef struct dc_salinity_t {
    dc_water_t type;
    double density;
} dc_salinity_t;

#ifndef DCSIM_API_0_8
typedef enum dc_usage_t {
    DC_USAGE_NONE,
    DC_USAGE_OXYGEN,
    DC_USAGE_DILUENT,
    DC_USAGE_SIDEMOUNT
} dc_usage_t;
#endif

typedef struct dc_gasmix_t {
    double helium;
    double oxygen;
    double nitrogen;
#ifndef DCSIM_API_0_8
    dc_usage_t usage;
#endif
} dc_gasmix_t;

#define DC_GASMIX_UNKNOWN 0xFFFFFFFF

typedef enum dc_tankvolume_t {
    DC_TANKVOLUME_NONE,
    DC_TANKVOLUME_METRIC,
    DC_TANKVOLUME_IMPERIAL
} dc_tankvolume_t;

typedef struct dc_tank_t {
    unsigned int gasmix;
    dc_tankvolume_t type;
    double volume;
    double workpressure;
    double beginpressure;
    double endpressure;
#ifndef DCSIM_API_0_8
    dc_usage_t usage;
#endif
} dc_tank_t;

#ifndef DCSIM_API_0_8
typedef struct dc_location_t {
    double latitude;
    double longitude;
    double altitude;
} dc_location_t;

#define DC_SENSOR_NONE 0xFFFFFFFF
#endif

typedef union dc_sample_value_t {
    unsigned int time;
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
        const void* data;
    } vendor;
    double setpoint;
#ifdef DCSIM_API_0_8
    double ppo2;
#else
    struct {
        unsigned int sensor;
        double value;
    } ppo2;
#endif
    double cns;
    struct {
        unsigned int type;
        unsigned int time;
        double depth;
#ifndef DCSIM_API_0_8
        unsigned int tts;
#endif
    } deco;
    unsigned int gasmix;
} dc_sample_value_t;

typedef struct dc_parser_t dc_parser_t;

#ifdef DCSIM_API_0_8

typedef void (*dc_sample_callback_t)(dc_sample_type_t type, dc_sample_value_t value,
                                     void* userdata);

dc_status_t dc_parser_new(dc_parser_t** parser, dc_device_t* device);

dc_status_t dc_parser_new2(dc_parser_t** parser, dc_context_t* context, dc_descriptor_t* descriptor,
                           unsigned int devtime, dc_ticks_t systime);

dc_status_t dc_parser_set_data(dc_parser_t* parser, const unsigned char* data, unsigned int size);

#else

typedef void (*dc_sample_callback_t)(dc_sample_type_t type, const dc_sample_value_t* value,
                                     void* userdata);

dc_status_t dc_parser_new(dc_parser_t** parser, dc_device_t* device, const unsigned char data[],
                          size_t size);

dc_status_t dc_parser_new2(dc_parser_t** parser, dc_context_t* context, dc_descriptor_t* descriptor,
                           const unsigned char data[], size_t size);

#endif

dc_family_t dc_parser_get_type(dc_parser_t* parser);

dc_status_t dc_parser_get_datetime(dc_parser_t* parser, dc_datetime_t* datetime);

dc_status_t dc_parser_get_field(dc_parser_t* parser, dc_field_type_t type, unsigned int flags,
                                void* value);

dc_status_t dc_parser_samples_foreach(dc_parser_t* parser, dc_sample_callback_t callback,
                                      void* userdata);

dc_status_t dc_parser_destroy(dc_parser_t* parser);

#ifdef __cplusplus
}
#endif

#endif
