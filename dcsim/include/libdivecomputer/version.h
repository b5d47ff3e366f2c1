#ifndef DC_VERSION_H
#define DC_VERSION_H

#ifdef __cplusplus
extern "C" {
#endif

/* dcsim presents libdivecomputer 0.9.0, or 0.8.0 when DCSIM_API_0_8 is
 * defined (CMake: -DDCSIM_API=0.8). The other headers follow that macro. */
#ifdef DCSIM_API_0_8
#define DC_VERSION "0.8.0"
#define DC_VERSION_MAJOR 0
#define DC_VERSION_MINOR 8
#define DC_VERSION_MICRO 0
#else
#define DC_VERSION "0.9.0"
#define DC_VERSION_MAJOR 0
#define DC_VERSION_MINOR 9
#define DC_VERSION_MICRO 0
#endif

#define DC_VERSION_CHECK(major, minor, micro)                                                     \
    (DC_VERSION_MAJOR > (major) || (DC_VERSION_MAJOR == (major) && DC_VERSION_MINOR > (minor)) || \
     (DC_VERSION_MAJOR == (major) && DC_VERSION_MINOR == (minor) && DC_VERSION_MICRO >= (micro)))

typedef struct dc_version_t {
    unsigned int major;
    unsigned int minor;
    unsigned int micro;
} dc_version_t;

const char* dc_version(dc_version_t* version);

int dc_version_check(unsigned int major, unsigned int minor, unsigned int micro);

#ifdef __cplusplus
}
#endif

#endif
