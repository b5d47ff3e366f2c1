#include "device.h"

#include <limits.h>
#include <stdlib.h>
#include <string.h>

#include "buffer.h"
#include "calls.h"
#include "computer.h"
#include "context.h"
#include "descriptor.h"
#include "iostream.h"
#include "lastopen.h"
#include "live.h"
#include "platform.h"
#include "protocol.h"

dc_status_t dc_device_open(dc_device_t** out, dc_context_t* context, dc_descriptor_t* descriptor,
                           dc_iostream_t* iostream) {
    dc_status_t status = DCSIM_ENTER(dc_device_open);
    if (status != DC_STATUS_SUCCESS) {
        return status;
    }
    if (out == NULL || descriptor == NULL || iostream == NULL) {
        return DC_STATUS_INVALIDARGS;
    }
    /* Like a backend, it talks its protocol over whatever stream it is
     * given, whether or not the model lists that transport. (Over a custom
     * stream the application's link carries the bytes to the computer.) */
    const int answered =
        iostream->computer == NULL ||
        dcsim_computer_answers(iostream->computer, descriptor->vendor, descriptor->product,
                               (unsigned int)descriptor->family, descriptor->model);
    if (!answered && dcsim_family_talks_at_open(descriptor->family)) {
        DCSIM_ERROR(context, "Failed to receive the answer.");
        return DC_STATUS_TIMEOUT;
    }
    dc_device_t* device = calloc(1, sizeof *device);
    if (device == NULL) {
        return DC_STATUS_NOMEMORY;
    }
    device->context = context;
    device->iostream = iostream;
    device->family = descriptor->family;
    device->model = descriptor->model;
    device->fingerprint_size = dcsim_fingerprint_size(descriptor->family, descriptor->model);
    device->answered = answered;
    if (iostream->computer == NULL) {
        device->ble = 1;
        status = dcsim_ble_open(context, iostream, &device->info);
        if (status != DC_STATUS_SUCCESS) {
            free(device);
            return status;
        }
    }
    dcsim_last_open_record(descriptor->vendor, descriptor->product, descriptor->model,
                           iostream->transport);
    dcsim_live_add(DCSIM_DEVICE, 1);
    *out = device;
    return DC_STATUS_SUCCESS;
}

dc_family_t dc_device_get_type(dc_device_t* device) {
    if (DCSIM_ENTER(dc_device_get_type) != DC_STATUS_SUCCESS || device == NULL) {
        return DC_FAMILY_NULL;
    }
    return device->family;
}

dc_status_t dc_device_set_cancel(dc_device_t* device, dc_cancel_callback_t callback,
                                 void* userdata) {
    dc_status_t status = DCSIM_ENTER(dc_device_set_cancel);
    if (status != DC_STATUS_SUCCESS) {
        return status;
    }
    if (device == NULL) {
        return DC_STATUS_UNSUPPORTED;
    }
    device->cancel_callback = callback;
    device->cancel_userdata = userdata;
    return DC_STATUS_SUCCESS;
}

dc_status_t dc_device_set_events(dc_device_t* device, unsigned int events,
                                 dc_event_callback_t callback, void* userdata) {
    dc_status_t status = DCSIM_ENTER(dc_device_set_events);
    if (status != DC_STATUS_SUCCESS) {
        return status;
    }
    if (device == NULL) {
        return DC_STATUS_UNSUPPORTED;
    }
    device->events = events;
    device->event_callback = callback;
    device->event_userdata = userdata;
    return DC_STATUS_SUCCESS;
}

dc_status_t dc_device_set_fingerprint(dc_device_t* device, const unsigned char data[],
                                      unsigned int size) {
    dc_status_t status = DCSIM_ENTER(dc_device_set_fingerprint);
    if (status != DC_STATUS_SUCCESS) {
        return status;
    }
    if (device == NULL || device->fingerprint_size == 0) {
        return DC_STATUS_UNSUPPORTED;
    }
    /* As every backend: its own size or 0, nothing else. */
    if ((size != 0 && size != device->fingerprint_size) || (size != 0 && data == NULL)) {
        return DC_STATUS_INVALIDARGS;
    }
    device->has_fingerprint = size != 0;
    if (size != 0) {
        memcpy(device->fingerprint, data, size);
    }
    return DC_STATUS_SUCCESS;
}

