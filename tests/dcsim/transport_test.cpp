// Finding and opening simulated computers on each transport.
#include <cstring>

#include "dcsim_test.h"

namespace dcsimtest {
namespace {

// Each speaks one protocol; the iterators find them by their USB ids and
// names, as libdivecomputer's per-family tables let them through.
const char* const hidComputer =
    "usbhid 0x1493 0x0030\n"
    "descriptor Fakewater \"Steel Sim\"\n"
    "dive\ndivetime 60\n";
const char* const usbComputer =
    "usb 0x2e6c 0x3201\n"
    "descriptor family 0x40002 model 0x4342\n"
    "dive\ndive\n";
const char* const wirelessComputer =
    "irda 0x12345678 \"UWATEC Galileo\"\n"
    "bluetooth 00:80:25:4A:0B:1C \"Galileo Sim\"\n"
    "descriptor family 0x30002\n"
    "dive\n";

template <typename Item, void (*release)(Item*)>
std::vector<std::unique_ptr<Item, Releaser<Item, release>>> items(dc_iterator_t* raw,
                                                                  dc_status_t created) {
    std::vector<std::unique_ptr<Item, Releaser<Item, release>>> found;
    EXPECT_EQ(created, DC_STATUS_SUCCESS);
    Iterator iterator(raw);
    Item* item = nullptr;
    dc_status_t status;
    while ((status = dc_iterator_next(iterator.get(), &item)) == DC_STATUS_SUCCESS) {
        found.emplace_back(item);
    }
    EXPECT_EQ(status, DC_STATUS_DONE);
    return found;
}

auto usbhidItems(const dc_descriptor_t* descriptor) {
    dc_iterator_t* raw = nullptr;
    const dc_status_t status =
        dc_usbhid_iterator_new(&raw, nullptr, const_cast<dc_descriptor_t*>(descriptor));
    return items<dc_usbhid_device_t, dc_usbhid_device_free>(raw, status);
}

auto usbItems(const dc_descriptor_t* descriptor) {
    dc_iterator_t* raw = nullptr;
    const dc_status_t status =
        dc_usb_iterator_new(&raw, nullptr, const_cast<dc_descriptor_t*>(descriptor));
    return items<dc_usb_device_t, dc_usb_device_free>(raw, status);
}

using TransportTest = DcsimTest;

TEST_F(TransportTest, UsbHidDevicesAreFilteredByTheFamilyIds) {
    ASSERT_EQ(dcsim_attach(hidComputer), 0) << dcsim_last_error();
    ASSERT_EQ(dcsim_attach(usbComputer), 0) << dcsim_last_error();
    ASSERT_EQ(dcsim_attach("usbhid 0x2e6c 0x3201\ndescriptor Simtec \"G2 Sim\"\n"), 0);
    Descriptor g2 = findDescriptor("Simtec", "G2 Sim");
    Descriptor steel = findDescriptor("Fakewater", "Steel Sim");
    Descriptor reef = findDescriptor(DCSIM_BUILTIN_VENDOR, DCSIM_BUILTIN_PRODUCT);

    auto all = usbhidItems(nullptr);
    ASSERT_EQ(all.size(), 2u);
    EXPECT_EQ(dc_usbhid_device_get_vid(all[0].get()), 0x1493u);
    EXPECT_EQ(dc_usbhid_device_get_pid(all[0].get()), 0x0030u);
    EXPECT_EQ(dcsim_live(DCSIM_ITERATOR_ITEM), 2);
    auto steels = usbhidItems(steel.get());
    ASSERT_EQ(steels.size(), 1u) << "the EON Steel family's ids";
    EXPECT_EQ(dc_usbhid_device_get_pid(steels[0].get()), 0x0030u);
    auto g2s = usbhidItems(g2.get());
    ASSERT_EQ(g2s.size(), 1u) << "the Scubapro G2 family's ids";
    EXPECT_EQ(dc_usbhid_device_get_vid(g2s[0].get()), 0x2e6cu);
    EXPECT_TRUE(usbhidItems(reef.get()).empty()) << "does not list USB HID";

    dc_iostream_t* raw = nullptr;
    ASSERT_EQ(dc_usbhid_open(&raw, nullptr, steels[0].get()), DC_STATUS_SUCCESS);
    Stream stream(raw);
    all.clear();  // items may go once the stream is open
    steels.clear();
    EXPECT_EQ(dc_iostream_get_transport(stream.get()), DC_TRANSPORT_USBHID);
    Device device = openDevice(steel.get(), stream.get());
    const Download result = download(device.get(), 0);
    EXPECT_EQ(result.status, DC_STATUS_SUCCESS);
    EXPECT_EQ(result.dives.size(), 1u);
    EXPECT_EQ(dc_usbhid_open(nullptr, nullptr, nullptr), DC_STATUS_INVALIDARGS);
}

// The Atom 2 family filters only BLE names: every USB device is listed for
// it, and the computer's protocol decides.
TEST_F(TransportTest, UsbDevicesAreListedForFamiliesWithoutUsbFilter) {
    ASSERT_EQ(dcsim_attach(usbComputer), 0) << dcsim_last_error();
    Descriptor atom = findDescriptor("Testsub", "Atom Sim");
    Descriptor pro = findDescriptor("Testsub", "Pro Sim");
    auto found = usbItems(atom.get());
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(dc_usb_device_get_vid(found[0].get()), 0x2e6cu);
    EXPECT_EQ(usbItems(pro.get()).size(), 1u);
    EXPECT_TRUE(usbhidItems(nullptr).empty());

    dc_iostream_t* raw = nullptr;
    ASSERT_EQ(dc_usb_open(&raw, nullptr, found[0].get()), DC_STATUS_SUCCESS);
    Stream stream(raw);
    EXPECT_EQ(dc_iostream_get_transport(stream.get()), DC_TRANSPORT_USB);
    Device device = openDevice(atom.get(), stream.get());
    EXPECT_EQ(download(device.get(), 0).dives.size(), 2u);
    dc_device_t* other = nullptr;
    EXPECT_EQ(dc_device_open(&other, nullptr, pro.get(), stream.get()), DC_STATUS_TIMEOUT)
        << "another model of the family: no answer to the handshake";
}

// The tables of each release: 0.9.0 knows the Tern's name, 0.8.0 does not.
TEST_F(TransportTest, BluetoothNamesFollowTheReleaseTable) {
    const std::string table = std::string(DCSIM_FIXTURE_DIR) + "/libdivecomputer-" +
                              std::to_string(DC_VERSION_MAJOR) + "." +
                              std::to_string(DC_VERSION_MINOR) + ".0-descriptors.tsv";
    ASSERT_GT(dcsim_descriptors_load_tsv(table.c_str()), 0) << dcsim_last_error();
    ASSERT_EQ(dcsim_attach("bluetooth 00:00:00:00:00:01 Perdix\n"), 0);
    ASSERT_EQ(dcsim_attach("bluetooth 00:00:00:00:00:02 Tern\n"), 0);
    ASSERT_EQ(dcsim_attach("bluetooth 00:00:00:00:00:03 OSTC+12345\n"), 0);
    ASSERT_EQ(dcsim_attach("bluetooth 00:00:00:00:00:04\n"), 0);
    auto names = [](const char* vendor, const char* product) {
        Descriptor descriptor = findDescriptor(vendor, product);
        dc_iterator_t* raw = nullptr;
        const dc_status_t created = dc_bluetooth_iterator_new(&raw, nullptr, descriptor.get());
        std::vector<std::string> found;
        for (const auto& item :
             items<dc_bluetooth_device_t, dc_bluetooth_device_free>(raw, created)) {
            found.emplace_back(dc_bluetooth_device_get_name(item.get()));
        }
        return found;
    };
#if DC_VERSION_CHECK(0, 9, 0)
    EXPECT_EQ(names("Shearwater", "Petrel 2"), (std::vector<std::string>{"Perdix", "Tern"}));
#else
    EXPECT_EQ(names("Shearwater", "Petrel 2"), (std::vector<std::string>{"Perdix"}));
#endif
    EXPECT_EQ(names("Heinrichs Weikamp", "OSTC 4"), (std::vector<std::string>{"OSTC+12345"}));
    EXPECT_TRUE(names("Shearwater", "Nerd 2").empty()) << "BLE only";
    EXPECT_TRUE(names("Suunto", "Vyper").empty()) << "serial only";
}

TEST_F(TransportTest, UnpluggedDeviceCannotBeOpened) {
    ASSERT_EQ(dcsim_attach(hidComputer), 0);
    auto found = usbhidItems(nullptr);
    ASSERT_EQ(found.size(), 1u);
    dcsim_detach_all();
    dc_iostream_t* stream = nullptr;
    EXPECT_EQ(dc_usbhid_open(&stream, nullptr, found[0].get()), DC_STATUS_NODEVICE);
    EXPECT_EQ(stream, nullptr);
}

TEST_F(TransportTest, OpenStreamOutlivesDetaching) {
    ASSERT_EQ(dcsim_attach(hidComputer), 0);
    auto found = usbhidItems(nullptr);
    dc_iostream_t* raw = nullptr;
    ASSERT_EQ(dc_usbhid_open(&raw, nullptr, found[0].get()), DC_STATUS_SUCCESS);
    Stream stream(raw);
    dcsim_detach_all();
    Descriptor steel = findDescriptor("Fakewater", "Steel Sim");
    Device device = openDevice(steel.get(), stream.get());
    EXPECT_EQ(download(device.get(), 0).dives.size(), 1u);
}

#ifdef _WIN32
TEST_F(TransportTest, IrdaDevicesAreFoundByNameAndOpenedByAddress) {
    ASSERT_EQ(dcsim_attach(wirelessComputer), 0) << dcsim_last_error();
    ASSERT_EQ(dcsim_attach("irda 0x2a \"Aladin Sim 2\"\n"), 0) << dcsim_last_error();
    Descriptor aladin = findDescriptor("Simtec", "Aladin Sim");
    dc_iterator_t* raw = nullptr;
    dc_status_t created = dc_irda_iterator_new(&raw, nullptr, nullptr);
    EXPECT_EQ((items<dc_irda_device_t, dc_irda_device_free>(raw, created).size()), 2u);
    created = dc_irda_iterator_new(&raw, nullptr, aladin.get());
    auto found = items<dc_irda_device_t, dc_irda_device_free>(raw, created);
    ASSERT_EQ(found.size(), 1u) << "only names of the Uwatec table";
    EXPECT_EQ(dc_irda_device_get_address(found[0].get()), 0x12345678u);
    EXPECT_STREQ(dc_irda_device_get_name(found[0].get()), "UWATEC Galileo");

    dc_iostream_t* stream = nullptr;
    EXPECT_EQ(dc_irda_open(&stream, nullptr, 0x1234, 1), DC_STATUS_IO);
    ASSERT_EQ(dc_irda_open(&stream, nullptr, 0x12345678, 1), DC_STATUS_SUCCESS);
    Stream owned(stream);
    EXPECT_EQ(dc_iostream_get_transport(stream), DC_TRANSPORT_IRDA);
    Device device = openDevice(aladin.get(), stream);
    EXPECT_EQ(download(device.get(), 0).dives.size(), 1u);
}
#else
// Linux builds of libdivecomputer have no IrDA: the header it needs is gone.
TEST_F(TransportTest, IrdaIsNotBuiltIn) {
    ASSERT_EQ(dcsim_attach(wirelessComputer), 0) << dcsim_last_error();
    Descriptor aladin = findDescriptor("Simtec", "Aladin Sim");
    dc_iterator_t* raw = nullptr;
    EXPECT_EQ(dc_irda_iterator_new(&raw, nullptr, aladin.get()), DC_STATUS_UNSUPPORTED);
    EXPECT_EQ(dc_irda_iterator_new(&raw, nullptr, nullptr), DC_STATUS_UNSUPPORTED);
    EXPECT_EQ(raw, nullptr);
    dc_iostream_t* stream = nullptr;
    EXPECT_EQ(dc_irda_open(&stream, nullptr, 0x12345678, 1), DC_STATUS_UNSUPPORTED);
    EXPECT_EQ(stream, nullptr);
    Context context = quietContext();
    EXPECT_EQ(dc_context_get_transports(context.get()) & DC_TRANSPORT_IRDA, 0u);
}
#endif

TEST_F(TransportTest, BluetoothAddressesConvertAndOpen) {
    ASSERT_EQ(dcsim_attach(wirelessComputer), 0) << dcsim_last_error();
    const dc_bluetooth_address_t address = dc_bluetooth_str2addr("00:80:25:4a:0b:1c");
    EXPECT_EQ(address, 0x0080254A0B1Cull);
    char text[DC_BLUETOOTH_SIZE];
    EXPECT_STREQ(dc_bluetooth_addr2str(address, text, sizeof text), "00:80:25:4A:0B:1C");
    EXPECT_EQ(dc_bluetooth_addr2str(address, text, sizeof text - 1), nullptr);
    EXPECT_EQ(dc_bluetooth_str2addr("00:80:25:4A:0B:1G"), 0u);
    EXPECT_EQ(dc_bluetooth_str2addr(nullptr), 0u);

    Descriptor galileo = findDescriptor("Simtec", "Galileo Sim");
    dc_iterator_t* raw = nullptr;
    const dc_status_t created = dc_bluetooth_iterator_new(&raw, nullptr, galileo.get());
    auto found = items<dc_bluetooth_device_t, dc_bluetooth_device_free>(raw, created);
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(dc_bluetooth_device_get_address(found[0].get()), address);
    EXPECT_STREQ(dc_bluetooth_device_get_name(found[0].get()), "Galileo Sim");

    dc_iostream_t* stream = nullptr;
    EXPECT_EQ(dc_bluetooth_open(&stream, nullptr, address + 1, 0), DC_STATUS_IO);
    ASSERT_EQ(dc_bluetooth_open(&stream, nullptr, address, 0), DC_STATUS_SUCCESS);
    Stream owned(stream);
    EXPECT_EQ(dc_iostream_get_transport(stream), DC_TRANSPORT_BLUETOOTH);
    Device opened = openDevice(galileo.get(), stream);
    EXPECT_EQ(download(opened.get(), 0).dives.size(), 1u);
    // The backend talks over whatever stream it gets: a model of the family
    // without Bluetooth works all the same.
    Descriptor aladin = findDescriptor("Simtec", "Aladin Sim");
    Device irdaModel = openDevice(aladin.get(), stream);
    EXPECT_EQ(download(irdaModel.get(), 0).dives.size(), 1u);
}

TEST_F(TransportTest, SerialIteratorListsTheBuiltinAndAttachedPorts) {
    ASSERT_EQ(dcsim_attach("serial /dev/ttySIM0\n"), 0);
    ASSERT_EQ(dcsim_attach(hidComputer), 0);
    dc_iterator_t* raw = nullptr;
    dc_status_t created = dc_serial_iterator_new(&raw, nullptr, nullptr);
    auto found = items<dc_serial_device_t, dc_serial_device_free>(raw, created);
    ASSERT_EQ(found.size(), 2u);
    EXPECT_STREQ(dc_serial_device_get_name(found[0].get()), DCSIM_BUILTIN_PORT);
    EXPECT_STREQ(dc_serial_device_get_name(found[1].get()), "/dev/ttySIM0");

    Descriptor teric = findDescriptor("Mockdive", "Teric Sim");
    created = dc_serial_iterator_new(&raw, nullptr, teric.get());
    EXPECT_TRUE((items<dc_serial_device_t, dc_serial_device_free>(raw, created).empty()));
    Stream stream = openSerial("/dev/ttySIM0");
    EXPECT_EQ(dc_iostream_get_transport(stream.get()), DC_TRANSPORT_SERIAL);
}

TEST_F(TransportTest, IteratorFaultsAndItemFaults) {
    ASSERT_EQ(dcsim_attach(hidComputer), 0);
    ASSERT_EQ(dcsim_fault("dc_usbhid_iterator_new", 1, DC_STATUS_NOACCESS), 0);
    dc_iterator_t* raw = nullptr;
    EXPECT_EQ(dc_usbhid_iterator_new(&raw, nullptr, nullptr), DC_STATUS_NOACCESS);
    EXPECT_EQ(raw, nullptr);
    auto found = usbhidItems(nullptr);
    ASSERT_EQ(dcsim_fault("dc_usbhid_open", 1, DC_STATUS_NOACCESS), 0);
    dc_iostream_t* stream = nullptr;
    EXPECT_EQ(dc_usbhid_open(&stream, nullptr, found[0].get()), DC_STATUS_NOACCESS);
    EXPECT_EQ(dcsim_live(DCSIM_IOSTREAM), 0);
}

}  // namespace
}  // namespace dcsimtest
