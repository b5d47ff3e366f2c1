#include "rawdive.h"

#include <stdlib.h>
#include <string.h>

#include "little_endian.h"

/* Record tags. Header fields use FIELD + dc_field_type_t, samples use
 * SAMPLE + dc_sample_type_t. */
enum {
    TAG_DATETIME = 0x01,
    TAG_FIELD = 0x10,
    TAG_FAULT = 0x30,
    TAG_SAMPLE = 0x40,
    TAG_OTHER = 0x7F
};

#define FIELD_BIT(type) (1u << (type))

/* The highest value of each enumeration the format holds. */
#define MAX_USAGE DCSIM_USAGE_SIDEMOUNT
#define MAX_VOLUME_TYPE DCSIM_TANKVOLUME_IMPERIAL
#define MAX_WATER 1     /* DC_WATER_SALT */
#define MAX_DIVEMODE 4  /* DC_DIVEMODE_SCR */
#define MAX_DECOMODEL 4 /* DC_DECOMODEL_DCIEM */
#define MAX_DECO_TYPE 3 /* DC_DECO_DEEPSTOP */

/* ---- Little-endian access ----------------------------------------------- */

static uint64_t get_u64(const unsigned char* p) {
    return (uint64_t)dcsim_get_u32(p) | (uint64_t)dcsim_get_u32(p + 4) << 32;
}

static int32_t get_i32(const unsigned char* p) {
    uint32_t u = dcsim_get_u32(p);
    return u <= INT32_MAX ? (int32_t)u : (int32_t)(u - 0x80000000u) + INT32_MIN;
}

static double get_f64(const unsigned char* p) {
    uint64_t bits = get_u64(p);
    double value;
    memcpy(&value, &bits, sizeof value);
    return value;
}

static unsigned char* put_u64(unsigned char* p, uint64_t value) {
    dcsim_put_u32(p, (uint32_t)value);
    return dcsim_put_u32(p + 4, (uint32_t)(value >> 32));
}

static unsigned char* put_f64(unsigned char* p, double value) {
    uint64_t bits;
    memcpy(&bits, &value, sizeof bits);
    return put_u64(p, bits);
}

static unsigned char* put_u8(unsigned char* p, unsigned int value) {
    *p = (unsigned char)value;
    return p + 1;
}

/* ---- Record walking ----------------------------------------------------- */

typedef struct cursor_t {
    const unsigned char* data;
    size_t pos;
    size_t end;
} cursor_t;

/* Steps to the next record; 1 with tag and payload set, 0 at the end, -1 if
 * the record does not fit. */
static int next_record(cursor_t* cursor, unsigned int* tag, const unsigned char** payload,
                       size_t* length) {
    if (cursor->pos == cursor->end) {
        return 0;
    }
    if (cursor->end - cursor->pos < 2) {
        return -1;
    }
    *tag = cursor->data[cursor->pos];
    *length = cursor->data[cursor->pos + 1];
    if (cursor->end - cursor->pos - 2 < *length) {
        return -1;
    }
    *payload = cursor->data + cursor->pos + 2;
    cursor->pos += 2 + *length;
    return 1;
}

/* Sets up a cursor over the header records, or over the samples. */
static dc_status_t open_section(const unsigned char* data, size_t size, int samples,
                                cursor_t* cursor) {
    if (data == NULL || size < DCSIM_RAW_PREAMBLE_SIZE || memcmp(data, DCSIM_RAW_MAGIC, 4) != 0 ||
        (data[4] | data[5] << 8) != DCSIM_RAW_VERSION) {
        return DC_STATUS_DATAFORMAT;
    }
    uint32_t header_size = dcsim_get_u32(data + 8);
    if (header_size > size - DCSIM_RAW_PREAMBLE_SIZE) {
        return DC_STATUS_DATAFORMAT;
    }
    cursor->data = data;
    cursor->pos = DCSIM_RAW_PREAMBLE_SIZE + (samples ? header_size : 0);
    cursor->end = samples ? size : DCSIM_RAW_PREAMBLE_SIZE + header_size;
    return DC_STATUS_SUCCESS;
}

