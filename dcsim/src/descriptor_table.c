#include "descriptor_table.h"

#include <errno.h>
#include <libdivecomputer/common.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "dcsim.h"
#include "lasterror.h"
#include "spinlock.h"
#include "textfile.h"

static const struct {
    const char* vendor;
    const char* product;
    dc_family_t family;
    unsigned int model;
    unsigned int transports;
} builtin[] = {
    /* One family with several models, including a repeated (family, model)
     * pair as the real table has. */
    {DCSIM_BUILTIN_VENDOR, DCSIM_BUILTIN_PRODUCT, DC_FAMILY_SUUNTO_VYPER, 0x01,
     DC_TRANSPORT_SERIAL},
    {DCSIM_BUILTIN_VENDOR, "Reef Explorer Pro", DC_FAMILY_SUUNTO_VYPER, 0x02, DC_TRANSPORT_SERIAL},
    {DCSIM_BUILTIN_VENDOR, "Reef Nitrox", DC_FAMILY_SUUNTO_VYPER, 0x03, DC_TRANSPORT_SERIAL},
    {DCSIM_BUILTIN_VENDOR, "Reef Classic", DC_FAMILY_SUUNTO_VYPER, 0x01, DC_TRANSPORT_SERIAL},
    {"Simtec", "Aladin Sim", DC_FAMILY_UWATEC_SMART, 0x10, DC_TRANSPORT_IRDA},
    {"Simtec", "Galileo Sim", DC_FAMILY_UWATEC_SMART, 0x11,
     DC_TRANSPORT_IRDA | DC_TRANSPORT_BLUETOOTH},
    {"Simtec", "G2 Sim", DC_FAMILY_UWATEC_SMART, 0x12, DC_TRANSPORT_USBHID | DC_TRANSPORT_BLE},
    {"Mockdive", "Petrel Sim", DC_FAMILY_SHEARWATER_PETREL, 0x03,
     DC_TRANSPORT_SERIAL | DC_TRANSPORT_BLUETOOTH | DC_TRANSPORT_BLE},
    {"Mockdive", "Teric Sim", DC_FAMILY_SHEARWATER_PETREL, 0x08, DC_TRANSPORT_BLE},
    {"Fakewater", "Steel Sim", DC_FAMILY_SUUNTO_EONSTEEL, 0x00,
     DC_TRANSPORT_USBHID | DC_TRANSPORT_BLE},
    {"Testsub", "Atom Sim", DC_FAMILY_OCEANIC_ATOM2, 0x4342,
     DC_TRANSPORT_SERIAL | DC_TRANSPORT_USB},
    {"Testsub", "Pro Sim", DC_FAMILY_OCEANIC_ATOM2, 0x4354, DC_TRANSPORT_USB},
};

static dcsim_spinlock_t lock = DCSIM_SPINLOCK_INIT;
static dcsim_table_t* current;
/* Serializes the changes that build on the current table, so none is lost. */
static dcsim_spinlock_t changing = DCSIM_SPINLOCK_INIT;

static void table_destroy(dcsim_table_t* table) {
    for (size_t i = 0; i < table->count; i++) {
        free(table->entries[i].vendor);
        free(table->entries[i].product);
    }
    free(table->entries);
    free(table);
}

static dcsim_table_t* table_new(void) {
    dcsim_table_t* table = calloc(1, sizeof *table);
    if (table != NULL) {
        atomic_init(&table->refs, 1);
    }
    return table;
}

static char* copy_string(const char* text, size_t length) {
    char* copy = malloc(length + 1);
    if (copy != NULL) {
        memcpy(copy, text, length);
        copy[length] = '\0';
    }
    return copy;
}

/* Appends an entry, growing the array geometrically; 0 when out of memory. */
static int table_append(dcsim_table_t* table, size_t* capacity, const char* vendor,
                        size_t vendor_length, const char* product, size_t product_length,
                        unsigned int family, unsigned int model, unsigned int transports) {
    if (table->count == *capacity) {
        size_t grown = *capacity ? 2 * *capacity : 64;
        dcsim_table_entry_t* entries = realloc(table->entries, grown * sizeof *entries);
        if (entries == NULL) {
            return 0;
        }
        table->entries = entries;
        *capacity = grown;
    }
    dcsim_table_entry_t* entry = &table->entries[table->count];
    entry->vendor = copy_string(vendor, vendor_length);
    entry->product = copy_string(product, product_length);
    if (entry->vendor == NULL || entry->product == NULL) {
        free(entry->vendor);
        free(entry->product);
        return 0;
    }
    entry->family = family;
    entry->model = model;
    entry->transports = transports;
    table->count++;
    return 1;
}

