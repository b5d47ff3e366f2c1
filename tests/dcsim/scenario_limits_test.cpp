// The limits of the scenario language, the same whichever libdivecomputer API
// dcsim presents: times held in whole seconds reach 2^32 - 1 s, and dives that
// are generated during the download are refused when they would be absurdly
// large.
#include <cinttypes>
#include <cmath>
#include <cstring>
#include <string>

#include "dcsim_test.h"

namespace dcsimtest {
namespace {

using ScenarioLimitsTest = DcsimTest;

unsigned int divetimeOf(const std::string& line) {
    ParsedDive parser = parse(onlyDive("dive\n" + line + "\n"));
    unsigned int divetime = 0;
    EXPECT_EQ(dc_parser_get_field(parser.get(), DC_FIELD_DIVETIME, 0, &divetime),
              DC_STATUS_SUCCESS);
    return divetime;
}

#if DC_VERSION_CHECK(0, 9, 0)
void countTimes(dc_sample_type_t type, const dc_sample_value_t*, void* userdata) {
#else
void countTimes(dc_sample_type_t type, dc_sample_value_t, void* userdata) {
#endif
    if (type == DC_SAMPLE_TIME) {
        ++*static_cast<unsigned int*>(userdata);
    }
}

void expectRefused(const std::string& scenario, const std::string& error) {
    EXPECT_EQ(dcsim_attach(scenario.c_str()), -1) << scenario;
    EXPECT_EQ(dcsim_last_error(), error);
}

TEST_F(ScenarioLimitsTest, DivetimeTakesEveryUnsigned32BitSecondCount) {
    EXPECT_EQ(divetimeOf("divetime 4294967295"), 4294967295u);
    EXPECT_EQ(divetimeOf("divetime 1193046:28:15"), 4294967295u);
    EXPECT_EQ(divetimeOf("divetime 4294967295000ms"), 4294967295u);
    EXPECT_EQ(divetimeOf("divetime 0"), 0u);
    expectRefused("dive\ndivetime 4294967296\n",
                  "line 2: divetime: 4294967296 is more than 4294967295 s");
    expectRefused("dive\ndivetime 1193046:28:16\n",
                  "line 2: divetime: 1193046:28:16 is more than 4294967295 s");
    expectRefused("dive\ndivetime 59.5\n", "line 2: divetime: whole seconds only");
}

TEST_F(ScenarioLimitsTest, DecoTimesTakeEveryUnsigned32BitSecondCount) {
    ParsedDive parser = parse(onlyDive("dive\ntime 0\ndeco decostop 4294967295 6\n"));
    const Samples samples = samplesOf(parser.get());
    ASSERT_EQ(samples.status, DC_STATUS_SUCCESS);
    const std::vector<Sample> deco = samples.of(DC_SAMPLE_DECO);
    ASSERT_EQ(deco.size(), 1u);
    EXPECT_EQ(deco[0].value.deco.time, 4294967295u);
    expectRefused("dive\ndeco ndl 4294967296 0\n",
                  "line 2: deco time: 4294967296 is more than 4294967295 s");
    expectRefused("dive\ndeco ndl 1500ms 0\n", "line 2: deco time: whole seconds only");
}

TEST_F(ScenarioLimitsTest, GeneratedDivesMayBeSpacedByEveryUnsigned32BitSecondCount) {
    ASSERT_EQ(dcsim_attach("serial sim:spaced\ngenerate 2 samples=2 spacing=4294967295\n"), 0)
        << dcsim_last_error();
    Download result = downloadSerial("sim:spaced", DCSIM_BUILTIN_VENDOR, DCSIM_BUILTIN_PRODUCT, 0);
    ASSERT_EQ(result.status, DC_STATUS_SUCCESS);
    ASSERT_EQ(result.dives.size(), 2u);
    dc_datetime_t newest{}, oldest{};
    ASSERT_EQ(dc_parser_get_datetime(parse(result.dives[0]).get(), &newest), DC_STATUS_SUCCESS);
    ASSERT_EQ(dc_parser_get_datetime(parse(result.dives[1]).get(), &oldest), DC_STATUS_SUCCESS);
    EXPECT_EQ(dc_datetime_mktime(&newest) - dc_datetime_mktime(&oldest), INT64_C(4294967295));
}

TEST_F(ScenarioLimitsTest, GeneratedSamplesMayTakeUpTo64MiBADive) {
    // Time, depth and temperature without tanks, 30 bytes: 2236962 time samples fit 64 MiB.
    EXPECT_EQ(dcsim_attach("generate 1 samples=2236962 interval=1ms tanks=0\n"), 0)
        << dcsim_last_error();
    expectRefused("generate 1 samples=2236963 interval=1ms tanks=0\n",
                  "line 1: generate: 2236963 time samples of 30 bytes make a dive larger than "
                  "64 MiB, the most dcsim makes");
    expectRefused("generate 10000000 samples=10000000 interval=1ms tanks=8\n",
                  "line 1: generate: 10000000 time samples of 142 bytes make a dive larger than "
                  "64 MiB, the most dcsim makes");

    // Time and depth, 20 bytes: a span of 3355442 intervals gives 3355443 samples.
    EXPECT_EQ(dcsim_attach("dive\nprofile interval=1ms 0@0 3355.442@1\n"), 0) << dcsim_last_error();
    expectRefused("dive\nprofile interval=1ms 0@0 3355.443@1\n",
                  "line 2: profile: 3355444 time samples of 20 bytes make a dive larger than "
                  "64 MiB, the most dcsim makes");
    expectRefused("dive\nprofile interval=1ms temperature=20:10 tank=0:200:50 0@0 4294967@1\n",
                  "line 2: profile: 4294967001 time samples of 44 bytes make a dive larger than "
                  "64 MiB, the most dcsim makes");
    dcsim_detach_all();
}

TEST_F(ScenarioLimitsTest, TheLargestProfileIsDownloadedWhole) {
    ASSERT_EQ(dcsim_attach("serial sim:large\ndive\nprofile interval=1ms 0@0 3355.442@1\n"), 0)
        << dcsim_last_error();
    Download result = downloadSerial("sim:large", DCSIM_BUILTIN_VENDOR, DCSIM_BUILTIN_PRODUCT, 0);
    ASSERT_EQ(result.status, DC_STATUS_SUCCESS);
    ASSERT_EQ(result.dives.size(), 1u);
    ParsedDive parser = parse(result.dives[0]);
    unsigned int times = 0;
    EXPECT_EQ(dc_parser_samples_foreach(parser.get(), countTimes, &times), DC_STATUS_SUCCESS);
    EXPECT_EQ(times, 3355443u);
}

TEST_F(ScenarioLimitsTest, ProfilesInterpolateNonFiniteAndHugeMeasurements) {
    ParsedDive parser = parse(onlyDive(
        "dive\nprofile temperature=inf:10 tank=0:999999999999999999:0 tank=1:nan:0 0@0 20@10\n"));
    const Samples samples = samplesOf(parser.get());
    ASSERT_EQ(samples.status, DC_STATUS_SUCCESS);
    const std::vector<Sample> temperatures = samples.of(DC_SAMPLE_TEMPERATURE);
    const std::vector<Sample> pressures = samples.of(DC_SAMPLE_PRESSURE);
    ASSERT_EQ(temperatures.size(), 3u);
    ASSERT_EQ(pressures.size(), 6u);
    for (const Sample& temperature : temperatures) {
        EXPECT_TRUE(std::isnan(temperature.value.temperature)) << "inf - inf";
    }
    EXPECT_EQ(pressures[0].value.pressure.value, 1e18) << "too coarse to round to 0.1 bar";
    EXPECT_TRUE(std::isnan(pressures[1].value.pressure.value));
    EXPECT_EQ(pressures[4].value.pressure.value, 0.0);
}

}  // namespace
}  // namespace dcsimtest
