#ifndef DCSIM_TEXTFILE_H
#define DCSIM_TEXTFILE_H

#include <stddef.h>

/* Reads a whole file (at most 64 MiB) into a malloc'ed buffer. Answers 1, or
 * 0 with the reason set for dcsim_last_error(). */
int dcsim_read_file(const char* path, char** data, size_t* size);

#endif