static void emit(dc_device_t* device, dc_event_type_t event, const void* data) {
    if (device->event_callback != NULL && (device->events & event)) {
        device->event_callback(device, event, data, device->event_userdata);
    }
}

static int cancelled(dc_device_t* device) {
    return device->cancel_callback != NULL && device->cancel_callback(device->cancel_userdata);
}

static int known(const dc_device_t* device, const unsigned char fingerprint[]) {
    return device->has_fingerprint &&
           memcmp(fingerprint, device->fingerprint, device->fingerprint_size) == 0;
}

/* How many dives, newest first, come before the one carrying the device's
 * fingerprint (all of them without a match). */
static unsigned int dives_to_download(const dc_device_t* device, const dcsim_computer_t* computer) {
    if (!device->has_fingerprint) {
        return computer->ndives;
    }
    for (unsigned int k = 0; k < computer->ndives; k++) {
        dcsim_dive_identity_t dive;
        unsigned char fingerprint[DCSIM_FINGERPRINT_MAX];
        dcsim_computer_identity(computer, computer->ndives - 1 - k, &dive);
        dcsim_fingerprint_make(device->family, device->model, &dive, fingerprint);
        if (known(device, fingerprint)) {
            return k;
        }
    }
    return computer->ndives;
}

static unsigned int progress_maximum(const dcsim_computer_t* computer, unsigned int dives) {
    unsigned long long total = (unsigned long long)computer->chunks * dives;
    return total > 0xFFFFFFFFu ? 0xFFFFFFFFu : (unsigned int)total;
}

static void emit_setup_events(dc_device_t* device, const dcsim_computer_t* computer,
                              const dc_event_progress_t* progress, int* progress_enabled) {
    for (size_t i = 0; i < computer->nevents; i++) {
        switch (computer->events[i]) {
            case DCSIM_EVENT_WAITING:
                emit(device, DC_EVENT_WAITING, NULL);
                break;
            case DCSIM_EVENT_PROGRESS:
                /* libdivecomputer never reports a maximum of 0: with nothing
                 * to read, a backend sends no progress at all. */
                if (progress->maximum != 0) {
                    *progress_enabled = 1;
                    emit(device, DC_EVENT_PROGRESS, progress);
                }
                break;
            case DCSIM_EVENT_DEVINFO: {
                dc_event_devinfo_t devinfo = {computer->model, computer->firmware,
                                              computer->serial};
                emit(device, DC_EVENT_DEVINFO, &devinfo);
                break;
            }
            case DCSIM_EVENT_CLOCK: {
                dc_event_clock_t clock = {computer->devtime, computer->systime};
                if (computer->systime_now) {
                    clock.systime = (dc_ticks_t)time(NULL);
                }
                emit(device, DC_EVENT_CLOCK, &clock);
                break;
            }
            case DCSIM_EVENT_UNSIZED: {
                /* What libdivecomputer's dive-by-dive backends (Shearwater, Suunto EON Steel)
                 * send first, before they know the size of the transfer. */
                const dc_event_progress_t unsized = {0, UINT_MAX};
                emit(device, DC_EVENT_PROGRESS, &unsized);
                break;
            }
            case DCSIM_EVENT_VENDOR: {
                static const unsigned char fallback[] = {'d', 'c', 's', 'i', 'm'};
                dc_event_vendor_t vendor = {fallback, sizeof fallback};
                if (computer->vendor_data != NULL) {
                    vendor.data = computer->vendor_data;
                    vendor.size = (unsigned int)computer->vendor_size;
                }
                emit(device, DC_EVENT_VENDOR, &vendor);
                break;
            }
            default:
                break;
        }
    }
}

/* Gives the application a dive (malloc'ed, freed here) and tells whether it
 * wants more; without a callback every dive is read. A backend without
 * fingerprints hands over none. */
static int hand_over(const dc_device_t* device, dc_dive_callback_t callback, unsigned char* data,
                     size_t size, const unsigned char fingerprint[], void* userdata) {
    const unsigned int fsize = device->fingerprint_size;
    const int more = callback == NULL || callback(data, (unsigned int)size,
                                                  fsize != 0 ? fingerprint : NULL, fsize, userdata);
    free(data);
    return more;
}

