#include <libdivecomputer/buffer.h>
#include <stdlib.h>
#include <string.h>

#include "buffer.h"
#include "calls.h"
#include "live.h"

struct dc_buffer_t {
    unsigned char* data;
    size_t capacity;
    size_t offset; /* free room in front, so prepend and slice need no copy */
    size_t size;
};

/* Ensures at least `front` free bytes before the data and room for `total`
 * bytes from the data's start on. */
static int buffer_ensure(dc_buffer_t* buffer, size_t front, size_t total) {
    if (buffer->offset >= front && total <= buffer->capacity - buffer->offset) {
        return 1;
    }
    if (total > (size_t)-1 - front) {
        return 0;
    }
    size_t needed = front + total;
    size_t capacity = buffer->capacity ? buffer->capacity : 64;
    while (capacity < needed) {
        capacity = capacity > (size_t)-1 / 2 ? needed : 2 * capacity;
    }
    unsigned char* data = malloc(capacity);
    if (data == NULL) {
        return 0;
    }
    if (buffer->size) {
        memcpy(data + front, buffer->data + buffer->offset, buffer->size);
    }
    free(buffer->data);
    buffer->data = data;
    buffer->capacity = capacity;
    buffer->offset = front;
    return 1;
}

dc_buffer_t* dc_buffer_new(size_t capacity) {
    if (DCSIM_ENTER(dc_buffer_new) != DC_STATUS_SUCCESS) {
        return NULL;
    }
    dc_buffer_t* buffer = calloc(1, sizeof *buffer);
    if (buffer == NULL) {
        return NULL;
    }
    if (capacity && !buffer_ensure(buffer, 0, capacity)) {
        free(buffer);
        return NULL;
    }
    dcsim_live_add(DCSIM_BUFFER, 1);
    return buffer;
}

void dc_buffer_free(dc_buffer_t* buffer) {
    DCSIM_ENTER(dc_buffer_free);
    if (buffer == NULL) {
        return;
    }
    free(buffer->data);
    free(buffer);
    dcsim_live_add(DCSIM_BUFFER, -1);
}

int dc_buffer_clear(dc_buffer_t* buffer) {
    if (DCSIM_ENTER(dc_buffer_clear) != DC_STATUS_SUCCESS || buffer == NULL) {
        return 0;
    }
    buffer->offset = 0;
    buffer->size = 0;
    return 1;
}

int dc_buffer_reserve(dc_buffer_t* buffer, size_t capacity) {
    if (DCSIM_ENTER(dc_buffer_reserve) != DC_STATUS_SUCCESS || buffer == NULL) {
        return 0;
    }
    return buffer_ensure(buffer, 0, capacity);
}

int dc_buffer_resize(dc_buffer_t* buffer, size_t size) {
    if (DCSIM_ENTER(dc_buffer_resize) != DC_STATUS_SUCCESS || buffer == NULL) {
        return 0;
    }
    if (!buffer_ensure(buffer, 0, size)) {
        return 0;
    }
    if (size > buffer->size) {
        memset(buffer->data + buffer->offset + buffer->size, 0, size - buffer->size);
    }
    buffer->size = size;
    return 1;
}

int dc_buffer_append(dc_buffer_t* buffer, const unsigned char data[], size_t size) {
    if (DCSIM_ENTER(dc_buffer_append) != DC_STATUS_SUCCESS || buffer == NULL ||
        (data == NULL && size != 0)) {
        return 0;
    }
    return dcsim_buffer_append(buffer, data, size);
}

void dcsim_buffer_clear(dc_buffer_t* buffer) {
    buffer->offset = 0;
    buffer->size = 0;
}

int dcsim_buffer_append(dc_buffer_t* buffer, const unsigned char data[], size_t size) {
    if (size > (size_t)-1 - buffer->size || !buffer_ensure(buffer, 0, buffer->size + size)) {
        return 0;
    }
    if (size) {
        memcpy(buffer->data + buffer->offset + buffer->size, data, size);
    }
    buffer->size += size;
    return 1;
}

int dc_buffer_prepend(dc_buffer_t* buffer, const unsigned char data[], size_t size) {
    if (DCSIM_ENTER(dc_buffer_prepend) != DC_STATUS_SUCCESS || buffer == NULL ||
        (data == NULL && size != 0)) {
        return 0;
    }
    if (size > (size_t)-1 - buffer->size || !buffer_ensure(buffer, size, buffer->size)) {
        return 0;
    }
    buffer->offset -= size;
    buffer->size += size;
    if (size) {
        memcpy(buffer->data + buffer->offset, data, size);
    }
    return 1;
}

int dc_buffer_insert(dc_buffer_t* buffer, size_t offset, const unsigned char data[], size_t size) {
    if (DCSIM_ENTER(dc_buffer_insert) != DC_STATUS_SUCCESS || buffer == NULL ||
        (data == NULL && size != 0) || offset > buffer->size) {
        return 0;
    }
    if (size > (size_t)-1 - buffer->size || !buffer_ensure(buffer, 0, buffer->size + size)) {
        return 0;
    }
    unsigned char* at = buffer->data + buffer->offset + offset;
    memmove(at + size, at, buffer->size - offset);
    if (size) {
        memcpy(at, data, size);
    }
    buffer->size += size;
    return 1;
}

int dc_buffer_slice(dc_buffer_t* buffer, size_t offset, size_t size) {
    if (DCSIM_ENTER(dc_buffer_slice) != DC_STATUS_SUCCESS || buffer == NULL ||
        offset > buffer->size || size > buffer->size - offset) {
        return 0;
    }
    buffer->offset += offset;
    buffer->size = size;
    return 1;
}

size_t dc_buffer_get_size(dc_buffer_t* buffer) {
    if (DCSIM_ENTER(dc_buffer_get_size) != DC_STATUS_SUCCESS || buffer == NULL) {
        return 0;
    }
    return buffer->size;
}

unsigned char* dc_buffer_get_data(dc_buffer_t* buffer) {
    if (DCSIM_ENTER(dc_buffer_get_data) != DC_STATUS_SUCCESS || buffer == NULL ||
        buffer->size == 0) {
        return NULL;
    }
    return buffer->data + buffer->offset;
}
