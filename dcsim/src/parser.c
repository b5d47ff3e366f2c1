#include <inttypes.h>
#include <libdivecomputer/parser.h>
#include <limits.h>
#include <stdlib.h>
#include <string.h>

#include "calls.h"
#include "context.h"
#include "descriptor.h"
#include "device.h"
#include "live.h"
#include "rawdive.h"

/* The raw format numbers fields and samples as libdivecomputer does. */
_Static_assert((int)DCSIM_FIELD_DECOMODEL == (int)DC_FIELD_DECOMODEL, "field numbers");
_Static_assert((int)DCSIM_SAMPLE_GASMIX == (int)DC_SAMPLE_GASMIX, "sample numbers");

struct dc_parser_t {
    dc_context_t* context;
    dc_family_t family;
    unsigned int model;
    /* 0.9 parsers own a copy; 0.8 ones read the caller's bytes, which must
     * outlive them, as with libdivecomputer 0.8. */
    const unsigned char* data;
    unsigned char* copy;
    size_t size;
    dc_status_t header_status; /* of the data when it was set */
};

static dc_parser_t* parser_alloc(dc_context_t* context, dc_family_t family, unsigned int model) {
    dc_parser_t* parser = calloc(1, sizeof *parser);
    if (parser != NULL) {
        parser->context = context;
        parser->family = family;
        parser->model = model;
        parser->header_status = DC_STATUS_DATAFORMAT;
    }
    return parser;
}

static void parser_free(dc_parser_t* parser) {
    free(parser->copy);
    free(parser);
}

/* Reads the dive's header; answers the status that making the parser (or,
 * in 0.8, setting its data) gets. */
static dc_status_t parser_take(dc_parser_t* parser, const unsigned char* data, size_t size) {
    parser->data = data;
    parser->size = size;
    dcsim_raw_header_t header;
    parser->header_status = dcsim_raw_header(data, size, &header);
    dc_status_t status = parser->header_status;
    if (status != DC_STATUS_SUCCESS) {
        DCSIM_ERROR(parser->context, "Invalid dive data (%" PRIu64 " bytes).", (uint64_t)size);
    } else if (dcsim_raw_find_fault(data, size, DCSIM_RAW_STAGE_CREATE, 0, &status, NULL)) {
        DCSIM_ERROR(parser->context, "Failed to parse the dive.");
    }
    return status;
}

#ifdef DCSIM_API_0_8

static dc_status_t parser_create(dc_parser_t** out, dc_context_t* context, dc_family_t family,
                                 unsigned int model) {
    if (out == NULL) {
        return DC_STATUS_INVALIDARGS;
    }
    dc_parser_t* parser = parser_alloc(context, family, model);
    if (parser == NULL) {
        return DC_STATUS_NOMEMORY;
    }
    dcsim_live_add(DCSIM_PARSER, 1);
    *out = parser;
    return DC_STATUS_SUCCESS;
}

dc_status_t dc_parser_new(dc_parser_t** out, dc_device_t* device) {
    dc_status_t status = DCSIM_ENTER(dc_parser_new);
    if (status != DC_STATUS_SUCCESS) {
        return status;
    }
    if (device == NULL) {
        return DC_STATUS_INVALIDARGS;
    }
    return parser_create(out, device->context, device->family, device->model);
}

dc_status_t dc_parser_new2(dc_parser_t** out, dc_context_t* context, dc_descriptor_t* descriptor,
                           unsigned int devtime, dc_ticks_t systime) {
    (void)devtime;
    (void)systime;
    dc_status_t status = DCSIM_ENTER(dc_parser_new2);
    if (status != DC_STATUS_SUCCESS) {
        return status;
    }
    if (descriptor == NULL) {
        return DC_STATUS_INVALIDARGS;
    }
    return parser_create(out, context, descriptor->family, descriptor->model);
}

dc_status_t dc_parser_set_data(dc_parser_t* parser, const unsigned char* data, unsigned int size) {
    dc_status_t status = DCSIM_ENTER(dc_parser_set_data);
    if (status != DC_STATUS_SUCCESS) {
        return status;
    }
    if (parser == NULL) {
        return DC_STATUS_UNSUPPORTED;
    }
    if (data == NULL && size != 0) {
        return DC_STATUS_INVALIDARGS;
    }
    return parser_take(parser, data, size);
}

#else

