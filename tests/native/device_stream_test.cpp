#include "device_stream.h"

#include <dcsim.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>

#include "dcsim_fixture.h"
#include "device_session.h"
#include "native_exception.h"

namespace diveconnector {
namespace {

constexpr unsigned int kAllButBle = DC_TRANSPORT_SERIAL | DC_TRANSPORT_USB | DC_TRANSPORT_USBHID |
                                    DC_TRANSPORT_IRDA | DC_TRANSPORT_BLUETOOTH;

// One computer reachable on every transport dcsim simulates.
constexpr char kEverywhere[] = R"(
devinfo 1 1 777
serial sim:port
usb 0x1234 0x0001
usbhid 0x1234 0x0002
irda 0x2a "Irda Computer"
bluetooth 00:11:22:AA:bb:cc "Bluetooth Computer"
)";

class DeviceStreamTest : public DcsimFixture {
  protected:
    void SetUp() override {
        DcsimFixture::SetUp();
        dcsim_descriptors_clear();
        ASSERT_EQ(dcsim_attach(kEverywhere), 0) << dcsim_last_error();
    }

    // Opens `name` for a model supporting `transports`; the transport that was opened, or the
    // failure's description.
    static std::string open(unsigned int transports, const char* name) {
        dcsim_descriptors_clear();
        dcsim_descriptors_add("Test", "Model", 0x10004, 0, transports);
        try {
            const DeviceSession session(name, "Test", "Model", Diagnostics::standard());
            const DeviceConnection connection(session, nullptr);
            unsigned int model = 0, transport = 0;
            char vendor[32], product[32];
            dcsim_last_open(vendor, sizeof vendor, product, sizeof product, &model, &transport);
            return transportName(transport);
        } catch (const Exception& error) {
            return error.what();
        }
    }

