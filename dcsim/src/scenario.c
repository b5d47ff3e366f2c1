#include "scenario.h"

#include <ctype.h>
#include <inttypes.h>
#include <math.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "ble_wire.h"
#include "calendar.h"
#include "generator.h"
#include "lasterror.h"

#define MAX_TOKENS 64
#define MAX_DIVES 10000000u
#define MAX_OFFSET (16u << 20)
/* Samples of a profile or generate line are made in memory during the
 * download and handed over as one dive, so their size is bounded. */
#define MAX_GENERATED_BYTES (64u << 20)
/* What dc_sample_value_t.time can hold: unsigned milliseconds in 0.9,
 * unsigned seconds in 0.8. */
#ifdef DCSIM_API_0_8
#define MAX_TIME_MS (0xFFFFFFFFull * 1000 + 999)
#define TIME_UNIT "seconds (at most 4294967295 s)"
#else
#define MAX_TIME_MS 0xFFFFFFFFull
#define TIME_UNIT "milliseconds (at most 4294967.295 s)"
#endif

/* A bit of parser_t.seen beyond the field types. */
#define SEEN_DATETIME (1u << 31)

typedef struct token_t {
    const char* text;
    int quoted;
} token_t;

typedef struct parser_t {
    const char* origin;
    unsigned int line;
    dcsim_computer_t* computer;
    dcsim_dive_t* dive;
    unsigned int seen; /* header fields given in this dive */
    int has_samples;
    int has_content; /* header, sample or profile lines in this dive */
    size_t waypoints_capacity, tanks_capacity, inserts_capacity, patches_capacity;
    size_t groups_capacity, answers_capacity;
    unsigned int events_seen;
} parser_t;

static void report(parser_t* p, const char* format, ...)
#ifdef __GNUC__
    __attribute__((format(printf, 2, 3)))
#endif
    ;

static void report(parser_t* p, const char* format, ...) {
    char message[400];
    va_list ap;
    va_start(ap, format);
    vsnprintf(message, sizeof message, format, ap);
    va_end(ap);
    if (p->origin != NULL) {
        dcsim_set_error("%s:%u: %s", p->origin, p->line, message);
    } else {
        dcsim_set_error("line %u: %s", p->line, message);
    }
}

/* Reports and answers 0. A macro, so that the optimizer sees the 0 where a
 * getter fails without setting its result (report() is never inlined). */
#define fail(...) (report(__VA_ARGS__), 0)

/* Makes room for one more element; 0 when out of memory. */
static int grow(parser_t* p, void** array, size_t* capacity, size_t count, size_t size) {
    if (count < *capacity) {
        return 1;
    }
    size_t larger = *capacity ? 2 * *capacity : 8;
    void* grown = realloc(*array, larger * size);
    if (grown == NULL) {
        return fail(p, "out of memory");
    }
    *array = grown;
    *capacity = larger;
    return 1;
}

static char* copy_string(parser_t* p, const char* text) {
    size_t length = strlen(text);
    char* copy = malloc(length + 1);
    if (copy == NULL) {
        report(p, "out of memory");
        return NULL;
    }
    memcpy(copy, text, length + 1);
    return copy;
}

static int equal_nocase(const char* a, const char* b) {
    while (*a && *b) {
        if (tolower((unsigned char)*a) != tolower((unsigned char)*b)) {
            return 0;
        }
        a++;
        b++;
    }
    return *a == *b;
}

/* ---- Numbers ------------------------------------------------------------ */

/* Decimal or 0x-prefixed hex, without sign, at most `max`. */
static int scan_unsigned(const char* s, unsigned long long max, unsigned long long* out) {
    int base = 10;
    if (s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
        base = 16;
        s += 2;
    }
    if (*s == '\0') {
        return 0;
    }
    unsigned long long value = 0;
    for (; *s; s++) {
        int digit;
        if (*s >= '0' && *s <= '9') {
            digit = *s - '0';
        } else if (base == 16 && isxdigit((unsigned char)*s)) {
            digit = tolower((unsigned char)*s) - 'a' + 10;
        } else {
            return 0;
        }
        if (value > (max - (unsigned long long)digit) / (unsigned long long)base) {
            return 0;
        }
        value = value * (unsigned long long)base + (unsigned long long)digit;
    }
    *out = value;
    return 1;
}

static int get_unsigned(parser_t* p, const token_t* t, const char* what, unsigned long long max,
                        unsigned long long* out) {
    if (!scan_unsigned(t->text, max, out)) {
        return fail(p, "%s: expected a whole number from 0 to %" PRIu64 ", got '%s'", what,
                    (uint64_t)max, t->text);
    }
    return 1;
}

static int get_u32(parser_t* p, const token_t* t, const char* what, unsigned int* out) {
    unsigned long long value;
    if (!get_unsigned(p, t, what, 0xFFFFFFFFull, &value)) {
        return 0;
    }
    *out = (unsigned int)value;
    return 1;
}

/* Numbers are read by hand: strtod() follows the process locale, which the
 * hosting application may have set to one with a decimal comma. */
static int scan_real(const char* s, double* out) {
    int negative = 0;
    if (*s == '-' || *s == '+') {
        negative = *s == '-';
        s++;
    }
    if (equal_nocase(s, "inf")) {
        *out = negative ? -INFINITY : INFINITY;
        return 1;
    }
    if (equal_nocase(s, "nan")) {
        *out = NAN;
        return 1;
    }
    unsigned long long mantissa = 0;
    int digits = 0, decimals = 0, point = 0;
    for (; *s; s++) {
        if (*s == '.' && !point) {
            point = 1;
        } else if (*s >= '0' && *s <= '9') {
            if (++digits > 18) {
                return 0;
            }
            mantissa = mantissa * 10 + (unsigned long long)(*s - '0');
            decimals += point;
        } else {
            return 0;
        }
    }
    if (digits == 0) {
        return 0;
    }
    /* Both operands are exact, so the quotient is correctly rounded. */
    double scale = 1.0;
    for (int i = 0; i < decimals; i++) {
        scale *= 10.0;
    }
    *out = (negative ? -(double)mantissa : (double)mantissa) / scale;
    return 1;
}

static int get_real(parser_t* p, const token_t* t, const char* what, double* out) {
    if (!scan_real(t->text, out)) {
        return fail(p, "%s: expected a number such as 12.5, got '%s'", what, t->text);
    }
    return 1;
}

static int get_real_in(parser_t* p, const token_t* t, const char* what, double min, double max,
                       double* out) {
    if (!get_real(p, t, what, out)) {
        return 0;
    }
    if (!(*out >= min && *out <= max)) {
        return fail(p, "%s: %s is outside %g to %g", what, t->text, min, max);
    }
    return 1;
}

/* S, S.fff, M:SS[.fff], H:MM:SS[.fff] or Nms, in milliseconds. */
static int scan_time(const char* s, unsigned long long* ms) {
    size_t length = strlen(s);
    if (length > 2 && strcmp(s + length - 2, "ms") == 0) {
        char digits[32];
        if (length - 2 >= sizeof digits) {
            return 0;
        }
        memcpy(digits, s, length - 2);
        digits[length - 2] = '\0';
        return scan_unsigned(digits, 0xFFFFFFFFFFFFull, ms);
    }
    unsigned long long parts[3] = {0, 0, 0};
    unsigned long long fraction = 0;
    int nparts = 0, decimals = 0;
    const char* q = s;
    while (1) {
        if (nparts == 3 || !isdigit((unsigned char)*q)) {
            return 0;
        }
        unsigned long long value = 0;
        while (isdigit((unsigned char)*q)) {
            value = value * 10 + (unsigned long long)(*q++ - '0');
            if (value > 0xFFFFFFFFFFull) {
                return 0;
            }
        }
        parts[nparts++] = value;
        if (*q == ':') {
            q++;
            continue;
        }
        break;
    }
    if (*q == '.') {
        q++;
        while (isdigit((unsigned char)*q) && decimals < 3) {
            fraction = fraction * 10 + (unsigned long long)(*q++ - '0');
            decimals++;
        }
        if (decimals == 0) {
            return 0;
        }
    }
    if (*q != '\0') {
        return 0;
    }
    for (; decimals < 3; decimals++) {
        fraction *= 10;
    }
    unsigned long long seconds;
    if (nparts == 1) {
        seconds = parts[0];
    } else if (nparts == 2) {
        if (parts[1] >= 60) {
            return 0;
        }
        seconds = parts[0] * 60 + parts[1];
    } else {
        if (parts[1] >= 60 || parts[2] >= 60) {
            return 0;
        }
        seconds = (parts[0] * 60 + parts[1]) * 60 + parts[2];
    }
    *ms = seconds * 1000 + fraction;
    return 1;
}