static dcsim_table_t* table_builtin(void) {
    dcsim_table_t* table = table_new();
    size_t capacity = 0;
    if (table == NULL) {
        return NULL;
    }
    for (size_t i = 0; i < sizeof builtin / sizeof builtin[0]; i++) {
        if (!table_append(table, &capacity, builtin[i].vendor, strlen(builtin[i].vendor),
                          builtin[i].product, strlen(builtin[i].product),
                          (unsigned int)builtin[i].family, builtin[i].model,
                          builtin[i].transports)) {
            table_destroy(table);
            return NULL;
        }
    }
    return table;
}

void dcsim_table_release(dcsim_table_t* table) {
    if (table != NULL && atomic_fetch_sub(&table->refs, 1) == 1) {
        table_destroy(table);
    }
}

/* Installs `table` (or keeps the old one if it is NULL, i.e. out of memory). */
static void table_install(dcsim_table_t* table) {
    if (table == NULL) {
        return;
    }
    dcsim_spin_lock(&lock);
    dcsim_table_t* old = current;
    current = table;
    dcsim_spin_unlock(&lock);
    dcsim_table_release(old);
}

dcsim_table_t* dcsim_table_acquire(void) {
    dcsim_spin_lock(&lock);
    dcsim_table_t* table = current;
    if (table != NULL) {
        atomic_fetch_add(&table->refs, 1);
    }
    dcsim_spin_unlock(&lock);
    if (table != NULL) {
        return table;
    }
    /* First use: start from the built-in table. A racing thread may install
     * its own copy first; both are identical. */
    table = table_builtin();
    if (table == NULL) {
        return NULL;
    }
    dcsim_spin_lock(&lock);
    if (current == NULL) {
        current = table;
        atomic_fetch_add(&table->refs, 1);
        dcsim_spin_unlock(&lock);
        return table;
    }
    dcsim_table_t* winner = current;
    atomic_fetch_add(&winner->refs, 1);
    dcsim_spin_unlock(&lock);
    dcsim_table_release(table);
    return winner;
}

void dcsim_descriptors_builtin(void) {
    table_install(table_builtin());
}

void dcsim_descriptors_clear(void) {
    table_install(table_new());
}

void dcsim_descriptors_add(const char* vendor, const char* product, unsigned int family,
                           unsigned int model, unsigned int transports) {
    if (vendor == NULL || product == NULL) {
        return;
    }
    /* Copy on write: iterators over the old snapshot are not disturbed. */
    dcsim_spin_lock(&changing);
    dcsim_table_t* old = dcsim_table_acquire();
    if (old == NULL) {
        dcsim_spin_unlock(&changing);
        return;
    }
    dcsim_table_t* table = table_new();
    size_t capacity = 0;
    int ok = table != NULL;
    for (size_t i = 0; ok && i < old->count; i++) {
        const dcsim_table_entry_t* e = &old->entries[i];
        ok = table_append(table, &capacity, e->vendor, strlen(e->vendor), e->product,
                          strlen(e->product), e->family, e->model, e->transports);
    }
    dcsim_table_release(old);
    if (ok) {
        ok = table_append(table, &capacity, vendor, strlen(vendor), product, strlen(product),
                          family, model, transports);
    }
    if (ok) {
        table_install(table);
    } else if (table != NULL) {
        table_destroy(table);
    }
    dcsim_spin_unlock(&changing);
}

/* ---- TSV loading ------------------------------------------------------- */

#define ALL_TRANSPORTS                                                                  \
    (DC_TRANSPORT_SERIAL | DC_TRANSPORT_USB | DC_TRANSPORT_USBHID | DC_TRANSPORT_IRDA | \
     DC_TRANSPORT_BLUETOOTH | DC_TRANSPORT_BLE)

static const char* const columns[] = {"vendor",    "product",   "family",
                                      "model_hex", "model_dec", "transports"};
#define NCOLUMNS 6

typedef struct field_t {
    const char* text;
    size_t length;
} field_t;

/* Splits a line at tabs; answers the number of fields found (stops counting
 * past NCOLUMNS). */
static int split_fields(const char* line, size_t length, field_t fields[NCOLUMNS]) {
    int n = 0;
    size_t start = 0;
    for (size_t i = 0; i <= length; i++) {
        if (i == length || line[i] == '\t') {
            if (n < NCOLUMNS) {
                fields[n].text = line + start;
                fields[n].length = i - start;
            }
            n++;
            start = i + 1;
        }
    }
    return n;
}

/* Parses a whole field as an unsigned number in `base` (16 requires the 0x
 * prefix); 0 if it is not one. */