/* ---- Header ------------------------------------------------------------- */

static size_t field_size(unsigned int type) {
    switch (type) {
        case DCSIM_FIELD_DIVETIME:
            return 4;
        case DCSIM_FIELD_MAXDEPTH:
        case DCSIM_FIELD_AVGDEPTH:
        case DCSIM_FIELD_ATMOSPHERIC:
        case DCSIM_FIELD_TEMPERATURE_SURFACE:
        case DCSIM_FIELD_TEMPERATURE_MINIMUM:
        case DCSIM_FIELD_TEMPERATURE_MAXIMUM:
            return 8;
        case DCSIM_FIELD_GASMIX:
            return 17;
        case DCSIM_FIELD_SALINITY:
            return 9;
        case DCSIM_FIELD_TANK:
            return 38;
        case DCSIM_FIELD_DIVEMODE:
            return 1;
        case DCSIM_FIELD_DECOMODEL:
            return 13;
        case DCSIM_FIELD_LOCATION:
            return 24;
        default:
            return 0;
    }
}

static void decode_gasmix(const unsigned char* p, dcsim_raw_gasmix_t* out) {
    out->oxygen = get_f64(p);
    out->helium = get_f64(p + 8);
    out->usage = p[16];
}

static void decode_tank(const unsigned char* p, dcsim_raw_tank_t* out) {
    out->gasmix = dcsim_get_u32(p);
    out->volume_type = p[4];
    out->volume = get_f64(p + 5);
    out->workpressure = get_f64(p + 13);
    out->beginpressure = get_f64(p + 21);
    out->endpressure = get_f64(p + 29);
    out->usage = p[37];
}

static int valid_status(int32_t status) {
    return status != DC_STATUS_SUCCESS && status >= DC_STATUS_CANCELLED && status <= DC_STATUS_DONE;
}

