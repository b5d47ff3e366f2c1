// dc_device_dump against simulated computers: the memory image, its events, cancellation,
// failures and the families whose backend has no dump.
#include "dcsim_test.h"

namespace dcsimtest {
namespace {

const char* const twoRawDives =
    "serial sim:dump\n"
    "devinfo 7 1 99\n"
    "transfer 2 0\n"
    "events progress devinfo\n"
    "dive\nraw 0a0b0c\n"
    "dive\nraw 01020304050607\n";

struct Dump {
    dc_status_t status;
    std::vector<unsigned char> bytes;
    Download events;
};

int cancelNow(void*) {
    return 1;
}

class DumpTest : public DcsimTest {
  protected:
    void open(const char* scenario, const char* product = DCSIM_BUILTIN_PRODUCT) {
        ASSERT_EQ(dcsim_attach(scenario), 0) << dcsim_last_error();
        descriptor_ = findDescriptor(DCSIM_BUILTIN_VENDOR, product);
        ASSERT_TRUE(descriptor_);
        stream_ = openSerial("sim:dump");
        device_ = openDevice(descriptor_.get(), stream_.get());
        ASSERT_TRUE(device_);
    }
    void TearDown() override {
        device_.reset();
        stream_.reset();
        descriptor_.reset();
        DcsimTest::TearDown();
    }
    Dump dump() {
        Dump result{};
        EXPECT_EQ(dc_device_set_events(device_.get(), allEvents, recordEvent, &result.events),
                  DC_STATUS_SUCCESS);
        const Buffer buffer(dc_buffer_new(0));
        // A dump replaces whatever the buffer held.
        const unsigned char stale[] = {0xEE, 0xEE};
        EXPECT_EQ(dc_buffer_append(buffer.get(), stale, sizeof stale), 1);
        result.status = dc_device_dump(device_.get(), buffer.get());
        const unsigned char* data = dc_buffer_get_data(buffer.get());
        result.bytes.assign(data, data + dc_buffer_get_size(buffer.get()));
        return result;
    }
    Descriptor descriptor_;
    Stream stream_;
    Device device_;
};

TEST_F(DumpTest, TheImageHoldsEveryDiveOldestFirstWithProgressInBytes) {
    open(twoRawDives);
    const Dump result = dump();
    ASSERT_EQ(result.status, DC_STATUS_SUCCESS);
    EXPECT_EQ(result.bytes, (std::vector<unsigned char>{0x0a, 0x0b, 0x0c, 1, 2, 3, 4, 5, 6, 7}));
    const auto& events = result.events.events;
    ASSERT_EQ(events.size(), 2u + 4u);
    EXPECT_EQ(events[0].type, DC_EVENT_PROGRESS);
    EXPECT_EQ(events[0].progress.current, 0u);
    EXPECT_EQ(events[0].progress.maximum, 10u);
    EXPECT_EQ(events[1].type, DC_EVENT_DEVINFO);
    EXPECT_EQ(events[1].devinfo.serial, 99u);
    unsigned int last = 0;
    for (size_t i = 2; i < events.size(); ++i) {
        ASSERT_EQ(events[i].type, DC_EVENT_PROGRESS);
        EXPECT_GT(events[i].progress.current, last);
        last = events[i].progress.current;
    }
    EXPECT_EQ(last, 10u);
}

TEST_F(DumpTest, CancellationAndFailuresLeaveTheBufferEmpty) {
    open("serial sim:dump\ntransfer 2 0\nfail-after 1 IO\ndive\nraw 0102\ndive\nraw 0304\n");
    Dump result = dump();
    EXPECT_EQ(result.status, DC_STATUS_IO);
    EXPECT_TRUE(result.bytes.empty());

    ASSERT_EQ(dc_device_set_cancel(device_.get(), cancelNow, nullptr), DC_STATUS_SUCCESS);
    result = dump();
    EXPECT_EQ(result.status, DC_STATUS_CANCELLED);
    EXPECT_TRUE(result.bytes.empty());

    ASSERT_EQ(dcsim_fault("dc_device_dump", 1, DC_STATUS_PROTOCOL), 0);
    EXPECT_EQ(dump().status, DC_STATUS_PROTOCOL);
}

TEST_F(DumpTest, FamiliesWithoutADumpAnswerUnsupported) {
    for (const dc_family_t family :
         {DC_FAMILY_SUUNTO_EONSTEEL, DC_FAMILY_SHEARWATER_PETREL, DC_FAMILY_ATOMICS_COBALT}) {
        dcsim_reset();
        dcsim_descriptors_add(DCSIM_BUILTIN_VENDOR, "No Dump", family, 0, DC_TRANSPORT_SERIAL);
        open(twoRawDives, "No Dump");
        const Dump result = dump();
        EXPECT_EQ(result.status, DC_STATUS_UNSUPPORTED) << family;
        EXPECT_TRUE(result.events.events.empty());
        device_.reset();
        stream_.reset();
        descriptor_.reset();
    }
}

TEST(DumpContract, NullArgumentsAreRefused) {
    dcsim_reset();
    const Buffer buffer(dc_buffer_new(0));
    EXPECT_EQ(dc_device_dump(nullptr, buffer.get()), DC_STATUS_UNSUPPORTED);
    ASSERT_EQ(dcsim_attach("serial sim:dump\n"), 0) << dcsim_last_error();
    const Descriptor descriptor = findDescriptor(DCSIM_BUILTIN_VENDOR, DCSIM_BUILTIN_PRODUCT);
    const Stream stream = openSerial("sim:dump");
    const Device device = openDevice(descriptor.get(), stream.get());
    EXPECT_EQ(dc_device_dump(device.get(), nullptr), DC_STATUS_INVALIDARGS);
}

}  // namespace
}  // namespace dcsimtest
