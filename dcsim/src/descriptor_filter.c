#include "descriptor_filter.h"

#include <ctype.h>
#include <stdio.h>
#include <string.h>

#include "descriptor.h"

/* The per-family tables of libdivecomputer's descriptor.c. Filters belong to
 * the family, not the model: a name or id of any model passes every
 * descriptor of the family. Names are compared without regard to case. */

#define COUNT(array) (sizeof(array) / sizeof(array)[0])
#define BLUETOOTHS (DC_TRANSPORT_BLUETOOTH | DC_TRANSPORT_BLE)

static int equal_nocase(const char* a, const char* b) {
    for (; *a && *b; a++, b++) {
        if (tolower((unsigned char)*a) != tolower((unsigned char)*b)) {
            return 0;
        }
    }
    return *a == *b;
}

/* The rest of `text` after `prefix`, or NULL if it does not start with it. */
static const char* after_prefix(const char* text, const char* prefix) {
    for (; *prefix; prefix++, text++) {
        if (tolower((unsigned char)*text) != tolower((unsigned char)*prefix)) {
            return NULL;
        }
    }
    return text;
}

static int all_digits(const char* text, int (*is_digit)(int)) {
    for (; *text; text++) {
        if (!is_digit((unsigned char)*text)) {
            return 0;
        }
    }
    return 1;
}

static int any_name(const char* name, const char* const* names, size_t count) {
    for (size_t i = 0; i < count; i++) {
        if (equal_nocase(name, names[i])) {
            return 1;
        }
    }
    return 0;
}

static int any_prefix(const char* name, const char* const* prefixes, size_t count) {
    for (size_t i = 0; i < count; i++) {
        if (after_prefix(name, prefixes[i]) != NULL) {
            return 1;
        }
    }
    return 0;
}

/* A prefix followed by decimal digits only. */
static int any_numbered(const char* name, const char* const* prefixes, size_t count) {
    for (size_t i = 0; i < count; i++) {
        const char* rest = after_prefix(name, prefixes[i]);
        if (rest != NULL && all_digits(rest, isdigit)) {
            return 1;
        }
    }
    return 0;
}

static int any_usb(const dcsim_usb_ids_t* device, const dcsim_usb_ids_t* ids, size_t count) {
    for (size_t i = 0; i < count; i++) {
        if (device->vid == ids[i].vid && device->pid == ids[i].pid) {
            return 1;
        }
    }
    return 0;
}

static int uwatec(dc_transport_t transport, const void* userdata) {
    static const char* const irda[] = {
        "Aladin Smart Com", "Aladin Smart Pro", "Aladin Smart Tec",   "Aladin Smart Z",
        "Uwatec Aladin",    "UWATEC Galileo",   "UWATEC Galileo Sol",
    };
    static const dcsim_usb_ids_t usbhid[] = {
        {0x2e6c, 0x3201}, /* G2, G2 TEK */
        {0x2e6c, 0x3211}, /* G2 Console */
        {0x2e6c, 0x4201}, /* G2 HUD */
        {0xc251, 0x2006}, /* Aladin Square */
    };
    static const char* const ble[] = {
        "G2",        "Aladin",      "HUD",      "A1", "A2", "G2 TEK",
#ifndef DCSIM_API_0_8
        "Galileo 3", "Luna 2.0 AI", "Luna 2.0",
#endif
    };
    switch (transport) {
        case DC_TRANSPORT_IRDA:
            return any_name(userdata, irda, COUNT(irda));
        case DC_TRANSPORT_USBHID:
            return any_usb(userdata, usbhid, COUNT(usbhid));
        case DC_TRANSPORT_BLE:
            return any_name(userdata, ble, COUNT(ble));
        default:
            return 1;
    }
}