/* Checks one header record and stores what it holds. */
static dc_status_t header_record(unsigned int tag, const unsigned char* p, size_t length,
                                 dcsim_raw_header_t* out) {
    if (tag == TAG_DATETIME) {
        if (length != 13) {
            return DC_STATUS_DATAFORMAT;
        }
        out->has_datetime = 1;
        out->datetime.year = get_i32(p);
        out->datetime.month = p[4];
        out->datetime.day = p[5];
        out->datetime.hour = p[6];
        out->datetime.minute = p[7];
        out->datetime.second = p[8];
        out->datetime.timezone = get_i32(p + 9);
        return DC_STATUS_SUCCESS;
    }
    if (tag == TAG_FAULT) {
        if (length != 14 || p[0] < DCSIM_RAW_STAGE_CREATE || p[0] > DCSIM_RAW_STAGE_DESTROY ||
            p[1] > 1 || !valid_status(get_i32(p + 6))) {
            return DC_STATUS_DATAFORMAT;
        }
        return DC_STATUS_SUCCESS;
    }
    if (tag < TAG_FIELD || tag >= TAG_FIELD + 32 || field_size(tag - TAG_FIELD) == 0) {
        return DC_STATUS_SUCCESS; /* unknown records are skipped */
    }
    unsigned int type = tag - TAG_FIELD;
    if (length != field_size(type)) {
        return DC_STATUS_DATAFORMAT;
    }
    switch (type) {
        case DCSIM_FIELD_DIVETIME:
            out->divetime = dcsim_get_u32(p);
            break;
        case DCSIM_FIELD_MAXDEPTH:
            out->maxdepth = get_f64(p);
            break;
        case DCSIM_FIELD_AVGDEPTH:
            out->avgdepth = get_f64(p);
            break;
        case DCSIM_FIELD_ATMOSPHERIC:
            out->atmospheric = get_f64(p);
            break;
        case DCSIM_FIELD_TEMPERATURE_SURFACE:
            out->temperature_surface = get_f64(p);
            break;
        case DCSIM_FIELD_TEMPERATURE_MINIMUM:
            out->temperature_minimum = get_f64(p);
            break;
        case DCSIM_FIELD_TEMPERATURE_MAXIMUM:
            out->temperature_maximum = get_f64(p);
            break;
        case DCSIM_FIELD_GASMIX:
            if (p[16] > MAX_USAGE || out->ngasmixes == UINT32_MAX) {
                return DC_STATUS_DATAFORMAT;
            }
            out->ngasmixes++;
            break;
        case DCSIM_FIELD_TANK:
            if (p[4] > MAX_VOLUME_TYPE || p[37] > MAX_USAGE || out->ntanks == UINT32_MAX) {
                return DC_STATUS_DATAFORMAT;
            }
            out->ntanks++;
            break;
        case DCSIM_FIELD_SALINITY:
            if (p[0] > MAX_WATER) {
                return DC_STATUS_DATAFORMAT;
            }
            out->water = p[0];
            out->density = get_f64(p + 1);
            break;
        case DCSIM_FIELD_DIVEMODE:
            if (p[0] > MAX_DIVEMODE) {
                return DC_STATUS_DATAFORMAT;
            }
            out->divemode = p[0];
            break;
        case DCSIM_FIELD_DECOMODEL:
            if (p[0] > MAX_DECOMODEL) {
                return DC_STATUS_DATAFORMAT;
            }
            out->decomodel.type = p[0];
            out->decomodel.conservatism = get_i32(p + 1);
            out->decomodel.gf_high = dcsim_get_u32(p + 5);
            out->decomodel.gf_low = dcsim_get_u32(p + 9);
            break;
        case DCSIM_FIELD_LOCATION:
            out->location.latitude = get_f64(p);
            out->location.longitude = get_f64(p + 8);
            out->location.altitude = get_f64(p + 16);
            break;
        default:
            break;
    }
    out->fields |= FIELD_BIT(type);
    return DC_STATUS_SUCCESS;
}

dc_status_t dcsim_raw_header(const unsigned char* data, size_t size, dcsim_raw_header_t* out) {
    cursor_t cursor;
    dc_status_t status = open_section(data, size, 0, &cursor);
    if (status != DC_STATUS_SUCCESS) {
        return status;
    }
    memset(out, 0, sizeof *out);
    out->fields = FIELD_BIT(DCSIM_FIELD_GASMIX_COUNT);
    unsigned int tag;
    const unsigned char* payload;
    size_t length;
    int found;
    while ((found = next_record(&cursor, &tag, &payload, &length)) > 0) {
        status = header_record(tag, payload, length, out);
        if (status != DC_STATUS_SUCCESS) {
            return status;
        }
    }
    if (found < 0) {
        return DC_STATUS_DATAFORMAT;
    }
    if (out->ntanks) {
        out->fields |= FIELD_BIT(DCSIM_FIELD_TANK_COUNT);
    }
    return DC_STATUS_SUCCESS;
}

/* The payload of the index-th header record of the field type. */
static dc_status_t find_nth(const unsigned char* data, size_t size, unsigned int type,
                            unsigned int index, const unsigned char** out) {
    cursor_t cursor;
    dc_status_t status = open_section(data, size, 0, &cursor);
    if (status != DC_STATUS_SUCCESS) {
        return status;
    }
    unsigned int tag;
    const unsigned char* payload;
    size_t length;
    int found;
    while ((found = next_record(&cursor, &tag, &payload, &length)) > 0) {
        if (tag != TAG_FIELD + type) {
            continue;
        }
        if (length != field_size(type)) {
            return DC_STATUS_DATAFORMAT;
        }
        if (index-- == 0) {
            *out = payload;
            return DC_STATUS_SUCCESS;
        }
    }
    return found < 0 ? DC_STATUS_DATAFORMAT : DC_STATUS_INVALIDARGS;
}

