/* LD_PRELOAD shim for the tests under wine, never part of the library. Two things of wine's
 * serial port that a pseudo-terminal, standing in for a dive computer's cable, cannot take:
 *
 * - Wine sets DTR and RTS with TIOCMGET and TIOCMSET (also TIOCMBIS, TIOCMBIC), which a
 *   pseudo-terminal, with no modem lines, refuses: opening the COM port would fail. On a
 *   pseudo-terminal those calls succeed here, with the lines a powered cable shows.
 * - Wine empties the input twice for one PurgeComm that both aborts and clears it, and an
 *   emulated computer that answers once the host has emptied its input (as the host expects,
 *   having sent its command) would see its answer go with the second emptying. The second of two
 *   emptyings of the same queue with no other call between is left out, as Windows empties once.
 */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <stdarg.h>
#include <stddef.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>

/* The queue of the last tcflush on the descriptor, while no ioctl came since. */
static int lastFlushFd = -1;
static int lastFlushQueue = -1;

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
    lastFlushFd = -1;
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

int tcflush(int fd, int queue) {
    static int (*next)(int, int);
    if (next == NULL) {
        next = (int (*)(int, int))dlsym(RTLD_NEXT, "tcflush");
    }
    if (fd == lastFlushFd && queue == lastFlushQueue && isPseudoTerminal(fd)) {
        return 0;
    }
    lastFlushFd = fd;
    lastFlushQueue = queue;
    return next(fd, queue);
}