static dc_status_t parser_create(dc_parser_t** out, dc_context_t* context, dc_family_t family,
                                 unsigned int model, const unsigned char data[], size_t size) {
    if (out == NULL || (data == NULL && size != 0)) {
        return DC_STATUS_INVALIDARGS;
    }
    dc_parser_t* parser = parser_alloc(context, family, model);
    if (parser == NULL) {
        return DC_STATUS_NOMEMORY;
    }
    parser->copy = malloc(size ? size : 1);
    if (parser->copy == NULL) {
        parser_free(parser);
        return DC_STATUS_NOMEMORY;
    }
    if (size) {
        memcpy(parser->copy, data, size);
    }
    dc_status_t status = parser_take(parser, parser->copy, size);
    if (status != DC_STATUS_SUCCESS) {
        parser_free(parser);
        return status;
    }
    dcsim_live_add(DCSIM_PARSER, 1);
    *out = parser;
    return DC_STATUS_SUCCESS;
}

dc_status_t dc_parser_new(dc_parser_t** out, dc_device_t* device, const unsigned char data[],
                          size_t size) {
    dc_status_t status = DCSIM_ENTER(dc_parser_new);
    if (status != DC_STATUS_SUCCESS) {
        return status;
    }
    if (device == NULL) {
        return DC_STATUS_INVALIDARGS;
    }
    return parser_create(out, device->context, device->family, device->model, data, size);
}

dc_status_t dc_parser_new2(dc_parser_t** out, dc_context_t* context, dc_descriptor_t* descriptor,
                           const unsigned char data[], size_t size) {
    dc_status_t status = DCSIM_ENTER(dc_parser_new2);
    if (status != DC_STATUS_SUCCESS) {
        return status;
    }
    if (descriptor == NULL) {
        return DC_STATUS_INVALIDARGS;
    }
    return parser_create(out, context, descriptor->family, descriptor->model, data, size);
}

#endif

/* The header, read from the data on every query: a 0.8 parser's data may
 * have changed since it was set. */
static dc_status_t read_header(const dc_parser_t* parser, dcsim_raw_header_t* header) {
    if (parser->header_status != DC_STATUS_SUCCESS) {
        return parser->header_status;
    }
    return dcsim_raw_header(parser->data, parser->size, header);
}

dc_family_t dc_parser_get_type(dc_parser_t* parser) {
    if (DCSIM_ENTER(dc_parser_get_type) != DC_STATUS_SUCCESS || parser == NULL) {
        return DC_FAMILY_NULL;
    }
    return parser->family;
}

dc_status_t dc_parser_get_datetime(dc_parser_t* parser, dc_datetime_t* datetime) {
    dc_status_t status = DCSIM_ENTER(dc_parser_get_datetime);
    if (status != DC_STATUS_SUCCESS) {
        return status;
    }
    if (parser == NULL) {
        return DC_STATUS_UNSUPPORTED;
    }
    if (datetime == NULL) {
        return DC_STATUS_INVALIDARGS;
    }
    dcsim_raw_header_t header;
    status = read_header(parser, &header);
    if (status != DC_STATUS_SUCCESS) {
        return status;
    }
    if (dcsim_raw_find_fault(parser->data, parser->size, DCSIM_RAW_STAGE_DATETIME, 0, &status,
                             NULL)) {
        return status;
    }
    if (!header.has_datetime) {
        return DC_STATUS_UNSUPPORTED;
    }
    *datetime = header.datetime;
    return DC_STATUS_SUCCESS;
}

static dc_status_t get_gasmix(const dc_parser_t* parser, const dcsim_raw_header_t* header,
                              unsigned int index, void* value) {
    dcsim_raw_gasmix_t raw;
    if (index >= header->ngasmixes) {
        return DC_STATUS_INVALIDARGS;
    }
    dc_status_t status = dcsim_raw_gasmix(parser->data, parser->size, index, &raw);
    if (status == DC_STATUS_SUCCESS) {
        dc_gasmix_t* gasmix = value;
        gasmix->helium = raw.helium;
        gasmix->oxygen = raw.oxygen;
        gasmix->nitrogen = 1.0 - raw.oxygen - raw.helium;
#ifndef DCSIM_API_0_8
        gasmix->usage = (dc_usage_t)raw.usage;
#endif
    }
    return status;
}

static dc_status_t get_tank(const dc_parser_t* parser, const dcsim_raw_header_t* header,
                            unsigned int index, void* value) {
    dcsim_raw_tank_t raw;
    if (index >= header->ntanks) {
        return DC_STATUS_INVALIDARGS;
    }
    dc_status_t status = dcsim_raw_tank(parser->data, parser->size, index, &raw);
    if (status == DC_STATUS_SUCCESS) {
        dc_tank_t* tank = value;
        tank->gasmix = raw.gasmix;
        tank->type = (dc_tankvolume_t)raw.volume_type;
        tank->volume = raw.volume;
        tank->workpressure = raw.workpressure;
        tank->beginpressure = raw.beginpressure;
        tank->endpressure = raw.endpressure;
#ifndef DCSIM_API_0_8
        tank->usage = (dc_usage_t)raw.usage;
#endif
    }
    return status;
}