dc_status_t dcsim_raw_gasmix(const unsigned char* data, size_t size, unsigned int index,
                             dcsim_raw_gasmix_t* out) {
    const unsigned char* p;
    dc_status_t status = find_nth(data, size, DCSIM_FIELD_GASMIX, index, &p);
    if (status == DC_STATUS_SUCCESS) {
        if (p[16] > MAX_USAGE) {
            return DC_STATUS_DATAFORMAT;
        }
        decode_gasmix(p, out);
    }
    return status;
}

dc_status_t dcsim_raw_tank(const unsigned char* data, size_t size, unsigned int index,
                           dcsim_raw_tank_t* out) {
    const unsigned char* p;
    dc_status_t status = find_nth(data, size, DCSIM_FIELD_TANK, index, &p);
    if (status == DC_STATUS_SUCCESS) {
        if (p[4] > MAX_VOLUME_TYPE || p[37] > MAX_USAGE) {
            return DC_STATUS_DATAFORMAT;
        }
        decode_tank(p, out);
    }
    return status;
}

int dcsim_raw_find_fault(const unsigned char* data, size_t size, dcsim_raw_stage_t stage,
                         unsigned int field, dc_status_t* status, unsigned int* after) {
    cursor_t cursor;
    if (open_section(data, size, 0, &cursor) != DC_STATUS_SUCCESS) {
        return 0;
    }
    unsigned int tag;
    const unsigned char* p;
    size_t length;
    while (next_record(&cursor, &tag, &p, &length) > 0) {
        if (tag != TAG_FAULT || length != 14 || p[0] != (unsigned int)stage) {
            continue;
        }
        if (stage == DCSIM_RAW_STAGE_FIELD && !p[1] && dcsim_get_u32(p + 2) != field) {
            continue;
        }
        int32_t code = get_i32(p + 6);
        if (!valid_status(code)) {
            continue;
        }
        *status = (dc_status_t)code;
        if (after != NULL) {
            *after = dcsim_get_u32(p + 10);
        }
        return 1;
    }
    return 0;
}

/* ---- Samples ------------------------------------------------------------ */

static size_t sample_size(unsigned int type) {
    switch (type) {
        case DCSIM_SAMPLE_RBT:
        case DCSIM_SAMPLE_HEARTBEAT:
        case DCSIM_SAMPLE_BEARING:
        case DCSIM_SAMPLE_GASMIX:
            return 4;
        case DCSIM_SAMPLE_TIME:
        case DCSIM_SAMPLE_DEPTH:
        case DCSIM_SAMPLE_TEMPERATURE:
        case DCSIM_SAMPLE_SETPOINT:
        case DCSIM_SAMPLE_CNS:
            return 8;
        case DCSIM_SAMPLE_PRESSURE:
        case DCSIM_SAMPLE_PPO2:
            return 12;
        case DCSIM_SAMPLE_EVENT:
            return 16;
        case DCSIM_SAMPLE_DECO:
            return 20;
        default:
            return 0;
    }
}