static dc_status_t foreach_ble(dc_device_t* device, dc_dive_callback_t callback, void* userdata) {
    const dcsim_ble_info_t* info = &device->info;
    dc_event_devinfo_t devinfo = {info->model, info->firmware, info->serial};
    emit(device, DC_EVENT_DEVINFO, &devinfo);
    dc_event_clock_t clock = {info->devtime, (dc_ticks_t)time(NULL)};
    emit(device, DC_EVENT_CLOCK, &clock);
    dc_event_progress_t progress = {0, info->count};
    /* Never a maximum of 0: with nothing to read, no progress at all. */
    if (info->count != 0) {
        emit(device, DC_EVENT_PROGRESS, &progress);
    }
    for (unsigned int k = 0; k < info->count; k++) {
        if (cancelled(device)) {
            DCSIM_INFO(device->context, "Download cancelled.");
            return DC_STATUS_CANCELLED;
        }
        dcsim_dive_identity_t dive;
        dc_status_t status = dcsim_ble_identity(device->iostream, k, &dive);
        if (status != DC_STATUS_SUCCESS) {
            return status;
        }
        unsigned char fingerprint[DCSIM_FINGERPRINT_MAX];
        dcsim_fingerprint_make(device->family, device->model, &dive, fingerprint);
        if (known(device, fingerprint)) {
            break;
        }
        if (cancelled(device)) {
            DCSIM_INFO(device->context, "Download cancelled.");
            return DC_STATUS_CANCELLED;
        }
        unsigned char* data;
        size_t size;
        status = dcsim_ble_dive(device->iostream, k, &data, &size);
        if (status != DC_STATUS_SUCCESS) {
            return status;
        }
        progress.current = k + 1;
        emit(device, DC_EVENT_PROGRESS, &progress);
        if (!hand_over(device, callback, data, size, fingerprint, userdata)) {
            break;
        }
    }
    return DC_STATUS_SUCCESS;
}

dc_status_t dc_device_foreach(dc_device_t* device, dc_dive_callback_t callback, void* userdata) {
    dc_status_t status = DCSIM_ENTER(dc_device_foreach);
    if (status != DC_STATUS_SUCCESS) {
        return status;
    }
    if (device == NULL) {
        return DC_STATUS_UNSUPPORTED;
    }
    if (!device->answered) {
        /* The computer ignores the first command of a foreign protocol. */
        DCSIM_ERROR(device->context, "Failed to receive the answer.");
        return DC_STATUS_TIMEOUT;
    }
    if (device->ble) {
        return foreach_ble(device, callback, userdata);
    }
    /* The transfer goes through the stream, as with a real backend. */
    const dcsim_computer_t* computer = device->iostream->computer;
    dc_event_progress_t progress = {
        0, progress_maximum(computer, dives_to_download(device, computer))};
    int progress_enabled = 0;
    emit_setup_events(device, computer, &progress, &progress_enabled);
    /* As in the real backends, a fingerprint registered by the event handlers (libdivecomputer's
     * example tool registers its cached one on DEVINFO) counts for this download. */
    unsigned int count = dives_to_download(device, computer);
    progress.maximum = progress_maximum(computer, count);

    for (unsigned int k = 0;; k++) {
        if (computer->has_fail_after && k == computer->fail_after) {
            DCSIM_ERROR(device->context, "Failed to read dive %u.", k + 1);
            return computer->fail_status;
        }
        if (k == count) {
            break;
        }
        for (unsigned int chunk = 0; chunk < computer->chunks; chunk++) {
            if (cancelled(device)) {
                DCSIM_INFO(device->context, "Download cancelled.");
                return DC_STATUS_CANCELLED;
            }
            dcsim_sleep_ms(computer->delay_ms);
            /* As the backends' packet traces. */
            DCSIM_DEBUG(device->context, "Received chunk %u of %u of dive %u.", chunk + 1,
                        computer->chunks, k + 1);
            if (progress.current < progress.maximum) {
                progress.current++;
            }
            if (progress_enabled) {
                emit(device, DC_EVENT_PROGRESS, &progress);
            }
        }
        unsigned int index = computer->ndives - 1 - k;
        dcsim_dive_identity_t dive;
        unsigned char fingerprint[DCSIM_FINGERPRINT_MAX];
        unsigned char* data;
        size_t size;
        dcsim_computer_identity(computer, index, &dive);
        dcsim_fingerprint_make(device->family, device->model, &dive, fingerprint);
        status = dcsim_computer_dive(computer, index, &data, &size);
        if (status != DC_STATUS_SUCCESS) {
            return status;
        }
        if (!hand_over(device, callback, data, size, fingerprint, userdata)) {
            break;
        }
    }
    return DC_STATUS_SUCCESS;
}

