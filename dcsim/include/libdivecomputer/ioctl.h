#ifndef DC_IOCTL_H
#define DC_IOCTL_H

#define DC_IOCTL_DIR_NONE 0u
#define DC_IOCTL_DIR_READ 1u
#define DC_IOCTL_DIR_WRITE 2u

#define DC_IOCTL_SIZE_VARIABLE 0

#define DC_IOCTL_DIRBITS 2
#define DC_IOCTL_SIZEBITS 14
#define DC_IOCTL_TYPEBITS 8
#define DC_IOCTL_NRBITS 8

#define DC_IOCTL_NRSHIFT 0
#define DC_IOCTL_TYPESHIFT (DC_IOCTL_NRSHIFT + DC_IOCTL_NRBITS)
#define DC_IOCTL_SIZESHIFT (DC_IOCTL_TYPESHIFT + DC_IOCTL_TYPEBITS)
#define DC_IOCTL_DIRSHIFT (DC_IOCTL_SIZESHIFT + DC_IOCTL_SIZEBITS)

#define DC_IOCTL(dir, type, nr, size)                                                            \
    (((unsigned int)(dir) << DC_IOCTL_DIRSHIFT) | ((unsigned int)(size) << DC_IOCTL_SIZESHIFT) | \
     ((unsigned int)(type) << DC_IOCTL_TYPESHIFT) | ((unsigned int)(nr) << DC_IOCTL_NRSHIFT))

#define DC_IOCTL_IO(type, nr) DC_IOCTL(DC_IOCTL_DIR_NONE, (type), (nr), 0)
#define DC_IOCTL_IOR(type, nr, size) DC_IOCTL(DC_IOCTL_DIR_READ, (type), (nr), (size))
#define DC_IOCTL_IOW(type, nr, size) DC_IOCTL(DC_IOCTL_DIR_WRITE, (type), (nr), (size))
#define DC_IOCTL_IORW(type, nr, size) \
    DC_IOCTL(DC_IOCTL_DIR_READ | DC_IOCTL_DIR_WRITE, (type), (nr), (size))

#define DC_IOCTL_DIR(request) (((request) >> DC_IOCTL_DIRSHIFT) & ((1u << DC_IOCTL_DIRBITS) - 1))
#define DC_IOCTL_TYPE(request) (((request) >> DC_IOCTL_TYPESHIFT) & ((1u << DC_IOCTL_TYPEBITS) - 1))
#define DC_IOCTL_NR(request) (((request) >> DC_IOCTL_NRSHIFT) & ((1u << DC_IOCTL_NRBITS) - 1))
#define DC_IOCTL_SIZE(request) (((request) >> DC_IOCTL_SIZESHIFT) & ((1u << DC_IOCTL_SIZEBITS) - 1))

#endif
