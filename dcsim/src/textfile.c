#include "textfile.h"

#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "lasterror.h"

#define MAX_SIZE ((size_t)64 << 20)

int dcsim_read_file(const char* path, char** out, size_t* size) {
    FILE* file = fopen(path, "rb");
    if (file == NULL) {
        dcsim_set_error("%s: cannot open: %s", path, strerror(errno));
        return 0;
    }
    size_t capacity = 16384, length = 0;
    char* data = malloc(capacity);
    int too_large = 0;
    while (data != NULL) {
        length += fread(data + length, 1, capacity - length, file);
        if (length < capacity) {
            break;
        }
        if (capacity >= MAX_SIZE) {
            too_large = 1;
            break;
        }
        char* larger = realloc(data, capacity * 2);
        if (larger == NULL) {
            break;
        }
        data = larger;
        capacity *= 2;
    }
    int failed = ferror(file) || data == NULL || too_large || length == capacity;
    fclose(file);
    if (failed) {
        free(data);
        dcsim_set_error(too_large ? "%s: larger than 64 MiB" : "%s: cannot read the file", path);
        return 0;
    }
    *out = data;
    *size = length;
    return 1;
}
