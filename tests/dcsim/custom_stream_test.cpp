// Custom streams (dc_custom_open, every dc_iostream_* call through the callbacks) and the
// simulated BLE computers that download over them.
#include <libdivecomputer/custom.h>
#include <libdivecomputer/ioctl.h>

#include "ble_link.h"

namespace dcsimtest {
namespace {

// Records each callback with its arguments.
struct Recorder {
    std::vector<std::string> calls;
    dc_status_t answer = DC_STATUS_SUCCESS;

    static Recorder& of(void* userdata) { return *static_cast<Recorder*>(userdata); }
    static dc_status_t record(void* userdata, const std::string& call) {
        of(userdata).calls.push_back(call);
        return of(userdata).answer;
    }
};

dc_custom_cbs_t recordingCallbacks() {
    dc_custom_cbs_t cbs{};
    cbs.set_timeout = [](void* u, int ms) {
        return Recorder::record(u, "timeout " + std::to_string(ms));
    };
    cbs.set_break = [](void* u, unsigned v) {
        return Recorder::record(u, "break " + std::to_string(v));
    };
    cbs.set_dtr = [](void* u, unsigned v) {
        return Recorder::record(u, "dtr " + std::to_string(v));
    };
    cbs.set_rts = [](void* u, unsigned v) {
        return Recorder::record(u, "rts " + std::to_string(v));
    };
    cbs.get_lines = [](void* u, unsigned* v) {
        *v = DC_LINE_CTS;
        return Recorder::record(u, "lines");
    };
    cbs.get_available = [](void* u, size_t* v) {
        *v = 7;
        return Recorder::record(u, "available");
    };
    cbs.configure = [](void* u, unsigned baud, unsigned bits, dc_parity_t parity,
                       dc_stopbits_t stop, dc_flowcontrol_t flow) {
        return Recorder::record(u, "configure " + std::to_string(baud) + " " +
                                       std::to_string(bits) + " " + std::to_string(parity) + " " +
                                       std::to_string(stop) + " " + std::to_string(flow));
    };
    cbs.poll = [](void* u, int ms) { return Recorder::record(u, "poll " + std::to_string(ms)); };
    cbs.read = [](void* u, void* data, size_t size, size_t* actual) {
        std::memset(data, 'r', size / 2);
        *actual = size / 2;
        return Recorder::record(u, "read " + std::to_string(size));
    };
    cbs.write = [](void* u, const void* data, size_t size, size_t* actual) {
        *actual = size;
        return Recorder::record(u, "write " + std::string(static_cast<const char*>(data), size));
    };
    cbs.ioctl = [](void* u, unsigned request, void*, size_t size) {
        return Recorder::record(u, "ioctl " + std::to_string(request) + " " + std::to_string(size));
    };
    cbs.flush = [](void* u) { return Recorder::record(u, "flush"); };
    cbs.purge = [](void* u, dc_direction_t d) {
        return Recorder::record(u, "purge " + std::to_string(d));
    };
    cbs.sleep = [](void* u, unsigned ms) {
        return Recorder::record(u, "sleep " + std::to_string(ms));
    };
    cbs.close = [](void* u) { return Recorder::record(u, "close"); };
    return cbs;
}

using CustomStreamTest = DcsimTest;

TEST_F(CustomStreamTest, EveryCallGoesThroughItsCallbackFromACopyOfTheTable) {
    Recorder recorder;
    dc_iostream_t* raw = nullptr;
    {
        dc_custom_cbs_t cbs = recordingCallbacks();
        ASSERT_EQ(dc_custom_open(&raw, nullptr, DC_TRANSPORT_BLE, &cbs, &recorder),
                  DC_STATUS_SUCCESS);
        cbs = dc_custom_cbs_t{};  // the stream keeps its own copy
    }
    EXPECT_EQ(dcsim_live(DCSIM_IOSTREAM), 1);
    EXPECT_EQ(dc_iostream_get_transport(raw), DC_TRANSPORT_BLE);
    unsigned int lines = 0;
    size_t available = 0, actual = 99;
    char buffer[8];
    EXPECT_EQ(dc_iostream_set_timeout(raw, 3000), DC_STATUS_SUCCESS);
    EXPECT_EQ(dc_iostream_set_break(raw, 1), DC_STATUS_SUCCESS);
    EXPECT_EQ(dc_iostream_set_dtr(raw, 1), DC_STATUS_SUCCESS);
    EXPECT_EQ(dc_iostream_set_rts(raw, 0), DC_STATUS_SUCCESS);
    EXPECT_EQ(dc_iostream_get_lines(raw, &lines), DC_STATUS_SUCCESS);
    EXPECT_EQ(dc_iostream_get_available(raw, &available), DC_STATUS_SUCCESS);
    EXPECT_EQ(
        dc_iostream_configure(raw, 115200, 8, DC_PARITY_NONE, DC_STOPBITS_ONE, DC_FLOWCONTROL_NONE),
        DC_STATUS_SUCCESS);
    EXPECT_EQ(dc_iostream_poll(raw, -1), DC_STATUS_SUCCESS);
    EXPECT_EQ(dc_iostream_read(raw, buffer, sizeof buffer, &actual), DC_STATUS_SUCCESS);
    EXPECT_EQ(actual, 4u);
    EXPECT_EQ(dc_iostream_write(raw, "hi", 2, &actual), DC_STATUS_SUCCESS);
    EXPECT_EQ(actual, 2u);
    EXPECT_EQ(dc_iostream_ioctl(raw, DC_IOCTL_BLE_GET_NAME, buffer, sizeof buffer),
              DC_STATUS_SUCCESS);
    EXPECT_EQ(dc_iostream_flush(raw), DC_STATUS_SUCCESS);
    EXPECT_EQ(dc_iostream_purge(raw, DC_DIRECTION_INPUT), DC_STATUS_SUCCESS);
    EXPECT_EQ(dc_iostream_sleep(raw, 300), DC_STATUS_SUCCESS);
    recorder.answer = DC_STATUS_IO;
    EXPECT_EQ(dc_iostream_close(raw), DC_STATUS_IO);  // the callback's status
    EXPECT_EQ(lines, static_cast<unsigned int>(DC_LINE_CTS));
    EXPECT_EQ(available, 7u);
    const std::vector<std::string> expected = {
        "timeout 3000",
        "break 1",
        "dtr 1",
        "rts 0",
        "lines",
        "available",
        "configure 115200 8 0 0 0",
        "poll -1",
        "read 8",
        "write hi",
        "ioctl " + std::to_string(DC_IOCTL_BLE_GET_NAME) + " 8",
        "flush",
        "purge 1",
        "sleep 300",
        "close"};
    EXPECT_EQ(recorder.calls, expected);
}

TEST_F(CustomStreamTest, MissingCallbacksSucceedAndDoNothing) {
    dc_custom_cbs_t none{};
    dc_iostream_t* raw = nullptr;
    ASSERT_EQ(dc_custom_open(&raw, nullptr, DC_TRANSPORT_BLE, &none, nullptr), DC_STATUS_SUCCESS);
    Stream stream(raw);
    char buffer[4] = {'x', 'x', 'x', 'x'};
    size_t actual = 99;
    EXPECT_EQ(dc_iostream_read(raw, buffer, sizeof buffer, &actual), DC_STATUS_SUCCESS);
    EXPECT_EQ(actual, 0u);
    actual = 99;
    EXPECT_EQ(dc_iostream_write(raw, buffer, sizeof buffer, &actual), DC_STATUS_SUCCESS);
    EXPECT_EQ(actual, 0u);
    EXPECT_EQ(dc_iostream_ioctl(raw, DC_IOCTL_BLE_GET_NAME, buffer, sizeof buffer),
              DC_STATUS_SUCCESS);
    EXPECT_EQ(buffer[0], 'x');
    EXPECT_EQ(dc_iostream_sleep(raw, 60000), DC_STATUS_SUCCESS);
    EXPECT_EQ(dc_iostream_poll(raw, 1000), DC_STATUS_SUCCESS);
}

TEST_F(CustomStreamTest, ArgumentsAreCheckedBeforeAnyCallback) {
    Recorder recorder;
    dc_custom_cbs_t cbs = recordingCallbacks();
    dc_iostream_t* raw = nullptr;
    EXPECT_EQ(dc_custom_open(nullptr, nullptr, DC_TRANSPORT_BLE, &cbs, &recorder),
              DC_STATUS_INVALIDARGS);
    EXPECT_EQ(dc_custom_open(&raw, nullptr, DC_TRANSPORT_BLE, nullptr, &recorder),
              DC_STATUS_INVALIDARGS);
    ASSERT_EQ(dc_custom_open(&raw, nullptr, DC_TRANSPORT_BLE, &cbs, &recorder), DC_STATUS_SUCCESS);
    Stream stream(raw);
    int fixed = 0;
    const unsigned int fixedRequest = DC_IOCTL_IOR('x', 1, sizeof fixed);
    EXPECT_EQ(dc_iostream_ioctl(raw, fixedRequest, &fixed, sizeof fixed + 1),
              DC_STATUS_INVALIDARGS);
    EXPECT_EQ(dc_iostream_ioctl(raw, DC_IOCTL_BLE_GET_NAME, nullptr, 0), DC_STATUS_INVALIDARGS);
    EXPECT_TRUE(recorder.calls.empty());
    EXPECT_EQ(dc_iostream_ioctl(raw, fixedRequest, &fixed, sizeof fixed), DC_STATUS_SUCCESS);
    EXPECT_EQ(recorder.calls.size(), 1u);
}

TEST_F(CustomStreamTest, AnInjectedCloseFaultStillClosesTheApplicationsSide) {
    Recorder recorder;
    dc_custom_cbs_t cbs = recordingCallbacks();
    dc_iostream_t* raw = nullptr;
    ASSERT_EQ(dc_custom_open(&raw, nullptr, DC_TRANSPORT_BLE, &cbs, &recorder), DC_STATUS_SUCCESS);
    ASSERT_EQ(dcsim_fault("dc_iostream_close", 1, DC_STATUS_IO), 0);
    EXPECT_EQ(dc_iostream_close(raw), DC_STATUS_IO);
    EXPECT_EQ(recorder.calls, std::vector<std::string>{"close"});
}

TEST_F(CustomStreamTest, SimulatedTransportsExchangeNoBytes) {
    Stream stream = openSerial(DCSIM_BUILTIN_PORT);
    char buffer[4];
    size_t actual = 99;
    EXPECT_EQ(dc_iostream_read(stream.get(), buffer, sizeof buffer, &actual),
              DC_STATUS_UNSUPPORTED);
    EXPECT_EQ(actual, 0u);
    EXPECT_EQ(dc_iostream_set_timeout(stream.get(), 1000), DC_STATUS_UNSUPPORTED);
}

const char* const bleComputer =
    "bluetooth 00:80:25:4A:0B:1C \"Perdix Sim\"\n"
    "serial sim:perdix\n"
    "devinfo 7 81 424242\n"
    "dive\ndivetime 600\nmaxdepth 21.5\n"
    "dive\ndatetime 2024-06-01 10:00:00\ndivetime 1200\nprofile interval=10 0:00@0 5:00@30 "
    "20:00@0\n"
    "dive\ndivetime 60\n";

class BleComputerTest : public DcsimTest {
  protected:
    void SetUp() override {
        DcsimTest::SetUp();
        dcsim_descriptors_add("Simwater", "Perdix Sim", DC_FAMILY_SHEARWATER_PETREL, 0x0a,
                              DC_TRANSPORT_SERIAL | DC_TRANSPORT_BLE);
    }
    // The same dives over the computer's serial port, for comparison.
    Download overSerial() { return downloadSerial("sim:perdix", "Simwater", "Perdix Sim", 0); }