static int get_time(parser_t* p, const token_t* t, const char* what, unsigned long long* ms) {
    if (!scan_time(t->text, ms)) {
        return fail(p, "%s: expected a time such as 90, 1:30, 1:02:03, 12.5 or 1500ms, got '%s'",
                    what, t->text);
    }
    if (*ms > MAX_TIME_MS) {
        return fail(p, "%s: %s does not fit libdivecomputer's time sample, unsigned " TIME_UNIT,
                    what, t->text);
    }
    return 1;
}

/* A TIME of whole seconds for a header field or a sample member that holds
 * unsigned seconds (DIVETIME, DECO times): unlike sample times, the same in
 * both APIs. */
static int get_seconds(parser_t* p, const token_t* t, const char* what, unsigned int* out) {
    unsigned long long ms;
    if (!scan_time(t->text, &ms)) {
        return fail(p, "%s: expected a time such as 90, 1:30, 1:02:03, 12.5 or 1500ms, got '%s'",
                    what, t->text);
    }
    if (ms % 1000) {
        return fail(p, "%s: whole seconds only", what);
    }
    if (ms / 1000 > 0xFFFFFFFFull) {
        return fail(p, "%s: %s is more than 4294967295 s", what, t->text);
    }
    *out = (unsigned int)(ms / 1000);
    return 1;
}

/* Refuses a profile or generated dive whose samples would not fit
 * MAX_GENERATED_BYTES. */
static int check_generated_size(parser_t* p, const char* what, uint64_t samples,
                                unsigned int sample_bytes) {
    if (samples > MAX_GENERATED_BYTES / sample_bytes) {
        return fail(p,
                    "%s: %" PRIu64
                    " time samples of %u bytes make a dive larger than %u MiB, "
                    "the most dcsim makes",
                    what, samples, sample_bytes, MAX_GENERATED_BYTES >> 20);
    }
    return 1;
}

static int hex_value(int c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    c = tolower(c);
    return c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
}

/* Appends the bytes of a hex string such as 0a1BfF. */
static int get_hex(parser_t* p, const token_t* t, const char* what, dcsim_raw_writer_t* out) {
    const char* s = t->text;
    size_t length = strlen(s);
    if (length == 0 || length % 2 != 0) {
        return fail(p, "%s: expected an even number of hex digits, got '%s'", what, s);
    }
    for (size_t i = 0; i < length; i += 2) {
        int high = hex_value((unsigned char)s[i]), low = hex_value((unsigned char)s[i + 1]);
        if (high < 0 || low < 0) {
            return fail(p, "%s: '%c%c' is not a hex byte", what, s[i], s[i + 1]);
        }
        unsigned char byte = (unsigned char)(high << 4 | low);
        dcsim_raw_append(out, &byte, 1);
    }
    if (out->failed) {
        return fail(p, "out of memory");
    }
    return 1;
}

static const struct {
    const char* name;
    dc_status_t status;
} statuses[] = {
    {"DONE", DC_STATUS_DONE},
    {"UNSUPPORTED", DC_STATUS_UNSUPPORTED},
    {"INVALIDARGS", DC_STATUS_INVALIDARGS},
    {"NOMEMORY", DC_STATUS_NOMEMORY},
    {"NODEVICE", DC_STATUS_NODEVICE},
    {"NOACCESS", DC_STATUS_NOACCESS},
    {"IO", DC_STATUS_IO},
    {"TIMEOUT", DC_STATUS_TIMEOUT},
    {"PROTOCOL", DC_STATUS_PROTOCOL},
    {"DATAFORMAT", DC_STATUS_DATAFORMAT},
    {"CANCELLED", DC_STATUS_CANCELLED},
};

/* A failure status by name (IO, DC_STATUS_IO, io) or number (-6). */
static int get_status(parser_t* p, const token_t* t, dc_status_t* out) {
    const char* name = t->text;
    if (strncmp(name, "DC_STATUS_", 10) == 0) {
        name += 10;
    }
    for (size_t i = 0; i < sizeof statuses / sizeof statuses[0]; i++) {
        if (equal_nocase(name, statuses[i].name)) {
            *out = statuses[i].status;
            return 1;
        }
    }
    unsigned long long magnitude;
    const char* s = t->text;
    int negative = *s == '-';
    if (scan_unsigned(s + negative, 10, &magnitude)) {
        long long value = negative ? -(long long)magnitude : (long long)magnitude;
        if (value != DC_STATUS_SUCCESS && value >= DC_STATUS_CANCELLED && value <= DC_STATUS_DONE) {
            *out = (dc_status_t)value;
            return 1;
        }
    }
    return fail(p, "expected a failure status such as IO, TIMEOUT or -6, got '%s'", t->text);
}

/* A keyword from a list, or a number when numbers are allowed (max > 0). */
static int get_choice(parser_t* p, const token_t* t, const char* what, const char* const* names,
                      unsigned int count, unsigned int max, unsigned int* out) {
    for (unsigned int i = 0; i < count; i++) {
        if (names[i] != NULL && equal_nocase(t->text, names[i])) {
            *out = i;
            return 1;
        }
    }
    unsigned long long value;
    if (max > 0 && scan_unsigned(t->text, max, &value)) {
        *out = (unsigned int)value;
        return 1;
    }
    char list[256] = "";
    for (unsigned int i = 0; i < count; i++) {
        if (names[i] != NULL) {
            size_t used = strlen(list);
            snprintf(list + used, sizeof list - used, "%s%s", used ? ", " : "", names[i]);
        }
    }
    return fail(p, "%s: expected %s%s, got '%s'", what, list, max > 0 ? " or a number" : "",
                t->text);
}

static const char* const usages[] = {"none", "oxygen", "diluent", "sidemount"};

static int get_usage(parser_t* p, const token_t* t, unsigned int* out) {
    return get_choice(p, t, "usage", usages, 4, 0, out);
}

static int need_args(parser_t* p, const token_t* t, int n, int min, int max, const char* usage) {
    if (n - 1 >= min && n - 1 <= max) {
        return 1;
    }
    if (max == 0) {
        return fail(p, "%s takes no arguments", t[0].text);
    }
    return fail(p, "expected: %s %s", t[0].text, usage);
}

/* ---- Samples ------------------------------------------------------------ */

static const char* const event_names[] = {
    "none",
    "decostop",
    "rbt",
    "ascent",
    "ceiling",
    "workload",
    "transmitter",
    "violation",
    "bookmark",
    "surface",
    "safetystop",
    NULL,
    "safetystop_voluntary",
    "safetystop_mandatory",
    "deepstop",
    "ceiling_safetystop",
    "floor",
    "divetime",
    "maxdepth",
    "olf",
    "po2",
    "airtime",
    "rgbm",
    "heading",
    "tissuelevel",
};
static const char* const flag_names[] = {"none", "begin", "end"};
static const char* const deco_names[] = {"ndl", "safetystop", "decostop", "deepstop"};

