#include "reachable_devices.h"

#include <dcsim.h>
#include <gtest/gtest.h>
#include <libdivecomputer/common.h>
#include <libdivecomputer/version.h>

#include <algorithm>
#include <string>
#include <vector>

#include "dcsim_fixture.h"
#include "native_exception.h"

namespace diveconnector {
namespace {

using std::chrono::milliseconds;
using Names = std::vector<std::string>;

class ReachableDevicesTest : public DcsimFixture {
  protected:
    void SetUp() override {
        DcsimFixture::SetUp();
#if DC_VERSION_CHECK(0, 9, 0)
        const char* table = "/libdivecomputer-0.9.0-descriptors.tsv";
#else
        const char* table = "/libdivecomputer-0.8.0-descriptors.tsv";
#endif
        descriptorCount_ = dcsim_descriptors_load_tsv((std::string(FIXTURES_DIR) + table).c_str());
        ASSERT_GT(descriptorCount_, 0);
    }

    static void attach(const char* scenario) {
        ASSERT_EQ(dcsim_attach(scenario), 0);
    }

    static ScanResult scan(milliseconds bluetoothTime = milliseconds(1000)) {
        return findReachableDevices(bluetoothTime, SupportLog(), BluetoothSearch::kLibdivecomputer);
    }

    static const FoundDevice* findOf(const ScanResult& result, const std::string& name) {
        const auto found = std::find_if(result.found.begin(), result.found.end(),
                                        [&](const FoundDevice& f) { return f.name == name; });
        return found != result.found.end() ? &*found : nullptr;
    }

    static Names models(const FoundDevice& found) {
        Names names;
        for (const ModelName& model : found.models) {
            names.push_back(model.vendor + " " + model.product);
        }
        return names;
    }

    int descriptorCount_ = 0;
};

int transportCount(unsigned int bits) {
    int count = 0;
    for (; bits != 0; bits &= bits - 1) {
        ++count;
    }
    return count;
}

constexpr unsigned int kAllButBle =
    DC_TRANSPORT_SERIAL | DC_TRANSPORT_USB | DC_TRANSPORT_USBHID | DC_TRANSPORT_BLUETOOTH;

TEST_F(ReachableDevicesTest, FindsPortsAttachedComputersAndBluetoothDevices) {
    attach("serial sim:scan-port\n");
    attach("usbhid 0x1493 0x0030\n");
    attach("usbhid 0x1493 0x0030\n");  // a second one of the model: still one find
    attach("usb 0x0471 0x0888\n");
    attach("usbhid 0x1234 0x5678\n");  // of no dive computer
    attach("bluetooth 00:11:22:33:44:55 \"OSTC Sport 12345\"\n");
    attach("bluetooth 00:11:22:33:44:66 Headphones\n");

    const ScanResult result = scan();
    EXPECT_EQ(result.searched, kAllButBle);

    std::vector<std::string> serialPorts;
    for (const FoundDevice& found : result.found) {
        if (found.transport == DC_TRANSPORT_SERIAL) {
            serialPorts.push_back(found.port);
            EXPECT_TRUE(found.models.empty());
        }
    }
    EXPECT_NE(std::find(serialPorts.begin(), serialPorts.end(), "sim:scan-port"),
              serialPorts.end());
    EXPECT_NE(std::find(serialPorts.begin(), serialPorts.end(), DCSIM_BUILTIN_PORT),
              serialPorts.end());

    const FoundDevice* eonSteel = findOf(result, "1493:0030");
    ASSERT_NE(eonSteel, nullptr);
    EXPECT_EQ(eonSteel->port, "usbhid:");
    EXPECT_EQ(eonSteel->transport, static_cast<unsigned int>(DC_TRANSPORT_USBHID));
    EXPECT_EQ(models(*eonSteel)[0], "Suunto EON Steel");
    EXPECT_EQ(std::count_if(result.found.begin(), result.found.end(),
                            [](const FoundDevice& f) { return f.name == "1493:0030"; }),
              1);
    EXPECT_EQ(findOf(result, "1234:5678"), nullptr);

    const FoundDevice* cobalt = findOf(result, "0471:0888");
    ASSERT_NE(cobalt, nullptr);
    EXPECT_EQ(cobalt->port, "usb:");
    EXPECT_EQ(models(*cobalt)[0], "Atomic Aquatics Cobalt");

    const FoundDevice* ostc = findOf(result, "OSTC Sport 12345");
    ASSERT_NE(ostc, nullptr);
    // Found over classic Bluetooth: the bare address, which opens it that way.
    EXPECT_EQ(ostc->port, "00:11:22:33:44:55");
    EXPECT_EQ(ostc->transport, static_cast<unsigned int>(DC_TRANSPORT_BLUETOOTH));
    EXPECT_EQ(ostc->rssi, 0);
    EXPECT_EQ(models(*ostc), Names{"Heinrichs Weikamp OSTC Sport"});

    const FoundDevice* headphones = findOf(result, "Headphones");
    ASSERT_NE(headphones, nullptr);
    EXPECT_TRUE(headphones->models.empty());
}

TEST_F(ReachableDevicesTest, NoBluetoothTimeSearchesNoBluetooth) {
    attach("bluetooth 00:11:22:33:44:55 \"OSTC Sport 12345\"\n");
    const ScanResult result = scan(milliseconds(0));
    EXPECT_EQ(result.searched & DC_TRANSPORT_BLUETOOTH, 0u);
    EXPECT_EQ(findOf(result, "OSTC Sport 12345"), nullptr);
}

TEST_F(ReachableDevicesTest, AFailedSearchLeavesOnlyItsTransportOut) {
    attach("usb 0x0471 0x0888\n");
    attach("usbhid 0x1493 0x0030\n");
    attach("bluetooth 00:11:22:33:44:55 \"OSTC Sport 12345\"\n");
    for (const char* function : {"dc_usb_iterator_new", "dc_usbhid_iterator_new",
                                 "dc_serial_iterator_new", "dc_bluetooth_iterator_new"}) {
        SCOPED_TRACE(function);
        dcsim_faults_clear();
        ASSERT_EQ(dcsim_fault(function, 1, DC_STATUS_IO), 0);
        const ScanResult result = scan();
        EXPECT_EQ(transportCount(result.searched), 3);
        EXPECT_FALSE(result.found.empty());
    }
    dcsim_faults_clear();
    // The serial walk comes right after the table's (each ends with one more call): breaking it
    // after its first port drops the transport but keeps that port.
    ASSERT_EQ(dcsim_fault("dc_iterator_next", static_cast<unsigned int>(descriptorCount_) + 3,
                          DC_STATUS_IO),
              0);
    const ScanResult result = scan();
    EXPECT_EQ(result.searched & DC_TRANSPORT_SERIAL, 0u);
    EXPECT_EQ(
        std::count_if(result.found.begin(), result.found.end(),
                      [](const FoundDevice& f) { return f.transport == DC_TRANSPORT_SERIAL; }),
        1);
}

TEST_F(ReachableDevicesTest, AContextThatCannotBeCreatedFailsTheScan) {
    ASSERT_EQ(dcsim_fault("dc_context_new", 1, DC_STATUS_NOMEMORY), 0);
    try {
        static_cast<void>(scan());
        FAIL() << "no exception";
    } catch (const Exception& error) {
        EXPECT_STREQ(error.what(), "[-3]: Could not create the context.");
    }
}

}  // namespace
}  // namespace diveconnector
