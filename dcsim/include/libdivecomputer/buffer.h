#ifndef DC_BUFFER_H
#define DC_BUFFER_H

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct dc_buffer_t dc_buffer_t;

dc_buffer_t* dc_buffer_new(size_t capacity);

void dc_buffer_free(dc_buffer_t* buffer);

int dc_buffer_clear(dc_buffer_t* buffer);

int dc_buffer_reserve(dc_buffer_t* buffer, size_t capacity);

int dc_buffer_resize(dc_buffer_t* buffer, size_t size);

int dc_buffer_append(dc_buffer_t* buffer, const unsigned char data[], size_t size);

int dc_buffer_prepend(dc_buffer_t* buffer, const unsigned char data[], size_t size);

int dc_buffer_insert(dc_buffer_t* buffer, size_t offset, const unsigned char data[], size_t size);

int dc_buffer_slice(dc_buffer_t* buffer, size_t offset, size_t size);

size_t dc_buffer_get_size(dc_buffer_t* buffer);

unsigned char* dc_buffer_get_data(dc_buffer_t* buffer);

#ifdef __cplusplus
}
#endif

#endif