/* Encodes one sample statement (t[0] is its kind) into `out`. */
static int parse_sample(parser_t* p, const token_t* t, int n, dcsim_raw_writer_t* out) {
    const char* kind = t[0].text;
    dcsim_raw_sample_t sample;
    memset(&sample, 0, sizeof sample);
    if (strcmp(kind, "time") == 0) {
        unsigned long long ms;
        if (!need_args(p, t, n, 1, 1, "TIME") || !get_time(p, &t[1], "time", &ms)) {
            return 0;
        }
        sample.type = DCSIM_SAMPLE_TIME;
        sample.value.time_ms = ms;
    } else if (strcmp(kind, "depth") == 0) {
        sample.type = DCSIM_SAMPLE_DEPTH;
        if (!need_args(p, t, n, 1, 1, "METRES") ||
            !get_real(p, &t[1], "depth", &sample.value.depth)) {
            return 0;
        }
    } else if (strcmp(kind, "pressure") == 0) {
        sample.type = DCSIM_SAMPLE_PRESSURE;
        if (!need_args(p, t, n, 2, 2, "TANK BAR") ||
            !get_u32(p, &t[1], "pressure tank", &sample.value.pressure.tank) ||
            !get_real(p, &t[2], "pressure", &sample.value.pressure.value)) {
            return 0;
        }
    } else if (strcmp(kind, "temperature") == 0) {
        sample.type = DCSIM_SAMPLE_TEMPERATURE;
        if (!need_args(p, t, n, 1, 1, "CELSIUS") ||
            !get_real(p, &t[1], "temperature", &sample.value.temperature)) {
            return 0;
        }
    } else if (strcmp(kind, "event") == 0) {
        sample.type = DCSIM_SAMPLE_EVENT;
        if (!need_args(p, t, n, 1, 4, "TYPE [TIME [FLAGS [VALUE]]]") ||
            !get_choice(p, &t[1], "event type", event_names,
                        sizeof event_names / sizeof event_names[0], 0xFFFFFFFFu,
                        &sample.value.event.type) ||
            (n > 2 && !get_u32(p, &t[2], "event time", &sample.value.event.time)) ||
            (n > 3 && !get_choice(p, &t[3], "event flags", flag_names, 3, 0xFFFFFFFFu,
                                  &sample.value.event.flags)) ||
            (n > 4 && !get_u32(p, &t[4], "event value", &sample.value.event.value))) {
            return 0;
        }
    } else if (strcmp(kind, "rbt") == 0) {
        sample.type = DCSIM_SAMPLE_RBT;
        if (!need_args(p, t, n, 1, 1, "MINUTES") || !get_u32(p, &t[1], "rbt", &sample.value.rbt)) {
            return 0;
        }
    } else if (strcmp(kind, "heartbeat") == 0) {
        sample.type = DCSIM_SAMPLE_HEARTBEAT;
        if (!need_args(p, t, n, 1, 1, "BPM") ||
            !get_u32(p, &t[1], "heartbeat", &sample.value.heartbeat)) {
            return 0;
        }
    } else if (strcmp(kind, "bearing") == 0) {
        sample.type = DCSIM_SAMPLE_BEARING;
        if (!need_args(p, t, n, 1, 1, "DEGREES") ||
            !get_u32(p, &t[1], "bearing", &sample.value.bearing)) {
            return 0;
        }
    } else if (strcmp(kind, "vendor") == 0) {
        dcsim_raw_writer_t bytes;
        dcsim_raw_writer_init(&bytes);
        if (!need_args(p, t, n, 2, 2, "TYPE HEX") ||
            !get_u32(p, &t[1], "vendor type", &sample.value.vendor.type) ||
            !get_hex(p, &t[2], "vendor data", &bytes)) {
            dcsim_raw_writer_release(&bytes);
            return 0;
        }
        if (bytes.size > DCSIM_RAW_MAX_PAYLOAD - 4) {
            dcsim_raw_writer_release(&bytes);
            return fail(p, "vendor data: at most %d bytes", DCSIM_RAW_MAX_PAYLOAD - 4);
        }
        sample.value.vendor.size = (unsigned int)bytes.size;
        sample.value.vendor.data = bytes.data;
        sample.type = DCSIM_SAMPLE_VENDOR;
        dcsim_raw_put_sample(out, &sample);
        dcsim_raw_writer_release(&bytes);
        return out->failed ? fail(p, "out of memory") : 1;
    } else if (strcmp(kind, "setpoint") == 0) {
        sample.type = DCSIM_SAMPLE_SETPOINT;
        if (!need_args(p, t, n, 1, 1, "BAR") ||
            !get_real(p, &t[1], "setpoint", &sample.value.setpoint)) {
            return 0;
        }
    } else if (strcmp(kind, "ppo2") == 0) {
        sample.type = DCSIM_SAMPLE_PPO2;
        if (!need_args(p, t, n, 1, 2, "[SENSOR|none] BAR")) {
            return 0;
        }
        sample.value.ppo2.sensor = 0xFFFFFFFFu;
        if (n == 3 && !equal_nocase(t[1].text, "none") &&
            !get_u32(p, &t[1], "ppo2 sensor", &sample.value.ppo2.sensor)) {
            return 0;
        }
        if (!get_real(p, &t[n - 1], "ppo2", &sample.value.ppo2.value)) {
            return 0;
        }
    } else if (strcmp(kind, "cns") == 0) {
        sample.type = DCSIM_SAMPLE_CNS;
        if (!need_args(p, t, n, 1, 1, "FRACTION") ||
            !get_real(p, &t[1], "cns", &sample.value.cns)) {
            return 0;
        }
    } else if (strcmp(kind, "deco") == 0) {
        sample.type = DCSIM_SAMPLE_DECO;
        if (!need_args(p, t, n, 3, 4, "ndl|safetystop|decostop|deepstop TIME DEPTH [TTS]") ||
            !get_choice(p, &t[1], "deco type", deco_names, 4, 0, &sample.value.deco.type) ||
            !get_seconds(p, &t[2], "deco time", &sample.value.deco.time) ||
            !get_real(p, &t[3], "deco depth", &sample.value.deco.depth) ||
            (n > 4 && !get_seconds(p, &t[4], "deco tts", &sample.value.deco.tts))) {
            return 0;
        }
    } else if (strcmp(kind, "gasmix") == 0) {
        sample.type = DCSIM_SAMPLE_GASMIX;
        if (!need_args(p, t, n, 1, 1, "INDEX") ||
            !get_u32(p, &t[1], "gasmix", &sample.value.gasmix)) {
            return 0;
        }
    } else if (strcmp(kind, "sample") == 0) {
        unsigned int kind_number;
        if (!need_args(p, t, n, 1, DCSIM_RAW_OTHER_SIZE / 4 + 1, "TYPE [WORD...]") ||
            !get_u32(p, &t[1], "sample type", &kind_number)) {
            return 0;
        }
        if (kind_number <= DCSIM_SAMPLE_GASMIX) {
            return fail(p, "sample: type %u is one libdivecomputer defines; write it as such",
                        kind_number);
        }
        if (kind_number > DCSIM_RAW_MAX_SAMPLE_TYPE) {
            return fail(p,
                        "sample: type %u is outside dc_sample_type_t, which holds 0 to %d in "
                        "C++; unknown kinds are %d to %d",
                        kind_number, DCSIM_RAW_MAX_SAMPLE_TYPE, DCSIM_SAMPLE_GASMIX + 1,
                        DCSIM_RAW_MAX_SAMPLE_TYPE);
        }
        for (int i = 2; i < n; i++) {
            unsigned int word;
            if (!get_u32(p, &t[i], "sample word", &word)) {
                return 0;
            }
            memcpy(sample.value.other.bytes + sample.value.other.size, &word, sizeof word);
            sample.value.other.size += sizeof word;
        }
        sample.type = kind_number;
    } else {
        return fail(p, "unknown keyword '%s'", kind);
    }
    dcsim_raw_put_sample(out, &sample);
    return out->failed ? fail(p, "out of memory") : 1;
}

static int is_sample_kind(const char* kind) {
    static const char* const kinds[] = {"time", "depth",     "pressure", "temperature", "event",
                                        "rbt",  "heartbeat", "bearing",  "vendor",      "setpoint",
                                        "ppo2", "cns",       "deco",     "gasmix",      "sample"};
    for (size_t i = 0; i < sizeof kinds / sizeof kinds[0]; i++) {
        if (strcmp(kind, kinds[i]) == 0) {
            return 1;
        }
    }
    return 0;
}

/* ---- Dives -------------------------------------------------------------- */

static int add_group(parser_t* p, dcsim_dive_t* dive, dcsim_generator_t* generator,
                     unsigned int count) {
    dcsim_computer_t* c = p->computer;
    if (count > MAX_DIVES - c->ndives) {
        return fail(p, "more than %u dives", MAX_DIVES);
    }
    if (!grow(p, (void**)&c->groups, &p->groups_capacity, c->ngroups, sizeof *c->groups)) {
        return 0;
    }
    c->groups[c->ngroups].count = count;
    c->groups[c->ngroups].dive = dive;
    c->groups[c->ngroups].generator = generator;
    c->ngroups++;
    c->ndives += count;
    return 1;
}

/* Completes the current dive and hands it to the computer. */
static int finish_dive(parser_t* p) {
    dcsim_dive_t* dive = p->dive;
    if (dive == NULL) {
        return 1;
    }
    p->dive = NULL;
    if (dive->has_profile) {
        dcsim_profile_t* profile = &dive->profile;
        /* Stable insertion sort: inserts at one time keep their order. */
        for (size_t i = 1; i < profile->ninserts; i++) {
            dcsim_insert_t insert = profile->inserts[i];
            size_t j = i;
            while (j > 0 && profile->inserts[j - 1].time_ms > insert.time_ms) {
                profile->inserts[j] = profile->inserts[j - 1];
                j--;
            }
            profile->inserts[j] = insert;
        }
        if (!(p->seen & (1u << DCSIM_FIELD_DIVETIME))) {
            unsigned int divetime =
                (unsigned int)(profile->waypoints[profile->nwaypoints - 1].time_ms / 1000);
            dcsim_raw_put_divetime(&dive->header, divetime);
        }
        if (!(p->seen & (1u << DCSIM_FIELD_MAXDEPTH))) {
            dcsim_raw_put_number(&dive->header, DCSIM_FIELD_MAXDEPTH,
                                 dcsim_profile_maxdepth(profile));
        }
        if (dive->header.failed) {
            dcsim_dive_free(dive);
            return fail(p, "out of memory");
        }
    }
    if (!add_group(p, dive, NULL, 1)) {
        dcsim_dive_free(dive);
        return 0;
    }
    return 1;
}

