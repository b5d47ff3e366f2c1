#include <libdivecomputer/ble.h>
#include <stdio.h>

#include "calls.h"

char* dc_ble_uuid2str(const dc_ble_uuid_t uuid, char* str, size_t size) {
    if (DCSIM_ENTER(dc_ble_uuid2str) != DC_STATUS_SUCCESS || uuid == NULL || str == NULL ||
        size < DC_BLE_UUID_SIZE) {
        return NULL;
    }
    char* p = str;
    for (int i = 0; i < 16; i++) {
        if (i == 4 || i == 6 || i == 8 || i == 10) {
            *p++ = '-';
        }
        p += sprintf(p, "%02x", uuid[i]);
    }
    return str;
}

static int hex_digit(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

int dc_ble_str2uuid(const char* str, dc_ble_uuid_t uuid) {
    if (DCSIM_ENTER(dc_ble_str2uuid) != DC_STATUS_SUCCESS || str == NULL || uuid == NULL) {
        return 0;
    }
    dc_ble_uuid_t parsed;
    for (int i = 0; i < 16; i++) {
        if ((i == 4 || i == 6 || i == 8 || i == 10) && *str++ != '-') {
            return 0;
        }
        int high = hex_digit(str[0]);
        int low = high < 0 ? -1 : hex_digit(str[1]);
        if (low < 0) {
            return 0;
        }
        parsed[i] = (unsigned char)(high << 4 | low);
        str += 2;
    }
    if (*str != '\0') {
        return 0;
    }
    for (int i = 0; i < 16; i++) {
        uuid[i] = parsed[i];
    }
    return 1;
}
