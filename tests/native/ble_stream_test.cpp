// The BLE stream against a mock BlueZ on a private bus: packets, timeouts, writes, ioctls,
// opening failures, disconnects, cancellation, forged signals and floods.
#include "ble_stream.h"

#include <dcsim.h>
#include <gtest/gtest.h>
#include <libdivecomputer/ble.h>
#include <libdivecomputer/iostream.h>

#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "ble_stream_cases.h"
#include "dc_handles.h"
#include "elapsed_time.h"
#include "mock_bluez.h"

namespace diveconnector {
namespace {

constexpr char kAddress[] = "00:11:22:33:44:55";
constexpr char kDevicePath[] = "/org/bluez/hci0/dev_00_11_22_33_44_55";
constexpr char kNotifyPath[] = "/org/bluez/hci0/dev_00_11_22_33_44_55/service0010/char0013";
constexpr char kProperties[] = "org.freedesktop.DBus.Properties";

std::string device(const std::string& more = "") {
    return std::string(R"({"address": "00:11:22:33:44:55", "name": "FQ001124")") +
           (more.empty() ? "" : ", " + more) + "}";
}

std::string parameters(const std::string& devices, const std::string& adapter = "{}") {
    return R"({"adapter": )" + adapter + R"(, "devices": [)" + devices + "]}";
}

class BleStreamTest : public testing::Test {
  protected:
    void SetUp() override { dcsim_reset(); }
    void TearDown() override {
        EXPECT_EQ(dcsim_live_total(), 0) << "a libdivecomputer handle leaked";
        dcsim_reset();
    }

    dc_status_t open(IostreamHandle& stream, const char* address = kAddress) {
        dc_iostream_t* raw = nullptr;
        const BleHooks hooks{[this] { return cancelled_.load(); },
                             [this](const std::string& asked, const std::string& name) {
                                 askedFor_ = asked + " " + name;
                                 return pin_;
                             },
                             BleAccessCodes(stateDirectory_),
                             [this](dc_loglevel_t, const std::string& message) {
                                 const std::lock_guard<std::mutex> lock(logMutex_);
                                 logged_ += message + "\n";
                             },
                             nullptr};
        const dc_status_t status = openBleStream(nullptr, address, hooks, &raw);
        stream.reset(raw);
        return status;
    }

    IostreamHandle opened() {
        IostreamHandle stream;
        EXPECT_EQ(open(stream), DC_STATUS_SUCCESS);
        if (stream) {
            EXPECT_EQ(dc_iostream_set_timeout(stream.get(), 5000), DC_STATUS_SUCCESS);
        }
        return stream;
    }

    // What the stream told the support log.
    std::string logged() {
        const std::lock_guard<std::mutex> lock(logMutex_);
        return logged_;
    }

    // A read that must find nothing within a moment, and the link still up.
    static void expectNothingToRead(dc_iostream_t* stream, const char* why) {
        ASSERT_EQ(dc_iostream_set_timeout(stream, 300), DC_STATUS_SUCCESS);
        unsigned char packet[20];
        size_t actual = 0;
        EXPECT_EQ(dc_iostream_read(stream, packet, sizeof packet, &actual), DC_STATUS_TIMEOUT)
            << why;
        ASSERT_EQ(dc_iostream_set_timeout(stream, 5000), DC_STATUS_SUCCESS);
    }

    std::atomic<bool> cancelled_{false};
    std::optional<std::string> pin_;
    std::mutex logMutex_;
    std::string logged_;
    std::string askedFor_;
    std::string stateDirectory_;
};

TEST_F(BleStreamTest, EachReadIsOneNotificationOfAnySizeUpToTheMtu) {
    MockBluez bluez(parameters(device()));
    IostreamHandle stream = opened();
    ASSERT_TRUE(stream);
    expectOneNotificationPerRead(stream.get(), 244);
}

TEST_F(BleStreamTest, TheRestOfALargerPacketComesWithTheNextRead) {
    MockBluez bluez(parameters(device()));
    IostreamHandle stream = opened();
    ASSERT_TRUE(stream);
    expectTheRestOfALargerPacketWithTheNextRead(stream.get());
}

TEST_F(BleStreamTest, ABurstKeepsItsOrderAndBoundaries) {
    MockBluez bluez(parameters(device()));
    IostreamHandle stream = opened();
    ASSERT_TRUE(stream);
    requestNotifications(stream.get(), 600, 20);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));  // let them queue up
    expectNotificationsInOrder(stream.get(), 600, "a burst");
}