static int start_dive(parser_t* p) {
    if (!finish_dive(p)) {
        return 0;
    }
    p->dive = calloc(1, sizeof *p->dive);
    if (p->dive == NULL) {
        return fail(p, "out of memory");
    }
    p->seen = 0;
    p->has_samples = 0;
    p->has_content = 0;
    p->waypoints_capacity = p->tanks_capacity = p->inserts_capacity = p->patches_capacity = 0;
    return 1;
}

/* Marks a header field as given, refusing a second one. */
static int see(parser_t* p, unsigned int bit, const char* keyword) {
    if (p->seen & bit) {
        return fail(p, "%s is given twice in this dive", keyword);
    }
    p->seen |= bit;
    return 1;
}

/* Answers whether the dive's header records could be written. */
static int header_written(parser_t* p) {
    return p->dive->header.failed ? fail(p, "out of memory") : 1;
}

static int dive_datetime(parser_t* p, const token_t* t, int n) {
    if (!need_args(p, t, n, 2, 3, "YYYY-MM-DD HH:MM:SS [+HH:MM|-HH:MM|Z|none]") ||
        !see(p, SEEN_DATETIME, "datetime")) {
        return 0;
    }
    dc_datetime_t dt;
    char extra;
    if (sscanf(t[1].text, "%4d-%2d-%2d%c", &dt.year, &dt.month, &dt.day, &extra) != 3 ||
        sscanf(t[2].text, "%2d:%2d:%2d%c", &dt.hour, &dt.minute, &dt.second, &extra) != 3 ||
        dt.year < 0 || dt.month < 0 || dt.day < 0 || dt.hour < 0 || dt.minute < 0 ||
        dt.second < 0) {
        return fail(p, "datetime: expected YYYY-MM-DD HH:MM:SS, got '%s %s'", t[1].text, t[2].text);
    }
    dt.timezone = DC_TIMEZONE_NONE;
    if (n == 4) {
        const char* zone = t[3].text;
        int hours, minutes;
        if (equal_nocase(zone, "Z") || equal_nocase(zone, "UTC")) {
            dt.timezone = 0;
        } else if ((zone[0] == '+' || zone[0] == '-') &&
                   sscanf(zone + 1, "%2d:%2d%c", &hours, &minutes, &extra) == 2 && hours >= 0 &&
                   hours <= 18 && minutes >= 0 && minutes < 60 && strlen(zone) == 6) {
            dt.timezone = (hours * 3600 + minutes * 60) * (zone[0] == '-' ? -1 : 1);
        } else if (!equal_nocase(zone, "none")) {
            return fail(p,
                        "datetime: expected a timezone such as +02:00, -05:30, Z or none, got '%s'",
                        zone);
        }
    }
    dcsim_raw_put_datetime(&p->dive->header, &dt);
    return p->dive->header.failed ? fail(p, "out of memory") : 1;
}

static const char* const field_names[] = {
    "divetime",
    "maxdepth",
    "avgdepth",
    "gasmix-count",
    "gasmix",
    "salinity",
    "atmospheric",
    "temperature-surface",
    "temperature-minimum",
    "temperature-maximum",
    "tank-count",
    "tank",
    "divemode",
    "decomodel",
    "location",
};

static int dive_number_field(parser_t* p, const token_t* t, int n, unsigned int field, double min,
                             double max) {
    double value;
    if (!need_args(p, t, n, 1, 1, "VALUE") || !see(p, 1u << field, t[0].text) ||
        !get_real_in(p, &t[1], t[0].text, min, max, &value)) {
        return 0;
    }
    dcsim_raw_put_number(&p->dive->header, field, value);
    return header_written(p);
}

static int dive_divetime(parser_t* p, const token_t* t, int n) {
    unsigned int seconds;
    if (!need_args(p, t, n, 1, 1, "TIME") || !see(p, 1u << DCSIM_FIELD_DIVETIME, "divetime") ||
        !get_seconds(p, &t[1], "divetime", &seconds)) {
        return 0;
    }
    dcsim_raw_put_divetime(&p->dive->header, seconds);
    return header_written(p);
}

static int dive_mix(parser_t* p, const token_t* t, int n) {
    dcsim_raw_gasmix_t mix = {0.0, 0.0, DCSIM_USAGE_NONE};
    double oxygen, helium;
    if (!need_args(p, t, n, 2, 3, "OXYGEN% HELIUM% [none|oxygen|diluent]") ||
        !get_real_in(p, &t[1], "mix oxygen", 0.0, 100.0, &oxygen) ||
        !get_real_in(p, &t[2], "mix helium", 0.0, 100.0, &helium) ||
        (n == 4 && !get_usage(p, &t[3], &mix.usage))) {
        return 0;
    }
    if (oxygen + helium > 100.0) {
        return fail(p, "mix: oxygen and helium add up to more than 100 %%");
    }
    /* libdivecomputer's backends mark tanks as sidemount, never a mix. */
    if (mix.usage == DCSIM_USAGE_SIDEMOUNT) {
        return fail(p, "mix: sidemount is the use of a tank, not of a mix");
    }
    mix.oxygen = oxygen / 100.0;
    mix.helium = helium / 100.0;
    dcsim_raw_put_gasmix(&p->dive->header, &mix);
    return header_written(p);
}

static int dive_tank(parser_t* p, const token_t* t, int n) {
    static const char* const volumes[] = {"none", "metric", "imperial"};
    dcsim_raw_tank_t tank;
    memset(&tank, 0, sizeof tank);
    if (!need_args(p, t, n, 6, 7,
                   "GASMIX|none none|metric|imperial VOLUME WORKPRESSURE BEGIN END [USAGE]")) {
        return 0;
    }
    tank.gasmix = 0xFFFFFFFFu; /* DC_GASMIX_UNKNOWN */
    if (!equal_nocase(t[1].text, "none") && !get_u32(p, &t[1], "tank gasmix", &tank.gasmix)) {
        return 0;
    }
    if (!get_choice(p, &t[2], "tank volume type", volumes, 3, 0, &tank.volume_type) ||
        !get_real(p, &t[3], "tank volume", &tank.volume) ||
        !get_real(p, &t[4], "tank work pressure", &tank.workpressure) ||
        !get_real(p, &t[5], "tank begin pressure", &tank.beginpressure) ||
        !get_real(p, &t[6], "tank end pressure", &tank.endpressure) ||
        (n == 8 && !get_usage(p, &t[7], &tank.usage))) {
        return 0;
    }
    /* As libdivecomputer documents its tank volume types. */
    if (tank.volume_type == DCSIM_TANKVOLUME_NONE &&
        (tank.volume != 0.0 || tank.workpressure != 0.0)) {
        return fail(p, "tank: a tank of volume type none has volume and work pressure 0");
    }
    if (tank.volume_type == DCSIM_TANKVOLUME_IMPERIAL &&
        !(tank.volume > 0.0 && tank.workpressure > 0.0)) {
        return fail(p, "tank: an imperial tank has a volume and a work pressure above 0");
    }
    dcsim_raw_put_tank(&p->dive->header, &tank);
    return header_written(p);
}

static int dive_salinity(parser_t* p, const token_t* t, int n) {
    static const char* const waters[] = {"fresh", "salt"};
    unsigned int water = 0;
    double density;
    if (!need_args(p, t, n, 2, 2, "fresh|salt DENSITY") ||
        !see(p, 1u << DCSIM_FIELD_SALINITY, "salinity") ||
        !get_choice(p, &t[1], "salinity", waters, 2, 0, &water) ||
        !get_real(p, &t[2], "salinity density", &density)) {
        return 0;
    }
    dcsim_raw_put_salinity(&p->dive->header, water, density);
    return header_written(p);
}

static int dive_divemode(parser_t* p, const token_t* t, int n) {
    static const char* const modes[] = {"freedive", "gauge", "oc", "ccr", "scr"};
    unsigned int mode = 0;
    if (!need_args(p, t, n, 1, 1, "freedive|gauge|oc|ccr|scr") ||
        !see(p, 1u << DCSIM_FIELD_DIVEMODE, "divemode") ||
        !get_choice(p, &t[1], "divemode", modes, 5, 0, &mode)) {
        return 0;
    }
    dcsim_raw_put_divemode(&p->dive->header, mode);
    return header_written(p);
}

