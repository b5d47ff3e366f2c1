#ifndef DC_BLE_H
#define DC_BLE_H

#include <stddef.h>

#include "ioctl.h"

#ifdef __cplusplus
extern "C" {
#endif

/* The remote device's name (output, a string). */
#define DC_IOCTL_BLE_GET_NAME DC_IOCTL_IOR('b', 0, DC_IOCTL_SIZE_VARIABLE)

#ifndef DCSIM_API_0_8

/* The PIN the device shows (output, a NUL-terminated string). */
#define DC_IOCTL_BLE_GET_PINCODE DC_IOCTL_IOR('b', 1, DC_IOCTL_SIZE_VARIABLE)
/* The access code stored for the device (output, bytes; all zeros: none). */
#define DC_IOCTL_BLE_GET_ACCESSCODE DC_IOCTL_IOR('b', 2, DC_IOCTL_SIZE_VARIABLE)
/* An access code to store for the device (input, bytes). */
#define DC_IOCTL_BLE_SET_ACCESSCODE DC_IOCTL_IOW('b', 2, DC_IOCTL_SIZE_VARIABLE)
/* A dc_ble_uuid_t, then the characteristic's value (output or input). */
#define DC_IOCTL_BLE_CHARACTERISTIC_READ DC_IOCTL_IOR('b', 3, DC_IOCTL_SIZE_VARIABLE)
#define DC_IOCTL_BLE_CHARACTERISTIC_WRITE DC_IOCTL_IOW('b', 3, DC_IOCTL_SIZE_VARIABLE)

#define DC_BLE_UUID_SIZE 37

typedef unsigned char dc_ble_uuid_t[16];

char* dc_ble_uuid2str(const dc_ble_uuid_t uuid, char* str, size_t size);

int dc_ble_str2uuid(const char* str, dc_ble_uuid_t uuid);

#endif

#ifdef __cplusplus
}
#endif

#endif