TEST_F(BleStreamTest, ReadsHonourTheTimeout) {
    MockBluez bluez(parameters(device()));
    IostreamHandle stream = opened();
    ASSERT_TRUE(stream);
    unsigned char packet[20];
    size_t actual = 99;
    ASSERT_EQ(dc_iostream_set_timeout(stream.get(), 100), DC_STATUS_SUCCESS);
    auto start = Clock::now();
    EXPECT_EQ(dc_iostream_read(stream.get(), packet, sizeof packet, &actual), DC_STATUS_TIMEOUT);
    EXPECT_GE(millisecondsSince(start), 95);
    EXPECT_LT(millisecondsSince(start), 1500);
    EXPECT_EQ(actual, 0u);
    ASSERT_EQ(dc_iostream_set_timeout(stream.get(), 0), DC_STATUS_SUCCESS);
    start = Clock::now();
    EXPECT_EQ(dc_iostream_read(stream.get(), packet, sizeof packet, &actual), DC_STATUS_TIMEOUT);
    EXPECT_LT(millisecondsSince(start), 500);
    start = Clock::now();
    EXPECT_EQ(dc_iostream_poll(stream.get(), 100), DC_STATUS_TIMEOUT);
    EXPECT_GE(millisecondsSince(start), 95);
}

TEST_F(BleStreamTest, PollSleepAndPurge) {
    MockBluez bluez(parameters(device(R"("gap_ms": 20)")));
    IostreamHandle stream = opened();
    ASSERT_TRUE(stream);
    requestNotifications(stream.get(), 10, 20);
    EXPECT_EQ(dc_iostream_poll(stream.get(), 3000), DC_STATUS_SUCCESS);
    unsigned char part[5];
    size_t actual = 0;
    ASSERT_EQ(dc_iostream_read(stream.get(), part, sizeof part, &actual), DC_STATUS_SUCCESS);
    // Sleeping keeps the packets coming; purging drops them, the partly read one included.
    const auto start = Clock::now();
    EXPECT_EQ(dc_iostream_sleep(stream.get(), 500), DC_STATUS_SUCCESS);
    EXPECT_GE(millisecondsSince(start), 495);
    EXPECT_EQ(dc_iostream_purge(stream.get(), DC_DIRECTION_INPUT), DC_STATUS_SUCCESS);
    ASSERT_EQ(dc_iostream_set_timeout(stream.get(), 0), DC_STATUS_SUCCESS);
    EXPECT_EQ(dc_iostream_read(stream.get(), part, sizeof part, &actual), DC_STATUS_TIMEOUT);
    EXPECT_EQ(dc_iostream_configure(stream.get(), 115200, 8, DC_PARITY_NONE, DC_STOPBITS_ONE,
                                    DC_FLOWCONTROL_NONE),
              DC_STATUS_SUCCESS);
    EXPECT_EQ(dc_iostream_set_dtr(stream.get(), 1), DC_STATUS_SUCCESS);
    EXPECT_EQ(dc_iostream_set_rts(stream.get(), 1), DC_STATUS_SUCCESS);
}

TEST_F(BleStreamTest, WritesUseTheProcedureTheCharacteristicAllows) {
    // The mock refuses a write type the characteristic does not allow, as BlueZ does.
    for (const char* flags :
         {R"("write_flags": ["write"])", R"("write_flags": ["write-without-response"])"}) {
        MockBluez bluez(parameters(device(flags)));
        IostreamHandle stream = opened();
        ASSERT_TRUE(stream);
        const unsigned char echo[] = {'h', 'e', 'l', 'l', 'o'};
        size_t actual = 0;
        ASSERT_EQ(dc_iostream_write(stream.get(), echo, sizeof echo, &actual), DC_STATUS_SUCCESS)
            << flags;
        unsigned char packet[20];
        ASSERT_EQ(dc_iostream_read(stream.get(), packet, sizeof packet, &actual),
                  DC_STATUS_SUCCESS);
        EXPECT_EQ(std::string(packet, packet + actual), "hello");
    }
}

