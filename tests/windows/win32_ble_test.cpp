// The BLE stream on Windows under wine, through the Win32 Bluetooth LE link, against simulated
// paired computers (simulated_bluetooth_api.h): the cases of the BlueZ suite
// (tests/native/ble_stream_test.cpp, BleDownloadTest), and that every file, device information
// set and registered event is released on every path.

// Before libdivecomputer's headers: windows.h has a DC_VERSION of its own.
#include "simulated_bluetooth_api.h"

#include <dcsim.h>
#include <gtest/gtest.h>
#include <libdivecomputer/ble.h>
#include <libdivecomputer/iostream.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "ble_stream.h"
#include "ble_stream_cases.h"
#include "console_ctrl_c.h"
#include "dc_handles.h"
#include "dcsim_fixture.h"
#include "device_session.h"
#include "dive_parser.h"
#include "elapsed_time.h"
#include "native_exception.h"
#include "reachable_devices.h"

namespace diveconnector {
namespace {

constexpr char kAddress[] = "00:11:22:33:44:55";
constexpr char kSecondAddress[] = "00:11:22:33:44:66";
constexpr char kVendor[] = "Simwater";
constexpr char kProduct[] = "Perdix Sim";

// Far beyond what any case takes on a loaded machine: only a hung wait fails it.
constexpr long long kGenerousMs = 30000;

// Waits, bounded, until `done` holds: for what the simulation's own thread does meanwhile.
bool eventually(const std::function<bool()>& done) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(kGenerousMs);
    while (!done()) {
        if (Clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

SimulatedComputer scripted(const char* address = kAddress) {
    SimulatedComputer computer;
    computer.address = address;
    computer.name = "FQ001124";
    return computer;
}

// Every simulation must end with nothing of it left open.
class Win32BleFixture : public DcsimFixture {
  protected:
    void TearDown() override {
        if (bluetooth_) {
            EXPECT_EQ(bluetooth_->live(), 0) << bluetooth_->liveSummary();
            EXPECT_EQ(bluetooth_->calls("BluetoothGATTRegisterEvent"),
                      bluetooth_->calls("BluetoothGATTUnregisterEvent"));
            bluetooth_.reset();
        }
        DcsimFixture::TearDown();
    }

    SimulatedBluetooth& simulate(std::vector<SimulatedComputer> computers) {
        bluetooth_.reset();
        bluetooth_.emplace(std::move(computers));
        return *bluetooth_;
    }

    std::optional<SimulatedBluetooth> bluetooth_;
};

class Win32BleStreamTest : public Win32BleFixture {
  protected:
    dc_status_t open(IostreamHandle& stream, const char* address = kAddress) {
        dc_iostream_t* raw = nullptr;
        const BleHooks hooks{[this] { return cancelled_.load(); }, nullptr, BleAccessCodes(""),
                             [this](dc_loglevel_t, const std::string& message) {
                                 const std::lock_guard<std::mutex> lock(logMutex_);
                                 logged_ += message + "\n";
                             },
                             nullptr};
        const dc_status_t status = openBleStream(nullptr, address, hooks, &raw);
        stream.reset(raw);
        return status;
    }

    IostreamHandle opened(const char* address = kAddress) {
        IostreamHandle stream;
        EXPECT_EQ(open(stream, address), DC_STATUS_SUCCESS) << logged();
        if (stream) {
            EXPECT_EQ(dc_iostream_set_timeout(stream.get(), 5000), DC_STATUS_SUCCESS);
        }
        return stream;
    }

    std::string logged() {
        const std::lock_guard<std::mutex> lock(logMutex_);
        return logged_;
    }

    std::atomic<bool> cancelled_{false};
    std::mutex logMutex_;
    std::string logged_;
};

TEST_F(Win32BleStreamTest, EachReadIsOneNotificationOfAnySizeUpTo244Bytes) {
    simulate({scripted()});
    IostreamHandle stream = opened();
    ASSERT_TRUE(stream);
    expectOneNotificationPerRead(stream.get(), 244);
}

TEST_F(Win32BleStreamTest, TheRestOfALargerPacketComesWithTheNextRead) {
    simulate({scripted()});
    IostreamHandle stream = opened();
    ASSERT_TRUE(stream);
    expectTheRestOfALargerPacketWithTheNextRead(stream.get());
}

TEST_F(Win32BleStreamTest, ABurstKeepsItsOrderAndBoundaries) {
    SimulatedBluetooth& bluetooth = simulate({scripted()});
    IostreamHandle stream = opened();
    ASSERT_TRUE(stream);
    requestNotifications(stream.get(), 600, 20);
    // All of them handed over by the system's thread before the first read.
    ASSERT_TRUE(eventually([&] { return bluetooth.counts(kAddress).notifications == 600; }));
    expectNotificationsInOrder(stream.get(), 600, "a burst");
}

TEST_F(Win32BleStreamTest, ReadsHonourA100MillisecondTimeout) {
    simulate({scripted()});
    IostreamHandle stream = opened();
    ASSERT_TRUE(stream);
    unsigned char packet[20];
    size_t actual = 99;
    ASSERT_EQ(dc_iostream_set_timeout(stream.get(), 100), DC_STATUS_SUCCESS);
    const auto start = Clock::now();
    EXPECT_EQ(dc_iostream_read(stream.get(), packet, sizeof packet, &actual), DC_STATUS_TIMEOUT);
    EXPECT_GE(millisecondsSince(start), 95);
    EXPECT_LT(millisecondsSince(start), kGenerousMs);
    EXPECT_EQ(actual, 0u);
    expectEcho(stream.get(), "after a timeout", "the link is still up");
}

TEST_F(Win32BleStreamTest, WritesUseTheProcedureTheCharacteristicAllows) {
    struct Case {
        const char* what;
        bool withResponse;
        bool withoutResponse;
    };
    for (const Case c :
         {Case{"write with response only", true, false},
          Case{"write without response only", false, true}, Case{"both", true, true}}) {
        SimulatedComputer computer = scripted();
        computer.writable = c.withResponse;
        computer.writableWithoutResponse = c.withoutResponse;
        SimulatedBluetooth& bluetooth = simulate({computer});
        {
            IostreamHandle stream = opened();
            ASSERT_TRUE(stream) << c.what;
            expectEcho(stream.get(), "hello", c.what);
        }
        const SimulatedComputerCounts counts = bluetooth.counts(kAddress);
        EXPECT_EQ(counts.droppedWrites, 0u) << c.what << ": written without response";
        EXPECT_EQ(counts.writes + counts.writesWithoutResponse, 1u) << c.what;
        if (!c.withoutResponse) {
            EXPECT_EQ(counts.writes, 1u) << c.what;
        }
        EXPECT_EQ(bluetooth.live(), 0) << c.what << ": " << bluetooth.liveSummary();
    }
}

// GET_NAME answers the name Windows shows; the characteristic ioctls read from the device.
TEST_F(Win32BleStreamTest, IoctlsAnswerTheNameAndTheCharacteristics) {
    SimulatedComputer computer = scripted();
    computer.readable = {{"6e400005-b5a3-f393-e0a9-e50e24dc10b8", {1, 2, 3}}};
    simulate({computer});
    IostreamHandle stream = opened();
    ASSERT_TRUE(stream);
    char name[9];
    ASSERT_EQ(dc_iostream_ioctl(stream.get(), DC_IOCTL_BLE_GET_NAME, name, sizeof name),
              DC_STATUS_SUCCESS);
    EXPECT_STREQ(name, "FQ001124");
#ifdef DC_IOCTL_BLE_CHARACTERISTIC_READ
    unsigned char read[16 + 2] = {};
    ASSERT_EQ(dc_ble_str2uuid("6e400005-b5a3-f393-e0a9-e50e24dc10b8", read), 1);
    ASSERT_EQ(dc_iostream_ioctl(stream.get(), DC_IOCTL_BLE_CHARACTERISTIC_READ, read, sizeof read),
              DC_STATUS_SUCCESS)
        << logged();
    EXPECT_EQ(read[16], 1);
    EXPECT_EQ(read[17], 2);
    unsigned char unknown[16 + 2] = {};
    ASSERT_EQ(dc_ble_str2uuid("6e400004-b5a3-f393-e0a9-e50e24dc10b8", unknown), 1);
    EXPECT_EQ(
        dc_iostream_ioctl(stream.get(), DC_IOCTL_BLE_CHARACTERISTIC_READ, unknown, sizeof unknown),
        DC_STATUS_UNSUPPORTED);
#endif
}

TEST_F(Win32BleStreamTest, OpeningFailuresHaveTheirStatusWithinBoundedTimeAndLeaveNothingOpen) {
    SimulatedComputer unreachable = scripted();
    unreachable.reachable = false;
    SimulatedComputer serviceless = scripted();
    serviceless.service.clear();
    struct Case {
        const char* what;
        std::optional<std::vector<SimulatedComputer>> computers;  // none: no BluetoothApis.dll
        dc_status_t status;
        const char* logged;
    };
    const Case cases[] = {
        {"not paired", std::vector<SimulatedComputer>{scripted(kSecondAddress)}, DC_STATUS_NODEVICE,
         "pair"},
        {"nothing paired at all", std::vector<SimulatedComputer>{}, DC_STATUS_NODEVICE, "pair"},
        {"no data service", std::vector<SimulatedComputer>{serviceless}, DC_STATUS_UNSUPPORTED, ""},
        {"off or out of range", std::vector<SimulatedComputer>{unreachable}, DC_STATUS_TIMEOUT, ""},
        {"no BluetoothApis.dll", std::nullopt, DC_STATUS_UNSUPPORTED, "BluetoothApis.dll"},
    };
    for (const Case& c : cases) {
        if (c.computers) {
            simulate(*c.computers);
        } else {
            bluetooth_.reset();
        }
        {
            const std::lock_guard<std::mutex> lock(logMutex_);
            logged_.clear();
        }
        const auto start = Clock::now();
        IostreamHandle stream;
        EXPECT_EQ(open(stream), c.status) << c.what << "\n" << logged();
        EXPECT_FALSE(stream) << c.what;
        EXPECT_LT(millisecondsSince(start), kGenerousMs) << c.what;
        EXPECT_NE(logged().find(c.logged), std::string::npos) << c.what << "\n" << logged();
        if (bluetooth_) {
            EXPECT_EQ(bluetooth_->live(), 0) << c.what << ": " << bluetooth_->liveSummary();
        }
    }
}

TEST_F(Win32BleStreamTest, ADisconnectEndsAWaitingRead) {
    SimulatedComputer computer = scripted();
    computer.disconnectAfter = 3;
    simulate({computer});
    IostreamHandle stream = opened();
    ASSERT_TRUE(stream);
    expectTheDisconnectToEndTheFourthRead(stream.get(), kGenerousMs);
    size_t actual = 0;
    EXPECT_EQ(dc_iostream_write(stream.get(), "x", 1, &actual), DC_STATUS_IO);
}

// The cancel libdivecomputer's backends poll, as interruptDeviceDownload and Ctrl-C set it: a
// read waiting in the middle of a long transfer ends cancelled.
TEST_F(Win32BleStreamTest, ACancelEndsAReadDuringALongTransfer) {
    SimulatedComputer computer = scripted();
    computer.gap = std::chrono::milliseconds(2);
    SimulatedBluetooth& bluetooth = simulate({computer});
    IostreamHandle stream = opened();
    ASSERT_TRUE(stream);
    ASSERT_EQ(dc_iostream_set_timeout(stream.get(), -1), DC_STATUS_SUCCESS);
    constexpr unsigned int kPackets = 60000;  // minutes at this pace
    requestNotifications(stream.get(), kPackets, 20);
    unsigned int read = 0;
    dc_status_t status = DC_STATUS_SUCCESS;
    Clock::time_point cancelledAt;
    while (status == DC_STATUS_SUCCESS && read < kPackets) {
        if (read == 50) {
            cancelledAt = Clock::now();
            cancelled_ = true;
        }
        unsigned char packet[20];
        size_t actual = 0;
        status = dc_iostream_read(stream.get(), packet, sizeof packet, &actual);
        read += status == DC_STATUS_SUCCESS;
    }
    EXPECT_EQ(status, DC_STATUS_CANCELLED);
    EXPECT_LT(millisecondsSince(cancelledAt), kGenerousMs);
    EXPECT_LT(bluetooth.counts(kAddress).notifications, kPackets);
}

TEST_F(Win32BleStreamTest, TerminalIoWritesWaitForTheCreditsTheComputerGrants) {
    {
        // One credit at the start, one more 200 ms after each write.
        SimulatedComputer computer = scripted();
        computer.terminalIo = true;
        computer.hostCredits = 1;
        computer.hostCreditDelay = std::chrono::milliseconds(200);
        SimulatedBluetooth& bluetooth = simulate({computer});
        IostreamHandle stream = opened();
        ASSERT_TRUE(stream);
        expectFiveWritesEchoed(stream.get());
        EXPECT_EQ(bluetooth.counts(kAddress).overruns, 0u) << "a write beyond the credits";
    }
    // A computer that grants none: the write fails within its bound.
    SimulatedComputer stingy = scripted();
    stingy.terminalIo = true;
    stingy.hostCredits = 0;
    SimulatedBluetooth& bluetooth = simulate({stingy});
    IostreamHandle stream = opened();
    ASSERT_TRUE(stream);
    const auto start = Clock::now();
    size_t actual = 0;
    EXPECT_EQ(dc_iostream_write(stream.get(), "x", 1, &actual), DC_STATUS_TIMEOUT);
    EXPECT_LT(millisecondsSince(start), kGenerousMs);
    EXPECT_EQ(bluetooth.counts(kAddress).overruns, 0u);
    EXPECT_NE(logged().find("granted no credit"), std::string::npos) << logged();
}

TEST_F(Win32BleStreamTest, TerminalIoCreditsCarryALongTransferWholeAndInOrder) {
    constexpr unsigned int kPackets = 1000;
    SimulatedComputer computer = scripted();
    computer.terminalIo = true;
    SimulatedBluetooth& bluetooth = simulate({computer});
    IostreamHandle stream = opened();
    ASSERT_TRUE(stream);
    requestNotifications(stream.get(), kPackets, 20);
    // A stream that is not read grants nothing more: the computer stops once the first grant is
    // used up.
    ASSERT_TRUE(eventually([&] { return bluetooth.counts(kAddress).notifications >= 254; }));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const SimulatedComputerCounts stalled = bluetooth.counts(kAddress);
    EXPECT_EQ(stalled.grants, std::vector<unsigned char>{254});
    EXPECT_EQ(stalled.notifications, 254u);
    EXPECT_EQ(stalled.waitingNotifications, kPackets - 254);
    expectNotificationsInOrder(stream.get(), kPackets, "Terminal I/O");
    const SimulatedComputerCounts done = bluetooth.counts(kAddress);
    EXPECT_EQ(done.waitingNotifications, 0u);
    expectCreditGrants(done.grants, kPackets, "Terminal I/O");
}

// Windows does not say that UnregisterEvent waits for a callback under way: one that comes after
// the stream has closed must reach nothing, not even the next stream's.
TEST_F(Win32BleStreamTest, ClosingReleasesEverythingAndALateCallbackReachesNothing) {
    SimulatedComputer computer = scripted();
    computer.callbackAfterUnregister = true;
    SimulatedBluetooth& bluetooth = simulate({computer, scripted(kSecondAddress)});
    {
        IostreamHandle stream = opened();
        ASSERT_TRUE(stream);
        EXPECT_GT(bluetooth.live(), 0);
        EXPECT_GE(bluetooth.calls("BluetoothGATTRegisterEvent"), 1u);
        EXPECT_GE(bluetooth.calls("BluetoothGATTSetDescriptorValue"), 1u);
        expectEcho(stream.get(), "first", "the first stream");
    }
    EXPECT_EQ(bluetooth.live(), 0) << bluetooth.liveSummary();
    EXPECT_EQ(bluetooth.calls("CreateFileW"), bluetooth.calls("CloseHandle"));
    EXPECT_EQ(bluetooth.calls("SetupDiGetClassDevsW"),
              bluetooth.calls("SetupDiDestroyDeviceInfoList"));
    IostreamHandle next = opened();
    ASSERT_TRUE(next);
    ASSERT_TRUE(eventually([&] { return bluetooth.counts(kAddress).lateCallbacks >= 1; }));
    expectEcho(next.get(), "second", "after a late callback of the first stream");
}

// The scan on Windows lists the LE devices paired with Windows, named and with the models their
// names tell, as ble: ports; without BluetoothApis.dll it leaves BLE unsearched.
TEST_F(Win32BleFixture, TheScanListsThePairedDevicesWithTheirModels) {
    const std::string table = std::string(FIXTURES_DIR) + "/libdivecomputer-0.9.0-descriptors.tsv";
    ASSERT_GT(dcsim_descriptors_load_tsv(table.c_str()), 0);
    SimulatedComputer perdix = scripted("C4:4F:33:12:AB:01");
    perdix.name = "Perdix 2";
    SimulatedComputer phone = scripted(kSecondAddress);
    phone.name = "Phone";
    simulate({perdix, phone});
    const auto scan = [] {
        return findReachableDevices(std::chrono::milliseconds(1), SupportLog(),
                                    BluetoothSearch::kWindows);
    };
    const ScanResult result = scan();
    EXPECT_NE(result.searched & DC_TRANSPORT_BLE, 0u);
    const auto found = [&result](const std::string& port) -> const FoundDevice* {
        for (const FoundDevice& device : result.found) {
            if (device.port == port) {
                return &device;
            }
        }
        return nullptr;
    };
    const FoundDevice* computer = found("ble:C4:4F:33:12:AB:01");
    ASSERT_NE(computer, nullptr);
    EXPECT_EQ(computer->name, "Perdix 2");
    EXPECT_EQ(computer->transport, static_cast<unsigned int>(DC_TRANSPORT_BLE));
    ASSERT_EQ(computer->models.size(), 1u);
    EXPECT_EQ(computer->models[0].vendor + " " + computer->models[0].product,
              "Shearwater Perdix 2");
    const FoundDevice* other = found(std::string("ble:") + kSecondAddress);
    ASSERT_NE(other, nullptr);
    EXPECT_EQ(other->name, "Phone");
    EXPECT_TRUE(other->models.empty());
    EXPECT_EQ(bluetooth_->live(), 0) << bluetooth_->liveSummary();

    // Found by libdivecomputer's classic search too: listed once, by its bare address.
    ASSERT_EQ(dcsim_attach("bluetooth C4:4F:33:12:AB:01 \"Perdix 2\"\n"), 0) << dcsim_last_error();
    const ScanResult both = scan();
    const auto count = [&both](const std::string& port) {
        return std::count_if(both.found.begin(), both.found.end(),
                             [&port](const FoundDevice& device) { return device.port == port; });
    };
    EXPECT_EQ(count("C4:4F:33:12:AB:01"), 1);
    EXPECT_EQ(count("ble:C4:4F:33:12:AB:01"), 0);
    EXPECT_EQ(count(std::string("ble:") + kSecondAddress), 1);

    bluetooth_.reset();
    EXPECT_EQ(scan().searched & DC_TRANSPORT_BLE, 0u) << "searched without BluetoothApis.dll";
}

// Dives in the scenario language of dcsim (dcsim/SCENARIO.md): three of every kind of sample,
// and forty long ones for a transfer of some seconds.
constexpr char kDives[] =
    "devinfo 11 82 5150\n"
    "dive\ndatetime 2024-06-01 09:00:00\ndivetime 2460\nmaxdepth 31.5\nmix 32 0\n"
    "profile interval=10 tank=0:200:60 0:00@0 3:00@30 35:00@30 41:00@0\n"
    "dive\ndatetime 2024-06-02 10:30:00\ndivetime 3000\nmaxdepth 45.2\nmix 18 45\nmix 50 0\n"
    "profile interval=4 temperature=22:12 0:00@0 4:00@45 20:00@45 50:00@0\n"
    "dive\ndatetime 2024-06-03 14:00:00\ndivetime 60\nmaxdepth 2\n";
constexpr char kLongDives[] = "devinfo 11 82 5151\ngenerate 40 samples=2000 interval=2 depth=20\n";
constexpr unsigned int kLongDiveCount = 40;

// dcsim's BLE computer of that name (dcsim/BLE.md), afresh for each connection.
class DcsimPeripheral final : public SimulatedPeripheral {
  public:
    explicit DcsimPeripheral(const std::string& name)
        : peripheral_(dcsim_peripheral_new(name.c_str())) {}

    std::optional<Packets> answer(const unsigned char* data, size_t size) override {
        Packets packets;
        dcsim_peripheral_write(peripheral_.get(), data, size);
        unsigned char packet[20];
        size_t length = 0;
        while ((length = dcsim_peripheral_read(peripheral_.get(), packet, sizeof packet)) != 0) {
            packets.emplace_back(packet, packet + length);
        }
        return packets;
    }

  private:
    struct Free {
        void operator()(dcsim_peripheral_t* peripheral) const noexcept {
            dcsim_peripheral_free(peripheral);
        }
    };
    std::unique_ptr<dcsim_peripheral_t, Free> peripheral_;
};

// Acts once the first dive has come whole.
class Listener final : public DownloadListener {
  public:
    std::function<void()> afterFirstDive;
    const InterruptSignalScope* signals = nullptr;

    bool progress(std::uint32_t, std::uint32_t) noexcept override {
        if (afterFirstDive && dcsim_calls("dc_parser_new") > 0) {
            afterFirstDive();
            afterFirstDive = nullptr;
        }
        return true;
    }
    bool waiting() noexcept override { return true; }
    bool deviceInfo(std::uint32_t, std::uint32_t, std::uint32_t) noexcept override { return true; }
    std::optional<std::string> pinCode(const std::string&, const std::string&) noexcept override {
        return std::nullopt;
    }
};

struct Download {
    std::vector<DiveRecord> dives;
    std::optional<std::int32_t> status;  // of the failure
    std::string message;
    bool stopped = false;
};

class Win32BleDownloadTest : public Win32BleFixture {
  protected:
    void SetUp() override {
        Win32BleFixture::SetUp();
        // A Shearwater Petrel-family model over serial and BLE.
        dcsim_descriptors_add(kVendor, kProduct, (10 << 16) + 1, 10,
                              DC_TRANSPORT_SERIAL | DC_TRANSPORT_BLE);
    }

    static void attach(const char* address, const char* name, const char* port, const char* dives) {
        const std::string scenario = std::string("bluetooth ") + address + " \"" + name + "\"\n" +
                                     "serial " + port + "\n" + dives;
        ASSERT_EQ(dcsim_attach(scenario.c_str()), 0) << dcsim_last_error();
    }

    static SimulatedComputer computer(const char* address, const char* name) {
        SimulatedComputer computer;
        computer.address = address;
        computer.name = name;
        computer.peripheral = [name = std::string(name)] {
            return std::make_unique<DcsimPeripheral>(name);
        };
        return computer;
    }

    static Download download(const char* port, Listener* listener = nullptr,
                             const char* product = kProduct) {
        Download result;
        const SupportLog noLog;
        const Diagnostics quiet(true, noLog);
        try {
            const DeviceSession session(port, kVendor, product, quiet);
            const DownloadInterruption interruption;
            if (listener != nullptr) {
                listener->signals = &session.signalScope();
            }
            const DeviceConnection connection(session, listener);
            result.dives = downloadDives(connection, interruption);
            result.stopped = interruption.requested() || session.signalScope().signalled();
        } catch (const Exception& error) {
            result.status = error.status();
            result.message = error.message();
        }
        return result;
    }
};

TEST_F(Win32BleDownloadTest, AWholeDownloadGivesTheSameDivesAsTheSerialOne) {
    attach(kAddress, kProduct, "sim:ble", kDives);
    const Download serial = download("sim:ble");
    ASSERT_EQ(serial.dives.size(), 3u) << serial.message;
    simulate({computer(kAddress, kProduct)});
    for (const std::string& port : {std::string("ble:") + kAddress, std::string(kAddress)}) {
        const Download ble = download(port.c_str());
        ASSERT_FALSE(ble.status) << port << ": " << ble.message;
        ASSERT_EQ(ble.dives.size(), serial.dives.size()) << port;
        for (size_t i = 0; i < serial.dives.size(); ++i) {
            const DiveRecord& expected = serial.dives[i];
            const DiveRecord& got = ble.dives[i];
            const std::string where = port + ", dive " + std::to_string(i);
            EXPECT_EQ(dc_datetime_mktime(&got.datetime), dc_datetime_mktime(&expected.datetime))
                << where;
            EXPECT_EQ(got.divetime, expected.divetime) << where;
            EXPECT_EQ(got.maxdepth, expected.maxdepth) << where;
            EXPECT_EQ(got.gasmix.oxygen, expected.gasmix.oxygen) << where;
            EXPECT_EQ(got.gasmix.helium, expected.gasmix.helium) << where;
            EXPECT_EQ(got.fingerprint, expected.fingerprint) << where;
            EXPECT_EQ(got.profile.sampleCount, expected.profile.sampleCount) << where;
            EXPECT_EQ(got.profile.timeSeries, expected.profile.timeSeries) << where;
            EXPECT_EQ(got.profile.depthSeries, expected.profile.depthSeries) << where;
            EXPECT_EQ(got.profile.pressureSeries, expected.profile.pressureSeries) << where;
            EXPECT_EQ(got.profile.temperatureSeries, expected.profile.temperatureSeries) << where;
            EXPECT_EQ(got.profile.eventSeries, expected.profile.eventSeries) << where;
        }
        EXPECT_EQ(bluetooth_->live(), 0) << port << ": " << bluetooth_->liveSummary();
    }
}

TEST_F(Win32BleDownloadTest, AComputerThatIsNotPairedFailsToOpen) {
    attach(kAddress, kProduct, "sim:ble", kDives);
    simulate({computer(kSecondAddress, "Perdix Two")});
    const auto start = Clock::now();
    const Download ble = download((std::string("ble:") + kAddress).c_str());
    EXPECT_EQ(ble.message, messages::kOpeningDevice);
    EXPECT_EQ(ble.status, DC_STATUS_NODEVICE);
    EXPECT_LT(millisecondsSince(start), kGenerousMs);
    EXPECT_TRUE(ble.dives.empty());
}

TEST_F(Win32BleDownloadTest, ADisconnectInTheMiddleFailsWithoutADive) {
    attach(kAddress, kProduct, "sim:ble", kDives);
    SimulatedComputer leaving = computer(kAddress, kProduct);
    leaving.disconnectAfter = 40;
    simulate({leaving});
    const Download ble = download((std::string("ble:") + kAddress).c_str());
    EXPECT_EQ(ble.message, messages::kDownloadingDives);
    EXPECT_EQ(ble.status, DC_STATUS_IO);
    EXPECT_TRUE(ble.dives.empty());
}

TEST_F(Win32BleDownloadTest, InterruptDeviceDownloadEndsALongTransferWithTheDivesSoFar) {
    attach(kAddress, kProduct, "sim:ble", kLongDives);
    simulate({computer(kAddress, kProduct)});
    Listener listener;
    Clock::time_point interruptedAt;
    listener.afterFirstDive = [&interruptedAt] {
        interruptedAt = Clock::now();
        interruptDeviceDownload();
    };
    const Download ble = download((std::string("ble:") + kAddress).c_str(), &listener);
    ASSERT_FALSE(ble.status) << ble.message;
    EXPECT_TRUE(ble.stopped);
    EXPECT_FALSE(ble.dives.empty());
    EXPECT_LT(ble.dives.size(), kLongDiveCount);
    EXPECT_LT(millisecondsSince(interruptedAt), kGenerousMs);
}

TEST_F(Win32BleDownloadTest, TwoDownloadsAtOnce) {
    attach(kAddress, kProduct, "sim:ble", kDives);
    attach(kSecondAddress, "Perdix Two", "sim:ble2",
           "devinfo 11 82 5152\ngenerate 3 samples=2000 interval=2 depth=20\n");
    simulate({computer(kAddress, kProduct), computer(kSecondAddress, "Perdix Two")});
    Download first, second;
    std::thread one([&] { first = download((std::string("ble:") + kAddress).c_str()); });
    std::thread two([&] { second = download((std::string("ble:") + kSecondAddress).c_str()); });
    one.join();
    two.join();
    EXPECT_EQ(first.dives.size(), 3u) << first.message;
    EXPECT_EQ(second.dives.size(), 3u) << second.message;
}

// Run with a terminal on the standard input (tests/windows/with_console.py), which gives the
// program the console whose Ctrl-C it sends.
class Win32BleConsoleTest : public Win32BleDownloadTest {};

TEST_F(Win32BleConsoleTest, CtrlCCancelsALongTransferWithoutADive) {
    attach(kAddress, kProduct, "sim:ble", kLongDives);
    simulate({computer(kAddress, kProduct)});
    Listener listener;
    bool pressed = false;
    Clock::time_point pressedAt;
    listener.afterFirstDive = [&] {
        pressedAt = Clock::now();
        pressed = sendConsoleCtrlC();
        // The console runs its handler on a thread of its own: the download goes on once the
        // SIGINT has come, so that the next cancel query meets it.
        pressed = pressed && eventually([&] { return listener.signals->signalled(); });
    };
    const Download ble = download((std::string("ble:") + kAddress).c_str(), &listener);
    ASSERT_TRUE(pressed) << "no console, or its Ctrl-C never reached the download";
    EXPECT_EQ(ble.message, messages::kDownloadingDives);
    EXPECT_EQ(ble.status, DC_STATUS_CANCELLED);
    EXPECT_TRUE(ble.dives.empty());
    EXPECT_LT(millisecondsSince(pressedAt), kGenerousMs);
}

}  // namespace
}  // namespace diveconnector