/* Writes a field whose presence is already checked. */
static void put_field(const dcsim_raw_header_t* h, dc_field_type_t type, void* value) {
    switch (type) {
        case DC_FIELD_DIVETIME:
            *(unsigned int*)value = h->divetime;
            break;
        case DC_FIELD_MAXDEPTH:
            *(double*)value = h->maxdepth;
            break;
        case DC_FIELD_AVGDEPTH:
            *(double*)value = h->avgdepth;
            break;
        case DC_FIELD_GASMIX_COUNT:
            *(unsigned int*)value = h->ngasmixes;
            break;
        case DC_FIELD_SALINITY: {
            dc_salinity_t* salinity = value;
            salinity->type = (dc_water_t)h->water;
            salinity->density = h->density;
            break;
        }
        case DC_FIELD_ATMOSPHERIC:
            *(double*)value = h->atmospheric;
            break;
        case DC_FIELD_TEMPERATURE_SURFACE:
            *(double*)value = h->temperature_surface;
            break;
        case DC_FIELD_TEMPERATURE_MINIMUM:
            *(double*)value = h->temperature_minimum;
            break;
        case DC_FIELD_TEMPERATURE_MAXIMUM:
            *(double*)value = h->temperature_maximum;
            break;
        case DC_FIELD_TANK_COUNT:
            *(unsigned int*)value = h->ntanks;
            break;
        case DC_FIELD_DIVEMODE:
            *(dc_divemode_t*)value = (dc_divemode_t)h->divemode;
            break;
        case DC_FIELD_DECOMODEL: {
            dc_decomodel_t* model = value;
            model->type = (dc_decomodel_type_t)h->decomodel.type;
            model->conservatism = h->decomodel.conservatism;
            model->params.gf.high = h->decomodel.gf_high;
            model->params.gf.low = h->decomodel.gf_low;
            break;
        }
#ifndef DCSIM_API_0_8
        case DC_FIELD_LOCATION: {
            dc_location_t* location = value;
            location->latitude = h->location.latitude;
            location->longitude = h->location.longitude;
            location->altitude = h->location.altitude;
            break;
        }
#endif
        default:
            break;
    }
}

/* The fields this API knows: 0.8 has no LOCATION. */
#ifdef DCSIM_API_0_8
#define KNOWN_FIELDS ((1u << DCSIM_FIELD_LOCATION) - 1)
#else
#define KNOWN_FIELDS ((1u << (DCSIM_FIELD_LOCATION + 1)) - 1)
#endif

dc_status_t dc_parser_get_field(dc_parser_t* parser, dc_field_type_t type, unsigned int flags,
                                void* value) {
    dc_status_t status = DCSIM_ENTER(dc_parser_get_field);
    if (status != DC_STATUS_SUCCESS) {
        return status;
    }
    if (parser == NULL) {
        return DC_STATUS_UNSUPPORTED;
    }
    dcsim_raw_header_t header;
    status = read_header(parser, &header);
    if (status != DC_STATUS_SUCCESS) {
        return status;
    }
    if (dcsim_raw_find_fault(parser->data, parser->size, DCSIM_RAW_STAGE_FIELD, (unsigned int)type,
                             &status, NULL)) {
        return status;
    }
    /* The real backends fill in a field only when given somewhere to put it,
     * and answer success for any field without one. */
    if (value == NULL) {
        return DC_STATUS_SUCCESS;
    }
    const unsigned int field = (unsigned int)type;
    if (field >= 32 || !(KNOWN_FIELDS & header.fields & (1u << field))) {
        return DC_STATUS_UNSUPPORTED;
    }
    if (type == DC_FIELD_GASMIX) {
        return get_gasmix(parser, &header, flags, value);
    }
    if (type == DC_FIELD_TANK) {
        return get_tank(parser, &header, flags, value);
    }
    put_field(&header, type, value);
    return DC_STATUS_SUCCESS;
}

typedef struct walk_t {
    dc_sample_callback_t callback;
    void* userdata;
    int limited;
    unsigned int remaining;
    dc_status_t status; /* a sample this API cannot deliver */
} walk_t;