TEST_F(BleStreamTest, IoctlsAnswerTheNameAndTheCharacteristics) {
    MockBluez bluez(parameters(device(
        R"("extra": {"uuid": "6e400005-b5a3-f393-e0a9-e50e24dc10b8", "value": [1, 2, 3]})")));
    IostreamHandle stream = opened();
    ASSERT_TRUE(stream);
    char name[9];
    ASSERT_EQ(dc_iostream_ioctl(stream.get(), DC_IOCTL_BLE_GET_NAME, name, sizeof name),
              DC_STATUS_SUCCESS);
    EXPECT_STREQ(name, "FQ001124");
    char small[4];
    ASSERT_EQ(dc_iostream_ioctl(stream.get(), DC_IOCTL_BLE_GET_NAME, small, sizeof small),
              DC_STATUS_SUCCESS);
    EXPECT_EQ(std::string(small, 4), "FQ00");
#ifdef DC_IOCTL_BLE_CHARACTERISTIC_READ
    unsigned char read[16 + 2] = {};
    ASSERT_EQ(dc_ble_str2uuid("6e400005-b5a3-f393-e0a9-e50e24dc10b8", read), 1);
    ASSERT_EQ(dc_iostream_ioctl(stream.get(), DC_IOCTL_BLE_CHARACTERISTIC_READ, read, sizeof read),
              DC_STATUS_SUCCESS);
    EXPECT_EQ(read[16], 1);
    EXPECT_EQ(read[17], 2);
    unsigned char unknown[16 + 2] = {};
    ASSERT_EQ(dc_ble_str2uuid("6e400004-b5a3-f393-e0a9-e50e24dc10b8", unknown), 1);
    EXPECT_EQ(
        dc_iostream_ioctl(stream.get(), DC_IOCTL_BLE_CHARACTERISTIC_READ, unknown, sizeof unknown),
        DC_STATUS_UNSUPPORTED);
    char pin[7];
    EXPECT_EQ(dc_iostream_ioctl(stream.get(), DC_IOCTL_BLE_GET_PINCODE, pin, sizeof pin),
              DC_STATUS_UNSUPPORTED);
#endif
    int other = 0;
    EXPECT_EQ(dc_iostream_ioctl(stream.get(), 0x40047801u, &other, sizeof other),
              DC_STATUS_UNSUPPORTED);
}

