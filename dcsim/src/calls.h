#ifndef DCSIM_CALLS_H
#define DCSIM_CALLS_H

#include <libdivecomputer/common.h>

/* Every libdivecomputer function dcsim implements, and whether it can report
 * a failure (functions returning nothing cannot). */
#ifdef DCSIM_API_0_8
#define DCSIM_API_FUNCTIONS(X) X(dc_descriptor_iterator, 1) X(dc_parser_set_data, 1)
#else
#define DCSIM_API_FUNCTIONS(X)                                        \
    X(dc_descriptor_iterator_new, 1) X(dc_descriptor_filter, 1) X(dc_ble_uuid2str, 1) \
        X(dc_ble_str2uuid, 1)
#endif

#define DCSIM_FUNCTIONS(X)                \
    DCSIM_API_FUNCTIONS(X)                \
    X(dc_version, 1)                      \
    X(dc_version_check, 1)                \
    X(dc_context_new, 1)                  \
    X(dc_context_free, 1)                 \
    X(dc_context_set_loglevel, 1)         \
    X(dc_context_set_logfunc, 1)          \
    X(dc_context_get_transports, 1)       \
    X(dc_descriptor_free, 0)              \
    X(dc_descriptor_get_vendor, 1)        \
    X(dc_descriptor_get_product, 1)       \
    X(dc_descriptor_get_type, 1)          \
    X(dc_descriptor_get_model, 1)         \
    X(dc_descriptor_get_transports, 1)    \
    X(dc_iterator_next, 1)                \
    X(dc_iterator_free, 1)                \
    X(dc_buffer_new, 1)                   \
    X(dc_buffer_free, 0)                  \
    X(dc_buffer_clear, 1)                 \
    X(dc_buffer_reserve, 1)               \
    X(dc_buffer_resize, 1)                \
    X(dc_buffer_append, 1)                \
    X(dc_buffer_prepend, 1)               \
    X(dc_buffer_insert, 1)                \
    X(dc_buffer_slice, 1)                 \
    X(dc_buffer_get_size, 1)              \
    X(dc_buffer_get_data, 1)              \
    X(dc_datetime_now, 1)                 \
    X(dc_datetime_localtime, 1)           \
    X(dc_datetime_gmtime, 1)              \
    X(dc_datetime_mktime, 1)              \
    X(dc_iostream_get_transport, 1)       \
    X(dc_iostream_set_timeout, 1)         \
    X(dc_iostream_set_break, 1)           \
    X(dc_iostream_set_dtr, 1)             \
    X(dc_iostream_set_rts, 1)             \
    X(dc_iostream_get_lines, 1)           \
    X(dc_iostream_get_available, 1)       \
    X(dc_iostream_configure, 1)           \
    X(dc_iostream_poll, 1)                \
    X(dc_iostream_read, 1)                \
    X(dc_iostream_write, 1)               \
    X(dc_iostream_ioctl, 1)               \
    X(dc_iostream_flush, 1)               \
    X(dc_iostream_purge, 1)               \
    X(dc_iostream_sleep, 1)               \
    X(dc_iostream_close, 1)               \
    X(dc_custom_open, 1)                  \
    X(dc_serial_device_get_name, 1)       \
    X(dc_serial_device_free, 0)           \
    X(dc_serial_iterator_new, 1)          \
    X(dc_serial_open, 1)                  \
    X(dc_usb_device_get_vid, 1)           \
    X(dc_usb_device_get_pid, 1)           \
    X(dc_usb_device_free, 0)              \
    X(dc_usb_iterator_new, 1)             \
    X(dc_usb_open, 1)                     \
    X(dc_usbhid_device_get_vid, 1)        \
    X(dc_usbhid_device_get_pid, 1)        \
    X(dc_usbhid_device_free, 0)           \
    X(dc_usbhid_iterator_new, 1)          \
    X(dc_usbhid_open, 1)                  \
    X(dc_irda_device_get_address, 1)      \
    X(dc_irda_device_get_name, 1)         \
    X(dc_irda_device_free, 0)             \
    X(dc_irda_iterator_new, 1)            \
    X(dc_irda_open, 1)                    \
    X(dc_bluetooth_addr2str, 1)           \
    X(dc_bluetooth_str2addr, 1)           \
    X(dc_bluetooth_device_get_address, 1) \
    X(dc_bluetooth_device_get_name, 1)    \
    X(dc_bluetooth_device_free, 0)        \
    X(dc_bluetooth_iterator_new, 1)       \
    X(dc_bluetooth_open, 1)               \
    X(dc_device_open, 1)                  \
    X(dc_device_get_type, 1)              \
    X(dc_device_set_cancel, 1)            \
    X(dc_device_set_events, 1)            \
    X(dc_device_set_fingerprint, 1)       \
    X(dc_device_foreach, 1)               \
    X(dc_device_dump, 1)                  \
    X(dc_device_close, 1)                 \
    X(dc_parser_new, 1)                   \
    X(dc_parser_new2, 1)                  \
    X(dc_parser_get_type, 1)              \
    X(dc_parser_get_datetime, 1)          \
    X(dc_parser_get_field, 1)             \
    X(dc_parser_samples_foreach, 1)       \
    X(dc_parser_destroy, 1)

typedef enum dcsim_function_t {
#define DCSIM_FUNCTION_ENUM(name, can_fail) DCSIM_FN_##name,
    DCSIM_FUNCTIONS(DCSIM_FUNCTION_ENUM)
#undef DCSIM_FUNCTION_ENUM
        DCSIM_FUNCTION_COUNT
} dcsim_function_t;

/* Counts a call of the function and answers the status of a fault armed for
 * this very call, or DC_STATUS_SUCCESS. */
dc_status_t dcsim_enter(dcsim_function_t function);

#define DCSIM_ENTER(name) dcsim_enter(DCSIM_FN_##name)

void dcsim_calls_reset(void);

#endif