/* A raw sample as this API delivers it; 0 if it cannot. */
static int convert(const dcsim_raw_sample_t* s, dc_sample_value_t* value) {
    memset(value, 0, sizeof *value);
    switch (s->type) {
        case DCSIM_SAMPLE_TIME: {
#ifdef DCSIM_API_0_8
            uint64_t time = s->value.time_ms / 1000;
#else
            uint64_t time = s->value.time_ms;
#endif
            if (time > UINT_MAX) {
                return 0;
            }
            value->time = (unsigned int)time;
            break;
        }
        case DCSIM_SAMPLE_DEPTH:
            value->depth = s->value.depth;
            break;
        case DCSIM_SAMPLE_PRESSURE:
            value->pressure.tank = s->value.pressure.tank;
            value->pressure.value = s->value.pressure.value;
            break;
        case DCSIM_SAMPLE_TEMPERATURE:
            value->temperature = s->value.temperature;
            break;
        case DCSIM_SAMPLE_EVENT:
            value->event.type = s->value.event.type;
            value->event.time = s->value.event.time;
            value->event.flags = s->value.event.flags;
            value->event.value = s->value.event.value;
            break;
        case DCSIM_SAMPLE_RBT:
            value->rbt = s->value.rbt;
            break;
        case DCSIM_SAMPLE_HEARTBEAT:
            value->heartbeat = s->value.heartbeat;
            break;
        case DCSIM_SAMPLE_BEARING:
            value->bearing = s->value.bearing;
            break;
        case DCSIM_SAMPLE_VENDOR:
            value->vendor.type = s->value.vendor.type;
            value->vendor.size = s->value.vendor.size;
            value->vendor.data = s->value.vendor.data;
            break;
        case DCSIM_SAMPLE_SETPOINT:
            value->setpoint = s->value.setpoint;
            break;
        case DCSIM_SAMPLE_PPO2:
#ifdef DCSIM_API_0_8
            value->ppo2 = s->value.ppo2.value;
#else
            value->ppo2.sensor = s->value.ppo2.sensor;
            value->ppo2.value = s->value.ppo2.value;
#endif
            break;
        case DCSIM_SAMPLE_CNS:
            value->cns = s->value.cns;
            break;
        case DCSIM_SAMPLE_DECO:
            value->deco.type = s->value.deco.type;
            value->deco.time = s->value.deco.time;
            value->deco.depth = s->value.deco.depth;
#ifndef DCSIM_API_0_8
            value->deco.tts = s->value.deco.tts;
#endif
            break;
        case DCSIM_SAMPLE_GASMIX:
            value->gasmix = s->value.gasmix;
            break;
        default: {
            size_t size = s->value.other.size;
            memcpy(value, s->value.other.bytes, size < sizeof *value ? size : sizeof *value);
            break;
        }
    }
    return 1;
}

static int deliver(const dcsim_raw_sample_t* sample, void* userdata) {
    walk_t* walk = userdata;
    if (walk->limited) {
        if (walk->remaining == 0) {
            return 1;
        }
        walk->remaining--;
    }
    dc_sample_value_t value;
    if (!convert(sample, &value)) {
        walk->status = DC_STATUS_DATAFORMAT;
        return 1;
    }
    if (walk->callback != NULL) {
#ifdef DCSIM_API_0_8
        walk->callback((dc_sample_type_t)sample->type, value, walk->userdata);
#else
        walk->callback((dc_sample_type_t)sample->type, &value, walk->userdata);
#endif
    }
    return 0;
}

dc_status_t dc_parser_samples_foreach(dc_parser_t* parser, dc_sample_callback_t callback,
                                      void* userdata) {
    dc_status_t status = DCSIM_ENTER(dc_parser_samples_foreach);
    if (status != DC_STATUS_SUCCESS) {
        return status;
    }
    if (parser == NULL) {
        return DC_STATUS_UNSUPPORTED;
    }
    if (parser->header_status != DC_STATUS_SUCCESS) {
        return parser->header_status;
    }
    walk_t walk = {callback, userdata, 0, 0, DC_STATUS_SUCCESS};
    dc_status_t fault = DC_STATUS_SUCCESS;
    walk.limited = dcsim_raw_find_fault(parser->data, parser->size, DCSIM_RAW_STAGE_SAMPLES, 0,
                                        &fault, &walk.remaining);
    status = dcsim_raw_samples(parser->data, parser->size, deliver, &walk);
    if (status == DC_STATUS_SUCCESS) {
        status = walk.status;
    }
    if (status != DC_STATUS_SUCCESS) {
        DCSIM_ERROR(parser->context, "Invalid sample data.");
        return status;
    }
    return walk.limited ? fault : DC_STATUS_SUCCESS;
}

dc_status_t dc_parser_destroy(dc_parser_t* parser) {
    dc_status_t status = DCSIM_ENTER(dc_parser_destroy);
    if (parser == NULL) {
        return status;
    }
    dc_status_t fault;
    if (status == DC_STATUS_SUCCESS && parser->header_status == DC_STATUS_SUCCESS &&
        dcsim_raw_find_fault(parser->data, parser->size, DCSIM_RAW_STAGE_DESTROY, 0, &fault,
                             NULL)) {
        status = fault;
    }
    parser_free(parser);
    dcsim_live_add(DCSIM_PARSER, -1);
    return status;
}
