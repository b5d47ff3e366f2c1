// Prints libdivecomputer's descriptor table in the layout of tests/fixtures: one line per entry,
// in the library's own order, with the family, model and transports the library reports. The
// real-library tests compare the fixtures and the JNI listing with this, the library's own walk.
#include <libdivecomputer/descriptor.h>
#include <libdivecomputer/iterator.h>

#include <stdio.h>

int main(void) {
    dc_iterator_t* iterator = NULL;
    // 0.9 keeps dc_descriptor_iterator as a macro over dc_descriptor_iterator_new.
    if (dc_descriptor_iterator(&iterator) != DC_STATUS_SUCCESS) {
        fputs("descriptor_table: cannot walk the descriptor table\n", stderr);
        return 1;
    }
    printf("vendor\tproduct\tfamily\tmodel_hex\tmodel_dec\ttransports\n");
    dc_descriptor_t* descriptor = NULL;
    while (dc_iterator_next(iterator, &descriptor) == DC_STATUS_SUCCESS) {
        const unsigned int model = dc_descriptor_get_model(descriptor);
        printf("%s\t%s\t0x%x\t0x%x\t%u\t0x%x\n", dc_descriptor_get_vendor(descriptor),
               dc_descriptor_get_product(descriptor),
               (unsigned int)dc_descriptor_get_type(descriptor), model, model,
               dc_descriptor_get_transports(descriptor));
        dc_descriptor_free(descriptor);
    }
    dc_iterator_free(iterator);
    return fflush(stdout) == 0 ? 0 : 1;
}
