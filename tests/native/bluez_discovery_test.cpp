// The discovery of nearby Bluetooth devices against a mock BlueZ on a private bus: what is listed,
// how long it takes, that the discovery is stopped, and the failures.
#include "bluez_discovery.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "elapsed_time.h"
#include "mock_bluez.h"

namespace diveconnector {
namespace {

using std::chrono::milliseconds;

constexpr char kAdapterPath[] = "/org/bluez/hci0";

// LE and classic, with and without a name, one found only by the discovery, one that BlueZ
// remembers but that does not advertise now.
constexpr char kDevices[] = R"({"adapter": ADAPTER, "devices": [
    {"address": "00:11:22:33:44:55", "name": "Perdix", "rssi": -55},
    {"address": "00:80:25:00:00:01", "name": "OSTC Sport", "rssi": -71, "classic": true},
    {"address": "C0:FF:EE:00:00:02", "rssi": -90},
    {"address": "00:11:22:33:44:66", "name": "Teric", "rssi": -48, "known": false},
    {"address": "00:11:22:33:44:00", "name": "Petrel", "nearby": false}]})";

std::string withAdapter(const std::string& adapter) {
    std::string parameters = kDevices;
    parameters.replace(parameters.find("ADAPTER"), 7, adapter);
    return parameters;
}

bool never() {
    return false;
}

TEST(BluezDiscoveryTest, ListsTheDevicesSeenWithNameSignalAndKindThenStops) {
    MockBluez bluez(withAdapter("{}"));
    std::vector<NearbyBluetoothDevice> found;
    const auto start = Clock::now();
    ASSERT_EQ(discoverNearbyDevices(milliseconds(1500), never, found), DC_STATUS_SUCCESS);
    EXPECT_GE(millisecondsSince(start), 1450);
    EXPECT_LT(millisecondsSince(start), 6500);

    ASSERT_EQ(found.size(), 4u) << "the device that does not advertise is not nearby";
    EXPECT_EQ(found[0].address, "00:11:22:33:44:55");
    EXPECT_EQ(found[0].name, "Perdix");
    EXPECT_EQ(found[0].rssi, -55);
    EXPECT_FALSE(found[0].classic);
    EXPECT_EQ(found[1].address, "00:11:22:33:44:66") << "found only by the discovery";
    EXPECT_EQ(found[1].name, "Teric");
    EXPECT_EQ(found[1].rssi, -48);
    EXPECT_EQ(found[2].address, "00:80:25:00:00:01");
    EXPECT_EQ(found[2].name, "OSTC Sport");
    EXPECT_EQ(found[2].rssi, -71);
    EXPECT_TRUE(found[2].classic);
    EXPECT_EQ(found[3].address, "C0:FF:EE:00:00:02");
    EXPECT_EQ(found[3].name, "") << "no name, not the alias BlueZ makes from the address";
    EXPECT_EQ(found[3].rssi, -90);
    EXPECT_FALSE(found[3].classic);

    EXPECT_EQ(bluez.calls(kAdapterPath, "SetDiscoveryFilter"), 1);
    EXPECT_EQ(bluez.calls(kAdapterPath, "StartDiscovery"), 1);
    EXPECT_EQ(bluez.calls(kAdapterPath, "StopDiscovery"), 1);
}

TEST(BluezDiscoveryTest, ACancellationEndsItEarlyKeepingWhatWasFound) {
    // An adapter that refuses the filter discovers all the same.
    MockBluez bluez(withAdapter(R"({"refuse_filter": true})"));
    std::atomic<bool> cancelled{false};
    std::thread canceller([&cancelled] {
        std::this_thread::sleep_for(milliseconds(1000));
        cancelled = true;
    });
    std::vector<NearbyBluetoothDevice> found;
    const auto start = Clock::now();
    EXPECT_EQ(discoverNearbyDevices(
                  milliseconds(60000), [&cancelled] { return cancelled.load(); }, found),
              DC_STATUS_SUCCESS);
    EXPECT_LT(millisecondsSince(start), 6000);
    canceller.join();
    EXPECT_EQ(found.size(), 4u);
    EXPECT_EQ(bluez.calls(kAdapterPath, "StartDiscovery"), 1);
    EXPECT_EQ(bluez.calls(kAdapterPath, "StopDiscovery"), 1);
}

TEST(BluezDiscoveryTest, ForNoTimeItChecksTheAdapterWithoutDiscovering) {
    MockBluez bluez(withAdapter("{}"));
    std::vector<NearbyBluetoothDevice> found(1);
    const auto start = Clock::now();
    EXPECT_EQ(discoverNearbyDevices(milliseconds(0), never, found), DC_STATUS_SUCCESS);
    EXPECT_LT(millisecondsSince(start), 3000);
    EXPECT_TRUE(found.empty());
    EXPECT_EQ(bluez.calls(kAdapterPath, "StartDiscovery"), 0);
}

TEST(BluezDiscoveryTest, FailuresComeQuicklyWithTheirStatus) {
    std::vector<NearbyBluetoothDevice> found(1);
    auto start = Clock::now();
    EXPECT_EQ(discoverNearbyDevices(milliseconds(10000), never, found), DC_STATUS_UNSUPPORTED)
        << "no org.bluez on the bus";
    EXPECT_LT(millisecondsSince(start), 3000);
    EXPECT_TRUE(found.empty());

    const std::string bus = std::getenv("DBUS_SYSTEM_BUS_ADDRESS");
    ASSERT_EQ(setenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent/diveconnector-bus", 1), 0);
    start = Clock::now();
    EXPECT_EQ(discoverNearbyDevices(milliseconds(10000), never, found), DC_STATUS_UNSUPPORTED)
        << "no bus";
    EXPECT_LT(millisecondsSince(start), 3000);
    setenv("DBUS_SYSTEM_BUS_ADDRESS", bus.c_str(), 1);

    for (const char* adapter : {R"({"present": false})", R"({"powered": false})"}) {
        MockBluez bluez(withAdapter(adapter));
        start = Clock::now();
        EXPECT_EQ(discoverNearbyDevices(milliseconds(10000), never, found), DC_STATUS_NODEVICE)
            << adapter;
        EXPECT_LT(millisecondsSince(start), 3000) << adapter;
        EXPECT_TRUE(found.empty());
    }
}

}  // namespace
}  // namespace diveconnector