static int suunto(dc_transport_t transport, const void* userdata) {
    static const dcsim_usb_ids_t usbhid[] = {
        {0x1493, 0x0030}, /* EON Steel */
        {0x1493, 0x0033}, /* EON Core */
        {0x1493, 0x0035}, /* D5 */
        {0x1493, 0x0036}, /* EON Steel Black */
    };
    static const char* const ble[] = {"EON Steel", "EON Core", "Suunto D5", "EON Steel Black"};
    switch (transport) {
        case DC_TRANSPORT_USBHID:
            return any_usb(userdata, usbhid, COUNT(usbhid));
        case DC_TRANSPORT_BLE:
            return any_prefix(userdata, ble, COUNT(ble));
        default:
            return 1;
    }
}

static int atomics(dc_transport_t transport, const void* userdata) {
    static const dcsim_usb_ids_t usb[] = {{0x0471, 0x0888}}; /* Cobalt */
    return transport != DC_TRANSPORT_USB || any_usb(userdata, usb, COUNT(usb));
}

static int heinrichs_weikamp(dc_transport_t transport, const void* userdata) {
    static const char* const names[] = {"OSTC", "FROG"};
    return !(transport & BLUETOOTHS) || any_prefix(userdata, names, COUNT(names));
}

static int shearwater(dc_transport_t transport, const void* userdata) {
    static const char* const names[] = {
        "Predator",     "Petrel",   "Petrel 3", "NERD",      "NERD 2",
        "Perdix",       "Perdix 2", "Teric",    "Peregrine",
#ifndef DCSIM_API_0_8
        "Peregrine TX", "Tern",
#endif
    };
    return !(transport & BLUETOOTHS) || any_name(userdata, names, COUNT(names));
}

static int tecdiving(dc_transport_t transport, const void* userdata) {
    static const char* const names[] = {"DiveComputer"};
    return transport != DC_TRANSPORT_BLUETOOTH || any_name(userdata, names, COUNT(names));
}

static int mares(dc_transport_t transport, const void* userdata) {
    static const char* const names[] = {
        "Mares bluelink pro",
        "Mares Genius",
#ifndef DCSIM_API_0_8
        "Sirius",
        "Quad Ci",
        "Puck4",
        "Puck Lite",
#endif
    };
    return transport != DC_TRANSPORT_BLE || any_prefix(userdata, names, COUNT(names));
}

static int divesystem(dc_transport_t transport, const void* userdata) {
    static const char* const prefixes[] = {"DS", "IX5M", "RATIO-"};
    return !(transport & BLUETOOTHS) || any_numbered(userdata, prefixes, COUNT(prefixes));
}

/* The model number in two ASCII characters, then the serial number. */
static int pelagic(dc_transport_t transport, const void* userdata) {
    static const unsigned int models[] = {
        0x4552, 0x455A, 0x4647, 0x4648, 0x4649, 0x4651, 0x4652, 0x4653,
        0x4654, 0x4655, 0x4656, 0x4742, 0x4743, 0x4749, 0x474B,
#ifndef DCSIM_API_0_8
        0x4741, 0x4744, 0x474D,
#endif
    };
    if (transport != DC_TRANSPORT_BLE) {
        return 1;
    }
    for (size_t i = 0; i < COUNT(models); i++) {
        const char prefix[] = {(char)(models[i] >> 8), (char)(models[i] & 0xFF), '\0'};
        const char* const prefixes[] = {prefix};
        if (any_numbered(userdata, prefixes, 1)) {
            return 1;
        }
    }
    return 0;
}

static int mclean(dc_transport_t transport, const void* userdata) {
    static const char* const names[] = {"McLean Extreme"};
    return !(transport & BLUETOOTHS) || any_name(userdata, names, COUNT(names));
}

static int deepsix(dc_transport_t transport, const void* userdata) {
    static const char* const names[] = {"EXCURSION", "Crest-CR4", "CENTAURI", "ALPHA"};
    return transport != DC_TRANSPORT_BLE || any_name(userdata, names, COUNT(names));
}

static int deepblu(dc_transport_t transport, const void* userdata) {
    static const char* const names[] = {"COSMIQ"};
    return transport != DC_TRANSPORT_BLE || any_name(userdata, names, COUNT(names));
}

