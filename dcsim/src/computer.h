#ifndef DCSIM_COMPUTER_H
#define DCSIM_COMPUTER_H

#include <libdivecomputer/bluetooth.h>
#include <libdivecomputer/datetime.h>
#include <stdatomic.h>
#include <stdint.h>

#include "fingerprint.h"
#include "rawdive.h"

/* A simulated dive computer, built from a scenario and immutable afterwards,
 * so downloads on several threads may share it. */

typedef struct dcsim_waypoint_t {
    uint64_t time_ms;
    double depth;
} dcsim_waypoint_t;

typedef struct dcsim_profile_tank_t {
    unsigned int tank;
    double begin;
    double end;
} dcsim_profile_tank_t;

/* Samples added to a profile after the time sample reaching `time_ms`. */
typedef struct dcsim_insert_t {
    uint64_t time_ms;
    size_t offset; /* into dcsim_dive_t.inserted */
    size_t length;
} dcsim_insert_t;

typedef struct dcsim_patch_t {
    size_t offset; /* into the dive's raw bytes */
    size_t length;
    size_t bytes; /* into dcsim_dive_t.patched */
} dcsim_patch_t;

/* A generated depth profile: the depth is interpolated between waypoints. */
typedef struct dcsim_profile_t {
    uint64_t interval_ms;
    dcsim_waypoint_t* waypoints;
    size_t nwaypoints;
    int has_temperature;
    double temperature_surface;
    double temperature_bottom;
    dcsim_profile_tank_t* tanks;
    size_t ntanks;
    dcsim_insert_t* inserts;
    size_t ninserts;
} dcsim_profile_t;

/* One dive written out in a scenario. */
typedef struct dcsim_dive_t {
    dcsim_raw_writer_t header;  /* header records */
    dcsim_raw_writer_t samples; /* sample records */
    int has_profile;            /* if set, the samples come from the profile */
    dcsim_profile_t profile;
    dcsim_raw_writer_t inserted; /* sample records of profile.inserts */
    int has_raw;                 /* if set, the dive is exactly these bytes */
    dcsim_raw_writer_t raw;
    int has_fingerprint;
    unsigned char fingerprint[4]; /* the identity its fingerprints derive from */
    int has_truncate;
    size_t truncate;
    dcsim_patch_t* patches;
    size_t npatches;
    dcsim_raw_writer_t patched;
} dcsim_dive_t;

/* Many similar dives, produced only when downloaded. */
typedef struct dcsim_generator_t {
    unsigned int count;
    unsigned int samples;
    uint64_t interval_ms;
    double depth;
    dc_ticks_t start;     /* first dive, seconds since the epoch in local time */
    unsigned int spacing; /* seconds between dive starts */
    unsigned int tanks;   /* pressures per time sample */
    double oxygen;        /* fraction */
    double temperature_surface;
    double temperature_bottom;
} dcsim_generator_t;

/* A run of dives in logbook order: one written-out dive or a generator. */
typedef struct dcsim_group_t {
    unsigned int count;
    dcsim_dive_t* dive;
    dcsim_generator_t* generator;
} dcsim_group_t;

/* A descriptor whose protocol the computer speaks: by vendor and product, or
 * by family (and model). */
typedef struct dcsim_answer_t {
    char* vendor;
    char* product;
    unsigned int family;
    int has_model;
    unsigned int model;
} dcsim_answer_t;

typedef enum dcsim_event_kind_t {
    DCSIM_EVENT_WAITING,
    DCSIM_EVENT_PROGRESS,
    DCSIM_EVENT_DEVINFO,
    DCSIM_EVENT_CLOCK,
    DCSIM_EVENT_VENDOR,
    DCSIM_EVENT_UNSIZED,
    DCSIM_EVENT_KINDS
} dcsim_event_kind_t;

typedef struct dcsim_computer_t {
    atomic_int refs;
    unsigned int id; /* 0 until attached */

    char* serial_port;
    int has_usb;
    unsigned int usb_vid, usb_pid;
    int has_usbhid;
    unsigned int usbhid_vid, usbhid_pid;
    int has_bluetooth;
    dc_bluetooth_address_t bluetooth_address;
    char* bluetooth_name;
    char* pin; /* BLE pairing PIN, NULL if the computer needs no pairing */
    int has_irda;
    unsigned int irda_address;
    char* irda_name;
    dcsim_answer_t* answers;
    size_t nanswers;

    unsigned int model, firmware, serial;
    unsigned int devtime;
    int systime_now;
    dc_ticks_t systime;

    dcsim_event_kind_t events[DCSIM_EVENT_KINDS]; /* sent in this order */
    size_t nevents;
    unsigned char* vendor_data;
    size_t vendor_size;

    unsigned int chunks;   /* per dive */
    unsigned int delay_ms; /* per chunk */
    int has_fail_after;
    unsigned int fail_after;
    dc_status_t fail_status;

    dcsim_group_t* groups;
    size_t ngroups;
    unsigned int ndives;
} dcsim_computer_t;

dcsim_computer_t* dcsim_computer_new(void);
dcsim_computer_t* dcsim_computer_acquire(dcsim_computer_t* computer);
void dcsim_computer_release(dcsim_computer_t* computer);

/* Dives are numbered 0 (the oldest) to ndives - 1 (the newest). What a
 * backend makes the dive's fingerprint of (dcsim_fingerprint_make). */
void dcsim_computer_identity(const dcsim_computer_t* computer, unsigned int index,
                             dcsim_dive_identity_t* out);
/* The raw bytes of a dive, malloc'ed; DC_STATUS_NOMEMORY on failure. */
dc_status_t dcsim_computer_dive(const dcsim_computer_t* computer, unsigned int index,
                                unsigned char** data, size_t* size);

/* Whether the computer speaks the descriptor's protocol: an empty answer
 * list speaks every one. */
int dcsim_computer_answers(const dcsim_computer_t* computer, const char* vendor,
                           const char* product, unsigned int family, unsigned int model);

void dcsim_dive_free(dcsim_dive_t* dive);

#endif