/* The simulated memory image, malloc'ed: every dive's raw bytes, oldest
 * first. */
static dc_status_t memory_image(const dcsim_computer_t* computer, unsigned char** image,
                                size_t* size) {
    *image = NULL;
    *size = 0;
    for (unsigned int index = 0; index < computer->ndives; index++) {
        unsigned char* data;
        size_t length;
        dc_status_t status = dcsim_computer_dive(computer, index, &data, &length);
        if (status != DC_STATUS_SUCCESS) {
            free(*image);
            return status;
        }
        unsigned char* grown = realloc(*image, *size + length + 1);
        if (grown == NULL) {
            free(data);
            free(*image);
            return DC_STATUS_NOMEMORY;
        }
        memcpy(grown + *size, data, length);
        free(data);
        *image = grown;
        *size += length;
    }
    return DC_STATUS_SUCCESS;
}

/* Transfers the image a dive at a time, each in the computer's chunks, with
 * progress in bytes as the backends report it. */
static dc_status_t transfer_image(dc_device_t* device, const dcsim_computer_t* computer,
                                  const unsigned char* image, size_t size, dc_buffer_t* buffer) {
    dc_event_progress_t progress = {0, size > 0xFFFFFFFFu ? 0xFFFFFFFFu : (unsigned int)size};
    int progress_enabled = 0;
    emit_setup_events(device, computer, &progress, &progress_enabled);
    const unsigned int per_dive = computer->chunks ? computer->chunks : 1;
    const unsigned long long chunks = (unsigned long long)computer->ndives * per_dive;
    size_t offset = 0;
    for (unsigned long long chunk = 0;; chunk++) {
        if (chunk % per_dive == 0 && computer->has_fail_after &&
            chunk / per_dive == computer->fail_after) {
            DCSIM_ERROR(device->context, "Failed to read the memory.");
            return computer->fail_status;
        }
        if (chunk == chunks) {
            break;
        }
        if (cancelled(device)) {
            DCSIM_INFO(device->context, "Dump cancelled.");
            return DC_STATUS_CANCELLED;
        }
        dcsim_sleep_ms(computer->delay_ms);
        const size_t end = (size_t)(size * (chunk + 1) / chunks);
        if (!dcsim_buffer_append(buffer, image + offset, end - offset)) {
            return DC_STATUS_NOMEMORY;
        }
        offset = end;
        progress.current = (unsigned int)(offset > 0xFFFFFFFFu ? 0xFFFFFFFFu : offset);
        DCSIM_DEBUG(device->context, "Received %u of %u bytes.", progress.current,
                    progress.maximum);
        if (progress_enabled) {
            emit(device, DC_EVENT_PROGRESS, &progress);
        }
    }
    return DC_STATUS_SUCCESS;
}

dc_status_t dc_device_dump(dc_device_t* device, dc_buffer_t* buffer) {
    dc_status_t status = DCSIM_ENTER(dc_device_dump);
    if (status != DC_STATUS_SUCCESS) {
        return status;
    }
    if (device == NULL || !dcsim_family_dumps(device->family)) {
        return DC_STATUS_UNSUPPORTED;
    }
    if (buffer == NULL) {
        return DC_STATUS_INVALIDARGS;
    }
    dcsim_buffer_clear(buffer);
    if (!device->answered) {
        DCSIM_ERROR(device->context, "Failed to receive the answer.");
        return DC_STATUS_TIMEOUT;
    }
    if (device->ble) {
        /* The simulated BLE peripheral serves dives, not a memory image. */
        return DC_STATUS_UNSUPPORTED;
    }
    const dcsim_computer_t* computer = device->iostream->computer;
    unsigned char* image;
    size_t size;
    status = memory_image(computer, &image, &size);
    if (status != DC_STATUS_SUCCESS) {
        return status;
    }
    status = transfer_image(device, computer, image, size, buffer);
    free(image);
    if (status != DC_STATUS_SUCCESS) {
        dcsim_buffer_clear(buffer);
    }
    return status;
}

dc_status_t dc_device_close(dc_device_t* device) {
    dc_status_t status = DCSIM_ENTER(dc_device_close);
    if (device != NULL) {
        device->cancel_callback = NULL;
        free(device);
        dcsim_live_add(DCSIM_DEVICE, -1);
    }
    return status;
}
