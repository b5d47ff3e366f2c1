/* LD_PRELOAD shim for the tests under wine, never part of the library: wine's serial port sets
 * DTR and RTS with TIOCMGET and TIOCMSET (also TIOCMBIS, TIOCMBIC), which a pseudo-terminal, with
 * no modem lines, refuses; opening the COM port that a pseudo-terminal stands behind would fail.
 * On a pseudo-terminal only, those calls succeed here, with the lines a powered cable shows. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <stdarg.h>
#include <stddef.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

/* Unix 98 pseudo-terminal slaves have the majors 136 to 143. */
static int isPseudoTerminal(int fd) {
    struct stat status;
    return fstat(fd, &status) == 0 && S_ISCHR(status.st_mode) && major(status.st_rdev) >= 136 &&
           major(status.st_rdev) <= 143;
}

int ioctl(int fd, unsigned long request, ...) {
    static int (*next)(int, unsigned long, ...);
    if (next == NULL) {
        next = (int (*)(int, unsigned long, ...))dlsym(RTLD_NEXT, "ioctl");
    }
    va_list arguments;
    va_start(arguments, request);
    void* argument = va_arg(arguments, void*);
    va_end(arguments);
    const int result = next(fd, request, argument);
    const int modemLines =
        request == TIOCMGET || request == TIOCMSET || request == TIOCMBIS || request == TIOCMBIC;
    if (result == 0 || !modemLines || !isPseudoTerminal(fd)) {
        return result;
    }
    if (request == TIOCMGET) {
        *(int*)argument = TIOCM_DTR | TIOCM_RTS | TIOCM_CTS | TIOCM_DSR | TIOCM_CD;
    }
    return 0;
}