static int oceans(dc_transport_t transport, const void* userdata) {
    static const char* const names[] = {"S1"};
    return transport != DC_TRANSPORT_BLE || any_prefix(userdata, names, COUNT(names));
}

static int divesoft(dc_transport_t transport, const void* userdata) {
    static const char* const names[] = {"Freedom", "Liberty"};
    return transport != DC_TRANSPORT_BLE || any_prefix(userdata, names, COUNT(names));
}

#ifndef DCSIM_API_0_8

/* The model in lower-case hex and "_", then hex digits only. */
static int cressi(dc_transport_t transport, const void* userdata) {
    static const unsigned int models[] = {1, 2, 3, 4, 5, 9, 10};
    if (transport != DC_TRANSPORT_BLE) {
        return 1;
    }
    for (size_t i = 0; i < COUNT(models); i++) {
        char prefix[16];
        snprintf(prefix, sizeof prefix, "%x_", models[i]);
        const char* rest = after_prefix(userdata, prefix);
        if (rest != NULL && all_digits(rest, isxdigit)) {
            return 1;
        }
    }
    return 0;
}

/* "H01" or "H07" and anything, or a number of at least ten digits with 01 or
 * 07 in its fifth and sixth place. */
static int halcyon(dc_transport_t transport, const void* userdata) {
    static const char* const kinds[] = {"01", "07"};
    static const char* const prefixes[] = {"H01", "H07"};
    const char* name = userdata;
    if (transport != DC_TRANSPORT_BLE || any_prefix(name, prefixes, COUNT(prefixes))) {
        return 1;
    }
    if (strlen(name) < 10 || !all_digits(name, isdigit)) {
        return 0;
    }
    return strncmp(name + 4, kinds[0], 2) == 0 || strncmp(name + 4, kinds[1], 2) == 0;
}

#endif

int dcsim_descriptor_filter(const dc_descriptor_t* descriptor, dc_transport_t transport,
                            const void* userdata) {
    if (descriptor == NULL) {
        return 1;
    }
    if ((descriptor->transports & transport) == 0) {
        return 0;
    }
    if (userdata == NULL) {
        return 1;
    }
    switch ((unsigned int)descriptor->family) {
        case DC_FAMILY_UWATEC_SMART:
            return uwatec(transport, userdata);
        case DC_FAMILY_SUUNTO_EONSTEEL:
            return suunto(transport, userdata);
        case DC_FAMILY_ATOMICS_COBALT:
            return atomics(transport, userdata);
        case DC_FAMILY_HW_FROG:
        case DC_FAMILY_HW_OSTC3:
            return heinrichs_weikamp(transport, userdata);
        case DC_FAMILY_SHEARWATER_PREDATOR:
        case DC_FAMILY_SHEARWATER_PETREL:
            return shearwater(transport, userdata);
        case DC_FAMILY_TECDIVING_DIVECOMPUTEREU:
            return tecdiving(transport, userdata);
        case DC_FAMILY_MARES_ICONHD:
            return mares(transport, userdata);
        case DC_FAMILY_DIVESYSTEM_IDIVE:
            return divesystem(transport, userdata);
        case DC_FAMILY_OCEANIC_ATOM2:
#ifndef DCSIM_API_0_8
        case DC_FAMILY_PELAGIC_I330R:
#endif
            return pelagic(transport, userdata);
        case DC_FAMILY_MCLEAN_EXTREME:
            return mclean(transport, userdata);
        case DC_FAMILY_DEEPSIX_EXCURSION:
            return deepsix(transport, userdata);
        case DC_FAMILY_DEEPBLU_COSMIQ:
            return deepblu(transport, userdata);
        case DC_FAMILY_OCEANS_S1:
            return oceans(transport, userdata);
        case DC_FAMILY_DIVESOFT_FREEDOM:
            return divesoft(transport, userdata);
#ifndef DCSIM_API_0_8
        case DC_FAMILY_CRESSI_GOA:
            return cressi(transport, userdata);
        case DC_FAMILY_HALCYON_SYMBIOS:
            return halcyon(transport, userdata);
#endif
        default:
            return 1;
    }
}