static int dive_decomodel(parser_t* p, const token_t* t, int n) {
    static const char* const models[] = {"none", "buhlmann", "vpm", "rgbm", "dciem"};
    dcsim_raw_decomodel_t model = {0, 0, 0, 0};
    if (!need_args(p, t, n, 1, 4, "none|buhlmann|vpm|rgbm|dciem [CONSERVATISM [GFLOW GFHIGH]]") ||
        !see(p, 1u << DCSIM_FIELD_DECOMODEL, "decomodel") ||
        !get_choice(p, &t[1], "decomodel", models, 5, 0, &model.type)) {
        return 0;
    }
    if (n == 4) {
        return fail(p, "decomodel: give both GFLOW and GFHIGH");
    }
    if (n > 2) {
        const char* s = t[2].text;
        unsigned long long magnitude;
        int negative = *s == '-';
        if (!scan_unsigned(s + negative, 0x7FFFFFFF, &magnitude)) {
            return fail(p, "decomodel: expected a whole conservatism such as -1 or 2, got '%s'", s);
        }
        model.conservatism = negative ? -(int)magnitude : (int)magnitude;
    }
    if (n == 5 && (!get_u32(p, &t[3], "gradient factor low", &model.gf_low) ||
                   !get_u32(p, &t[4], "gradient factor high", &model.gf_high))) {
        return 0;
    }
    /* libdivecomputer fills in gradient factors for Buehlmann only. */
    if (n == 5 && model.type != 1 /* buhlmann */) {
        return fail(p, "decomodel: gradient factors belong to buhlmann only");
    }
    dcsim_raw_put_decomodel(&p->dive->header, &model);
    return header_written(p);
}

static int dive_location(parser_t* p, const token_t* t, int n) {
    dcsim_raw_location_t location = {0.0, 0.0, 0.0};
    if (!need_args(p, t, n, 2, 3, "LATITUDE LONGITUDE [ALTITUDE]") ||
        !see(p, 1u << DCSIM_FIELD_LOCATION, "location") ||
        !get_real_in(p, &t[1], "latitude", -90.0, 90.0, &location.latitude) ||
        !get_real_in(p, &t[2], "longitude", -180.0, 180.0, &location.longitude) ||
        (n == 4 && !get_real(p, &t[3], "altitude", &location.altitude))) {
        return 0;
    }
    dcsim_raw_put_location(&p->dive->header, &location);
    return header_written(p);
}

static int dive_fingerprint(parser_t* p, const token_t* t, int n) {
    dcsim_raw_writer_t bytes;
    dcsim_raw_writer_init(&bytes);
    if (!need_args(p, t, n, 1, 1, "HEX") || !get_hex(p, &t[1], "fingerprint", &bytes)) {
        dcsim_raw_writer_release(&bytes);
        return 0;
    }
    if (p->dive->has_fingerprint || bytes.size != sizeof p->dive->fingerprint) {
        dcsim_raw_writer_release(&bytes);
        return fail(p, p->dive->has_fingerprint ? "fingerprint is given twice in this dive"
                                                : "fingerprint: expected 4 bytes (8 hex digits)");
    }
    memcpy(p->dive->fingerprint, bytes.data, sizeof p->dive->fingerprint);
    p->dive->has_fingerprint = 1;
    dcsim_raw_writer_release(&bytes);
    return 1;
}

static int dive_fault(parser_t* p, const token_t* t, int n) {
    static const char* const stages[] = {NULL, "parser", "datetime", "field", "samples", "destroy"};
    unsigned int stage = 0, field = 0, after = 0;
    int any = 0;
    dc_status_t status;
    if (n < 3) {
        return fail(p,
                    "fault takes: fault parser|datetime|destroy STATUS, fault field FIELD|any "
                    "STATUS or fault samples COUNT STATUS");
    }
    if (!get_choice(p, &t[1], "fault", stages, 6, 0, &stage)) {
        return 0;
    }
    int expected = stage == DCSIM_RAW_STAGE_FIELD || stage == DCSIM_RAW_STAGE_SAMPLES ? 4 : 3;
    if (n != expected) {
        return fail(p, "fault %s takes %s", t[1].text,
                    stage == DCSIM_RAW_STAGE_FIELD     ? "FIELD|any STATUS"
                    : stage == DCSIM_RAW_STAGE_SAMPLES ? "COUNT STATUS"
                                                       : "STATUS");
    }
    if (stage == DCSIM_RAW_STAGE_FIELD) {
        if (equal_nocase(t[2].text, "any")) {
            any = 1;
        } else {
            const char* s = t[2].text;
            unsigned long long magnitude;
            if (s[0] == '-' && scan_unsigned(s + 1, 0x80000000ull, &magnitude)) {
                field = (unsigned int)(0x100000000ull - magnitude);
            } else if (!get_choice(p, &t[2], "fault field", field_names,
                                   sizeof field_names / sizeof field_names[0], 0xFFFFFFFFu,
                                   &field)) {
                return 0;
            }
        }
    } else if (stage == DCSIM_RAW_STAGE_SAMPLES &&
               !get_u32(p, &t[2], "fault samples count", &after)) {
        return 0;
    }
    if (!get_status(p, &t[n - 1], &status)) {
        return 0;
    }
    dcsim_raw_put_fault(&p->dive->header, (dcsim_raw_stage_t)stage, any, field, status, after);
    return p->dive->header.failed ? fail(p, "out of memory") : 1;
}

/* KEY=VALUE options of profile and generate. */
static const char* option(const token_t* t, const char* key) {
    size_t length = strlen(key);
    if (!t->quoted && strncmp(t->text, key, length) == 0 && t->text[length] == '=') {
        return t->text + length + 1;
    }
    return NULL;
}

/* Splits "A:B" or "A:B:C" in place-free fashion into number tokens. */
static int split_reals(parser_t* p, const char* text, const char* what, int count, double* values) {
    char buffer[128];
    if (strlen(text) >= sizeof buffer) {
        return fail(p, "%s: '%s' is too long", what, text);
    }
    strcpy(buffer, text);
    char* s = buffer;
    for (int i = 0; i < count; i++) {
        char* colon = i + 1 < count ? strchr(s, ':') : NULL;
        if (i + 1 < count && colon == NULL) {
            return fail(p, "%s: expected %d numbers separated by ':', got '%s'", what, count, text);
        }
        if (colon != NULL) {
            *colon = '\0';
        }
        token_t part = {s, 0};
        if (!get_real(p, &part, what, &values[i])) {
            return 0;
        }
        s = colon != NULL ? colon + 1 : s;
    }
    return 1;
}

static int dive_profile(parser_t* p, const token_t* t, int n) {
    dcsim_dive_t* dive = p->dive;
    dcsim_profile_t* profile = &dive->profile;
    if (dive->has_profile) {
        return fail(p, "profile is given twice in this dive");
    }
    if (p->has_samples) {
        return fail(p, "a dive with explicit samples cannot also have a profile");
    }
    profile->interval_ms = 10000;
    for (int i = 1; i < n; i++) {
        const char* value;
        if ((value = option(&t[i], "interval")) != NULL) {
            unsigned long long ms;
            token_t part = {value, 0};
            if (!get_time(p, &part, "profile interval", &ms)) {
                return 0;
            }
            if (ms == 0) {
                return fail(p, "profile interval: must be longer than 0");
            }
            profile->interval_ms = ms;
        } else if ((value = option(&t[i], "temperature")) != NULL) {
            double temperatures[2];
            if (!split_reals(p, value, "profile temperature SURFACE:BOTTOM", 2, temperatures)) {
                return 0;
            }
            profile->has_temperature = 1;
            profile->temperature_surface = temperatures[0];
            profile->temperature_bottom = temperatures[1];
        } else if ((value = option(&t[i], "tank")) != NULL) {
            double numbers[3];
            if (!split_reals(p, value, "profile tank INDEX:BEGIN:END", 3, numbers)) {
                return 0;
            }
            if (!(numbers[0] >= 0 && numbers[0] <= 0xFFFFFFFFu) ||
                numbers[0] != (double)(unsigned int)numbers[0]) {
                return fail(p, "profile tank: the tank index must be a whole number");
            }
            if (!grow(p, (void**)&profile->tanks, &p->tanks_capacity, profile->ntanks,
                      sizeof *profile->tanks)) {
                return 0;
            }
            dcsim_profile_tank_t* tank = &profile->tanks[profile->ntanks++];
            tank->tank = (unsigned int)numbers[0];
            tank->begin = numbers[1];
            tank->end = numbers[2];
        } else {
            const char* at = strchr(t[i].text, '@');
            if (t[i].quoted || at == NULL) {
                return fail(p,
                            "profile: expected TIME@DEPTH or an option (interval=, "
                            "temperature=, tank=), got '%s'",
                            t[i].text);
            }
            char time_text[64];
            size_t length = (size_t)(at - t[i].text);
            if (length >= sizeof time_text) {
                return fail(p, "profile: '%s' is not TIME@DEPTH", t[i].text);
            }
            memcpy(time_text, t[i].text, length);
            time_text[length] = '\0';
            token_t time_token = {time_text, 0}, depth_token = {at + 1, 0};
            dcsim_waypoint_t waypoint;
            unsigned long long ms;
            if (!get_time(p, &time_token, "profile waypoint time", &ms) ||
                !get_real_in(p, &depth_token, "profile waypoint depth", 0.0, 10000.0,
                             &waypoint.depth)) {
                return 0;
            }
            waypoint.time_ms = ms;
            if (profile->nwaypoints > 0 &&
                waypoint.time_ms <= profile->waypoints[profile->nwaypoints - 1].time_ms) {
                return fail(p, "profile: waypoint times must increase ('%s')", t[i].text);
            }
            if (!grow(p, (void**)&profile->waypoints, &p->waypoints_capacity, profile->nwaypoints,
                      sizeof *profile->waypoints)) {
                return 0;
            }
            profile->waypoints[profile->nwaypoints++] = waypoint;
        }
    }
    if (profile->nwaypoints < 2) {
        return fail(p, "profile: needs at least two waypoints TIME@DEPTH");
    }
    /* Time and depth records, a temperature and one pressure per tank. */
    const uint64_t span =
        profile->waypoints[profile->nwaypoints - 1].time_ms - profile->waypoints[0].time_ms;
    if (!check_generated_size(
            p, "profile", span / profile->interval_ms + 1,
            (unsigned int)(20 + 10 * profile->has_temperature + 14 * profile->ntanks))) {
        return 0;
    }
    dive->has_profile = 1;
    return 1;
}