/* Fills `sample` from a record; DATAFORMAT if the record cannot hold that. */
static dc_status_t decode_sample(unsigned int type, const unsigned char* p, size_t length,
                                 dcsim_raw_sample_t* sample) {
    sample->type = type;
    if (type == DCSIM_SAMPLE_VENDOR) {
        if (length < 4) {
            return DC_STATUS_DATAFORMAT;
        }
        sample->value.vendor.type = dcsim_get_u32(p);
        sample->value.vendor.size = (unsigned int)(length - 4);
        sample->value.vendor.data = p + 4;
        return DC_STATUS_SUCCESS;
    }
    if (length != sample_size(type)) {
        return DC_STATUS_DATAFORMAT;
    }
    switch (type) {
        case DCSIM_SAMPLE_TIME:
            sample->value.time_ms = get_u64(p);
            break;
        case DCSIM_SAMPLE_DEPTH:
            sample->value.depth = get_f64(p);
            break;
        case DCSIM_SAMPLE_PRESSURE:
            sample->value.pressure.tank = dcsim_get_u32(p);
            sample->value.pressure.value = get_f64(p + 4);
            break;
        case DCSIM_SAMPLE_TEMPERATURE:
            sample->value.temperature = get_f64(p);
            break;
        case DCSIM_SAMPLE_EVENT:
            sample->value.event.type = dcsim_get_u32(p);
            sample->value.event.time = dcsim_get_u32(p + 4);
            sample->value.event.flags = dcsim_get_u32(p + 8);
            sample->value.event.value = dcsim_get_u32(p + 12);
            break;
        case DCSIM_SAMPLE_RBT:
            sample->value.rbt = dcsim_get_u32(p);
            break;
        case DCSIM_SAMPLE_HEARTBEAT:
            sample->value.heartbeat = dcsim_get_u32(p);
            break;
        case DCSIM_SAMPLE_BEARING:
            sample->value.bearing = dcsim_get_u32(p);
            break;
        case DCSIM_SAMPLE_SETPOINT:
            sample->value.setpoint = get_f64(p);
            break;
        case DCSIM_SAMPLE_PPO2:
            sample->value.ppo2.sensor = dcsim_get_u32(p);
            sample->value.ppo2.value = get_f64(p + 4);
            break;
        case DCSIM_SAMPLE_CNS:
            sample->value.cns = get_f64(p);
            break;
        case DCSIM_SAMPLE_DECO:
            sample->value.deco.type = dcsim_get_u32(p);
            if (sample->value.deco.type > MAX_DECO_TYPE) {
                return DC_STATUS_DATAFORMAT;
            }
            sample->value.deco.time = dcsim_get_u32(p + 4);
            sample->value.deco.depth = get_f64(p + 8);
            sample->value.deco.tts = dcsim_get_u32(p + 16);
            break;
        case DCSIM_SAMPLE_GASMIX:
            sample->value.gasmix = dcsim_get_u32(p);
            break;
        default:
            return DC_STATUS_DATAFORMAT;
    }
    return DC_STATUS_SUCCESS;
}

dc_status_t dcsim_raw_samples(const unsigned char* data, size_t size, dcsim_raw_sample_fn fn,
                              void* userdata) {
    cursor_t cursor;
    dc_status_t status = open_section(data, size, 1, &cursor);
    if (status != DC_STATUS_SUCCESS) {
        return status;
    }
    unsigned int tag;
    const unsigned char* p;
    size_t length;
    int found;
    while ((found = next_record(&cursor, &tag, &p, &length)) > 0) {
        dcsim_raw_sample_t sample;
        memset(&sample, 0, sizeof sample);
        if (tag == TAG_OTHER) {
            if (length < 4 || length > 4 + DCSIM_RAW_OTHER_SIZE) {
                return DC_STATUS_DATAFORMAT;
            }
            sample.type = dcsim_get_u32(p);
            if (sample.type <= DCSIM_SAMPLE_GASMIX || sample.type > DCSIM_RAW_MAX_SAMPLE_TYPE) {
                return DC_STATUS_DATAFORMAT;
            }
            sample.value.other.size = (unsigned int)(length - 4);
            memcpy(sample.value.other.bytes, p + 4, length - 4);
        } else if (tag >= TAG_SAMPLE && tag <= TAG_SAMPLE + DCSIM_SAMPLE_GASMIX) {
            status = decode_sample(tag - TAG_SAMPLE, p, length, &sample);
            if (status != DC_STATUS_SUCCESS) {
                return status;
            }
        } else {
            continue; /* unknown records are skipped */
        }
        if (fn != NULL && fn(&sample, userdata)) {
            return DC_STATUS_SUCCESS;
        }
    }
    return found < 0 ? DC_STATUS_DATAFORMAT : DC_STATUS_SUCCESS;
}

