// dc_device_open and dc_device_foreach against simulated computers: order,
// events, cancellation, fingerprints and failures.
#include <atomic>
#include <climits>
#include <cstring>
#include <thread>

#include "dcsim_test.h"

namespace dcsimtest {
namespace {

// Five dives, numbered by their divetime in minutes: 1 is the oldest.
const char* const fiveDives =
    "serial sim:five\n"
    "devinfo 18 2 12345\n"
    "clock 600 -5\n"
    "transfer 3 0\n"
    "events waiting progress devinfo clock vendor\n"
    "vendor-event 0102\n"
    "dive\ndivetime 1:00\n"
    "dive\ndivetime 2:00\n"
    "dive\ndivetime 3:00\nfingerprint aabbccdd\n"
    "dive\ndivetime 4:00\n"
    "dive\ndivetime 5:00\n";

unsigned int divetimeOf(const std::vector<unsigned char>& dive) {
    ParsedDive parser = parse(dive);
    unsigned int divetime = 0;
    EXPECT_EQ(dc_parser_get_field(parser.get(), DC_FIELD_DIVETIME, 0, &divetime),
              DC_STATUS_SUCCESS);
    return divetime / 60;
}

std::vector<unsigned int> order(const Download& result) {
    std::vector<unsigned int> minutes;
    for (const auto& dive : result.dives) {
        minutes.push_back(divetimeOf(dive));
    }
    return minutes;
}

class DownloadTest : public DcsimTest {
  protected:
    void SetUp() override {
        DcsimTest::SetUp();
        ASSERT_EQ(dcsim_attach(fiveDives), 0) << dcsim_last_error();
        descriptor_ = findDescriptor(DCSIM_BUILTIN_VENDOR, DCSIM_BUILTIN_PRODUCT);
        stream_ = openSerial("sim:five");
        device_ = openDevice(descriptor_.get(), stream_.get());
    }
    void TearDown() override {
        device_.reset();
        stream_.reset();
        descriptor_.reset();
        DcsimTest::TearDown();
    }
    Descriptor descriptor_;
    Stream stream_;
    Device device_;
};

TEST_F(DownloadTest, DivesArriveNewestFirstWithTheirFingerprints) {
    const Download result = download(device_.get());
    ASSERT_EQ(result.status, DC_STATUS_SUCCESS);
    EXPECT_EQ(order(result), (std::vector<unsigned int>{5, 4, 3, 2, 1}));
    // The Vyper backend's 5 bytes; without a date, the dive's identity zero-filled.
    EXPECT_EQ(result.fingerprints[0], (std::vector<unsigned char>{5, 0, 0, 0, 0}));
    EXPECT_EQ(result.fingerprints[2], (std::vector<unsigned char>{0xAA, 0xBB, 0xCC, 0xDD, 0}));
    EXPECT_EQ(result.fingerprints[4], (std::vector<unsigned char>{1, 0, 0, 0, 0}));
}

TEST_F(DownloadTest, EventsComeInOrderWithProgressToTheEnd) {
    const Download result = download(device_.get());
    ASSERT_GE(result.events.size(), 5u);
    EXPECT_EQ(result.events[0].type, DC_EVENT_WAITING);
    EXPECT_EQ(result.events[1].type, DC_EVENT_PROGRESS);
    EXPECT_EQ(result.events[1].progress.current, 0u);
    EXPECT_EQ(result.events[1].progress.maximum, 15u);
    EXPECT_EQ(result.events[2].type, DC_EVENT_DEVINFO);
    EXPECT_EQ(result.events[2].devinfo.model, 18u);
    EXPECT_EQ(result.events[2].devinfo.serial, 12345u);
    EXPECT_EQ(result.events[3].type, DC_EVENT_CLOCK);
    EXPECT_EQ(result.events[3].clock.devtime, 600u);
    EXPECT_EQ(result.events[3].clock.systime, -5);
    EXPECT_EQ(result.events[4].type, DC_EVENT_VENDOR);
    EXPECT_EQ(result.events[4].vendor, (std::vector<unsigned char>{1, 2}));
    unsigned int last = 0;
    for (size_t i = 5; i < result.events.size(); ++i) {
        ASSERT_EQ(result.events[i].type, DC_EVENT_PROGRESS);
        EXPECT_EQ(result.events[i].progress.current, last + 1);
        last = result.events[i].progress.current;
    }
    EXPECT_EQ(last, 15u);
}

TEST_F(DownloadTest, EventsHonourTheMask) {
    const Download result = download(device_.get(), DC_EVENT_DEVINFO | DC_EVENT_CLOCK);
    ASSERT_EQ(result.events.size(), 2u);
    EXPECT_EQ(result.events[0].type, DC_EVENT_DEVINFO);
    EXPECT_EQ(result.events[1].type, DC_EVENT_CLOCK);
    EXPECT_EQ(download(device_.get(), 0).events.size(), 0u);
    EXPECT_EQ(dc_device_set_events(device_.get(), allEvents, nullptr, nullptr), DC_STATUS_SUCCESS);
    EXPECT_EQ(dc_device_foreach(device_.get(), nullptr, nullptr), DC_STATUS_SUCCESS);
}

TEST_F(DownloadTest, AnswerZeroStopsWithSuccess) {
    const Download result = download(device_.get(), 0, 2);
    EXPECT_EQ(result.status, DC_STATUS_SUCCESS);
    EXPECT_EQ(order(result), (std::vector<unsigned int>{5, 4}));
}

struct CancelAfter {
    std::atomic<int> polls{0};
    int limit;
};

int cancelAfter(void* userdata) {
    auto* cancel = static_cast<CancelAfter*>(userdata);
    return ++cancel->polls > cancel->limit;
}

TEST_F(DownloadTest, CancelIsPolledBeforeEveryChunk) {
    CancelAfter cancel;
    cancel.limit = 7;  // two dives of three chunks, and one more chunk
    ASSERT_EQ(dc_device_set_cancel(device_.get(), cancelAfter, &cancel), DC_STATUS_SUCCESS);
    const Download result = download(device_.get(), DC_EVENT_PROGRESS);
    EXPECT_EQ(result.status, DC_STATUS_CANCELLED);
    EXPECT_EQ(order(result), (std::vector<unsigned int>{5, 4}));
    EXPECT_EQ(cancel.polls.load(), 8);
    EXPECT_EQ(result.events.back().progress.current, 7u);

    ASSERT_EQ(dc_device_set_cancel(device_.get(), nullptr, nullptr), DC_STATUS_SUCCESS);
    EXPECT_EQ(download(device_.get(), 0).status, DC_STATUS_SUCCESS);
}

TEST_F(DownloadTest, FingerprintStopsBeforeTheKnownDive) {
    const unsigned char known[] = {0xAA, 0xBB, 0xCC, 0xDD, 0};
    ASSERT_EQ(dc_device_set_fingerprint(device_.get(), known, sizeof known), DC_STATUS_SUCCESS);
    Download result = download(device_.get());
    EXPECT_EQ(result.status, DC_STATUS_SUCCESS);
    EXPECT_EQ(order(result), (std::vector<unsigned int>{5, 4}));
    EXPECT_EQ(result.events[1].progress.maximum, 6u);

    const unsigned char newest[] = {5, 0, 0, 0, 0};
    ASSERT_EQ(dc_device_set_fingerprint(device_.get(), newest, sizeof newest), DC_STATUS_SUCCESS);
    EXPECT_TRUE(download(device_.get()).dives.empty());

    const unsigned char unknown[] = {9, 9, 9, 9, 9};
    ASSERT_EQ(dc_device_set_fingerprint(device_.get(), unknown, 5), DC_STATUS_SUCCESS);
    EXPECT_EQ(download(device_.get()).dives.size(), 5u);

    EXPECT_EQ(dc_device_set_fingerprint(device_.get(), known, 4), DC_STATUS_INVALIDARGS);
    EXPECT_EQ(dc_device_set_fingerprint(device_.get(), nullptr, 5), DC_STATUS_INVALIDARGS);
    ASSERT_EQ(dc_device_set_fingerprint(device_.get(), newest, 5), DC_STATUS_SUCCESS);
    ASSERT_EQ(dc_device_set_fingerprint(device_.get(), nullptr, 0), DC_STATUS_SUCCESS);
    EXPECT_EQ(download(device_.get()).dives.size(), 5u);
}

// libdivecomputer asserts a progress maximum is never 0; a backend with
// nothing to read sends no progress at all.
TEST_F(DownloadTest, NothingToTransferSendsNoProgress) {
    const unsigned char newest[] = {5, 0, 0, 0, 0};
    ASSERT_EQ(dc_device_set_fingerprint(device_.get(), newest, sizeof newest), DC_STATUS_SUCCESS);
    const Download result = download(device_.get());
    EXPECT_EQ(result.status, DC_STATUS_SUCCESS);
    EXPECT_TRUE(result.dives.empty());
    ASSERT_EQ(result.events.size(), 4u);
    for (const Event& event : result.events) {
        EXPECT_NE(event.type, DC_EVENT_PROGRESS);
    }

    ASSERT_EQ(dcsim_attach("serial sim:empty\nevents progress devinfo\n"), 0) << dcsim_last_error();
    const Download empty =
        downloadSerial("sim:empty", DCSIM_BUILTIN_VENDOR, DCSIM_BUILTIN_PRODUCT, allEvents);
    EXPECT_EQ(empty.status, DC_STATUS_SUCCESS);
    ASSERT_EQ(empty.events.size(), 1u);
    EXPECT_EQ(empty.events[0].type, DC_EVENT_DEVINFO);
    // Nor can a scenario describe a transfer of zero chunks.
    EXPECT_EQ(dcsim_attach("serial sim:zero\ntransfer 0 0\ndive\n"), -1);
}

TEST_F(DownloadTest, AnUnsizedProgressComesFirstAsTheDiveByDiveBackendsSendIt) {
    ASSERT_EQ(dcsim_attach("serial sim:unsized\ntransfer 2 0\nevents unsized progress\ndive\n"), 0)
        << dcsim_last_error();
    const Download result =
        downloadSerial("sim:unsized", DCSIM_BUILTIN_VENDOR, DCSIM_BUILTIN_PRODUCT, allEvents);
    EXPECT_EQ(result.status, DC_STATUS_SUCCESS);
    ASSERT_EQ(result.events.size(), 4u);
    EXPECT_EQ(result.events[0].type, DC_EVENT_PROGRESS);
    EXPECT_EQ(result.events[0].progress.current, 0u);
    EXPECT_EQ(result.events[0].progress.maximum, UINT_MAX);
    EXPECT_EQ(result.events[1].progress.current, 0u);
    EXPECT_EQ(result.events[1].progress.maximum, 2u);
    EXPECT_EQ(result.events[3].progress.current, 2u);
}

// libdivecomputer's example tool registers its cached fingerprint when the device identifies
// itself, inside the enumeration; the backends honour it for that enumeration.
TEST_F(DownloadTest, FingerprintRegisteredOnDeviceInfoCounts) {
    struct Registering {
        Download download;
        std::vector<unsigned char> fingerprint;
    } registering{{}, {0xAA, 0xBB, 0xCC, 0xDD, 0}};
    const auto onEvent = [](dc_device_t* device, dc_event_type_t type, const void* data,
                            void* userdata) {
        auto& self = *static_cast<Registering*>(userdata);
        if (type == DC_EVENT_DEVINFO) {
            EXPECT_EQ(dc_device_set_fingerprint(device, self.fingerprint.data(),
                                                static_cast<unsigned int>(self.fingerprint.size())),
                      DC_STATUS_SUCCESS);
        }
        recordEvent(device, type, data, &self.download);
    };
    ASSERT_EQ(dc_device_set_events(device_.get(), allEvents, onEvent, &registering),
              DC_STATUS_SUCCESS);
    ASSERT_EQ(dc_device_foreach(device_.get(), recordDive, &registering.download),
              DC_STATUS_SUCCESS);
    EXPECT_EQ(order(registering.download), (std::vector<unsigned int>{5, 4}));
    EXPECT_EQ(registering.download.events.back().progress.current, 6u);
    EXPECT_EQ(registering.download.events.back().progress.maximum, 6u);
}

TEST_F(DownloadTest, InjectedForeachFaultDeliversNothing) {
    ASSERT_EQ(dcsim_fault("dc_device_foreach", 1, DC_STATUS_TIMEOUT), 0);
    const Download result = download(device_.get());
    EXPECT_EQ(result.status, DC_STATUS_TIMEOUT);
    EXPECT_TRUE(result.dives.empty());
    EXPECT_TRUE(result.events.empty());
}

using FailingComputerTest = DcsimTest;

TEST_F(FailingComputerTest, FailsAfterTheGivenNumberOfDives) {
    for (const auto& [after, expected] :
         {std::pair{0u, 0u}, std::pair{2u, 2u}, std::pair{3u, 3u}, std::pair{4u, 3u}}) {
        dcsim_detach_all();
        const std::string scenario = "serial sim:fail\nfail-after " + std::to_string(after) +
                                     " PROTOCOL\ndive\ndive\ndive\n";
        ASSERT_EQ(dcsim_attach(scenario.c_str()), 0) << dcsim_last_error();
        const Download result =
            downloadSerial("sim:fail", DCSIM_BUILTIN_VENDOR, DCSIM_BUILTIN_PRODUCT, 0);
        EXPECT_EQ(result.status, after <= 3 ? DC_STATUS_PROTOCOL : DC_STATUS_SUCCESS) << after;
        EXPECT_EQ(result.dives.size(), expected) << after;
    }
}

// A backend talks its protocol over whatever stream it is given: opening does
// not check the transport. A computer that does not speak the protocol stays
// silent, so the result is a timeout: at open for the families that talk
// while opening (EON Steel, Atom 2), at the first command of the download for
// the others (Shearwater).
TEST_F(FailingComputerTest, ComputerAnswersOnlyItsOwnProtocol) {
    Stream stream = openSerial(DCSIM_BUILTIN_PORT);
    Descriptor nitrox = findDescriptor(DCSIM_BUILTIN_VENDOR, "Reef Nitrox");
    Device opened = openDevice(nitrox.get(), stream.get());
    EXPECT_EQ(dc_device_get_type(opened.get()), DC_FAMILY_SUUNTO_VYPER);
    char vendor[8], product[64];
    unsigned int model = 0, transport = 0;
    ASSERT_EQ(dcsim_last_open(vendor, sizeof vendor, product, sizeof product, &model, &transport),
              0);
    EXPECT_STREQ(vendor, DCSIM_BUILTIN_VENDOR);
    EXPECT_STREQ(product, "Reef Nitrox");
    EXPECT_EQ(model, 3u);
    EXPECT_EQ(transport, unsigned{DC_TRANSPORT_SERIAL});
    char tiny[4];
    ASSERT_EQ(dcsim_last_open(nullptr, 0, tiny, sizeof tiny, nullptr, nullptr), 0);
    EXPECT_STREQ(tiny, "Ree");
    EXPECT_EQ(download(opened.get(), 0).dives.size(), 20u) << "the family's protocol";

    Descriptor teric = findDescriptor("Mockdive", "Teric Sim");
    Device silent = openDevice(teric.get(), stream.get());
    const Download nothing = download(silent.get());
    EXPECT_EQ(nothing.status, DC_STATUS_TIMEOUT);
    EXPECT_TRUE(nothing.dives.empty());
    EXPECT_TRUE(nothing.events.empty());

    for (const char* product : {"Steel Sim", "Atom Sim"}) {
        const char* vendorOf = std::strcmp(product, "Steel Sim") == 0 ? "Fakewater" : "Testsub";
        Descriptor foreign = findDescriptor(vendorOf, product);
        dc_device_t* device = nullptr;
        EXPECT_EQ(dc_device_open(&device, nullptr, foreign.get(), stream.get()), DC_STATUS_TIMEOUT)
            << product;
        EXPECT_EQ(device, nullptr);
    }
}

TEST_F(FailingComputerTest, ScenarioDescriptorsAreEnforced) {
    ASSERT_EQ(dcsim_attach("serial sim:atom\ndescriptor Testsub \"Atom Sim\"\ndive\n"), 0)
        << dcsim_last_error();
    ASSERT_EQ(dcsim_attach("serial sim:petrel\ndescriptor family 0xA0001 model 3\ndive\ndive\n"), 0)
        << dcsim_last_error();
    EXPECT_EQ(downloadSerial("sim:atom", "Testsub", "Atom Sim", 0).dives.size(), 1u);
    Descriptor pro = findDescriptor("Testsub", "Pro Sim");
    Stream atom = openSerial("sim:atom");
    dc_device_t* device = nullptr;
    EXPECT_EQ(dc_device_open(&device, nullptr, pro.get(), atom.get()), DC_STATUS_TIMEOUT)
        << "same family, another product";

    EXPECT_EQ(downloadSerial("sim:petrel", "Mockdive", "Petrel Sim", 0).dives.size(), 2u);
    const Download teric = downloadSerial("sim:petrel", "Mockdive", "Teric Sim", 0);
    EXPECT_EQ(teric.status, DC_STATUS_TIMEOUT) << "same family, another model";
    EXPECT_TRUE(teric.dives.empty());
}

TEST_F(FailingComputerTest, DescriptorMayBeFreedWhileTheDeviceIsOpen) {
    Descriptor descriptor = findDescriptor(DCSIM_BUILTIN_VENDOR, DCSIM_BUILTIN_PRODUCT);
    Stream stream = openSerial(DCSIM_BUILTIN_PORT);
    Device device = openDevice(descriptor.get(), stream.get());
    descriptor.reset();
    EXPECT_EQ(download(device.get(), 0, 1).dives.size(), 1u);
}

TEST_F(FailingComputerTest, OpenByUnknownNameFailsLikeAMissingPort) {
    openSerial("/dev/ttyUSB99", DC_STATUS_NODEVICE);
    openSerial("sim:nothing", DC_STATUS_NODEVICE);
    // What exists but is no terminal opens, or not, and then cannot be set up.
    openSerial(DCSIM_FIXTURE_DIR, DC_STATUS_IO);
#ifndef _WIN32
    openSerial("/dev/null", DC_STATUS_IO);
#endif
    dc_iostream_t* stream = nullptr;
    EXPECT_EQ(dc_serial_open(&stream, nullptr, nullptr), DC_STATUS_INVALIDARGS);
    EXPECT_EQ(dc_serial_open(nullptr, nullptr, DCSIM_BUILTIN_PORT), DC_STATUS_INVALIDARGS);
}

TEST_F(FailingComputerTest, TwoDownloadsRunAtOnce) {
    ASSERT_EQ(dcsim_attach("serial sim:one\ntransfer 2 1\ngenerate 40 samples=100\n"), 0);
    ASSERT_EQ(dcsim_attach("serial sim:two\ntransfer 2 1\ngenerate 30 samples=100\n"), 0);
    Download first, second;
    std::thread a([&first] {
        first = downloadSerial("sim:one", DCSIM_BUILTIN_VENDOR, DCSIM_BUILTIN_PRODUCT);
    });
    std::thread b([&second] {
        second = downloadSerial("sim:two", DCSIM_BUILTIN_VENDOR, DCSIM_BUILTIN_PRODUCT);
    });
    a.join();
    b.join();
    EXPECT_EQ(first.status, DC_STATUS_SUCCESS);
    EXPECT_EQ(first.dives.size(), 40u);
    EXPECT_EQ(second.dives.size(), 30u);
}

}  // namespace
}  // namespace dcsimtest