#ifdef DC_IOCTL_BLE_GET_PINCODE
TEST_F(BleStreamTest, PinAndAccessCodesGoThroughTheHooks) {
    char directory[] = "/tmp/diveconnector-ble-state.XXXXXX";
    ASSERT_NE(mkdtemp(directory), nullptr);
    stateDirectory_ = directory;
    MockBluez bluez(parameters(device()));
    IostreamHandle stream = opened();
    ASSERT_TRUE(stream);

    pin_ = "123456";
    char pin[7] = {};
    ASSERT_EQ(dc_iostream_ioctl(stream.get(), DC_IOCTL_BLE_GET_PINCODE, pin, sizeof pin),
              DC_STATUS_SUCCESS);
    EXPECT_STREQ(pin, "123456");
    EXPECT_EQ(askedFor_, "00:11:22:33:44:55 FQ001124");
    pin_ = "1234567";
    EXPECT_EQ(dc_iostream_ioctl(stream.get(), DC_IOCTL_BLE_GET_PINCODE, pin, sizeof pin),
              DC_STATUS_INVALIDARGS)
        << "no room for it";
    pin_.reset();
    EXPECT_EQ(dc_iostream_ioctl(stream.get(), DC_IOCTL_BLE_GET_PINCODE, pin, sizeof pin),
              DC_STATUS_UNSUPPORTED);

    unsigned char code[16];
    ASSERT_EQ(dc_iostream_ioctl(stream.get(), DC_IOCTL_BLE_GET_ACCESSCODE, code, sizeof code),
              DC_STATUS_SUCCESS);
    EXPECT_EQ(std::vector<unsigned char>(code, code + 16), std::vector<unsigned char>(16, 0))
        << "none stored";
    unsigned char handed[16];
    for (unsigned char i = 0; i < 16; ++i) {
        handed[i] = static_cast<unsigned char>(0xA0 + i);
    }
    ASSERT_EQ(dc_iostream_ioctl(stream.get(), DC_IOCTL_BLE_SET_ACCESSCODE, handed, sizeof handed),
              DC_STATUS_SUCCESS);
    ASSERT_EQ(dc_iostream_ioctl(stream.get(), DC_IOCTL_BLE_GET_ACCESSCODE, code, sizeof code),
              DC_STATUS_SUCCESS);
    EXPECT_EQ(std::vector<unsigned char>(code, code + 16),
              std::vector<unsigned char>(handed, handed + 16));
    const std::string file = std::string(directory) + "/ble-access-codes/00_11_22_33_44_55";
    struct stat status {};
    ASSERT_EQ(stat(file.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 077, 0u) << "readable by the user only";
    std::remove(file.c_str());
    rmdir((std::string(directory) + "/ble-access-codes").c_str());
    rmdir(directory);
}

TEST_F(BleStreamTest, WithoutAStateDirectoryAccessCodesLastForTheProcess) {
    // An address of its own: the codes other tests hand over stay in the process too.
    constexpr char address[] = "00:11:22:33:44:A0";
    MockBluez bluez(parameters(R"({"address": "00:11:22:33:44:A0", "name": "FH001234"})"));
    unsigned char handed[16];
    for (unsigned char i = 0; i < 16; ++i) {
        handed[i] = static_cast<unsigned char>(0x70 + i);
    }
    unsigned char code[16];
    {
        IostreamHandle stream;
        ASSERT_EQ(open(stream, address), DC_STATUS_SUCCESS);
        ASSERT_EQ(dc_iostream_ioctl(stream.get(), DC_IOCTL_BLE_GET_ACCESSCODE, code, sizeof code),
                  DC_STATUS_SUCCESS);
        EXPECT_EQ(std::vector<unsigned char>(code, code + 16), std::vector<unsigned char>(16, 0));
        ASSERT_EQ(
            dc_iostream_ioctl(stream.get(), DC_IOCTL_BLE_SET_ACCESSCODE, handed, sizeof handed),
            DC_STATUS_SUCCESS);
    }
    // The code a new connection of the same process is given back.
    const auto codeOnANewConnection = [&] {
        IostreamHandle stream;
        EXPECT_EQ(open(stream, address), DC_STATUS_SUCCESS);
        EXPECT_EQ(dc_iostream_ioctl(stream.get(), DC_IOCTL_BLE_GET_ACCESSCODE, code, sizeof code),
                  DC_STATUS_SUCCESS);
        return std::vector<unsigned char>(code, code + 16);
    };
    const std::vector<unsigned char> expected(handed, handed + 16);
    EXPECT_EQ(codeOnANewConnection(), expected);
    char directory[] = "/tmp/diveconnector-ble-state.XXXXXX";
    ASSERT_NE(mkdtemp(directory), nullptr);
    stateDirectory_ = directory;
    EXPECT_EQ(codeOnANewConnection(), expected)
        << "a state directory configured later that has no file for the device";
    rmdir(directory);
}
#endif

TEST_F(BleStreamTest, TerminalIoCreditsCarryALongTransferWholeAndInOrder) {
    constexpr unsigned int kPackets = 1000;
    for (const char* pace : {R"("terminal_io": true)", R"("terminal_io": true, "gap_ms": 1)"}) {
        MockBluez bluez(parameters(device(pace)));
        IostreamHandle stream = opened();
        ASSERT_TRUE(stream);
        requestNotifications(stream.get(), kPackets, 20);
        // A stream that is not read grants nothing more: the device stops when the first grant
        // is used up.
        const auto deadline = Clock::now() + std::chrono::seconds(20);
        while (bluez.credits(kDevicePath).sent < 254 && Clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        const MockBluez::Credits stalled = bluez.credits(kDevicePath);
        EXPECT_EQ(stalled.grants, std::vector<unsigned char>{254}) << pace;
        EXPECT_EQ(stalled.sent, 254u) << pace;
        EXPECT_EQ(stalled.waiting, kPackets - 254) << pace;

        // The credits the device indicates for the client's writes never come as data.
        expectNotificationsInOrder(stream.get(), kPackets, pace);
        const MockBluez::Credits done = bluez.credits(kDevicePath);
        EXPECT_EQ(done.sent, kPackets) << pace;
        EXPECT_EQ(done.waiting, 0u) << pace;
        expectCreditGrants(done.grants, kPackets, pace);
    }
}

TEST_F(BleStreamTest, ADeviceWithoutNameAnswersUnsupportedToGetName) {
    MockBluez bluez(parameters(R"({"address": "00:11:22:33:44:55"})"));
    IostreamHandle stream = opened();
    ASSERT_TRUE(stream);
    char name[9];
    EXPECT_EQ(dc_iostream_ioctl(stream.get(), DC_IOCTL_BLE_GET_NAME, name, sizeof name),
              DC_STATUS_UNSUPPORTED);
}

TEST_F(BleStreamTest, ClosingStopsNotificationsAndDisconnects) {
    MockBluez bluez(parameters(device()));
    {
        IostreamHandle stream = opened();
        ASSERT_TRUE(stream);
        EXPECT_EQ(bluez.calls(std::string(kDevicePath) + "/service0010/char0013", "StartNotify"),
                  1);
    }
    EXPECT_EQ(bluez.calls(std::string(kDevicePath) + "/service0010/char0013", "StopNotify"), 1);
    EXPECT_EQ(bluez.calls(kDevicePath, "Disconnect"), 1);
}

TEST_F(BleStreamTest, ADeviceFoundOnlyByDiscoveryOpens) {
    MockBluez bluez(parameters(device(R"("known": false)")));
    IostreamHandle stream = opened();
    ASSERT_TRUE(stream);
    EXPECT_EQ(bluez.calls("/org/bluez/hci0", "StartDiscovery"), 1);
    EXPECT_EQ(bluez.calls("/org/bluez/hci0", "StopDiscovery"), 1);
}

TEST_F(BleStreamTest, OpeningFailuresHaveTheirStatusWithinBoundedTime) {
    struct Case {
        const char* what;
        std::string parameters;
        dc_status_t status;
    };
    const Case cases[] = {
        {"no adapter", parameters(device(), R"({"present": false})"), DC_STATUS_NODEVICE},
        {"adapter off", parameters(device(), R"({"powered": false})"), DC_STATUS_NODEVICE},
        {"refused", parameters(device(R"("refuse": true)")), DC_STATUS_IO},
        {"no service", parameters(device(R"("service": "none")")), DC_STATUS_UNSUPPORTED},
        {"standard service only",
         parameters(device(R"("service": "0000180a-0000-1000-8000-00805f9b34fb")")),
         DC_STATUS_UNSUPPORTED},
    };
    for (const Case& c : cases) {
        MockBluez bluez(c.parameters);
        const auto start = Clock::now();
        IostreamHandle stream;
        EXPECT_EQ(open(stream), c.status) << c.what;
        EXPECT_FALSE(stream) << c.what;
        EXPECT_LT(millisecondsSince(start), 5000) << c.what;
    }
}

TEST_F(BleStreamTest, ADeviceNeverFoundFailsAfterTheDiscoveryTime) {
    MockBluez bluez(parameters(device()));
    const auto start = Clock::now();
    IostreamHandle stream;
    EXPECT_EQ(open(stream, "00:11:22:33:44:66"), DC_STATUS_NODEVICE);
    EXPECT_GE(millisecondsSince(start), 9500);
    EXPECT_LT(millisecondsSince(start), 20000);
}

TEST_F(BleStreamTest, WithoutBlueZOpeningFailsAtOnce) {
    IostreamHandle stream;
    auto start = Clock::now();
    EXPECT_EQ(open(stream), DC_STATUS_UNSUPPORTED) << "no org.bluez on the bus";
    EXPECT_LT(millisecondsSince(start), 3000);

    const std::string bus = std::getenv("DBUS_SYSTEM_BUS_ADDRESS");
    ASSERT_EQ(setenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent/diveconnector-bus", 1), 0);
    start = Clock::now();
    EXPECT_EQ(open(stream), DC_STATUS_UNSUPPORTED) << "no bus";
    EXPECT_LT(millisecondsSince(start), 3000);
    setenv("DBUS_SYSTEM_BUS_ADDRESS", bus.c_str(), 1);
}

TEST_F(BleStreamTest, ADisconnectEndsAWaitingReadAtOnce) {
    MockBluez bluez(parameters(device(R"("disconnect_after": 3)")));
    IostreamHandle stream = opened();
    ASSERT_TRUE(stream);
    expectTheDisconnectToEndTheFourthRead(stream.get(), 2000);
    size_t actual = 0;
    EXPECT_EQ(dc_iostream_write(stream.get(), "x", 1, &actual), DC_STATUS_IO);
}

TEST_F(BleStreamTest, CancellingEndsAWaitingRead) {
    MockBluez bluez(parameters(device()));
    IostreamHandle stream = opened();
    ASSERT_TRUE(stream);
    ASSERT_EQ(dc_iostream_set_timeout(stream.get(), -1), DC_STATUS_SUCCESS);
    std::thread canceller([this] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        cancelled_ = true;
    });
    const auto start = Clock::now();
    unsigned char packet[20];
    size_t actual = 0;
    EXPECT_EQ(dc_iostream_read(stream.get(), packet, sizeof packet, &actual), DC_STATUS_CANCELLED);
    EXPECT_LT(millisecondsSince(start), 1500);
    canceller.join();
}

TEST_F(BleStreamTest, TwoDevicesAtOnceOnTwoThreads) {
    MockBluez bluez(parameters(device() + R"(, {"address": "00:11:22:33:44:77", "name": "B"})"));
    auto transfer = [this](const char* address, int& received) {
        IostreamHandle stream;
        ASSERT_EQ(open(stream, address), DC_STATUS_SUCCESS);
        ASSERT_EQ(dc_iostream_set_timeout(stream.get(), 5000), DC_STATUS_SUCCESS);
        requestNotifications(stream.get(), 200, 20);
        unsigned char packet[20];
        size_t actual = 0;
        while (received < 200 &&
               dc_iostream_read(stream.get(), packet, sizeof packet, &actual) ==
                   DC_STATUS_SUCCESS &&
               packet[0] == scriptByte(static_cast<unsigned int>(received), 0)) {
            ++received;
        }
    };
    int first = 0, second = 0;
    std::thread one([&] { transfer(kAddress, first); });
    std::thread two([&] { transfer("00:11:22:33:44:77", second); });
    one.join();
    two.join();
    EXPECT_EQ(first, 200);
    EXPECT_EQ(second, 200);
}

TEST_F(BleStreamTest, OnlyTheSignalsOfBluezCountAndOnlyInTheirOwnTypes) {
    MockBluez bluez(parameters(device()));
    IostreamHandle stream = opened();
    ASSERT_TRUE(stream);
    // Any client of the system bus may emit BlueZ's signals on BlueZ's paths.
    ASSERT_TRUE(bluez.emit(
        MockBluez::kForged, kNotifyPath, kProperties, "PropertiesChanged", [](sd_bus_message* m) {
            return sd_bus_message_append(m, "sa{sv}as", "org.bluez.GattCharacteristic1", 1, "Value",
                                         "ay", 3, 'b', 'a', 'd', 0);
        }));
    expectNothingToRead(stream.get(), "a forged notification");
    ASSERT_TRUE(bluez.emit(MockBluez::kForged, kDevicePath, kProperties, "PropertiesChanged",
                           [](sd_bus_message* m) {
                               return sd_bus_message_append(m, "sa{sv}as", "org.bluez.Device1", 1,
                                                            "Connected", "b", 0, 0);
                           }));
    ASSERT_TRUE(bluez.emit(MockBluez::kForged, "/", "org.freedesktop.DBus.ObjectManager",
                           "InterfacesRemoved", [](sd_bus_message* m) {
                               return sd_bus_message_append(m, "oas", kDevicePath, 1,
                                                            "org.bluez.Device1");
                           }));
    expectEcho(stream.get(), "still there", "after a forged disconnect and removal");
    // BlueZ's own signals, in types BlueZ never gives them, are ignored too.
    ASSERT_TRUE(bluez.emit(MockBluez::kAsBluez, kDevicePath, kProperties, "PropertiesChanged",
                           [](sd_bus_message* m) {
                               return sd_bus_message_append(m, "sa{sv}as", "org.bluez.Device1", 1,
                                                            "Connected", "s", "0", 0);
                           }));
    ASSERT_TRUE(bluez.emit(
        MockBluez::kAsBluez, kNotifyPath, kProperties, "PropertiesChanged", [](sd_bus_message* m) {
            return sd_bus_message_append(m, "sa{sv}as", "org.bluez.GattCharacteristic1", 1, "Value",
                                         "s", "bad", 0);
        }));
    expectNothingToRead(stream.get(), "a notification as text");
    expectEcho(stream.get(), "typed", "after a Connected of type string");
    EXPECT_NE(logged().find("Connected as type \"s\""), std::string::npos) << logged();
    EXPECT_NE(logged().find("notification as type \"s\""), std::string::npos) << logged();

    // BlueZ restarting: whoever owns the name now, the link is gone.
    const Bus successor = MockBluez::takeOverBluez();
    ASSERT_TRUE(successor);
    const auto start = Clock::now();
    unsigned char packet[20];
    size_t actual = 0;
    EXPECT_EQ(dc_iostream_read(stream.get(), packet, sizeof packet, &actual), DC_STATUS_IO);
    EXPECT_LT(millisecondsSince(start), 3000);
    EXPECT_NE(logged().find("BlueZ left the bus"), std::string::npos) << logged();
}

TEST_F(BleStreamTest, AFloodOfUnreadNotificationsFailsTheStreamAndSaysWhy) {
    MockBluez bluez(parameters(device()));
    IostreamHandle stream = opened();
    ASSERT_TRUE(stream);
    requestNotifications(stream.get(), 17000, 1);
    // Sleeping queues them all unread; past the bound the stream fails at once.
    const auto start = Clock::now();
    EXPECT_EQ(dc_iostream_sleep(stream.get(), 120000), DC_STATUS_IO);
    EXPECT_LT(millisecondsSince(start), 60000);
    unsigned char packet[20];
    size_t actual = 0;
    EXPECT_EQ(dc_iostream_read(stream.get(), packet, sizeof packet, &actual), DC_STATUS_IO);
    EXPECT_NE(logged().find("floods the link"), std::string::npos) << logged();
}

TEST_F(BleStreamTest, ACancelEndsAnOpeningWhateverBluezIsDoing) {
    struct Case {
        const char* what;
        std::string device;
    };
    const Case cases[] = {
        {"Connect answers after 30 s", device(R"("connect_delay_ms": 30000)")},
        {"StartNotify answers after 30 s", device(R"("notify_delay_ms": 30000)")},
        {"a discovery that finds nothing", device(R"("known": false, "nearby": false)")},
    };
    for (const Case& c : cases) {
        MockBluez bluez(parameters(c.device));
        cancelled_ = false;
        std::thread canceller([this] {
            std::this_thread::sleep_for(std::chrono::milliseconds(500));
            cancelled_ = true;
        });
        const auto start = Clock::now();
        IostreamHandle stream;
        EXPECT_EQ(open(stream), DC_STATUS_CANCELLED) << c.what;
        // Far below the 20 s a blocking Connect took, whatever the machine's load.
        EXPECT_LT(millisecondsSince(start), 5000) << c.what;
        canceller.join();
        EXPECT_FALSE(stream) << c.what;
    }
    cancelled_ = false;
}

TEST_F(BleStreamTest, ARefusedConnectIsTriedTwiceMore) {
    struct Case {
        int refusals;
        dc_status_t status;
    };
    for (const Case c :
         {Case{1, DC_STATUS_SUCCESS}, Case{2, DC_STATUS_SUCCESS}, Case{3, DC_STATUS_IO}}) {
        MockBluez bluez(parameters(device(R"("connect_fail": )" + std::to_string(c.refusals))));
        const auto start = Clock::now();
        IostreamHandle stream;
        EXPECT_EQ(open(stream), c.status) << c.refusals << " refusals";
        EXPECT_LT(millisecondsSince(start), 10000) << c.refusals << " refusals";
        EXPECT_EQ(bluez.calls(kDevicePath, "Connect"), std::min(c.refusals + 1, 3))
            << c.refusals << " refusals";
        if (stream) {
            expectEcho(stream.get(), "connected", "after refusals");
        }
    }
    EXPECT_NE(logged().find("le-connection-abort-by-local"), std::string::npos) << logged();
}

TEST_F(BleStreamTest, OnlyTheRemovalOfTheDeviceEndsTheLink) {
    MockBluez bluez(parameters(device()));
    IostreamHandle stream = opened();
    ASSERT_TRUE(stream);
    const auto removed = [&bluez](const char* path, const char* interface) {
        return bluez.emit(MockBluez::kAsBluez, "/", "org.freedesktop.DBus.ObjectManager",
                          "InterfacesRemoved", [path, interface](sd_bus_message* m) {
                              return sd_bus_message_append(m, "oas", path, 1, interface);
                          });
    };
    ASSERT_TRUE(removed(kDevicePath, "org.bluez.Battery1"));
    ASSERT_TRUE(removed("/org/bluez/hci0/dev_00_11_22_33_44_99", "org.bluez.Device1"));
    expectNothingToRead(stream.get(), "another interface, another device");
    expectEcho(stream.get(), "still there", "after other removals");
    ASSERT_TRUE(removed(kDevicePath, "org.bluez.Device1"));
    ASSERT_EQ(dc_iostream_set_timeout(stream.get(), -1), DC_STATUS_SUCCESS);
    const auto start = Clock::now();
    unsigned char packet[20];
    size_t actual = 0;
    EXPECT_EQ(dc_iostream_read(stream.get(), packet, sizeof packet, &actual), DC_STATUS_IO);
    EXPECT_LT(millisecondsSince(start), 3000);
}

TEST_F(BleStreamTest, AnyPoweredAdapterAndAnotherProgramsConnectionServe) {
    struct Case {
        const char* what;
        std::string parameters;
        const char* devicePath;
        int connects;
        int disconnects;
    };
    const Case cases[] = {
        {"under the second adapter",
         R"({"second_adapter": {}, "devices": [)" + device(R"("adapter": "hci1")") + "]}",
         "/org/bluez/hci1/dev_00_11_22_33_44_55", 1, 1},
        {"connected by another program", parameters(device(R"("connected": true)")), kDevicePath, 0,
         0},
    };
    for (const Case& c : cases) {
        MockBluez bluez(c.parameters);
        {
            IostreamHandle stream = opened();
            ASSERT_TRUE(stream) << c.what;
            expectEcho(stream.get(), "hello", c.what);
            EXPECT_EQ(bluez.calls(c.devicePath, "Connect"), c.connects) << c.what;
        }
        EXPECT_EQ(bluez.calls(c.devicePath, "Disconnect"), c.disconnects)
            << c.what << ": only the library's own connection is closed by it";
    }
}

TEST_F(BleStreamTest, TerminalIoWritesWaitForTheCreditsTheDeviceGrants) {
    {
        // One credit at the start, one more 200 ms after each write.
        MockBluez bluez(parameters(
            device(R"("terminal_io": true, "host_credits": 1, "host_credit_delay_ms": 200)")));
        IostreamHandle stream = opened();
        ASSERT_TRUE(stream);
        expectFiveWritesEchoed(stream.get());
        EXPECT_EQ(bluez.credits(kDevicePath).overruns, 0u) << "a write beyond the device's credits";
    }
    // A device that grants none: the write fails within its bound.
    MockBluez bluez(parameters(device(R"("terminal_io": true, "host_credits": 0)")));
    IostreamHandle stream = opened();
    ASSERT_TRUE(stream);
    const auto start = Clock::now();
    size_t actual = 0;
    EXPECT_EQ(dc_iostream_write(stream.get(), "x", 1, &actual), DC_STATUS_TIMEOUT);
    EXPECT_LT(millisecondsSince(start), 20000);
    EXPECT_EQ(bluez.credits(kDevicePath).overruns, 0u);
    EXPECT_NE(logged().find("granted no credit"), std::string::npos) << logged();
}

}  // namespace
}  // namespace diveconnector