static int dive_at(parser_t* p, const token_t* t, int n) {
    dcsim_dive_t* dive = p->dive;
    unsigned long long ms;
    if (!dive->has_profile) {
        return fail(p, "at adds samples to a profile; give the profile line first");
    }
    if (n < 3) {
        return fail(p, "at takes: at TIME SAMPLE..., such as at 12:00 event bookmark");
    }
    if (!get_time(p, &t[1], "at", &ms)) {
        return 0;
    }
    if (!is_sample_kind(t[2].text)) {
        return fail(p, "at: '%s' is not a sample kind", t[2].text);
    }
    size_t offset = dive->inserted.size;
    if (!parse_sample(p, t + 2, n - 2, &dive->inserted)) {
        return 0;
    }
    dcsim_profile_t* profile = &dive->profile;
    if (!grow(p, (void**)&profile->inserts, &p->inserts_capacity, profile->ninserts,
              sizeof *profile->inserts)) {
        return 0;
    }
    dcsim_insert_t* insert = &profile->inserts[profile->ninserts++];
    insert->time_ms = ms;
    insert->offset = offset;
    insert->length = dive->inserted.size - offset;
    return 1;
}

static int dive_patch(parser_t* p, const token_t* t, int n) {
    dcsim_dive_t* dive = p->dive;
    unsigned long long offset;
    if (!need_args(p, t, n, 2, 2, "OFFSET HEX") ||
        !get_unsigned(p, &t[1], "patch offset", MAX_OFFSET, &offset)) {
        return 0;
    }
    size_t start = dive->patched.size;
    if (!get_hex(p, &t[2], "patch", &dive->patched)) {
        return 0;
    }
    if (!grow(p, (void**)&dive->patches, &p->patches_capacity, dive->npatches,
              sizeof *dive->patches)) {
        return 0;
    }
    dcsim_patch_t* patch = &dive->patches[dive->npatches++];
    patch->offset = (size_t)offset;
    patch->length = dive->patched.size - start;
    patch->bytes = start;
    return 1;
}

static int dive_truncate(parser_t* p, const token_t* t, int n) {
    unsigned long long size;
    if (!need_args(p, t, n, 1, 1, "SIZE") ||
        !get_unsigned(p, &t[1], "truncate", MAX_OFFSET, &size)) {
        return 0;
    }
    if (p->dive->has_truncate) {
        return fail(p, "truncate is given twice in this dive");
    }
    p->dive->has_truncate = 1;
    p->dive->truncate = (size_t)size;
    return 1;
}

static int dive_raw(parser_t* p, const token_t* t, int n) {
    if (!need_args(p, t, n, 1, 1, "HEX")) {
        return 0;
    }
    if (p->has_content) {
        return fail(p,
                    "raw gives the whole dive; it cannot be mixed with header, sample or "
                    "profile lines");
    }
    p->dive->has_raw = 1;
    return get_hex(p, &t[1], "raw", &p->dive->raw);
}

/* Header, sample and profile lines. */
static int dive_content(parser_t* p, const token_t* t, int n) {
    const char* k = t[0].text;
    if (p->dive->has_raw) {
        return fail(p, "this dive is given as raw bytes; '%s' cannot be added to it", k);
    }
    p->has_content = 1;
    if (strcmp(k, "datetime") == 0) {
        return dive_datetime(p, t, n);
    } else if (strcmp(k, "divetime") == 0) {
        return dive_divetime(p, t, n);
    } else if (strcmp(k, "maxdepth") == 0) {
        return dive_number_field(p, t, n, DCSIM_FIELD_MAXDEPTH, 0.0, 10000.0);
    } else if (strcmp(k, "avgdepth") == 0) {
        return dive_number_field(p, t, n, DCSIM_FIELD_AVGDEPTH, 0.0, 10000.0);
    } else if (strcmp(k, "atmospheric") == 0) {
        return dive_number_field(p, t, n, DCSIM_FIELD_ATMOSPHERIC, 0.0, 10.0);
    } else if (strcmp(k, "temperature-surface") == 0) {
        return dive_number_field(p, t, n, DCSIM_FIELD_TEMPERATURE_SURFACE, -100.0, 100.0);
    } else if (strcmp(k, "temperature-minimum") == 0) {
        return dive_number_field(p, t, n, DCSIM_FIELD_TEMPERATURE_MINIMUM, -100.0, 100.0);
    } else if (strcmp(k, "temperature-maximum") == 0) {
        return dive_number_field(p, t, n, DCSIM_FIELD_TEMPERATURE_MAXIMUM, -100.0, 100.0);
    } else if (strcmp(k, "mix") == 0) {
        return dive_mix(p, t, n);
    } else if (strcmp(k, "tank") == 0) {
        return dive_tank(p, t, n);
    } else if (strcmp(k, "salinity") == 0) {
        return dive_salinity(p, t, n);
    } else if (strcmp(k, "divemode") == 0) {
        return dive_divemode(p, t, n);
    } else if (strcmp(k, "decomodel") == 0) {
        return dive_decomodel(p, t, n);
    } else if (strcmp(k, "location") == 0) {
        return dive_location(p, t, n);
    } else if (strcmp(k, "profile") == 0) {
        return dive_profile(p, t, n);
    } else if (strcmp(k, "at") == 0) {
        return dive_at(p, t, n);
    }
    if (p->dive->has_profile) {
        return fail(p, "this dive's samples come from its profile; add '%s' with 'at TIME %s ...'",
                    k, k);
    }
    p->has_samples = 1;
    return parse_sample(p, t, n, &p->dive->samples);
}

/* ---- Computer ----------------------------------------------------------- */

static int set_string(parser_t* p, char** field, const token_t* t, const char* keyword) {
    if (*field != NULL) {
        return fail(p, "%s is given twice", keyword);
    }
    if (t->text[0] == '\0') {
        return fail(p, "%s: the name is empty", keyword);
    }
    *field = copy_string(p, t->text);
    return *field != NULL;
}

static int computer_usb(parser_t* p, const token_t* t, int n, int* has, unsigned int* vid,
                        unsigned int* pid) {
    unsigned long long v, q;
    if (!need_args(p, t, n, 2, 2, "VID PID") || !get_unsigned(p, &t[1], "vendor id", 0xFFFF, &v) ||
        !get_unsigned(p, &t[2], "product id", 0xFFFF, &q)) {
        return 0;
    }
    if (*has) {
        return fail(p, "%s is given twice", t[0].text);
    }
    *has = 1;
    *vid = (unsigned int)v;
    *pid = (unsigned int)q;
    return 1;
}

/* A strict "00:11:22:AA:BB:CC" address (libdivecomputer's own parser accepts
 * nearly anything). */
static int scan_bluetooth(const char* s, dc_bluetooth_address_t* out) {
    dc_bluetooth_address_t address = 0;
    for (int i = 0; i < 6; i++) {
        int high = hex_value((unsigned char)s[0]);
        int low = high < 0 ? -1 : hex_value((unsigned char)s[1]);
        if (low < 0 || s[2] != (i < 5 ? ':' : '\0')) {
            return 0;
        }
        address = address << 8 | (dc_bluetooth_address_t)(high << 4 | low);
        s += 3;
    }
    *out = address;
    return 1;
}

