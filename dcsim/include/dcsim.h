/*
 * dcsim controls: the test-side handle on the libdivecomputer stand-in.
 *
 * Only tests, benchmarks and the command-line tool include this header; the
 * library itself (bridge/, diveaccess/) never does, so it cannot tell dcsim
 * from the real libdivecomputer.
 *
 * Typical test:
 *
 *     dcsim_reset();
 *     dcsim_fault("dc_iterator_next", 3, DC_STATUS_IO);
 *     ... exercise the library ...
 *     EXPECT_EQ(dcsim_live_total(), 0);
 *
 * All controls are safe to call from any thread.
 */
#ifndef DCSIM_H
#define DCSIM_H

#include <stddef.h>

#include <libdivecomputer/common.h>

#ifdef __cplusplus
extern "C" {
#endif

/* The simulated dive computer that is always attached, on the serial
 * transport, under this port name. It is a model of the built-in table. */
#define DCSIM_BUILTIN_PORT "dcsim:builtin"
#define DCSIM_BUILTIN_VENDOR "Dcsim"
#define DCSIM_BUILTIN_PRODUCT "Reef Explorer"

/* Back to the state at load time: built-in descriptor table, no faults, call
 * counters at zero, only the built-in computer attached, the compiled-in
 * version reported. Live-handle counts are not touched: they count real
 * handles, and a test must see its own leaks. */
void dcsim_reset(void);

/* ---- Descriptor table ------------------------------------------------- */

void dcsim_descriptors_builtin(void);
void dcsim_descriptors_clear(void);
/* Replaces the table by one read from a TSV file in the format of the
 * libdivecomputer fixture tables (header line, then vendor, product, family
 * hex, model hex, model decimal, transports hex). Returns the number of
 * descriptors, or -1 (table unchanged, reason in dcsim_last_error()). */
int dcsim_descriptors_load_tsv(const char *path);
/* Appends one descriptor to the current table. */
void dcsim_descriptors_add(const char *vendor, const char *product, unsigned int family,
                           unsigned int model, unsigned int transports);

/* ---- Fault injection -------------------------------------------------- */

/* The nth call (1-based, counted from this moment) of the named libdivecomputer
 * function (e.g. "dc_iterator_next", "dc_context_new", "dc_device_open",
 * "dc_parser_get_field") fails with `status` instead of doing its work. Several
 * faults may be armed at once. Returns 0, or -1 for a name dcsim does not know.
 * A function without a status answers its failure value instead (NULL, 0,
 * DC_TRANSPORT_NONE, DC_FAMILY_NULL, -1 for dc_datetime_mktime); functions
 * returning nothing cannot fail (-1), nor can a fault be DC_STATUS_SUCCESS (-1).
 * Closing and freeing functions release the handle all the same. */
int dcsim_fault(const char *function, unsigned int nth, dc_status_t status);
void dcsim_faults_clear(void);
/* Calls of the named function since the last reset. */
unsigned int dcsim_calls(const char *function);

/* ---- Live handles ----------------------------------------------------- */

typedef enum dcsim_handle_t {
	DCSIM_CONTEXT,
	DCSIM_ITERATOR,
	DCSIM_DESCRIPTOR,
	DCSIM_DEVICE,
	DCSIM_IOSTREAM,
	DCSIM_PARSER,
	DCSIM_BUFFER,
	DCSIM_ITERATOR_ITEM, /* serial/usb/usbhid/irda/bluetooth device items */
	DCSIM_HANDLE_KINDS
} dcsim_handle_t;

int dcsim_live(dcsim_handle_t kind);
int dcsim_live_total(void);
const char *dcsim_handle_name(dcsim_handle_t kind);

/* ---- Simulated dive computers ----------------------------------------- */

/* Attaches a dive computer described by scenario text (format in
 * dcsim/SCENARIO.md). Returns 0, or -1 with the reason in dcsim_last_error().
 * A serial port name that is the path of a scenario file opens that file's
 * computer without attaching it first. */
int dcsim_attach(const char *scenario_text);
int dcsim_attach_file(const char *path);
/* Detaches every computer but the built-in one. */
void dcsim_detach_all(void);

/* What the last successful dc_device_open was given; 0, or -1 if none yet. */
int dcsim_last_open(char *vendor, size_t vendor_size, char *product, size_t product_size,
                    unsigned int *model, unsigned int *transport);

/* ---- Simulated BLE dive computers ------------------------------------- */

/* The computer's end of dcsim's BLE wire protocol (dcsim/BLE.md), for a test
 * transport that carries the packets between it and dcsim's backend. Not
 * thread-safe: one thread at a time per peripheral. */
typedef struct dcsim_peripheral_t dcsim_peripheral_t;

/* The attached computer with this Bluetooth name, or NULL (reason in
 * dcsim_last_error()). */
dcsim_peripheral_t *dcsim_peripheral_new(const char *name);
void dcsim_peripheral_free(dcsim_peripheral_t *peripheral);
/* Takes one written packet (1 to 20 bytes) and prepares its reply, dropping
 * what is left of the previous one. Returns 0, or -1 for a packet of a wrong
 * size or a lack of memory. */
int dcsim_peripheral_write(dcsim_peripheral_t *peripheral, const unsigned char *data,
			   size_t size);
/* Moves the next reply packet, at most `room` (2 to 20) bytes, to `packet`:
 * its size, or 0 when no reply is pending. */
size_t dcsim_peripheral_read(dcsim_peripheral_t *peripheral, unsigned char *packet, size_t room);

/* ---- Version ---------------------------------------------------------- */

/* dc_version() and dc_version_check() answer as this release from now on. */
void dcsim_set_version(unsigned int major, unsigned int minor, unsigned int micro);

/* Reason of the last failing control call of this thread. */
const char *dcsim_last_error(void);

#ifdef __cplusplus
}
#endif

#endif