dc_status_t dcsim_raw_dive_decode(const unsigned char* data, size_t size, dcsim_raw_header_t* out,
                                  dcsim_raw_sample_fn fn, void* userdata) {
    dc_status_t status = dcsim_raw_header(data, size, out);
    for (unsigned int i = 0; status == DC_STATUS_SUCCESS && i < out->ngasmixes; i++) {
        dcsim_raw_gasmix_t gasmix;
        status = dcsim_raw_gasmix(data, size, i, &gasmix);
    }
    for (unsigned int i = 0; status == DC_STATUS_SUCCESS && i < out->ntanks; i++) {
        dcsim_raw_tank_t tank;
        status = dcsim_raw_tank(data, size, i, &tank);
    }
    if (status == DC_STATUS_SUCCESS) {
        status = dcsim_raw_samples(data, size, fn, userdata);
    }
    return status;
}

/* ---- Encoding ----------------------------------------------------------- */

void dcsim_raw_writer_init(dcsim_raw_writer_t* writer) {
    memset(writer, 0, sizeof *writer);
}

void dcsim_raw_writer_release(dcsim_raw_writer_t* writer) {
    free(writer->data);
    dcsim_raw_writer_init(writer);
}

void dcsim_raw_reserve(dcsim_raw_writer_t* writer, size_t capacity) {
    if (writer->failed || capacity <= writer->capacity) {
        return;
    }
    unsigned char* data = realloc(writer->data, capacity);
    if (data == NULL) {
        writer->failed = 1;
        return;
    }
    writer->data = data;
    writer->capacity = capacity;
}

/* Room for `size` more bytes, or NULL (and failed) without it. */
static unsigned char* writer_extend(dcsim_raw_writer_t* writer, size_t size) {
    if (writer->failed) {
        return NULL;
    }
    if (size > writer->capacity - writer->size) {
        if (size > SIZE_MAX / 2 - writer->size) {
            writer->failed = 1;
            return NULL;
        }
        size_t capacity = writer->capacity ? writer->capacity : 256;
        while (capacity - writer->size < size) {
            capacity *= 2;
        }
        dcsim_raw_reserve(writer, capacity);
        if (writer->failed) {
            return NULL;
        }
    }
    unsigned char* p = writer->data + writer->size;
    writer->size += size;
    return p;
}

void dcsim_raw_append(dcsim_raw_writer_t* writer, const void* bytes, size_t size) {
    unsigned char* p = writer_extend(writer, size);
    if (p != NULL && size) {
        memcpy(p, bytes, size);
    }
}

/* Starts a record; answers where its payload goes. */
static unsigned char* put_record(dcsim_raw_writer_t* writer, unsigned int tag, size_t length) {
    if (length > DCSIM_RAW_MAX_PAYLOAD) {
        writer->failed = 1;
        return NULL;
    }
    unsigned char* p = writer_extend(writer, 2 + length);
    if (p == NULL) {
        return NULL;
    }
    p[0] = (unsigned char)tag;
    p[1] = (unsigned char)length;
    return p + 2;
}

void dcsim_raw_begin(dcsim_raw_writer_t* writer) {
    unsigned char* p = writer_extend(writer, DCSIM_RAW_PREAMBLE_SIZE);
    if (p == NULL) {
        return;
    }
    memcpy(p, DCSIM_RAW_MAGIC, 4);
    p[4] = DCSIM_RAW_VERSION & 0xFF;
    p[5] = DCSIM_RAW_VERSION >> 8;
    p[6] = 0;
    p[7] = 0;
    dcsim_put_u32(p + 8, 0);
}

void dcsim_raw_end_header(dcsim_raw_writer_t* writer) {
    if (writer->failed || writer->size < DCSIM_RAW_PREAMBLE_SIZE ||
        writer->size - DCSIM_RAW_PREAMBLE_SIZE > UINT32_MAX) {
        writer->failed = 1;
        return;
    }
    dcsim_put_u32(writer->data + 8, (uint32_t)(writer->size - DCSIM_RAW_PREAMBLE_SIZE));
}