static int computer_line(parser_t* p, const token_t* t, int n) {
    dcsim_computer_t* c = p->computer;
    const char* k = t[0].text;
    if (strcmp(k, "devinfo") == 0) {
        return need_args(p, t, n, 3, 3, "MODEL FIRMWARE SERIAL") &&
               get_u32(p, &t[1], "model", &c->model) &&
               get_u32(p, &t[2], "firmware", &c->firmware) &&
               get_u32(p, &t[3], "serial", &c->serial);
    }
    if (strcmp(k, "clock") == 0) {
        if (!need_args(p, t, n, 2, 2, "DEVTIME SYSTIME|now") ||
            !get_u32(p, &t[1], "devtime", &c->devtime)) {
            return 0;
        }
        if (equal_nocase(t[2].text, "now")) {
            c->systime_now = 1;
            return 1;
        }
        const char* s = t[2].text;
        unsigned long long magnitude;
        int negative = *s == '-';
        if (!scan_unsigned(s + negative, 0x7FFFFFFFFFFFFFFFull, &magnitude)) {
            return fail(p, "systime: expected seconds since the epoch or now, got '%s'", s);
        }
        c->systime_now = 0;
        c->systime = negative ? -(dc_ticks_t)magnitude : (dc_ticks_t)magnitude;
        return 1;
    }
    if (strcmp(k, "serial") == 0) {
        return need_args(p, t, n, 1, 1, "PORTNAME") &&
               set_string(p, &c->serial_port, &t[1], "serial");
    }
    if (strcmp(k, "usb") == 0) {
        return computer_usb(p, t, n, &c->has_usb, &c->usb_vid, &c->usb_pid);
    }
    if (strcmp(k, "usbhid") == 0) {
        return computer_usb(p, t, n, &c->has_usbhid, &c->usbhid_vid, &c->usbhid_pid);
    }
    if (strcmp(k, "bluetooth") == 0) {
        if (!need_args(p, t, n, 1, 2, "AA:BB:CC:DD:EE:FF [NAME]")) {
            return 0;
        }
        if (c->has_bluetooth) {
            return fail(p, "bluetooth is given twice");
        }
        if (!scan_bluetooth(t[1].text, &c->bluetooth_address)) {
            return fail(p, "bluetooth: expected an address such as 00:11:22:AA:BB:CC, got '%s'",
                        t[1].text);
        }
        c->has_bluetooth = 1;
        return n < 3 || set_string(p, &c->bluetooth_name, &t[2], "bluetooth name");
    }
    if (strcmp(k, "pin") == 0) {
        if (!need_args(p, t, n, 1, 1, "DIGITS")) {
            return 0;
        }
        size_t length = strlen(t[1].text);
        if (length == 0 || length > DCSIM_BLE_PIN_DIGITS ||
            strspn(t[1].text, "0123456789") != length) {
            return fail(p, "pin: expected 1 to %d digits, got '%s'", DCSIM_BLE_PIN_DIGITS,
                        t[1].text);
        }
        return set_string(p, &c->pin, &t[1], "pin");
    }
    if (strcmp(k, "irda") == 0) {
        if (!need_args(p, t, n, 1, 2, "ADDRESS [NAME]")) {
            return 0;
        }
        if (c->has_irda) {
            return fail(p, "irda is given twice");
        }
        if (!get_u32(p, &t[1], "irda address", &c->irda_address)) {
            return 0;
        }
        c->has_irda = 1;
        return n < 3 || set_string(p, &c->irda_name, &t[2], "irda name");
    }
    if (strcmp(k, "descriptor") == 0) {
        dcsim_answer_t answer;
        memset(&answer, 0, sizeof answer);
        if (n >= 2 && !t[1].quoted && strcmp(t[1].text, "family") == 0) {
            if (!need_args(p, t, n, 2, 4,
                           "family FAMILY [model MODEL] or descriptor VENDOR PRODUCT") ||
                !get_u32(p, &t[2], "family", &answer.family)) {
                return 0;
            }
            if (n == 4 || (n == 5 && (t[3].quoted || strcmp(t[3].text, "model") != 0))) {
                return fail(p, "descriptor: expected 'model MODEL' after the family");
            }
            if (n == 5) {
                if (!get_u32(p, &t[4], "model", &answer.model)) {
                    return 0;
                }
                answer.has_model = 1;
            }
        } else {
            if (!need_args(p, t, n, 2, 2, "VENDOR PRODUCT (quote names with spaces)")) {
                return 0;
            }
            answer.vendor = copy_string(p, t[1].text);
            answer.product = copy_string(p, t[2].text);
            if (answer.vendor == NULL || answer.product == NULL) {
                free(answer.vendor);
                free(answer.product);
                return 0;
            }
        }
        if (!grow(p, (void**)&c->answers, &p->answers_capacity, c->nanswers, sizeof *c->answers)) {
            free(answer.vendor);
            free(answer.product);
            return 0;
        }
        c->answers[c->nanswers++] = answer;
        return 1;
    }
    if (strcmp(k, "transfer") == 0) {
        unsigned long long chunks, delay;
        if (!need_args(p, t, n, 2, 2, "CHUNKS DELAY_MS") ||
            !get_unsigned(p, &t[1], "chunks", 1000000, &chunks) ||
            !get_unsigned(p, &t[2], "delay", 60000, &delay)) {
            return 0;
        }
        if (chunks == 0) {
            return fail(p, "transfer: a dive takes at least 1 chunk");
        }
        c->chunks = (unsigned int)chunks;
        c->delay_ms = (unsigned int)delay;
        return 1;
    }
    if (strcmp(k, "events") == 0) {
        static const char* const kinds[] = {"waiting", "progress", "devinfo",
                                            "clock",   "vendor",   "unsized"};
        if (p->events_seen) {
            return fail(p, "events is given twice");
        }
        p->events_seen = 1;
        c->nevents = 0;
        if (n == 2 && strcmp(t[1].text, "none") == 0) {
            return 1;
        }
        unsigned int listed = 0;
        for (int i = 1; i < n; i++) {
            unsigned int kind = 0;
            if (!get_choice(p, &t[i], "events", kinds, DCSIM_EVENT_KINDS, 0, &kind)) {
                return 0;
            }
            if (listed & (1u << kind)) {
                return fail(p, "events: %s is listed twice", kinds[kind]);
            }
            listed |= 1u << kind;
            c->events[c->nevents++] = (dcsim_event_kind_t)kind;
        }
        return 1;
    }
    if (strcmp(k, "vendor-event") == 0) {
        dcsim_raw_writer_t bytes;
        dcsim_raw_writer_init(&bytes);
        if (!need_args(p, t, n, 1, 1, "HEX") || !get_hex(p, &t[1], "vendor-event", &bytes)) {
            dcsim_raw_writer_release(&bytes);
            return 0;
        }
        free(c->vendor_data);
        c->vendor_data = bytes.data;
        c->vendor_size = bytes.size;
        return 1;
    }
    if (strcmp(k, "fail-after") == 0) {
        if (!need_args(p, t, n, 2, 2, "DIVES STATUS") ||
            !get_u32(p, &t[1], "fail-after", &c->fail_after) ||
            !get_status(p, &t[2], &c->fail_status)) {
            return 0;
        }
        c->has_fail_after = 1;
        return 1;
    }
    return fail(p, "unknown keyword '%s'", k);
}

