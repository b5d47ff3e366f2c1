// An in-memory BLE link for dcsim's tests: a custom stream whose callbacks carry each write to a
// simulated BLE computer (dcsim_peripheral_*) and hand its reply back one packet per read, as a
// BLE transport does.
#ifndef DCSIM_BLE_LINK_H
#define DCSIM_BLE_LINK_H

#include <libdivecomputer/ble.h>
#include <libdivecomputer/custom.h>

#include <algorithm>
#include <cstring>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "dcsim_test.h"

namespace dcsimtest {

using Peripheral =
    std::unique_ptr<dcsim_peripheral_t, Releaser<dcsim_peripheral_t, dcsim_peripheral_free>>;

struct BleLink {
    Peripheral peripheral;
    std::string name;           // answered to GET_NAME; empty: UNSUPPORTED
    size_t packetSize = 20;     // of the computer's notifications
    bool mergePackets = false;  // a faulty transport that joins two notifications
    std::deque<std::vector<unsigned char>> queue;
    std::vector<unsigned int> ioctls;               // requests in order
    std::function<dc_status_t(char*, size_t)> pin;  // GET_PINCODE; unset: UNSUPPORTED
    std::vector<unsigned char> accessCode;          // empty: none stored
    int timeout = 0;
    bool closed = false;

    explicit BleLink(const std::string& computerName)
        : peripheral(dcsim_peripheral_new(computerName.c_str())), name(computerName) {}

    void pump() {
        unsigned char packet[20];
        size_t size;
        while ((size = dcsim_peripheral_read(peripheral.get(), packet, packetSize)) != 0) {
            queue.emplace_back(packet, packet + size);
        }
    }

    static BleLink& of(void* userdata) { return *static_cast<BleLink*>(userdata); }

    static dc_status_t setTimeout(void* userdata, int timeout) {
        of(userdata).timeout = timeout;
        return DC_STATUS_SUCCESS;
    }
    static dc_status_t write(void* userdata, const void* data, size_t size, size_t* actual) {
        BleLink& link = of(userdata);
        if (dcsim_peripheral_write(link.peripheral.get(), static_cast<const unsigned char*>(data),
                                   size) != 0) {
            return DC_STATUS_IO;
        }
        link.pump();
        *actual = size;
        return DC_STATUS_SUCCESS;
    }
    static dc_status_t read(void* userdata, void* data, size_t size, size_t* actual) {
        BleLink& link = of(userdata);
        if (link.queue.empty()) {
            return DC_STATUS_TIMEOUT;
        }
        std::vector<unsigned char> packet = std::move(link.queue.front());
        link.queue.pop_front();
        if (link.mergePackets && !link.queue.empty()) {
            packet.insert(packet.end(), link.queue.front().begin(), link.queue.front().end());
            link.queue.pop_front();
        }
        *actual = std::min(size, packet.size());
        std::memcpy(data, packet.data(), *actual);
        return DC_STATUS_SUCCESS;
    }
    static dc_status_t purge(void* userdata, dc_direction_t) {
        of(userdata).queue.clear();
        return DC_STATUS_SUCCESS;
    }
    static dc_status_t ioctl(void* userdata, unsigned int request, void* data, size_t size) {
        BleLink& link = of(userdata);
        link.ioctls.push_back(request);
        if (request == DC_IOCTL_BLE_GET_NAME) {
            if (link.name.empty()) {
                return DC_STATUS_UNSUPPORTED;
            }
            std::strncpy(static_cast<char*>(data), link.name.c_str(), size);
            return DC_STATUS_SUCCESS;
        }
#ifndef DCSIM_API_0_8
        if (request == DC_IOCTL_BLE_GET_PINCODE) {
            return link.pin ? link.pin(static_cast<char*>(data), size) : DC_STATUS_UNSUPPORTED;
        }
        if (request == DC_IOCTL_BLE_GET_ACCESSCODE) {
            std::memset(data, 0, size);
            // An empty vector's data() may be null, which memcpy must never get.
            std::copy_n(link.accessCode.begin(), std::min(size, link.accessCode.size()),
                        static_cast<unsigned char*>(data));
            return DC_STATUS_SUCCESS;
        }
        if (request == DC_IOCTL_BLE_SET_ACCESSCODE) {
            const auto* bytes = static_cast<const unsigned char*>(data);
            link.accessCode.assign(bytes, bytes + size);
            return DC_STATUS_SUCCESS;
        }
#endif
        return DC_STATUS_UNSUPPORTED;
    }
    static dc_status_t close(void* userdata) {
        of(userdata).closed = true;
        return DC_STATUS_SUCCESS;
    }

    Stream open() {
        dc_custom_cbs_t callbacks{};
        callbacks.set_timeout = setTimeout;
        callbacks.read = read;
        callbacks.write = write;
        callbacks.ioctl = ioctl;
        callbacks.purge = purge;
        callbacks.close = close;
        dc_iostream_t* stream = nullptr;
        EXPECT_EQ(dc_custom_open(&stream, nullptr, DC_TRANSPORT_BLE, &callbacks, this),
                  DC_STATUS_SUCCESS);
        return Stream(stream);
    }
};

}  // namespace dcsimtest

#endif