static unsigned char* put_i32(unsigned char* p, int32_t value) {
    return dcsim_put_u32(p, (uint32_t)value);
}

void dcsim_raw_put_datetime(dcsim_raw_writer_t* writer, const dc_datetime_t* dt) {
    unsigned char* p = put_record(writer, TAG_DATETIME, 13);
    if (p == NULL) {
        return;
    }
    p = put_i32(p, dt->year);
    p = put_u8(p, (unsigned int)dt->month);
    p = put_u8(p, (unsigned int)dt->day);
    p = put_u8(p, (unsigned int)dt->hour);
    p = put_u8(p, (unsigned int)dt->minute);
    p = put_u8(p, (unsigned int)dt->second);
    put_i32(p, dt->timezone);
}

/* Starts the record of a field of its fixed size. */
static unsigned char* put_field(dcsim_raw_writer_t* writer, unsigned int field) {
    return put_record(writer, TAG_FIELD + field, field_size(field));
}

void dcsim_raw_put_divetime(dcsim_raw_writer_t* writer, unsigned int seconds) {
    unsigned char* p = put_field(writer, DCSIM_FIELD_DIVETIME);
    if (p != NULL) {
        dcsim_put_u32(p, seconds);
    }
}

void dcsim_raw_put_number(dcsim_raw_writer_t* writer, unsigned int field, double value) {
    if (field_size(field) != 8) {
        writer->failed = 1;
        return;
    }
    unsigned char* p = put_field(writer, field);
    if (p != NULL) {
        put_f64(p, value);
    }
}

void dcsim_raw_put_gasmix(dcsim_raw_writer_t* writer, const dcsim_raw_gasmix_t* gasmix) {
    unsigned char* p = put_field(writer, DCSIM_FIELD_GASMIX);
    if (p != NULL) {
        p = put_f64(p, gasmix->oxygen);
        p = put_f64(p, gasmix->helium);
        put_u8(p, gasmix->usage);
    }
}

void dcsim_raw_put_tank(dcsim_raw_writer_t* writer, const dcsim_raw_tank_t* tank) {
    unsigned char* p = put_field(writer, DCSIM_FIELD_TANK);
    if (p != NULL) {
        p = dcsim_put_u32(p, tank->gasmix);
        p = put_u8(p, tank->volume_type);
        p = put_f64(p, tank->volume);
        p = put_f64(p, tank->workpressure);
        p = put_f64(p, tank->beginpressure);
        p = put_f64(p, tank->endpressure);
        put_u8(p, tank->usage);
    }
}

void dcsim_raw_put_salinity(dcsim_raw_writer_t* writer, unsigned int water, double density) {
    unsigned char* p = put_field(writer, DCSIM_FIELD_SALINITY);
    if (p != NULL) {
        p = put_u8(p, water);
        put_f64(p, density);
    }
}

void dcsim_raw_put_divemode(dcsim_raw_writer_t* writer, unsigned int divemode) {
    unsigned char* p = put_field(writer, DCSIM_FIELD_DIVEMODE);
    if (p != NULL) {
        put_u8(p, divemode);
    }
}

void dcsim_raw_put_decomodel(dcsim_raw_writer_t* writer, const dcsim_raw_decomodel_t* model) {
    unsigned char* p = put_field(writer, DCSIM_FIELD_DECOMODEL);
    if (p != NULL) {
        p = put_u8(p, model->type);
        p = put_i32(p, model->conservatism);
        p = dcsim_put_u32(p, model->gf_high);
        dcsim_put_u32(p, model->gf_low);
    }
}

void dcsim_raw_put_location(dcsim_raw_writer_t* writer, const dcsim_raw_location_t* location) {
    unsigned char* p = put_field(writer, DCSIM_FIELD_LOCATION);
    if (p != NULL) {
        p = put_f64(p, location->latitude);
        p = put_f64(p, location->longitude);
        put_f64(p, location->altitude);
    }
}