static int generate(parser_t* p, const token_t* t, int n) {
    dcsim_generator_t g = {0, 360, 10000, 20.0, 0, 21600, 1, 0.21, 26.0, 22.0};
    g.start = dcsim_ticks_join(2024, 1, 1, 8, 0, 0);
    unsigned long long count;
    if (n < 2) {
        return fail(p,
                    "generate takes: generate COUNT [samples=N] [interval=TIME] [depth=M] "
                    "[start=YYYY-MM-DDTHH:MM:SS] [spacing=TIME] [tanks=N] [oxygen=PERCENT] "
                    "[temperature=SURFACE:BOTTOM]");
    }
    if (!get_unsigned(p, &t[1], "generate count", MAX_DIVES, &count)) {
        return 0;
    }
    if (count == 0) {
        return fail(p, "generate: the count must be at least 1");
    }
    g.count = (unsigned int)count;
    for (int i = 2; i < n; i++) {
        const char* value;
        token_t v;
        unsigned long long number;
        if ((value = option(&t[i], "samples")) != NULL) {
            v = (token_t){value, 0};
            if (!get_unsigned(p, &v, "generate samples", 10000000, &number)) {
                return 0;
            }
            if (number == 0) {
                return fail(p, "generate samples: at least 1");
            }
            g.samples = (unsigned int)number;
        } else if ((value = option(&t[i], "interval")) != NULL) {
            v = (token_t){value, 0};
            if (!get_time(p, &v, "generate interval", &number)) {
                return 0;
            }
            if (number == 0) {
                return fail(p, "generate interval: must be longer than 0");
            }
            g.interval_ms = number;
        } else if ((value = option(&t[i], "depth")) != NULL) {
            v = (token_t){value, 0};
            if (!get_real_in(p, &v, "generate depth", 0.1, 1000.0, &g.depth)) {
                return 0;
            }
        } else if ((value = option(&t[i], "start")) != NULL) {
            int year, month, day, hour, minute, second;
            char extra;
            if (sscanf(value, "%4d-%2d-%2dT%2d:%2d:%2d%c", &year, &month, &day, &hour, &minute,
                       &second, &extra) != 6 ||
                month < 1 || month > 12 || day < 1 || day > 31 || hour < 0 || hour > 23 ||
                minute < 0 || minute > 59 || second < 0 || second > 59) {
                return fail(p, "generate start: expected YYYY-MM-DDTHH:MM:SS, got '%s'", value);
            }
            g.start = dcsim_ticks_join(year, month, day, hour, minute, second);
        } else if ((value = option(&t[i], "spacing")) != NULL) {
            v = (token_t){value, 0};
            if (!get_seconds(p, &v, "generate spacing", &g.spacing)) {
                return 0;
            }
        } else if ((value = option(&t[i], "tanks")) != NULL) {
            v = (token_t){value, 0};
            if (!get_unsigned(p, &v, "generate tanks", 8, &number)) {
                return 0;
            }
            g.tanks = (unsigned int)number;
        } else if ((value = option(&t[i], "oxygen")) != NULL) {
            v = (token_t){value, 0};
            if (!get_real_in(p, &v, "generate oxygen", 0.0, 100.0, &g.oxygen)) {
                return 0;
            }
            g.oxygen /= 100.0;
        } else if ((value = option(&t[i], "temperature")) != NULL) {
            double temperatures[2];
            if (!split_reals(p, value, "generate temperature SURFACE:BOTTOM", 2, temperatures)) {
                return 0;
            }
            g.temperature_surface = temperatures[0];
            g.temperature_bottom = temperatures[1];
        } else {
            return fail(p, "generate: unknown option '%s'", t[i].text);
        }
    }
    if (g.samples > 1 && g.interval_ms > MAX_TIME_MS / (g.samples - 1)) {
        return fail(p, "generate: the dives last longer than libdivecomputer's time sample holds");
    }
    if (!check_generated_size(p, "generate", g.samples, 30 + 14 * g.tanks)) {
        return 0;
    }
    dcsim_generator_t* generator = malloc(sizeof *generator);
    if (generator == NULL) {
        return fail(p, "out of memory");
    }
    *generator = g;
    if (!add_group(p, NULL, generator, g.count)) {
        free(generator);
        return 0;
    }
    return 1;
}

static int statement(parser_t* p, const token_t* t, int n) {
    if (t[0].quoted) {
        return fail(p, "expected a keyword, got the quoted \"%s\"", t[0].text);
    }
    const char* k = t[0].text;
    if (strcmp(k, "dive") == 0) {
        return need_args(p, t, n, 0, 0, "") && start_dive(p);
    }
    if (strcmp(k, "generate") == 0) {
        return finish_dive(p) && generate(p, t, n);
    }
    if (strcmp(k, "fingerprint") == 0 || strcmp(k, "fault") == 0 || strcmp(k, "raw") == 0 ||
        strcmp(k, "patch") == 0 || strcmp(k, "truncate") == 0 || strcmp(k, "datetime") == 0 ||
        strcmp(k, "divetime") == 0 || strcmp(k, "maxdepth") == 0 || strcmp(k, "avgdepth") == 0 ||
        strcmp(k, "atmospheric") == 0 || strncmp(k, "temperature-", 12) == 0 ||
        strcmp(k, "mix") == 0 || strcmp(k, "tank") == 0 || strcmp(k, "salinity") == 0 ||
        strcmp(k, "divemode") == 0 || strcmp(k, "decomodel") == 0 || strcmp(k, "location") == 0 ||
        strcmp(k, "profile") == 0 || strcmp(k, "at") == 0 || is_sample_kind(k)) {
        if (p->dive == NULL) {
            return fail(p, "'%s' belongs to a dive; start one with a 'dive' line", k);
        }
        if (strcmp(k, "fingerprint") == 0) {
            return dive_fingerprint(p, t, n);
        }
        if (strcmp(k, "fault") == 0) {
            if (p->dive->has_raw) {
                return fail(p, "this dive is given as raw bytes; its faults would be lost");
            }
            p->has_content = 1;
            return dive_fault(p, t, n);
        }
        if (strcmp(k, "raw") == 0) {
            return dive_raw(p, t, n);
        }
        if (strcmp(k, "patch") == 0) {
            return dive_patch(p, t, n);
        }
        if (strcmp(k, "truncate") == 0) {
            return dive_truncate(p, t, n);
        }
        return dive_content(p, t, n);
    }
    if (p->computer->ngroups > 0 || p->dive != NULL) {
        if (strcmp(k, "devinfo") == 0 || strcmp(k, "clock") == 0 || strcmp(k, "serial") == 0 ||
            strcmp(k, "usb") == 0 || strcmp(k, "usbhid") == 0 || strcmp(k, "bluetooth") == 0 ||
            strcmp(k, "irda") == 0 || strcmp(k, "descriptor") == 0 || strcmp(k, "transfer") == 0 ||
            strcmp(k, "events") == 0 || strcmp(k, "vendor-event") == 0 ||
            strcmp(k, "fail-after") == 0) {
            return fail(p, "'%s' describes the computer and belongs before the first dive", k);
        }
    }
    return computer_line(p, t, n);
}

/* Splits one line into statements (separated by ';') of tokens and runs
 * them. `buffer` has room for the line plus a NUL. */
static int run_line(parser_t* p, const char* line, size_t length, char* buffer) {
    token_t tokens[MAX_TOKENS];
    int n = 0;
    size_t i = 0;
    char* out = buffer;
    while (1) {
        while (i < length && (line[i] == ' ' || line[i] == '\t' || line[i] == '\r')) {
            i++;
        }
        if (i == length || line[i] == '#' || line[i] == ';') {
            if (n > 0 && !statement(p, tokens, n)) {
                return 0;
            }
            n = 0;
            if (i == length || line[i] == '#') {
                return 1;
            }
            i++;
            continue;
        }
        if (n == MAX_TOKENS) {
            return fail(p, "more than %d words in one statement", MAX_TOKENS);
        }
        tokens[n].text = out;
        tokens[n].quoted = line[i] == '"';
        if (tokens[n].quoted) {
            i++;
            while (i < length && line[i] != '"') {
                if (line[i] == '\\' && i + 1 < length &&
                    (line[i + 1] == '"' || line[i + 1] == '\\')) {
                    i++;
                }
                *out++ = line[i++];
            }
            if (i == length) {
                return fail(p, "unterminated quoted string");
            }
            i++;
            if (i < length && line[i] != ' ' && line[i] != '\t' && line[i] != '\r' &&
                line[i] != ';' && line[i] != '#') {
                return fail(p, "expected a space after the closing quote");
            }
        } else {
            while (i < length && line[i] != ' ' && line[i] != '\t' && line[i] != '\r' &&
                   line[i] != ';' && line[i] != '#') {
                if (line[i] == '"') {
                    return fail(p, "a quote in the middle of a word");
                }
                *out++ = line[i++];
            }
        }
        *out++ = '\0';
        n++;
    }
}

dcsim_computer_t* dcsim_scenario_parse(const char* text, size_t size, const char* origin) {
    parser_t p;
    memset(&p, 0, sizeof p);
    p.origin = origin;
    p.computer = dcsim_computer_new();
    if (p.computer == NULL) {
        dcsim_set_error("out of memory");
        return NULL;
    }
    char* buffer = NULL;
    size_t buffer_size = 0;
    size_t pos = 0;
    int ok = 1;
    while (ok && pos < size) {
        size_t end = pos;
        while (end < size && text[end] != '\n') {
            end++;
        }
        p.line++;
        size_t length = end - pos;
        if (memchr(text + pos, '\0', length) != NULL) {
            ok = fail(&p, "NUL byte in the line; this is not a scenario text");
            break;
        }
        if (length + 1 > buffer_size) {
            free(buffer);
            buffer_size = length + 1 > 256 ? length + 1 : 256;
            buffer = malloc(buffer_size);
            if (buffer == NULL) {
                ok = fail(&p, "out of memory");
                break;
            }
        }
        ok = run_line(&p, text + pos, length, buffer);
        pos = end + 1;
    }
    free(buffer);
    if (ok) {
        p.line++;
        ok = finish_dive(&p);
    }
    if (!ok) {
        dcsim_dive_free(p.dive);
        dcsim_computer_release(p.computer);
        return NULL;
    }
    return p.computer;
}