static int parse_number(const field_t* field, int base, unsigned int* out) {
    char text[32];
    if (field->length == 0 || field->length >= sizeof text) {
        return 0;
    }
    memcpy(text, field->text, field->length);
    text[field->length] = '\0';
    const char* digits = text;
    if (base == 16) {
        if (field->length < 3 || text[0] != '0' || (text[1] != 'x' && text[1] != 'X')) {
            return 0;
        }
        digits = text + 2;
    }
    for (const char* p = digits; *p; p++) {
        int ok = base == 16 ? (*p >= '0' && *p <= '9') || (*p >= 'a' && *p <= 'f') ||
                                  (*p >= 'A' && *p <= 'F')
                            : (*p >= '0' && *p <= '9');
        if (!ok) {
            return 0;
        }
    }
    errno = 0;
    char* end;
    unsigned long value = strtoul(digits, &end, base);
    if (errno != 0 || *end != '\0' || value > 0xFFFFFFFFUL) {
        return 0;
    }
    *out = (unsigned int)value;
    return 1;
}

int dcsim_descriptors_load_tsv(const char* path) {
    if (path == NULL) {
        dcsim_set_error("dcsim_descriptors_load_tsv: no path");
        return -1;
    }
    char* data;
    size_t size;
    if (!dcsim_read_file(path, &data, &size)) {
        return -1;
    }
    dcsim_table_t* table = table_new();
    size_t capacity = 0;
    if (table == NULL) {
        free(data);
        dcsim_set_error("%s: out of memory", path);
        return -1;
    }
    unsigned int lineno = 0;
    size_t pos = 0;
    int ok = 1;
    while (ok && pos < size) {
        size_t end = pos;
        while (end < size && data[end] != '\n') {
            end++;
        }
        const char* line = data + pos;
        size_t length = end - pos;
        pos = end + 1;
        lineno++;
        if (length > 0 && line[length - 1] == '\r') {
            length--;
        }
        if (memchr(line, '\0', length) != NULL) {
            dcsim_set_error("%s:%u: NUL byte in the line", path, lineno);
            ok = 0;
            break;
        }
        field_t fields[NCOLUMNS];
        int n = split_fields(line, length, fields);
        if (lineno == 1) {
            for (int i = 0; ok && i < NCOLUMNS; i++) {
                ok = n == NCOLUMNS && fields[i].length == strlen(columns[i]) &&
                     memcmp(fields[i].text, columns[i], fields[i].length) == 0;
            }
            if (!ok) {
                dcsim_set_error(
                    "%s:1: expected the header line "
                    "'vendor<TAB>product<TAB>family<TAB>model_hex<TAB>model_dec<TAB>transports'",
                    path);
            }
            continue;
        }
        if (length == 0 && pos >= size) {
            break; /* the newline that ends the last line */
        }
        if (n != NCOLUMNS) {
            dcsim_set_error("%s:%u: expected %d tab-separated columns, found %d", path, lineno,
                            NCOLUMNS, n);
            ok = 0;
            break;
        }
        unsigned int family, model_hex, model_dec, transports;
        if (fields[0].length == 0 || fields[1].length == 0) {
            dcsim_set_error("%s:%u: empty vendor or product", path, lineno);
            ok = 0;
        } else if (!parse_number(&fields[2], 16, &family)) {
            dcsim_set_error("%s:%u: family '%.*s' is not a 0x-prefixed hex number", path, lineno,
                            (int)fields[2].length, fields[2].text);
            ok = 0;
        } else if (!parse_number(&fields[3], 16, &model_hex)) {
            dcsim_set_error("%s:%u: model_hex '%.*s' is not a 0x-prefixed hex number", path, lineno,
                            (int)fields[3].length, fields[3].text);
            ok = 0;
        } else if (!parse_number(&fields[4], 10, &model_dec)) {
            dcsim_set_error("%s:%u: model_dec '%.*s' is not a decimal number", path, lineno,
                            (int)fields[4].length, fields[4].text);
            ok = 0;
        } else if (model_hex != model_dec) {
            dcsim_set_error("%s:%u: model_hex 0x%x and model_dec %u disagree", path, lineno,
                            model_hex, model_dec);
            ok = 0;
        } else if (!parse_number(&fields[5], 16, &transports)) {
            dcsim_set_error("%s:%u: transports '%.*s' is not a 0x-prefixed hex number", path,
                            lineno, (int)fields[5].length, fields[5].text);
            ok = 0;
        } else if (transports & ~(unsigned int)ALL_TRANSPORTS) {
            dcsim_set_error("%s:%u: transports 0x%x has bits of no known transport", path, lineno,
                            transports);
            ok = 0;
        } else if (!table_append(table, &capacity, fields[0].text, fields[0].length, fields[1].text,
                                 fields[1].length, family, model_hex, transports)) {
            dcsim_set_error("%s:%u: out of memory", path, lineno);
            ok = 0;
        }
    }
    free(data);
    if (ok && lineno == 0) {
        dcsim_set_error("%s: the file is empty", path);
        ok = 0;
    }
    if (!ok) {
        table_destroy(table);
        return -1;
    }
    int count = (int)table->count;
    table_install(table);
    return count;
}