void dcsim_raw_put_fault(dcsim_raw_writer_t* writer, dcsim_raw_stage_t stage, int any_field,
                         unsigned int field, dc_status_t status, unsigned int after) {
    unsigned char* p = put_record(writer, TAG_FAULT, 14);
    if (p == NULL) {
        return;
    }
    p = put_u8(p, stage);
    p = put_u8(p, any_field ? 1 : 0);
    p = dcsim_put_u32(p, field);
    p = put_i32(p, status);
    dcsim_put_u32(p, after);
}

void dcsim_raw_put_sample(dcsim_raw_writer_t* writer, const dcsim_raw_sample_t* sample) {
    const unsigned int type = sample->type;
    unsigned char* p;
    if (type > DCSIM_SAMPLE_GASMIX) {
        if (type > DCSIM_RAW_MAX_SAMPLE_TYPE || sample->value.other.size > DCSIM_RAW_OTHER_SIZE) {
            writer->failed = 1;
            return;
        }
        p = put_record(writer, TAG_OTHER, 4 + sample->value.other.size);
        if (p != NULL) {
            p = dcsim_put_u32(p, type);
            memcpy(p, sample->value.other.bytes, sample->value.other.size);
        }
        return;
    }
    if (type == DCSIM_SAMPLE_VENDOR) {
        if (sample->value.vendor.size > DCSIM_RAW_MAX_PAYLOAD - 4) {
            writer->failed = 1;
            return;
        }
        p = put_record(writer, TAG_SAMPLE + type, 4 + sample->value.vendor.size);
        if (p != NULL) {
            p = dcsim_put_u32(p, sample->value.vendor.type);
            if (sample->value.vendor.size) {
                memcpy(p, sample->value.vendor.data, sample->value.vendor.size);
            }
        }
        return;
    }
    p = put_record(writer, TAG_SAMPLE + type, sample_size(type));
    if (p == NULL) {
        return;
    }
    switch (type) {
        case DCSIM_SAMPLE_TIME:
            put_u64(p, sample->value.time_ms);
            break;
        case DCSIM_SAMPLE_DEPTH:
            put_f64(p, sample->value.depth);
            break;
        case DCSIM_SAMPLE_PRESSURE:
            p = dcsim_put_u32(p, sample->value.pressure.tank);
            put_f64(p, sample->value.pressure.value);
            break;
        case DCSIM_SAMPLE_TEMPERATURE:
            put_f64(p, sample->value.temperature);
            break;
        case DCSIM_SAMPLE_EVENT:
            p = dcsim_put_u32(p, sample->value.event.type);
            p = dcsim_put_u32(p, sample->value.event.time);
            p = dcsim_put_u32(p, sample->value.event.flags);
            dcsim_put_u32(p, sample->value.event.value);
            break;
        case DCSIM_SAMPLE_RBT:
            dcsim_put_u32(p, sample->value.rbt);
            break;
        case DCSIM_SAMPLE_HEARTBEAT:
            dcsim_put_u32(p, sample->value.heartbeat);
            break;
        case DCSIM_SAMPLE_BEARING:
            dcsim_put_u32(p, sample->value.bearing);
            break;
        case DCSIM_SAMPLE_SETPOINT:
            put_f64(p, sample->value.setpoint);
            break;
        case DCSIM_SAMPLE_PPO2:
            p = dcsim_put_u32(p, sample->value.ppo2.sensor);
            put_f64(p, sample->value.ppo2.value);
            break;
        case DCSIM_SAMPLE_CNS:
            put_f64(p, sample->value.cns);
            break;
        case DCSIM_SAMPLE_DECO:
            p = dcsim_put_u32(p, sample->value.deco.type);
            p = dcsim_put_u32(p, sample->value.deco.time);
            p = put_f64(p, sample->value.deco.depth);
            dcsim_put_u32(p, sample->value.deco.tts);
            break;
        default: /* DCSIM_SAMPLE_GASMIX */
            dcsim_put_u32(p, sample->value.gasmix);
            break;
    }
}
