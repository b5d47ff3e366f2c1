// What dcsim presents when built as libdivecomputer 0.8.0: the 0.8 parser
// (data set separately and read in place), samples by value, times in
// seconds, and the 0.8 descriptor iterator.
#include <cstring>

#include "dcsim_test.h"
#include "rawdive.h"

namespace dcsimtest {
namespace {

#if DC_VERSION_CHECK(0, 9, 0) || !DC_VERSION_CHECK(0, 8, 0)
#error "this test is for dcsim built with -DDCSIM_API=0.8"
#endif

static_assert(SAMPLE_EVENT_GASCHANGE == 11 && SAMPLE_EVENT_GASCHANGE2 == 25);
static_assert(sizeof(dc_gasmix_t) == 3 * sizeof(double), "no usage in 0.8");

using Api08Test = DcsimTest;

TEST_F(Api08Test, PresentsVersion08) {
    EXPECT_STREQ(DC_VERSION, "0.8.0");
    EXPECT_STREQ(dc_version(nullptr), "0.8.0");
    EXPECT_FALSE(dc_version_check(0, 9, 0));
}

TEST_F(Api08Test, DescriptorIteratorIsAFunction) {
    dc_status_t (*create)(dc_iterator_t**) = &dc_descriptor_iterator;
    dc_iterator_t* raw = nullptr;
    ASSERT_EQ(create(&raw), DC_STATUS_SUCCESS);
    Iterator iterator(raw);
    EXPECT_EQ(dcsim_calls("dc_descriptor_iterator"), 1u);
    EXPECT_EQ(dcsim_fault("dc_descriptor_iterator", 1, DC_STATUS_NOMEMORY), 0);
    EXPECT_EQ(dcsim_fault("dc_descriptor_iterator_new", 1, DC_STATUS_NOMEMORY), -1);
    EXPECT_EQ(dcsim_fault("dc_descriptor_filter", 1, DC_STATUS_NOMEMORY), -1);
    dc_iterator_t* failed = nullptr;
    EXPECT_EQ(dc_descriptor_iterator(&failed), DC_STATUS_NOMEMORY);
    EXPECT_EQ(failed, nullptr);
}

TEST_F(Api08Test, ParserReadsTheCallersBytesInPlace) {
    std::vector<unsigned char> data = onlyDive("dive\ndivetime 60\n");
    Descriptor descriptor = findDescriptor(DCSIM_BUILTIN_VENDOR, DCSIM_BUILTIN_PRODUCT);
    Stream stream = openSerial(DCSIM_BUILTIN_PORT);
    Device device = openDevice(descriptor.get(), stream.get());
    dc_parser_t* raw = nullptr;
    ASSERT_EQ(dc_parser_new(&raw, device.get()), DC_STATUS_SUCCESS);
    Parser parser(raw);
    unsigned int divetime = 0;
    EXPECT_EQ(dc_parser_get_field(parser.get(), DC_FIELD_DIVETIME, 0, &divetime),
              DC_STATUS_DATAFORMAT)
        << "no data set yet";

    ASSERT_EQ(dc_parser_set_data(parser.get(), data.data(), static_cast<unsigned int>(data.size())),
              DC_STATUS_SUCCESS);
    EXPECT_EQ(dc_parser_get_field(parser.get(), DC_FIELD_DIVETIME, 0, &divetime),
              DC_STATUS_SUCCESS);
    EXPECT_EQ(divetime, 60u);
    // DIVETIME is the only header record: tag, length, then the seconds.
    data[DCSIM_RAW_PREAMBLE_SIZE + 2] = 61;
    EXPECT_EQ(dc_parser_get_field(parser.get(), DC_FIELD_DIVETIME, 0, &divetime),
              DC_STATUS_SUCCESS);
    EXPECT_EQ(divetime, 61u) << "0.8 parsers keep the caller's pointer";
}

TEST_F(Api08Test, CreationFaultsStrikeWhenTheDataIsSet) {
    std::vector<unsigned char> data = onlyDive("dive\nfault parser PROTOCOL\n");
    Descriptor descriptor = findDescriptor(DCSIM_BUILTIN_VENDOR, DCSIM_BUILTIN_PRODUCT);
    dc_parser_t* raw = nullptr;
    ASSERT_EQ(dc_parser_new2(&raw, nullptr, descriptor.get(), 0, 0), DC_STATUS_SUCCESS);
    Parser parser(raw);
    EXPECT_EQ(dc_parser_set_data(parser.get(), data.data(), static_cast<unsigned int>(data.size())),
              DC_STATUS_PROTOCOL);
    const unsigned char garbage[] = {1, 2, 3};
    EXPECT_EQ(dc_parser_set_data(parser.get(), garbage, sizeof garbage), DC_STATUS_DATAFORMAT);
}

TEST_F(Api08Test, SamplesComeByValueInSeconds) {
    ParsedDive parser =
        parse(onlyDive("dive\n"
                       "location 10 20\n"
                       "mix 32 0 oxygen\n"
                       "time 16777217; depth 3\n"
                       "time 1500ms\n"
                       "ppo2 2 1.25\n"
                       "deco decostop 1:00 6 10:00\n"
                       "sample 14 7 8 9 10 11 12\n"));
    const Samples samples = samplesOf(parser.get());
    ASSERT_EQ(samples.status, DC_STATUS_SUCCESS);
    const auto& s = samples.list;
    ASSERT_EQ(s.size(), 6u);
    EXPECT_EQ(s[0].value.time, 16777217u) << "beyond 2^24 s";
    EXPECT_EQ(s[2].value.time, 1u) << "whole seconds, rounded down";
    EXPECT_EQ(s[3].value.ppo2, 1.25);
    EXPECT_EQ(s[4].value.deco.time, 60u);
    EXPECT_EQ(s[4].value.deco.depth, 6.0);
    unsigned int words[4];
    static_assert(sizeof words == sizeof(dc_sample_value_t));
    std::memcpy(words, &s[5].value, sizeof words);
    EXPECT_EQ(words[3], 10u) << "as much of the value as 0.8's union holds";

    dc_gasmix_t mix{};
    ASSERT_EQ(dc_parser_get_field(parser.get(), DC_FIELD_GASMIX, 0, &mix), DC_STATUS_SUCCESS);
    EXPECT_EQ(mix.oxygen, 0.32);
    double location[3];
    EXPECT_EQ(dc_parser_get_field(parser.get(), static_cast<dc_field_type_t>(14), 0, location),
              DC_STATUS_UNSUPPORTED)
        << "0.8 knows no LOCATION";
}

TEST_F(Api08Test, TimesBeyondUnsignedSecondsAreRefused) {
    EXPECT_EQ(dcsim_attach("dive\ntime 4294967296\n"), -1);
    EXPECT_STREQ(dcsim_last_error(),
                 "line 2: time: 4294967296 does not fit libdivecomputer's time sample, unsigned "
                 "seconds (at most 4294967295 s)");
}

// Intervals are kept in milliseconds, which 0.8's longer sample times overflow in 32 bits.
TEST_F(Api08Test, IntervalsBeyond32BitMillisecondsAreKept) {
    for (const char* dive : {"dive\nprofile interval=4294967.296 0@0 4294967.296@1\n",
                             "generate 1 samples=2 interval=4294967.296\n"}) {
        ParsedDive parser = parse(onlyDive(dive));
        const std::vector<Sample> times = samplesOf(parser.get()).of(DC_SAMPLE_TIME);
        ASSERT_EQ(times.size(), 2u) << dive;
        EXPECT_EQ(times[0].value.time, 0u);
        EXPECT_EQ(times[1].value.time, 4294967u);
    }
    EXPECT_EQ(dcsim_attach("generate 1 samples=10000000 interval=4294967295\n"), -1);
    EXPECT_STREQ(
        dcsim_last_error(),
        "line 1: generate: the dives last longer than libdivecomputer's time sample holds");
}

}  // namespace
}  // namespace dcsimtest
