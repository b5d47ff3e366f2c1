#include "computer.h"

#include <ctype.h>
#include <stdlib.h>
#include <string.h>

#include "calendar.h"
#include "generator.h"
#include "little_endian.h"

dcsim_computer_t* dcsim_computer_new(void) {
    dcsim_computer_t* computer = calloc(1, sizeof *computer);
    if (computer == NULL) {
        return NULL;
    }
    atomic_init(&computer->refs, 1);
    computer->chunks = 1;
    computer->events[0] = DCSIM_EVENT_PROGRESS;
    computer->events[1] = DCSIM_EVENT_DEVINFO;
    computer->events[2] = DCSIM_EVENT_CLOCK;
    computer->nevents = 3;
    computer->systime_now = 1;
    return computer;
}

dcsim_computer_t* dcsim_computer_acquire(dcsim_computer_t* computer) {
    if (computer != NULL) {
        atomic_fetch_add(&computer->refs, 1);
    }
    return computer;
}

void dcsim_dive_free(dcsim_dive_t* dive) {
    if (dive == NULL) {
        return;
    }
    dcsim_raw_writer_release(&dive->header);
    dcsim_raw_writer_release(&dive->samples);
    dcsim_raw_writer_release(&dive->inserted);
    dcsim_raw_writer_release(&dive->raw);
    dcsim_raw_writer_release(&dive->patched);
    free(dive->profile.waypoints);
    free(dive->profile.tanks);
    free(dive->profile.inserts);
    free(dive->patches);
    free(dive);
}

void dcsim_computer_release(dcsim_computer_t* computer) {
    if (computer == NULL || atomic_fetch_sub(&computer->refs, 1) != 1) {
        return;
    }
    free(computer->serial_port);
    free(computer->bluetooth_name);
    free(computer->pin);
    free(computer->irda_name);
    for (size_t i = 0; i < computer->nanswers; i++) {
        free(computer->answers[i].vendor);
        free(computer->answers[i].product);
    }
    free(computer->answers);
    free(computer->vendor_data);
    for (size_t i = 0; i < computer->ngroups; i++) {
        dcsim_dive_free(computer->groups[i].dive);
        free(computer->groups[i].generator);
    }
    free(computer->groups);
    free(computer);
}

/* The group holding dive `index`; `first` is the index of its first dive. */
static const dcsim_group_t* find_group(const dcsim_computer_t* computer, unsigned int index,
                                       unsigned int* first) {
    unsigned int start = 0;
    for (size_t i = 0; i < computer->ngroups; i++) {
        if (index - start < computer->groups[i].count) {
            *first = start;
            return &computer->groups[i];
        }
        start += computer->groups[i].count;
    }
    return NULL;
}

/* The start in a written dive's header records, read as the parser reads it. */
static int header_datetime(const dcsim_raw_writer_t* records, dc_datetime_t* out) {
    dcsim_raw_writer_t writer;
    dcsim_raw_writer_init(&writer);
    dcsim_raw_begin(&writer);
    dcsim_raw_append(&writer, records->data, records->size);
    dcsim_raw_end_header(&writer);
    dcsim_raw_header_t header;
    const int found = !writer.failed &&
                      dcsim_raw_header(writer.data, writer.size, &header) == DC_STATUS_SUCCESS &&
                      header.has_datetime;
    if (found) {
        *out = header.datetime;
    }
    dcsim_raw_writer_release(&writer);
    return found;
}

void dcsim_computer_identity(const dcsim_computer_t* computer, unsigned int index,
                             dcsim_dive_identity_t* out) {
    memset(out, 0, sizeof *out);
    /* The dive's number in the logbook, counting from 1. */
    const unsigned int number = index + 1;
    dcsim_put_u32(out->id, number);
    unsigned int first;
    const dcsim_group_t* group = find_group(computer, index, &first);
    if (group == NULL) {
        return;
    }
    if (group->generator != NULL) {
        const dcsim_generator_t* g = group->generator;
        dcsim_ticks_split(g->start + (dc_ticks_t)(index - first) * g->spacing, &out->datetime);
        out->datetime.timezone = DC_TIMEZONE_NONE;
        out->has_datetime = 1;
        return;
    }
    if (group->dive->has_fingerprint) {
        memcpy(out->id, group->dive->fingerprint, sizeof out->id);
    }
    /* Raw bytes have no date a backend would find. */
    out->has_datetime =
        !group->dive->has_raw && header_datetime(&group->dive->header, &out->datetime);
}

static void write_dive(const dcsim_dive_t* dive, dcsim_raw_writer_t* writer) {
    if (dive->has_raw) {
        dcsim_raw_append(writer, dive->raw.data, dive->raw.size);
    } else {
        dcsim_raw_begin(writer);
        dcsim_raw_append(writer, dive->header.data, dive->header.size);
        dcsim_raw_end_header(writer);
        if (dive->has_profile) {
            dcsim_profile_write(&dive->profile, dive->inserted.data, writer);
        } else {
            dcsim_raw_append(writer, dive->samples.data, dive->samples.size);
        }
    }
    if (writer->failed) {
        return;
    }
    for (size_t i = 0; i < dive->npatches; i++) {
        const dcsim_patch_t* patch = &dive->patches[i];
        /* Patches reaching past the end extend the data. */
        size_t end = patch->offset + patch->length;
        if (end > writer->size) {
            dcsim_raw_reserve(writer, end);
            if (writer->failed) {
                return;
            }
            memset(writer->data + writer->size, 0, end - writer->size);
            writer->size = end;
        }
        memcpy(writer->data + patch->offset, dive->patched.data + patch->bytes, patch->length);
    }
    if (dive->has_truncate && dive->truncate < writer->size) {
        writer->size = dive->truncate;
    }
}

dc_status_t dcsim_computer_dive(const dcsim_computer_t* computer, unsigned int index,
                                unsigned char** data, size_t* size) {
    unsigned int first;
    const dcsim_group_t* group = find_group(computer, index, &first);
    if (group == NULL) {
        return DC_STATUS_INVALIDARGS;
    }
    dcsim_raw_writer_t writer;
    dcsim_raw_writer_init(&writer);
    if (group->dive != NULL) {
        write_dive(group->dive, &writer);
    } else {
        dcsim_generator_write(group->generator, index - first, &writer);
    }
    if (writer.failed) {
        dcsim_raw_writer_release(&writer);
        return DC_STATUS_NOMEMORY;
    }
    /* Never hand out a NULL pointer, even for an empty dive. */
    if (writer.data == NULL) {
        dcsim_raw_reserve(&writer, 1);
        if (writer.failed) {
            return DC_STATUS_NOMEMORY;
        }
    }
    *data = writer.data;
    *size = writer.size;
    return DC_STATUS_SUCCESS;
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

int dcsim_computer_answers(const dcsim_computer_t* computer, const char* vendor,
                           const char* product, unsigned int family, unsigned int model) {
    if (computer->nanswers == 0) {
        return 1;
    }
    for (size_t i = 0; i < computer->nanswers; i++) {
        const dcsim_answer_t* answer = &computer->answers[i];
        if (answer->vendor != NULL) {
            if (equal_nocase(answer->vendor, vendor) && equal_nocase(answer->product, product)) {
                return 1;
            }
        } else if (answer->family == family && (!answer->has_model || answer->model == model)) {
            return 1;
        }
    }
    return 0;
}