    Download overBle(BleLink& link, dc_status_t openStatus = DC_STATUS_SUCCESS) {
        Descriptor descriptor = findDescriptor("Simwater", "Perdix Sim");
        Stream stream = link.open();
        dc_device_t* raw = nullptr;
        EXPECT_EQ(dc_device_open(&raw, nullptr, descriptor.get(), stream.get()), openStatus);
        Device device(raw);
        if (openStatus != DC_STATUS_SUCCESS) {
            return Download{openStatus, {}, {}, {}, -1};
        }
        return download(device.get(), DC_EVENT_DEVINFO | DC_EVENT_PROGRESS);
    }
};

TEST_F(BleComputerTest, DownloadsTheSameDivesAsOverAWire) {
    ASSERT_EQ(dcsim_attach(bleComputer), 0) << dcsim_last_error();
    const Download expected = overSerial();
    ASSERT_EQ(expected.dives.size(), 3u);
    // Shearwater's: the start as seconds since 1970, big-endian, or the identity without one.
    EXPECT_EQ(expected.fingerprints[1], (std::vector<unsigned char>{0x66, 0x5A, 0xF1, 0x20}));
    EXPECT_EQ(expected.fingerprints[2], (std::vector<unsigned char>{1, 0, 0, 0}));
    for (size_t packetSize = 2; packetSize <= 20; ++packetSize) {
        BleLink link("Perdix Sim");
        link.packetSize = packetSize;
        const Download got = overBle(link);
        EXPECT_EQ(got.status, DC_STATUS_SUCCESS) << packetSize;
        EXPECT_EQ(got.dives, expected.dives) << packetSize;
        EXPECT_EQ(got.fingerprints, expected.fingerprints) << packetSize;
        EXPECT_EQ(link.timeout, 3000);
        ASSERT_FALSE(got.events.empty());
        EXPECT_EQ(got.events.front().type, DC_EVENT_DEVINFO);
        EXPECT_EQ(got.events.front().devinfo.serial, 424242u);
        EXPECT_EQ(got.events.back().progress.current, 3u);
        EXPECT_EQ(link.ioctls.front(), static_cast<unsigned int>(DC_IOCTL_BLE_GET_NAME));
        EXPECT_TRUE(link.closed);
    }
}

TEST_F(BleComputerTest, TheFingerprintStopsTheDownload) {
    ASSERT_EQ(dcsim_attach(bleComputer), 0) << dcsim_last_error();
    const Download all = overSerial();
    BleLink link("Perdix Sim");
    Descriptor descriptor = findDescriptor("Simwater", "Perdix Sim");
    Stream stream = link.open();
    Device device = openDevice(descriptor.get(), stream.get());
    ASSERT_EQ(all.fingerprints[1].size(), 4u) << "Shearwater's";
    ASSERT_EQ(dc_device_set_fingerprint(device.get(), all.fingerprints[1].data(), 4),
              DC_STATUS_SUCCESS);
    const Download got = download(device.get(), 0);
    EXPECT_EQ(got.status, DC_STATUS_SUCCESS);
    ASSERT_EQ(got.dives.size(), 1u);
    EXPECT_EQ(got.dives[0], all.dives[0]);
}

// No progress with a maximum of 0, over BLE as over a wire.
TEST_F(BleComputerTest, NothingToTransferSendsNoProgress) {
    ASSERT_EQ(dcsim_attach("bluetooth 00:80:25:4A:0B:1D \"Perdix Sim\"\ndevinfo 7 81 1\n"), 0)
        << dcsim_last_error();
    BleLink link("Perdix Sim");
    const Download got = overBle(link);
    EXPECT_EQ(got.status, DC_STATUS_SUCCESS);
    EXPECT_TRUE(got.dives.empty());
    for (const Event& event : got.events) {
        EXPECT_NE(event.type, DC_EVENT_PROGRESS);
    }
}

TEST_F(BleComputerTest, TheComputerChecksTheNameFromGetName) {
    ASSERT_EQ(dcsim_attach(bleComputer), 0) << dcsim_last_error();
    BleLink wrong("Perdix Sim");
    wrong.name = "Perdix Other";
    EXPECT_EQ(overBle(wrong, DC_STATUS_IO).status, DC_STATUS_IO);
    BleLink none("Perdix Sim");
    none.name.clear();
    EXPECT_EQ(overBle(none, DC_STATUS_IO).status, DC_STATUS_IO);
}

TEST_F(BleComputerTest, MergedNotificationsAreAProtocolError) {
    ASSERT_EQ(dcsim_attach(bleComputer), 0) << dcsim_last_error();
    BleLink link("Perdix Sim");
    link.mergePackets = true;
    EXPECT_EQ(overBle(link, DC_STATUS_PROTOCOL).status, DC_STATUS_PROTOCOL);
}

TEST_F(BleComputerTest, AReadTimeoutEndsTheOpenWithTheStatus) {
    ASSERT_EQ(dcsim_attach(bleComputer), 0) << dcsim_last_error();
    BleLink link("Perdix Sim");
    link.packetSize = 0;  // the computer never answers
    EXPECT_EQ(overBle(link, DC_STATUS_TIMEOUT).status, DC_STATUS_TIMEOUT);
}

TEST_F(BleComputerTest, CancellingStopsBeforeTheNextRequest) {
    ASSERT_EQ(dcsim_attach(bleComputer), 0) << dcsim_last_error();
    BleLink link("Perdix Sim");
    Descriptor descriptor = findDescriptor("Simwater", "Perdix Sim");
    Stream stream = link.open();
    Device device = openDevice(descriptor.get(), stream.get());
    ASSERT_EQ(dc_device_set_cancel(
                  device.get(), [](void*) { return 1; }, nullptr),
              DC_STATUS_SUCCESS);
    const Download got = download(device.get(), 0);
    EXPECT_EQ(got.status, DC_STATUS_CANCELLED);
    EXPECT_TRUE(got.dives.empty());
}

TEST_F(BleComputerTest, PeripheralsAreFoundByBluetoothName) {
    ASSERT_EQ(dcsim_attach(bleComputer), 0) << dcsim_last_error();
    EXPECT_EQ(dcsim_peripheral_new("Nobody"), nullptr);
    EXPECT_NE(std::string(dcsim_last_error()).find("Nobody"), std::string::npos);
    Peripheral peripheral(dcsim_peripheral_new("Perdix Sim"));
    ASSERT_NE(peripheral, nullptr);
    const unsigned char tooLong[21] = {'N'};
    EXPECT_EQ(dcsim_peripheral_write(peripheral.get(), tooLong, sizeof tooLong), -1);
    unsigned char packet[20];
    EXPECT_EQ(dcsim_peripheral_read(peripheral.get(), packet, sizeof packet), 0u);
}

#ifndef DCSIM_API_0_8

const char* const pairingComputer =
    "bluetooth 00:80:25:4A:0B:1D FH001234\n"
    "pin 123456\n"
    "dive\ndivetime 600\n";

TEST_F(BleComputerTest, PairingAsksForThePinOnceAndStoresTheAccessCode) {
    ASSERT_EQ(dcsim_attach(pairingComputer), 0) << dcsim_last_error();
    BleLink link("FH001234");
    int asked = 0;
    link.pin = [&asked](char* pin, size_t size) {
        ++asked;
        EXPECT_EQ(size, 7u);
        std::strcpy(pin, "123456");
        return DC_STATUS_SUCCESS;
    };
    Download first = overBle(link);
    EXPECT_EQ(first.status, DC_STATUS_SUCCESS);
    EXPECT_EQ(first.dives.size(), 1u);
    EXPECT_EQ(asked, 1);
    ASSERT_EQ(link.accessCode.size(), 16u);

    BleLink again("FH001234");
    again.accessCode = link.accessCode;
    again.pin = link.pin;
    EXPECT_EQ(overBle(again).dives.size(), 1u);
    EXPECT_EQ(asked, 1);  // the stored code was enough
}

TEST_F(BleComputerTest, AWrongOrMissingPinFailsTheOpen) {
    ASSERT_EQ(dcsim_attach(pairingComputer), 0) << dcsim_last_error();
    BleLink wrong("FH001234");
    wrong.pin = [](char* pin, size_t) {
        std::strcpy(pin, "654321");
        return DC_STATUS_SUCCESS;
    };
    EXPECT_EQ(overBle(wrong, DC_STATUS_NOACCESS).status, DC_STATUS_NOACCESS);
    BleLink letters("FH001234");
    letters.pin = [](char* pin, size_t) {
        std::strcpy(pin, "12ab");
        return DC_STATUS_SUCCESS;
    };
    EXPECT_EQ(overBle(letters, DC_STATUS_INVALIDARGS).status, DC_STATUS_INVALIDARGS);
    BleLink unasked("FH001234");
    EXPECT_EQ(overBle(unasked, DC_STATUS_UNSUPPORTED).status, DC_STATUS_UNSUPPORTED);
    // A code the computer no longer takes fails as 0.9.0 fails: no PIN is asked for.
    BleLink staleCode("FH001234");
    staleCode.accessCode.assign(16, 0x42);
    int asked = 0;
    staleCode.pin = [&asked](char* pin, size_t) {
        ++asked;
        std::strcpy(pin, "123456");
        return DC_STATUS_SUCCESS;
    };
    EXPECT_EQ(overBle(staleCode, DC_STATUS_PROTOCOL).status, DC_STATUS_PROTOCOL);
    EXPECT_EQ(asked, 0);
}

TEST_F(CustomStreamTest, UuidsConvertBothWays) {
    dc_ble_uuid_t uuid;
    ASSERT_EQ(dc_ble_str2uuid("6E400003-b5a3-f393-e0a9-e50e24dc10b8", uuid), 1);
    char text[DC_BLE_UUID_SIZE];
    EXPECT_STREQ(dc_ble_uuid2str(uuid, text, sizeof text), "6e400003-b5a3-f393-e0a9-e50e24dc10b8");
    EXPECT_EQ(dc_ble_uuid2str(uuid, text, sizeof text - 1), nullptr);
    EXPECT_EQ(dc_ble_str2uuid("6e400003-b5a3-f393-e0a9-e50e24dc10b", uuid), 0);
    EXPECT_EQ(dc_ble_str2uuid("6e400003b5a3-f393-e0a9-e50e24dc10b8x", uuid), 0);
}

#else

TEST_F(BleComputerTest, PairingIsBeyondThe08Api) {
    ASSERT_EQ(dcsim_attach("bluetooth 00:80:25:4A:0B:1D FH001234\npin 1234\ndive\n"), 0)
        << dcsim_last_error();
    BleLink link("FH001234");
    EXPECT_EQ(overBle(link, DC_STATUS_NOACCESS).status, DC_STATUS_NOACCESS);
}

#endif

}  // namespace
}  // namespace dcsimtest
