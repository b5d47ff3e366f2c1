// What every platform's BLE link must give through the shared stream, against a computer that
// answers as the mock BlueZ's script peripheral (tests/ble/bluez_mock.py): 'S' count(2 LE) size(1)
// asks for `count` notifications of `size` bytes, byte j of notification k being
// (k * 7 + j) & 0xFF; anything else comes back unchanged. The BlueZ suite
// (ble_stream_test.cpp) and the Windows one (tests/windows/win32_ble_test.cpp) run them on their
// own links:
//
//     IostreamHandle stream = opened();          // the suite's link to a script computer
//     expectOneNotificationPerRead(stream.get(), 244);
#pragma once

#include <gtest/gtest.h>
#include <libdivecomputer/iostream.h>

#include <chrono>
#include <string>
#include <vector>

namespace diveconnector {

// Asks the script computer for `count` notifications of `size` bytes.
inline void requestNotifications(dc_iostream_t* stream, unsigned int count, unsigned int size) {
    const unsigned char command[] = {'S', static_cast<unsigned char>(count & 0xFF),
                                     static_cast<unsigned char>(count >> 8),
                                     static_cast<unsigned char>(size)};
    size_t written = 0;
    ASSERT_EQ(dc_iostream_write(stream, command, sizeof command, &written), DC_STATUS_SUCCESS);
    EXPECT_EQ(written, sizeof command);
}

// Byte j of the script computer's notification k.
inline unsigned char scriptByte(unsigned int k, unsigned int j) {
    return static_cast<unsigned char>((k * 7 + j) & 0xFF);
}

// Writes `text` and reads it back from the script computer.
inline void expectEcho(dc_iostream_t* stream, const std::string& text, const char* why) {
    size_t actual = 0;
    ASSERT_EQ(dc_iostream_write(stream, text.data(), text.size(), &actual), DC_STATUS_SUCCESS)
        << why;
    unsigned char packet[64];
    ASSERT_EQ(dc_iostream_read(stream, packet, sizeof packet, &actual), DC_STATUS_SUCCESS) << why;
    EXPECT_EQ(std::string(packet, packet + actual), text) << why;
}

// Each read hands over exactly one notification, of every size from 1 to `largest` bytes.
inline void expectOneNotificationPerRead(dc_iostream_t* stream, unsigned int largest) {
    for (unsigned int size = 1; size <= largest; ++size) {
        requestNotifications(stream, 2, size);
        for (unsigned int k = 0; k < 2; ++k) {
            unsigned char packet[512];
            size_t actual = 0;
            ASSERT_EQ(dc_iostream_read(stream, packet, sizeof packet, &actual), DC_STATUS_SUCCESS);
            ASSERT_EQ(actual, size) << "packets were merged or split";
            for (unsigned int j = 0; j < size; ++j) {
                ASSERT_EQ(packet[j], scriptByte(k, j));
            }
        }
    }
}

// The rest of a notification larger than the read comes with the next reads.
inline void expectTheRestOfALargerPacketWithTheNextRead(dc_iostream_t* stream) {
    requestNotifications(stream, 2, 100);
    std::vector<unsigned char> got;
    for (const size_t expectedSize : {30u, 30u, 30u, 10u, 30u}) {
        unsigned char part[30];
        size_t actual = 0;
        ASSERT_EQ(dc_iostream_read(stream, part, sizeof part, &actual), DC_STATUS_SUCCESS);
        ASSERT_EQ(actual, expectedSize);
        got.insert(got.end(), part, part + actual);
    }
    for (unsigned int j = 0; j < 100; ++j) {
        EXPECT_EQ(got[j], scriptByte(0, j));
    }
    EXPECT_EQ(got[100], scriptByte(1, 0));
}

// Reads `count` notifications of 20 bytes, the script's from the first: in order, none merged.
inline void expectNotificationsInOrder(dc_iostream_t* stream, unsigned int count,
                                       const char* what) {
    for (unsigned int k = 0; k < count; ++k) {
        unsigned char packet[64];
        size_t actual = 0;
        ASSERT_EQ(dc_iostream_read(stream, packet, sizeof packet, &actual), DC_STATUS_SUCCESS)
            << what << ", packet " << k;
        ASSERT_EQ(actual, 20u) << what << ", packet " << k;
        ASSERT_EQ(packet[0], scriptByte(k, 0)) << what << ", packet " << k;
        ASSERT_EQ(packet[19], scriptByte(k, 19)) << what << ", packet " << k;
    }
}

// Five writes of one byte each, then their five echoes: behind Terminal I/O each write waits for
// a credit of the computer.
inline void expectFiveWritesEchoed(dc_iostream_t* stream) {
    for (int k = 0; k < 5; ++k) {
        size_t actual = 0;
        const unsigned char byte = static_cast<unsigned char>('a' + k);
        ASSERT_EQ(dc_iostream_write(stream, &byte, 1, &actual), DC_STATUS_SUCCESS) << k;
    }
    for (int k = 0; k < 5; ++k) {
        unsigned char packet[20];
        size_t actual = 0;
        ASSERT_EQ(dc_iostream_read(stream, packet, sizeof packet, &actual), DC_STATUS_SUCCESS);
        EXPECT_EQ(std::string(packet, packet + actual), std::string(1, static_cast<char>('a' + k)));
    }
}

// The Terminal I/O credits the stream granted over a transfer of `packets` notifications: 254 at
// the start, 222 at each top-up once 32 are left, never beyond one grant ahead of the data.
inline void expectCreditGrants(const std::vector<unsigned char>& grants, unsigned int packets,
                               const char* what) {
    ASSERT_GE(grants.size(), 4u) << what;
    unsigned int granted = 0;
    for (size_t i = 0; i < grants.size(); ++i) {
        EXPECT_EQ(grants[i], i == 0 ? 254 : 222) << what << ", grant " << i;
        granted += grants[i];
    }
    EXPECT_LE(granted, packets + 254) << what;
}

// With the computer set to disconnect after three notifications: three reads, then a read that
// waits without a timeout ends with DC_STATUS_IO within `boundMs`.
inline void expectTheDisconnectToEndTheFourthRead(dc_iostream_t* stream, long long boundMs) {
    ASSERT_EQ(dc_iostream_set_timeout(stream, -1), DC_STATUS_SUCCESS);
    requestNotifications(stream, 10, 20);
    unsigned char packet[20];
    size_t actual = 0;
    for (int k = 0; k < 3; ++k) {
        ASSERT_EQ(dc_iostream_read(stream, packet, sizeof packet, &actual), DC_STATUS_SUCCESS);
    }
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(dc_iostream_read(stream, packet, sizeof packet, &actual), DC_STATUS_IO);
    EXPECT_LT(std::chrono::duration_cast<std::chrono::milliseconds>(
                  std::chrono::steady_clock::now() - start)
                  .count(),
              boundMs);
}

}  // namespace diveconnector