    static std::string transportName(unsigned int transport) {
        switch (transport) {
            case DC_TRANSPORT_SERIAL:
                return "serial";
            case DC_TRANSPORT_USB:
                return "usb";
            case DC_TRANSPORT_USBHID:
                return "usbhid";
            case DC_TRANSPORT_IRDA:
                return "irda";
            case DC_TRANSPORT_BLUETOOTH:
                return "bluetooth";
            default:
                return "transport " + std::to_string(transport);
        }
    }
};

TEST_F(DeviceStreamTest, SerialTakesTheNameAsPort) {
    EXPECT_EQ(open(DC_TRANSPORT_SERIAL, "sim:port"), "serial");
    EXPECT_EQ(open(DC_TRANSPORT_SERIAL, "sim:other"), "[-4]: Error opening device.");
    EXPECT_EQ(open(kAllButBle, "sim:port"), "serial") << "serial comes first";
}

TEST_F(DeviceStreamTest, BluetoothAddressOpensBluetoothWhenTheModelHasIt) {
    EXPECT_EQ(open(DC_TRANSPORT_BLUETOOTH | DC_TRANSPORT_SERIAL, "00:11:22:AA:BB:CC"), "bluetooth");
    EXPECT_EQ(open(DC_TRANSPORT_BLUETOOTH, "00:11:22:aa:bb:cc"), "bluetooth");
    EXPECT_EQ(open(DC_TRANSPORT_SERIAL, "00:11:22:AA:BB:CC"), "[-4]: Error opening device.")
        << "without Bluetooth the address is a serial port name";
    EXPECT_EQ(open(DC_TRANSPORT_BLUETOOTH, "00:11:22:AA:BB:CD"), "[-6]: Error opening device.");
    EXPECT_EQ(open(DC_TRANSPORT_BLUETOOTH, "not an address"), "[-1]: Error opening device.");
}

TEST_F(DeviceStreamTest, UsbModelsOpenTheFirstDeviceFound) {
    EXPECT_EQ(open(DC_TRANSPORT_USBHID, ""), "usbhid");
    EXPECT_EQ(open(DC_TRANSPORT_USB, "ignored"), "usb");
    EXPECT_EQ(open(DC_TRANSPORT_USB | DC_TRANSPORT_USBHID, ""), "usbhid") << "USB HID before USB";
    dcsim_detach_all();
    EXPECT_EQ(open(DC_TRANSPORT_USBHID, ""), "[-4]: Error opening device.") << "nothing plugged in";
}

// Only an empty name discovers; any other name must be an address in full, so a typo never opens
// some other computer. Checked before libdivecomputer is asked, on every platform.
TEST_F(DeviceStreamTest, MalformedIrdaNameIsInvalid) {
    for (const char* name : {"09", "43abc", "7-", " 42", "+42", "-1", "0x", "computer",
                             "0x10000002a", "99999999999999999999999"}) {
        EXPECT_EQ(open(DC_TRANSPORT_IRDA, name), "[-2]: Error opening device.") << name;
    }
    EXPECT_EQ(dcsim_calls("dc_irda_open"), 0u);
    EXPECT_EQ(dcsim_calls("dc_irda_iterator_new"), 0u);
}

#ifdef _WIN32
TEST_F(DeviceStreamTest, IrdaTakesANumericAddressOrTheFirstFound) {
    EXPECT_EQ(open(DC_TRANSPORT_IRDA, "0x2a"), "irda");
    EXPECT_EQ(open(DC_TRANSPORT_IRDA, "42"), "irda");
    EXPECT_EQ(open(DC_TRANSPORT_IRDA, "052"), "irda") << "octal";
    EXPECT_EQ(open(DC_TRANSPORT_IRDA, ""), "irda");
    EXPECT_EQ(open(DC_TRANSPORT_IRDA, "43"), "[-6]: Error opening device.");
    EXPECT_EQ(open(kAllButBle, "irda:42"), "irda");
    dcsim_detach_all();
    EXPECT_EQ(open(DC_TRANSPORT_IRDA, ""), "[-4]: Error opening device.") << "nothing in range";
}
#else
// libdivecomputer has no IrDA on Linux: a well-formed name reaches it and fails as unsupported.
TEST_F(DeviceStreamTest, IrdaIsUnsupportedOnLinux) {
    EXPECT_EQ(open(DC_TRANSPORT_IRDA, "0x2a"), "[-1]: Error opening device.");
    EXPECT_EQ(open(DC_TRANSPORT_IRDA, ""), "[-1]: Error opening device.");
    EXPECT_EQ(open(kAllButBle, "irda:42"), "[-1]: Error opening device.");
    EXPECT_EQ(dcsim_calls("dc_irda_open"), 2u);
    EXPECT_EQ(dcsim_calls("dc_irda_iterator_new"), 1u);
}
#endif

// Without a BlueZ to reach (here: no bus at all), and in builds without BLE, a BLE model fails
// to open with UNSUPPORTED, before libdivecomputer sees a device. On Windows (wine, whose
// Bluetooth LE API lists no device) with NODEVICE: the computer is not paired.
TEST_F(DeviceStreamTest, BleModelsFailCleanlyWithoutBlueZ) {
#ifndef _WIN32
    // Windows has no BlueZ to point away from, nor setenv.
    const char* const previous = std::getenv("DBUS_SYSTEM_BUS_ADDRESS");
    const std::string saved = previous != nullptr ? previous : "";
    ASSERT_EQ(setenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent/diveconnector-bus", 1), 0);
    const std::string notReached = "[-1]: Error opening device.";
#else
    const std::string notReached = "[-4]: Error opening device.";
#endif
    EXPECT_EQ(open(DC_TRANSPORT_BLE, "00:11:22:AA:BB:CC"), notReached);
    EXPECT_EQ(open(DC_TRANSPORT_BLE | DC_TRANSPORT_SERIAL, "ble:00:11:22:AA:BB:CC"), notReached);
    EXPECT_EQ(open(DC_TRANSPORT_NONE, "sim:port"), "[-1]: Error opening device.");
    EXPECT_EQ(dcsim_calls("dc_device_open"), 0u);
    EXPECT_EQ(open(DC_TRANSPORT_BLE | DC_TRANSPORT_BLUETOOTH, "00:11:22:AA:BB:CC"), "bluetooth")
        << "a bare address opens classic Bluetooth when the model has it";
    EXPECT_EQ(open(DC_TRANSPORT_BLE | DC_TRANSPORT_SERIAL, "sim:port"), "serial");
#ifdef DIVECONNECTOR_BLE
    EXPECT_EQ(open(DC_TRANSPORT_BLE, "ble:sim:port"), "[-2]: Error opening device.")
        << "not an address";
#endif
#ifndef _WIN32
    if (previous != nullptr) {
        setenv("DBUS_SYSTEM_BUS_ADDRESS", saved.c_str(), 1);
    } else {
        unsetenv("DBUS_SYSTEM_BUS_ADDRESS");
    }
#endif
}

TEST_F(DeviceStreamTest, PrefixPicksTheTransport) {
    EXPECT_EQ(open(kAllButBle, "usbhid:"), "usbhid");
    EXPECT_EQ(open(kAllButBle, "usb:"), "usb");
    EXPECT_EQ(open(kAllButBle, "bluetooth:00:11:22:AA:BB:CC"), "bluetooth");
    EXPECT_EQ(open(kAllButBle, "serial:sim:port"), "serial");
    EXPECT_EQ(open(DC_TRANSPORT_SERIAL, "usb:"), "[-1]: Error opening device.")
        << "a prefix the model does not support";
}

TEST_F(DeviceStreamTest, EnumerationFailuresAreOpeningFailures) {
    dcsim_fault("dc_usbhid_iterator_new", 1, DC_STATUS_NOMEMORY);
    EXPECT_EQ(open(DC_TRANSPORT_USBHID, ""), "[-3]: Error opening device.");
    dcsim_fault("dc_iterator_next", 2, DC_STATUS_IO);  // the first walks the descriptors
    EXPECT_EQ(open(DC_TRANSPORT_USB, ""), "[-6]: Error opening device.");
    dcsim_fault("dc_usbhid_open", 1, DC_STATUS_NOACCESS);
    EXPECT_EQ(open(DC_TRANSPORT_USBHID, ""), "[-5]: Error opening device.");
    dcsim_fault("dc_serial_open", 1, DC_STATUS_NOACCESS);
    EXPECT_EQ(open(DC_TRANSPORT_SERIAL, "sim:port"), "[-5]: Error opening device.");
}

TEST_F(DeviceStreamTest, StreamIsClosedAfterTheDeviceOnEveryPath) {
    EXPECT_EQ(open(DC_TRANSPORT_SERIAL, "sim:port"), "serial");
    EXPECT_EQ(dcsim_calls("dc_iostream_close"), 1u);

    dcsim_fault("dc_device_open", 1, DC_STATUS_PROTOCOL);
    EXPECT_EQ(open(DC_TRANSPORT_SERIAL, "sim:port"), "[-8]: Error opening device.");
    EXPECT_EQ(dcsim_calls("dc_iostream_close"), 2u);
}

}  // namespace
}  // namespace diveconnector
