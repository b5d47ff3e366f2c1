// The libdivecomputer contract dcsim keeps for handles, iterators, versions
// and buffers, and dcsim's fault, call and live-handle controls.
#include <cstring>
#include <thread>
#include <type_traits>

#include "dcsim_test.h"

namespace dcsimtest {
namespace {

#if !DC_VERSION_CHECK(0, DC_VERSION_MINOR, DC_VERSION_MICRO) || \
    DC_VERSION_CHECK(0, DC_VERSION_MINOR, DC_VERSION_MICRO + 1) || DC_VERSION_CHECK(1, 0, 0)
#error "DC_VERSION_CHECK must agree with the version numbers in #if"
#endif

// Whether the enum declares the enumerator: code using a name one release
// lacks must not build against dcsim presenting that release either.
#define DCSIM_DECLARES(Enum, name)                                                 \
    template <typename E, typename = void>                                         \
    struct Declares_##name : std::false_type {};                                   \
    template <typename E>                                                          \
    struct Declares_##name<E, std::void_t<decltype(E::name)>> : std::true_type {}; \
    constexpr bool declares_##name = Declares_##name<Enum>::value;
DCSIM_DECLARES(dc_family_t, DC_FAMILY_PELAGIC_I330R)
DCSIM_DECLARES(dc_family_t, DC_FAMILY_HALCYON_SYMBIOS)
DCSIM_DECLARES(dc_family_t, DC_FAMILY_DIVESOFT_FREEDOM)
DCSIM_DECLARES(parser_sample_event_t, SAMPLE_EVENT_GASCHANGE)
DCSIM_DECLARES(parser_sample_event_t, SAMPLE_EVENT_GASCHANGE2)
#undef DCSIM_DECLARES

using ContractTest = DcsimTest;

TEST_F(ContractTest, HeadersDeclareWhatTheReleaseDeclares) {
    constexpr bool release09 = DC_VERSION_CHECK(0, 9, 0);
    EXPECT_EQ(declares_DC_FAMILY_PELAGIC_I330R, release09);
    EXPECT_EQ(declares_DC_FAMILY_HALCYON_SYMBIOS, release09);
    EXPECT_TRUE(declares_DC_FAMILY_DIVESOFT_FREEDOM);
    // Deprecated in favour of the GASMIX sample, still declared by both.
    EXPECT_TRUE(declares_SAMPLE_EVENT_GASCHANGE);
    EXPECT_TRUE(declares_SAMPLE_EVENT_GASCHANGE2);
#if DC_VERSION_CHECK(0, 9, 0)
    EXPECT_EQ(DC_FAMILY_PELAGIC_I330R, 0x40003);
    EXPECT_EQ(DC_FAMILY_HALCYON_SYMBIOS, 0x180000);
#endif
    EXPECT_EQ(SAMPLE_EVENT_GASCHANGE, 11);
    EXPECT_EQ(SAMPLE_EVENT_GASCHANGE2, 25);
}

TEST_F(ContractTest, VersionIsReportedAndCanBeChanged) {
    const std::string presented = "0." + std::to_string(DC_VERSION_MINOR) + ".0";
    EXPECT_EQ(DC_VERSION, presented);
    dc_version_t version{};
    EXPECT_EQ(dc_version(&version), presented);
    EXPECT_EQ(version.major, 0u);
    EXPECT_EQ(version.minor, unsigned{DC_VERSION_MINOR});
    EXPECT_EQ(version.micro, 0u);
    EXPECT_EQ(dc_version(nullptr), presented);
    EXPECT_TRUE(dc_version_check(0, DC_VERSION_MINOR, 0));
    EXPECT_TRUE(dc_version_check(0, DC_VERSION_MINOR - 1, 9));
    EXPECT_FALSE(dc_version_check(0, DC_VERSION_MINOR, 1));
    EXPECT_FALSE(dc_version_check(1, 0, 0));

    dcsim_set_version(0, 7, 0);
    EXPECT_STREQ(dc_version(&version), "0.7.0");
    EXPECT_EQ(version.minor, 7u);
    EXPECT_FALSE(dc_version_check(0, 8, 0));
    EXPECT_TRUE(dc_version_check(0, 7, 0));

    dcsim_reset();
    EXPECT_EQ(dc_version(nullptr), presented);
}

TEST_F(ContractTest, ReleasingNothingIsHarmless) {
    EXPECT_EQ(dc_context_free(nullptr), DC_STATUS_SUCCESS);
    EXPECT_EQ(dc_iterator_free(nullptr), DC_STATUS_SUCCESS);
    EXPECT_EQ(dc_iostream_close(nullptr), DC_STATUS_SUCCESS);
    EXPECT_EQ(dc_device_close(nullptr), DC_STATUS_SUCCESS);
    EXPECT_EQ(dc_parser_destroy(nullptr), DC_STATUS_SUCCESS);
    dc_descriptor_free(nullptr);
    dc_buffer_free(nullptr);
    dc_serial_device_free(nullptr);
    dc_usb_device_free(nullptr);
    dc_usbhid_device_free(nullptr);
    dc_irda_device_free(nullptr);
    dc_bluetooth_device_free(nullptr);
}

// libdivecomputer checks a handle together with the backend's function for
// the call, so a NULL handle is "unsupported"; a missing out-pointer or
// descriptor is an invalid argument.
TEST_F(ContractTest, NullHandlesAreUnsupported) {
    dc_descriptor_t* descriptor = nullptr;
    EXPECT_EQ(dc_iterator_next(nullptr, &descriptor), DC_STATUS_UNSUPPORTED);
    EXPECT_EQ(descriptor, nullptr);
    EXPECT_EQ(dc_device_foreach(nullptr, nullptr, nullptr), DC_STATUS_UNSUPPORTED);
    EXPECT_EQ(dc_device_set_events(nullptr, 0, nullptr, nullptr), DC_STATUS_UNSUPPORTED);
    EXPECT_EQ(dc_device_set_cancel(nullptr, nullptr, nullptr), DC_STATUS_UNSUPPORTED);
    const unsigned char fingerprint[4] = {1, 2, 3, 4};
    EXPECT_EQ(dc_device_set_fingerprint(nullptr, fingerprint, sizeof fingerprint),
              DC_STATUS_UNSUPPORTED);
    unsigned int divetime = 0;
    EXPECT_EQ(dc_parser_get_field(nullptr, DC_FIELD_DIVETIME, 0, &divetime), DC_STATUS_UNSUPPORTED);
    dc_datetime_t datetime{};
    EXPECT_EQ(dc_parser_get_datetime(nullptr, &datetime), DC_STATUS_UNSUPPORTED);
    EXPECT_EQ(dc_parser_samples_foreach(nullptr, nullptr, nullptr), DC_STATUS_UNSUPPORTED);
#if !DC_VERSION_CHECK(0, 9, 0)
    const unsigned char data[1] = {0};
    EXPECT_EQ(dc_parser_set_data(nullptr, data, sizeof data), DC_STATUS_UNSUPPORTED);
#endif
}

// Each family's backend makes fingerprints of its own size and refuses any other but 0 (a
// backend without fingerprints refuses them all); where the real fingerprint is the dive's start,
// so is dcsim's, and a dive without one gives its identity, zero-filled.
TEST_F(ContractTest, FingerprintsHaveTheSizeAndBytesOfTheFamilysBackend) {
    ASSERT_EQ(dcsim_attach("serial sim:fp\n"
                           "dive\n"
                           "dive\ndatetime 2024-05-04 10:12:00 +03:00\n"),
              0)
        << dcsim_last_error();
    using Bytes = std::vector<unsigned char>;
    struct Family {
        const char* name;
        dc_family_t family;
        unsigned int model;
        unsigned int size;
        Bytes newest;  // empty: the identity, {2, 0, 0, 0}, zero-filled
    };
    const Family families[] = {
        {"Suunto Solution", DC_FAMILY_SUUNTO_SOLUTION, 0, 0, {}},
        {"Suunto Vyper", DC_FAMILY_SUUNTO_VYPER, 0x0A, 5, {24, 5, 4, 10, 12}},
        {"Suunto D9", DC_FAMILY_SUUNTO_D9, 0x0E, 7, {}},
        {"Suunto EON Steel", DC_FAMILY_SUUNTO_EONSTEEL, 0, 4, {}},
        {"Shearwater Petrel", DC_FAMILY_SHEARWATER_PETREL, 3, 4, {0x66, 0x36, 0x09, 0xF0}},
        {"Shearwater Predator", DC_FAMILY_SHEARWATER_PREDATOR, 2, 4, {0x66, 0x36, 0x09, 0xF0}},
        {"Oceanic Atom 2.0", DC_FAMILY_OCEANIC_ATOM2, 0x4342, 8, {}},
        {"Mares Icon HD", DC_FAMILY_MARES_ICONHD, 0x14, 10, {}},
        {"Mares Genius", DC_FAMILY_MARES_ICONHD, 0x1C, 4, {}},
        {"HW OSTC 3", DC_FAMILY_HW_OSTC3, 0x0A, 5, {}},
        {"Cressi Edy", DC_FAMILY_CRESSI_EDY, 0x08, 16, {}},
        {"Cochran Commander TM", DC_FAMILY_COCHRAN_COMMANDER, 0, 4, {}},
        {"Cochran EMC-20H", DC_FAMILY_COCHRAN_COMMANDER, 5, 6, {}},
        {"Seac Screen", DC_FAMILY_SEAC_SCREEN, 0, 7, {}},
        {"Divesoft Freedom", DC_FAMILY_DIVESOFT_FREEDOM, 0x13, 20, {}},
#if DC_VERSION_CHECK(0, 9, 0)
        {"Aqualung i330R", DC_FAMILY_PELAGIC_I330R, 0x4744, 64, {}},
        {"Apeks DSX", DC_FAMILY_PELAGIC_I330R, 0x4741, 512, {}},
        {"Halcyon Symbios HUD", DC_FAMILY_HALCYON_SYMBIOS, 1, 4, {}},
#endif
    };
    for (const Family& family : families) {
        SCOPED_TRACE(family.name);
        dcsim_descriptors_add("Fp", family.name, family.family, family.model, DC_TRANSPORT_SERIAL);
        const Download all = downloadSerial("sim:fp", "Fp", family.name, 0);
        ASSERT_EQ(all.status, DC_STATUS_SUCCESS);
        ASSERT_EQ(all.fingerprints.size(), 2u);
        Bytes newest = family.newest;
        if (newest.empty() && family.size != 0) {
            newest.assign(family.size, 0);
            newest[0] = 2;
        }
        EXPECT_EQ(all.fingerprints[0], newest);
        Bytes oldest(family.size, 0);
        if (family.size != 0) {
            oldest[0] = 1;
        }
        EXPECT_EQ(all.fingerprints[1], oldest);

        Descriptor descriptor = findDescriptor("Fp", family.name);
        Stream stream = openSerial("sim:fp");
        Device device = openDevice(descriptor.get(), stream.get());
        const Bytes longer(family.size + 1, 1);
        if (family.size == 0) {
            EXPECT_EQ(dc_device_set_fingerprint(device.get(), longer.data(), 1),
                      DC_STATUS_UNSUPPORTED);
            EXPECT_EQ(dc_device_set_fingerprint(device.get(), nullptr, 0), DC_STATUS_UNSUPPORTED);
            continue;
        }
        EXPECT_EQ(dc_device_set_fingerprint(device.get(), longer.data(), family.size + 1),
                  DC_STATUS_INVALIDARGS);
        EXPECT_EQ(dc_device_set_fingerprint(device.get(), longer.data(), family.size - 1),
                  DC_STATUS_INVALIDARGS);
        EXPECT_EQ(download(device.get(), 0).dives.size(), 2u) << "a refused size sets nothing";
        ASSERT_EQ(dc_device_set_fingerprint(device.get(), newest.data(), family.size),
                  DC_STATUS_SUCCESS);
        EXPECT_TRUE(download(device.get(), 0).dives.empty());
        ASSERT_EQ(dc_device_set_fingerprint(device.get(), nullptr, 0), DC_STATUS_SUCCESS);
        EXPECT_EQ(download(device.get(), 0).dives.size(), 2u);
    }
}

TEST_F(ContractTest, MissingArgumentsAreInvalid) {
    Descriptor builtin = findDescriptor(DCSIM_BUILTIN_VENDOR, DCSIM_BUILTIN_PRODUCT);
    dc_iterator_t* raw = nullptr;
    ASSERT_EQ(dc_descriptor_iterator(&raw), DC_STATUS_SUCCESS);
    Iterator iterator(raw);
    EXPECT_EQ(dc_iterator_next(iterator.get(), nullptr), DC_STATUS_INVALIDARGS);
    EXPECT_EQ(dc_context_new(nullptr), DC_STATUS_INVALIDARGS);
    EXPECT_EQ(dc_context_set_loglevel(nullptr, DC_LOGLEVEL_ALL), DC_STATUS_INVALIDARGS);
    EXPECT_EQ(dc_context_set_logfunc(nullptr, nullptr, nullptr), DC_STATUS_INVALIDARGS);
    EXPECT_EQ(dc_descriptor_iterator(nullptr), DC_STATUS_INVALIDARGS);
    EXPECT_EQ(dc_descriptor_get_vendor(nullptr), nullptr);
    EXPECT_EQ(dc_descriptor_get_type(nullptr), DC_FAMILY_NULL);
    EXPECT_EQ(dc_iostream_get_transport(nullptr), DC_TRANSPORT_NONE);

    Stream stream = openSerial(DCSIM_BUILTIN_PORT);
    dc_device_t* device = nullptr;
    EXPECT_EQ(dc_device_open(&device, nullptr, nullptr, stream.get()), DC_STATUS_INVALIDARGS);
    EXPECT_EQ(dc_device_open(&device, nullptr, builtin.get(), nullptr), DC_STATUS_INVALIDARGS);
    EXPECT_EQ(device, nullptr);
    dc_parser_t* parser = nullptr;
#if DC_VERSION_CHECK(0, 9, 0)
    const unsigned char data[1] = {0};
    EXPECT_EQ(dc_parser_new(&parser, nullptr, data, sizeof data), DC_STATUS_INVALIDARGS);
#else
    EXPECT_EQ(dc_parser_new(&parser, nullptr), DC_STATUS_INVALIDARGS);
#endif
    EXPECT_EQ(parser, nullptr);
}

// A backend writes a field only where it is told to, so without a value
// pointer every field answers success, also one the dive does not have.
TEST_F(ContractTest, FieldWithoutValuePointerAnswersSuccess) {
    ParsedDive dive = parse(onlyDive("dive\ndivetime 60\nmix 21 0\n"));
    for (const dc_field_type_t field : {DC_FIELD_DIVETIME, DC_FIELD_MAXDEPTH, DC_FIELD_GASMIX,
                                        DC_FIELD_TANK, DC_FIELD_SALINITY, DC_FIELD_DIVEMODE}) {
        EXPECT_EQ(dc_parser_get_field(dive.get(), field, 7, nullptr), DC_STATUS_SUCCESS) << field;
    }
    EXPECT_EQ(dc_parser_get_field(dive.get(), static_cast<dc_field_type_t>(99), 0, nullptr),
              DC_STATUS_SUCCESS);
    double maxdepth = 0;
    EXPECT_EQ(dc_parser_get_field(dive.get(), DC_FIELD_MAXDEPTH, 0, &maxdepth),
              DC_STATUS_UNSUPPORTED);
}

TEST_F(ContractTest, DescriptorIteratorEndsWithDoneAndItsDescriptorsOutliveIt) {
    std::vector<Descriptor> descriptors;
    {
        dc_iterator_t* raw = nullptr;
        // A function in 0.8, a macro over dc_descriptor_iterator_new in 0.9.
        ASSERT_EQ(dc_descriptor_iterator(&raw), DC_STATUS_SUCCESS);
        Iterator iterator(raw);
        dc_descriptor_t* descriptor = nullptr;
        dc_status_t status;
        while ((status = dc_iterator_next(iterator.get(), &descriptor)) == DC_STATUS_SUCCESS) {
            descriptors.emplace_back(descriptor);
        }
        EXPECT_EQ(status, DC_STATUS_DONE);
        EXPECT_EQ(dc_iterator_next(iterator.get(), &descriptor), DC_STATUS_DONE);
        EXPECT_EQ(dcsim_live(DCSIM_DESCRIPTOR), 12);
    }
    ASSERT_EQ(descriptors.size(), 12u);
    EXPECT_STREQ(dc_descriptor_get_vendor(descriptors[0].get()), DCSIM_BUILTIN_VENDOR);
    EXPECT_STREQ(dc_descriptor_get_product(descriptors[0].get()), DCSIM_BUILTIN_PRODUCT);
    descriptors.clear();
    EXPECT_EQ(dcsim_live(DCSIM_DESCRIPTOR), 0);
}

TEST_F(ContractTest, EveryDescriptorIsItsOwnCopy) {
    dc_iterator_t* raw = nullptr;
    ASSERT_EQ(dc_descriptor_iterator(&raw), DC_STATUS_SUCCESS);
    Iterator first(raw);
    ASSERT_EQ(dc_descriptor_iterator(&raw), DC_STATUS_SUCCESS);
    Iterator second(raw);
    dc_descriptor_t* a = nullptr;
    dc_descriptor_t* b = nullptr;
    ASSERT_EQ(dc_iterator_next(first.get(), &a), DC_STATUS_SUCCESS);
    ASSERT_EQ(dc_iterator_next(second.get(), &b), DC_STATUS_SUCCESS);
    Descriptor ownA(a), ownB(b);
    EXPECT_NE(a, b);
    EXPECT_STREQ(dc_descriptor_get_product(a), dc_descriptor_get_product(b));
    EXPECT_EQ(dcsim_live(DCSIM_DESCRIPTOR), 2);
}

TEST_F(ContractTest, NthCallFailsOnceCountedFromArming) {
    dc_iterator_t* raw = nullptr;
    ASSERT_EQ(dc_descriptor_iterator(&raw), DC_STATUS_SUCCESS);
    Iterator iterator(raw);
    dc_descriptor_t* descriptor = nullptr;
    ASSERT_EQ(dc_iterator_next(iterator.get(), &descriptor), DC_STATUS_SUCCESS);
    Descriptor first(descriptor);
    EXPECT_EQ(dcsim_calls("dc_iterator_next"), 1u);

    ASSERT_EQ(dcsim_fault("dc_iterator_next", 2, DC_STATUS_IO), 0);
    ASSERT_EQ(dc_iterator_next(iterator.get(), &descriptor), DC_STATUS_SUCCESS);
    Descriptor second(descriptor);
    descriptor = nullptr;
    EXPECT_EQ(dc_iterator_next(iterator.get(), &descriptor), DC_STATUS_IO);
    EXPECT_EQ(descriptor, nullptr);
    // The failed call handed out nothing and skipped nothing.
    ASSERT_EQ(dc_iterator_next(iterator.get(), &descriptor), DC_STATUS_SUCCESS);
    Descriptor third(descriptor);
    EXPECT_STREQ(dc_descriptor_get_product(third.get()), "Reef Nitrox");
    EXPECT_EQ(dcsim_calls("dc_iterator_next"), 4u);
}

TEST_F(ContractTest, SeveralFaultsAtOnce) {
    ASSERT_EQ(dcsim_fault("dc_context_new", 2, DC_STATUS_NOMEMORY), 0);
    ASSERT_EQ(dcsim_fault("dc_context_new", 1, DC_STATUS_IO), 0);
    ASSERT_EQ(dcsim_fault("dc_buffer_new", 1, DC_STATUS_NOMEMORY), 0);
    dc_context_t* context = nullptr;
    EXPECT_EQ(dc_context_new(&context), DC_STATUS_IO);
    EXPECT_EQ(dc_context_new(&context), DC_STATUS_NOMEMORY);
    EXPECT_EQ(context, nullptr);
    EXPECT_EQ(dc_buffer_new(16), nullptr);
    ASSERT_EQ(dc_context_new(&context), DC_STATUS_SUCCESS);
    Context owned(context);
    Buffer buffer(dc_buffer_new(16));
    EXPECT_NE(buffer, nullptr);
}

TEST_F(ContractTest, FaultsOfFunctionsWithoutStatusGiveTheirFailureValue) {
    Descriptor descriptor = findDescriptor(DCSIM_BUILTIN_VENDOR, DCSIM_BUILTIN_PRODUCT);
    ASSERT_EQ(dcsim_fault("dc_descriptor_get_vendor", 1, DC_STATUS_IO), 0);
    ASSERT_EQ(dcsim_fault("dc_descriptor_get_model", 1, DC_STATUS_IO), 0);
    ASSERT_EQ(dcsim_fault("dc_datetime_mktime", 1, DC_STATUS_IO), 0);
    ASSERT_EQ(dcsim_fault("dc_version", 1, DC_STATUS_IO), 0);
    ASSERT_EQ(dcsim_fault("dc_bluetooth_str2addr", 1, DC_STATUS_IO), 0);
    EXPECT_EQ(dc_descriptor_get_vendor(descriptor.get()), nullptr);
    EXPECT_EQ(dc_descriptor_get_model(descriptor.get()), 0u);
    const dc_datetime_t epoch{1970, 1, 1, 0, 0, 0, 0};
    EXPECT_EQ(dc_datetime_mktime(&epoch), -1);
    EXPECT_EQ(dc_version(nullptr), nullptr);
    EXPECT_EQ(dc_bluetooth_str2addr("00:00:00:00:00:01"), 0u);
    EXPECT_STREQ(dc_descriptor_get_vendor(descriptor.get()), DCSIM_BUILTIN_VENDOR);
    EXPECT_EQ(dc_datetime_mktime(&epoch), 0);
}

TEST_F(ContractTest, FaultControlRejectsWhatCannotFail) {
    EXPECT_EQ(dcsim_fault("dc_no_such_function", 1, DC_STATUS_IO), -1);
    EXPECT_NE(std::strstr(dcsim_last_error(), "dc_no_such_function"), nullptr);
    EXPECT_EQ(dcsim_fault(nullptr, 1, DC_STATUS_IO), -1);
    EXPECT_EQ(dcsim_fault("dc_descriptor_free", 1, DC_STATUS_IO), -1);
    EXPECT_NE(std::strstr(dcsim_last_error(), "cannot fail"), nullptr);
    EXPECT_EQ(dcsim_fault("dc_iterator_next", 0, DC_STATUS_IO), -1);
    EXPECT_EQ(dcsim_fault("dc_iterator_next", 1, DC_STATUS_SUCCESS), -1);
    EXPECT_EQ(dcsim_calls("dc_no_such_function"), 0u);
}

TEST_F(ContractTest, ReleasingCallsReleaseEvenWhenTheyFail) {
    Context context = quietContext();
    dc_iterator_t* iterator = nullptr;
    ASSERT_EQ(dc_descriptor_iterator(&iterator), DC_STATUS_SUCCESS);
    Descriptor descriptor = findDescriptor(DCSIM_BUILTIN_VENDOR, DCSIM_BUILTIN_PRODUCT);
    Stream stream = openSerial(DCSIM_BUILTIN_PORT);
    Device device = openDevice(descriptor.get(), stream.get());
    ASSERT_EQ(dcsim_fault("dc_context_free", 1, DC_STATUS_IO), 0);
    ASSERT_EQ(dcsim_fault("dc_iterator_free", 1, DC_STATUS_IO), 0);
    ASSERT_EQ(dcsim_fault("dc_iostream_close", 1, DC_STATUS_TIMEOUT), 0);
    ASSERT_EQ(dcsim_fault("dc_device_close", 1, DC_STATUS_PROTOCOL), 0);

    EXPECT_EQ(dc_device_close(device.release()), DC_STATUS_PROTOCOL);
    EXPECT_EQ(dc_iostream_close(stream.release()), DC_STATUS_TIMEOUT);
    EXPECT_EQ(dc_iterator_free(iterator), DC_STATUS_IO);
    EXPECT_EQ(dc_context_free(context.release()), DC_STATUS_IO);
    EXPECT_EQ(dcsim_live(DCSIM_CONTEXT), 0);
    EXPECT_EQ(dcsim_live(DCSIM_ITERATOR), 0);
    EXPECT_EQ(dcsim_live(DCSIM_DEVICE), 0);
    EXPECT_EQ(dcsim_live(DCSIM_IOSTREAM), 0);
}

TEST_F(ContractTest, ClearingAndResettingDisarm) {
    ASSERT_EQ(dcsim_fault("dc_context_new", 1, DC_STATUS_IO), 0);
    dcsim_faults_clear();
    Context first = quietContext();
    ASSERT_EQ(dcsim_fault("dc_context_new", 1, DC_STATUS_IO), 0);
    dcsim_reset();
    EXPECT_EQ(dcsim_calls("dc_context_new"), 0u);
    Context second = quietContext();
    EXPECT_EQ(dcsim_calls("dc_context_new"), 1u);
}

TEST_F(ContractTest, LiveHandlesAreCountedPerKind) {
    EXPECT_EQ(dcsim_live_total(), 0);
    {
        Context context = quietContext();
        Buffer buffer(dc_buffer_new(0));
        Descriptor descriptor = findDescriptor(DCSIM_BUILTIN_VENDOR, DCSIM_BUILTIN_PRODUCT);
        Stream stream = openSerial(DCSIM_BUILTIN_PORT);
        Device device = openDevice(descriptor.get(), stream.get());
        dc_iterator_t* iterator = nullptr;
        ASSERT_EQ(dc_serial_iterator_new(&iterator, context.get(), nullptr), DC_STATUS_SUCCESS);
        Iterator ownIterator(iterator);
        dc_serial_device_t* item = nullptr;
        ASSERT_EQ(dc_iterator_next(iterator, &item), DC_STATUS_SUCCESS);
        EXPECT_STREQ(dc_serial_device_get_name(item), DCSIM_BUILTIN_PORT);
        for (int kind = 0; kind < DCSIM_HANDLE_KINDS; ++kind) {
            if (kind != DCSIM_PARSER) {
                EXPECT_EQ(dcsim_live(static_cast<dcsim_handle_t>(kind)), 1)
                    << dcsim_handle_name(static_cast<dcsim_handle_t>(kind));
            }
        }
        EXPECT_EQ(dcsim_live_total(), DCSIM_HANDLE_KINDS - 1);
        dc_serial_device_free(item);
    }
    EXPECT_EQ(dcsim_live_total(), 0);
}

TEST_F(ContractTest, HandleKindsHaveNames) {
    std::vector<std::string> names;
    for (int kind = 0; kind < DCSIM_HANDLE_KINDS; ++kind) {
        names.emplace_back(dcsim_handle_name(static_cast<dcsim_handle_t>(kind)));
    }
    EXPECT_EQ(names.front(), "context");
    std::sort(names.begin(), names.end());
    EXPECT_EQ(std::unique(names.begin(), names.end()), names.end());
    EXPECT_STREQ(dcsim_handle_name(DCSIM_HANDLE_KINDS), "unknown");
    EXPECT_EQ(dcsim_live(DCSIM_HANDLE_KINDS), -1);
}

struct LogRecord {
    std::vector<std::pair<dc_loglevel_t, std::string>> messages;
};

void recordLog(dc_context_t*, dc_loglevel_t level, const char*, unsigned int, const char*,
               const char* message, void* userdata) {
    static_cast<LogRecord*>(userdata)->messages.emplace_back(level, message);
}

TEST_F(ContractTest, ContextLogsThroughItsHandlerAtItsLevel) {
    dc_context_t* raw = nullptr;
    ASSERT_EQ(dc_context_new(&raw), DC_STATUS_SUCCESS);
    Context context(raw);
    dc_iostream_t* stream = nullptr;

    // The default handler writes errors to stderr.
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(dc_serial_open(&stream, context.get(), "/dev/ttyDOESNOTEXIST"), DC_STATUS_NODEVICE);
    EXPECT_NE(::testing::internal::GetCapturedStderr().find("ERROR: "), std::string::npos);

    LogRecord log;
    ASSERT_EQ(dc_context_set_logfunc(context.get(), recordLog, &log), DC_STATUS_SUCCESS);
    EXPECT_EQ(dc_serial_open(&stream, context.get(), "/dev/ttyDOESNOTEXIST"), DC_STATUS_NODEVICE);
    ASSERT_EQ(log.messages.size(), 1u);
    EXPECT_EQ(log.messages[0].first, DC_LOGLEVEL_ERROR);
    EXPECT_NE(log.messages[0].second.find("/dev/ttyDOESNOTEXIST"), std::string::npos);

    ASSERT_EQ(dc_context_set_loglevel(context.get(), DC_LOGLEVEL_NONE), DC_STATUS_SUCCESS);
    EXPECT_EQ(dc_serial_open(&stream, context.get(), "/dev/ttyDOESNOTEXIST"), DC_STATUS_NODEVICE);
    EXPECT_EQ(log.messages.size(), 1u);
    EXPECT_EQ(stream, nullptr);
}

// IrDA is built only on Windows: Linux lost its IrDA header long ago. BLE is
// never built in; the application brings its own stream.
TEST_F(ContractTest, ContextReportsTheTransportsBuiltIn) {
    Context context = quietContext();
    const unsigned int transports = dc_context_get_transports(context.get());
#ifdef _WIN32
    EXPECT_EQ(transports, unsigned{DC_TRANSPORT_SERIAL | DC_TRANSPORT_USB | DC_TRANSPORT_USBHID |
                                   DC_TRANSPORT_IRDA | DC_TRANSPORT_BLUETOOTH});
#else
    EXPECT_EQ(transports, unsigned{DC_TRANSPORT_SERIAL | DC_TRANSPORT_USB | DC_TRANSPORT_USBHID |
                                   DC_TRANSPORT_BLUETOOTH});
#endif
}

TEST_F(ContractTest, BufferGrowsShrinksAndAnswersNullWhenEmpty) {
    Buffer buffer(dc_buffer_new(4));
    ASSERT_NE(buffer, nullptr);
    EXPECT_EQ(dc_buffer_get_size(buffer.get()), 0u);
    EXPECT_EQ(dc_buffer_get_data(buffer.get()), nullptr);

    const unsigned char middle[] = {3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
    const unsigned char front[] = {1, 2};
    EXPECT_EQ(dc_buffer_append(buffer.get(), middle, sizeof middle), 1);
    EXPECT_EQ(dc_buffer_prepend(buffer.get(), front, sizeof front), 1);
    const unsigned char inserted[] = {99};
    EXPECT_EQ(dc_buffer_insert(buffer.get(), 2, inserted, 1), 1);
    EXPECT_EQ(dc_buffer_insert(buffer.get(), 100, inserted, 1), 0);
    const std::vector<unsigned char> expected = {1, 2, 99, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
    ASSERT_EQ(dc_buffer_get_size(buffer.get()), expected.size());
    EXPECT_EQ(std::memcmp(dc_buffer_get_data(buffer.get()), expected.data(), expected.size()), 0);

    EXPECT_EQ(dc_buffer_slice(buffer.get(), 3, 4), 1);
    ASSERT_EQ(dc_buffer_get_size(buffer.get()), 4u);
    EXPECT_EQ(dc_buffer_get_data(buffer.get())[0], 3);
    EXPECT_EQ(dc_buffer_slice(buffer.get(), 2, 3), 0);
    EXPECT_EQ(dc_buffer_resize(buffer.get(), 6), 1);
    EXPECT_EQ(dc_buffer_get_data(buffer.get())[5], 0);
    EXPECT_EQ(dc_buffer_reserve(buffer.get(), 1000), 1);
    EXPECT_EQ(dc_buffer_get_size(buffer.get()), 6u);
    EXPECT_EQ(dc_buffer_clear(buffer.get()), 1);
    EXPECT_EQ(dc_buffer_get_data(buffer.get()), nullptr);
    EXPECT_EQ(dc_buffer_append(buffer.get(), nullptr, 0), 1);
    EXPECT_EQ(dc_buffer_get_data(buffer.get()), nullptr);

    EXPECT_EQ(dc_buffer_append(nullptr, middle, 1), 0);
    EXPECT_EQ(dc_buffer_get_size(nullptr), 0u);
    EXPECT_EQ(dc_buffer_get_data(nullptr), nullptr);
}

TEST_F(ContractTest, DatetimeConversionsRoundTrip) {
    dc_datetime_t dt{};
    ASSERT_EQ(dc_datetime_gmtime(&dt, 0), &dt);
    EXPECT_EQ(dt.year, 1970);
    EXPECT_EQ(dt.month, 1);
    EXPECT_EQ(dt.day, 1);
    EXPECT_EQ(dt.timezone, 0);
    ASSERT_NE(dc_datetime_gmtime(&dt, -1), nullptr);
    EXPECT_EQ(dt.year, 1969);
    EXPECT_EQ(dt.day, 31);
    EXPECT_EQ(dt.second, 59);

    const dc_datetime_t leap{2024, 2, 29, 23, 59, 59, DC_TIMEZONE_NONE};
    const dc_ticks_t ticks = dc_datetime_mktime(&leap);
    EXPECT_EQ(ticks, 1709251199);
    ASSERT_NE(dc_datetime_gmtime(&dt, ticks + 1), nullptr);
    EXPECT_EQ(dt.month, 3);
    EXPECT_EQ(dt.day, 1);
    const dc_datetime_t east{2024, 3, 1, 2, 0, 0, 7200};
    EXPECT_EQ(dc_datetime_mktime(&east), ticks + 1);
    EXPECT_EQ(dc_datetime_mktime(nullptr), -1);
    EXPECT_EQ(dc_datetime_gmtime(nullptr, 0), nullptr);

    ASSERT_NE(dc_datetime_localtime(&dt, ticks), nullptr);
    EXPECT_EQ(dc_datetime_mktime(&dt), ticks);
    EXPECT_GT(dc_datetime_now(), ticks);
}

TEST_F(ContractTest, ControlsAndDownloadsWorkFromSeveralThreads) {
    auto worker = [](int round) {
        for (int i = 0; i < 5; ++i) {
            Download result = downloadSerial(DCSIM_BUILTIN_PORT, DCSIM_BUILTIN_VENDOR,
                                             DCSIM_BUILTIN_PRODUCT, DC_EVENT_PROGRESS);
            EXPECT_EQ(result.status, DC_STATUS_SUCCESS);
            EXPECT_EQ(result.dives.size(), 20u) << "round " << round;
            dcsim_calls("dc_device_foreach");
        }
    };
    auto adder = [] {
        for (int i = 0; i < 50; ++i) {
            dcsim_descriptors_add("Threaded", "Model", DC_FAMILY_HW_OSTC, 0, DC_TRANSPORT_SERIAL);
        }
    };
    std::thread first(worker, 1), second(worker, 2), third(adder);
    for (int i = 0; i < 50; ++i) {
        dcsim_descriptors_add("Threaded", "Model", DC_FAMILY_HW_OSTC, 0, DC_TRANSPORT_SERIAL);
        Context context = quietContext();
    }
    first.join();
    second.join();
    third.join();
    EXPECT_EQ(dcsim_calls("dc_device_foreach"), 10u);
    dc_iterator_t* raw = nullptr;
    ASSERT_EQ(dc_descriptor_iterator(&raw), DC_STATUS_SUCCESS);
    Iterator iterator(raw);
    int count = 0;
    dc_descriptor_t* descriptor = nullptr;
    while (dc_iterator_next(iterator.get(), &descriptor) == DC_STATUS_SUCCESS) {
        Descriptor owned(descriptor);
        ++count;
    }
    EXPECT_EQ(count, 12 + 100) << "no concurrent addition is lost";
}

}  // namespace
}  // namespace dcsimtest
