#include "dive_parser.h"

#include <dcsim.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <iterator>
#include <new>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "dcsim_fixture.h"
#include "download_listener.h"
#include "native_exception.h"
#include "support_log.h"
#include "temporary_directory.h"

// Lets a test make the Nth allocation on its own thread fail, to show that std::bad_alloc from a
// libdivecomputer callback is carried out unchanged instead of unwinding through C.
namespace {
thread_local long allocationsUntilFailure = -1;
}

void* operator new(std::size_t size) {
    if (allocationsUntilFailure > 0 && --allocationsUntilFailure == 0) {
        throw std::bad_alloc();
    }
    if (void* memory = std::malloc(size == 0 ? 1 : size)) {
        return memory;
    }
    throw std::bad_alloc();
}
// GCC 12 takes free() of what this operator new returned for a mismatch.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void operator delete(void* memory) noexcept {
    std::free(memory);
}
void operator delete(void* memory, std::size_t) noexcept {
    std::free(memory);
}
#pragma GCC diagnostic pop

namespace diveconnector {
namespace {

using testing::ElementsAre;

constexpr char kPort[] = "sim:dives";

class DiveParserTest : public DcsimFixture {
  protected:
    void SetUp() override {
        DcsimFixture::SetUp();
        dcsim_descriptors_add("Test", "Computer", 0x10004, 0, DC_TRANSPORT_SERIAL);
    }
    void TearDown() override {
        allocationsUntilFailure = -1;
        DcsimFixture::TearDown();
    }

    struct Download {
        std::vector<DiveRecord> dives;
        std::optional<std::string> error;
        std::string output;
    };

    // Downloads from a computer described by `scenario` (its serial port line is added here).
    Download download(
        const std::string& scenario,
        const std::function<void(const DownloadInterruption&)>& beforeEnumeration = {},
        DownloadListener* listener = nullptr, DetailRequest detailRequest = DetailRequest::kSkip,
        const Diagnostics& diagnostics = Diagnostics::standard()) {
        const std::string text = std::string("serial ") + kPort + "\n" + scenario;
        EXPECT_EQ(dcsim_attach(text.c_str()), 0) << dcsim_last_error();
        Download result;
        testing::internal::CaptureStdout();
        try {
            const DeviceSession session(kPort, "Test", "Computer", diagnostics);
            const DownloadInterruption interruption;
            const DeviceConnection connection(session, listener);
            if (beforeEnumeration) {
                beforeEnumeration(interruption);
            }
            result.dives = downloadDives(connection, interruption, detailRequest);
        } catch (const Exception& error) {
            result.error = error.what();
        }
        result.output = testing::internal::GetCapturedStdout();
        return result;
    }

    // Only the layer's own lines, not the device events.
    static std::vector<std::string> parsingLines(const std::string& output) {
        std::vector<std::string> lines;
        std::size_t start = 0;
        while (start < output.size()) {
            const std::size_t end = output.find('\n', start);
            const std::string line = output.substr(start, end - start);
            if (line.rfind("Event: ", 0) != 0) {
                lines.push_back(line);
            }
            start = end + 1;
        }
        return lines;
    }

    static std::string dives(int count, const std::string& extra = "") {
        std::string text;
        for (int i = 1; i <= count; ++i) {
            text += "dive\ndatetime 2024-06-0" + std::to_string(i) +
                    " 10:00:00\ndivetime 600\nmaxdepth " + std::to_string(10 + i) +
                    "\nmix 21 0\ntime 0; depth 0\ntime 10; depth 5\n" + extra;
        }
        return text;
    }
};

TEST_F(DiveParserTest, NoDives) {
    const Download result = download("events none\n");
    EXPECT_EQ(result.error, std::nullopt);
    EXPECT_TRUE(result.dives.empty());
    EXPECT_EQ(result.output, "");
}

TEST_F(DiveParserTest, DivesArriveNewestFirstWithTheirFields) {
    const Download result = download(R"(
devinfo 18 2 12345
dive
datetime 2024-06-01 10:00:00 +02:00
divetime 4294967295
maxdepth 30.25
mix 32 0
time 0; depth 0; temperature 25; pressure 0 200
time 10; depth 3.5; pressure 0 199
dive
datetime 1999-12-31 23:59:59
divetime 0:40
maxdepth 12.5
)");
    ASSERT_EQ(result.error, std::nullopt);
    ASSERT_EQ(result.dives.size(), 2u);

    const DiveRecord& newest = result.dives[0];
    EXPECT_EQ(newest.datetime.year, 1999);
    EXPECT_EQ(newest.datetime.second, 59);
    EXPECT_EQ(newest.divetime, 40.0);
    EXPECT_EQ(newest.gasmix.oxygen, 0.0) << "no mix configured";
    EXPECT_EQ(newest.profile.sampleCount, 0);

    const DiveRecord& oldest = result.dives[1];
    EXPECT_EQ(oldest.datetime.year, 2024);
    EXPECT_EQ(oldest.datetime.month, 6);
    EXPECT_EQ(oldest.datetime.day, 1);
    EXPECT_EQ(oldest.datetime.hour, 10);
    EXPECT_EQ(oldest.divetime, 4294967295.0);
    EXPECT_EQ(oldest.maxdepth, 30.25);
    EXPECT_DOUBLE_EQ(oldest.gasmix.oxygen, 0.32);
    EXPECT_EQ(oldest.profile.sampleCount, 2);
    EXPECT_EQ(oldest.profile.timeSeries[1], 10.0f);
    EXPECT_EQ(oldest.profile.pressureSeries[1], 199.0f);
    EXPECT_EQ(oldest.profile.temperatureSeries[1], std::nullopt);

    EXPECT_THAT(parsingLines(result.output),
                ElementsAre("Parsing the maxdepth.", "Parsing the gas mixes.",
                            "Parsing the maxdepth.", "Parsing the gas mixes."));
}

// A closed-circuit trimix dive: every field and sample kind arrives, each value kept, and the
// five series stay as an application without the details sees them.
TEST_F(DiveParserTest, DetailsCarryEveryFieldAndSample) {
    const std::string dive = R"(
dive
datetime 2024-06-01 10:00:00 +02:00
divetime 50:00
maxdepth 61.5
avgdepth 32.25
atmospheric 1.013
temperature-surface 26; temperature-minimum 11.5; temperature-maximum 25
salinity salt 1025
divemode ccr
decomodel buhlmann 2 30 70
location 43.5 -7.25 12
mix 18 45 diluent
mix 100 0 oxygen
mix 50 0
mix 21 0
tank 0 metric 3 232 200 120 diluent
tank 1 metric 3 232 210 150 oxygen
tank none imperial 80 207 190 60
time 0; depth 0; temperature 25; pressure 0 200; pressure 1 210; gasmix 0
setpoint 0.7; ppo2 0 0.69; ppo2 1 0.71; ppo2 none 0.7; cns 0.05; heartbeat 90; bearing 270
time 10; depth 6.5; event bookmark; event ascent 10 begin 3; deco ndl 99 0 0; rbt 45
time 20; depth 60; deco decostop 120 9 1800; gasmix 2; pressure 0 199
)";
    Download result = download(dive, {}, nullptr, DetailRequest::kParse);
    ASSERT_EQ(result.error, std::nullopt);
    ASSERT_EQ(result.dives.size(), 1u);
    const DiveRecord& record = result.dives[0];
    ASSERT_TRUE(record.details);
    const DiveDetails& details = *record.details;
    EXPECT_EQ(details.timezone, 7200);
    EXPECT_EQ(details.averageDepth, 32.25);
    EXPECT_EQ(details.atmospheric, 1.013);
    EXPECT_EQ(details.surfaceTemperature, 26.0);
    EXPECT_EQ(details.minimumTemperature, 11.5);
    EXPECT_EQ(details.maximumTemperature, 25.0);
    EXPECT_EQ(details.diveMode, static_cast<std::uint32_t>(DC_DIVEMODE_CCR));
    ASSERT_TRUE(details.decoModel);
    EXPECT_EQ(details.decoModel->type, static_cast<std::uint32_t>(DC_DECOMODEL_BUHLMANN));
    EXPECT_EQ(details.decoModel->conservatism, 2);
    EXPECT_EQ(details.decoModel->gradientFactorLow, 30u);
    EXPECT_EQ(details.decoModel->gradientFactorHigh, 70u);
    ASSERT_TRUE(details.salinity);
    EXPECT_EQ(details.salinity->type, static_cast<std::uint32_t>(DC_WATER_SALT));
    EXPECT_EQ(details.salinity->density, 1025.0);

    ASSERT_EQ(details.gasMixes.size(), 4u);
    ASSERT_TRUE(details.gasMixes[0]);
    EXPECT_DOUBLE_EQ(details.gasMixes[0]->oxygen, 0.18);
    EXPECT_DOUBLE_EQ(details.gasMixes[0]->helium, 0.45);
    ASSERT_EQ(details.tanks.size(), 3u);
    ASSERT_TRUE(details.tanks[1] && details.tanks[2]);
    EXPECT_EQ(details.tanks[1]->gasMix, 1u);
    EXPECT_EQ(details.tanks[1]->volumeType, static_cast<std::uint32_t>(DC_TANKVOLUME_METRIC));
    EXPECT_EQ(details.tanks[1]->volume, 3.0);
    EXPECT_EQ(details.tanks[1]->workPressure, 232.0);
    EXPECT_EQ(details.tanks[1]->beginPressure, 210.0);
    EXPECT_EQ(details.tanks[1]->endPressure, 150.0);
    EXPECT_EQ(details.tanks[2]->gasMix, std::nullopt) << "DC_GASMIX_UNKNOWN";
#if DC_VERSION_CHECK(0, 9, 0)
    EXPECT_EQ(details.gasMixes[0]->usage, static_cast<std::uint32_t>(DC_USAGE_DILUENT));
    EXPECT_EQ(details.gasMixes[2]->usage, static_cast<std::uint32_t>(DC_USAGE_NONE));
    EXPECT_EQ(details.tanks[1]->usage, static_cast<std::uint32_t>(DC_USAGE_OXYGEN));
    ASSERT_TRUE(details.location);
    EXPECT_EQ(details.location->latitude, 43.5);
    EXPECT_EQ(details.location->longitude, -7.25);
    EXPECT_EQ(details.location->altitude, 12.0);
#else
    EXPECT_EQ(details.gasMixes[0]->usage, std::nullopt) << "0.8 has no usage";
    EXPECT_EQ(details.tanks[1]->usage, std::nullopt);
    EXPECT_EQ(details.location, std::nullopt);
#endif

    const DetailSamples& samples = details.samples;
    EXPECT_EQ(samples.times, (std::vector<double>{0.0, 10.0, 20.0}));
    ASSERT_EQ(samples.pressures.size(), 3u);
    EXPECT_EQ(samples.pressures[1].sample, 0);
    EXPECT_EQ(samples.pressures[1].value.tank, 1u);
    EXPECT_EQ(samples.pressures[1].value.bar, 210.0);
    EXPECT_EQ(samples.pressures[2].sample, 2);
    ASSERT_EQ(samples.events.size(), 2u) << "two events at one time sample";
    EXPECT_EQ(samples.events[0].sample, 1);
    EXPECT_EQ(samples.events[0].value.type, static_cast<std::uint32_t>(SAMPLE_EVENT_BOOKMARK));
    EXPECT_EQ(samples.events[1].sample, 1);
    EXPECT_EQ(samples.events[1].value.type, static_cast<std::uint32_t>(SAMPLE_EVENT_ASCENT));
    EXPECT_EQ(samples.events[1].value.time, 10u);
    EXPECT_EQ(samples.events[1].value.flags, static_cast<std::uint32_t>(SAMPLE_FLAGS_BEGIN));
    EXPECT_EQ(samples.events[1].value.value, 3u);
    ASSERT_EQ(samples.ppo2.size(), 3u);
    EXPECT_EQ(samples.ppo2[2].value.bar, 0.7);
    EXPECT_EQ(samples.ppo2[2].value.sensor, std::nullopt);
#if DC_VERSION_CHECK(0, 9, 0)
    EXPECT_EQ(samples.ppo2[1].value.sensor, 1u);
#else
    EXPECT_EQ(samples.ppo2[1].value.sensor, std::nullopt) << "0.8 has no sensor";
#endif
    EXPECT_EQ(samples.ppo2[1].value.bar, 0.71);
    ASSERT_EQ(samples.setpoints.size(), 1u);
    EXPECT_EQ(samples.setpoints[0].value, 0.7);
    ASSERT_EQ(samples.cns.size(), 1u);
    EXPECT_EQ(samples.cns[0].value, 0.05);
    ASSERT_EQ(samples.heartRates.size(), 1u);
    EXPECT_EQ(samples.heartRates[0].value, 90u);
    ASSERT_EQ(samples.bearings.size(), 1u);
    EXPECT_EQ(samples.bearings[0].value, 270u);
    ASSERT_EQ(samples.remainingBottomTimes.size(), 1u);
    EXPECT_EQ(samples.remainingBottomTimes[0].sample, 1);
    EXPECT_EQ(samples.remainingBottomTimes[0].value, 45u);
    ASSERT_EQ(samples.deco.size(), 2u);
    EXPECT_EQ(samples.deco[1].sample, 2);
    EXPECT_EQ(samples.deco[1].value.type, static_cast<std::uint32_t>(DC_DECO_DECOSTOP));
    EXPECT_EQ(samples.deco[1].value.time, 120u);
    EXPECT_EQ(samples.deco[1].value.depth, 9.0);
#if DC_VERSION_CHECK(0, 9, 0)
    EXPECT_EQ(samples.deco[1].value.timeToSurface, 1800u);
#else
    EXPECT_EQ(samples.deco[1].value.timeToSurface, std::nullopt);
#endif
    ASSERT_EQ(samples.gasSwitches.size(), 2u);
    EXPECT_EQ(samples.gasSwitches[1].sample, 2);
    EXPECT_EQ(samples.gasSwitches[1].value, 2u);
    EXPECT_EQ(samples.depths.size(), 3u);
    EXPECT_EQ(samples.temperatures.size(), 1u);

    // The record itself is the one a download without the details gives.
    dcsim_detach_all();
    const Download plain = download(dive);
    ASSERT_EQ(plain.error, std::nullopt);
    const DiveRecord& same = plain.dives.at(0);
    EXPECT_FALSE(same.details);
    EXPECT_EQ(same.profile.eventSeries, record.profile.eventSeries);
    EXPECT_EQ(same.profile.pressureSeries, record.profile.pressureSeries);
    EXPECT_EQ(same.profile.depthSeries, record.profile.depthSeries);
    EXPECT_DOUBLE_EQ(same.gasmix.oxygen, record.gasmix.oxygen);
    EXPECT_EQ(parsingLines(plain.output), parsingLines(result.output));
}

// What a backend does not report is absent, not zero.
TEST_F(DiveParserTest, DetailsLeaveUnreportedFieldsAbsent) {
    Download result = download(R"(
dive
datetime 2024-06-01 10:00:00
dive
atmospheric 0
tank 0 none 0 0 0 0
time 0
)",
                               {}, nullptr, DetailRequest::kParse);
    ASSERT_EQ(result.error, std::nullopt);
    ASSERT_EQ(result.dives.size(), 2u);
    EXPECT_EQ(result.dives[1].details.value().timezone, std::nullopt) << "a date without a zone";
    const DiveDetails& details = result.dives[0].details.value();
    EXPECT_EQ(details.timezone, std::nullopt) << "no date at all";
    EXPECT_EQ(details.averageDepth, std::nullopt);
    EXPECT_EQ(details.atmospheric, 0.0) << "reported as 0";
    EXPECT_EQ(details.surfaceTemperature, std::nullopt);
    EXPECT_EQ(details.diveMode, std::nullopt);
    EXPECT_EQ(details.decoModel, std::nullopt);
    EXPECT_EQ(details.salinity, std::nullopt);
    EXPECT_EQ(details.location, std::nullopt);
    EXPECT_TRUE(details.gasMixes.empty());
    ASSERT_EQ(details.tanks.size(), 1u);
    ASSERT_TRUE(details.tanks[0]);
    EXPECT_EQ(details.tanks[0]->beginPressure, 0.0) << "a tank reported as 0 bar stays 0";
}

void expectSameRecord(const DiveRecord& actual, const DiveRecord& expected) {
    EXPECT_EQ(actual.datetime.year, expected.datetime.year);
    EXPECT_EQ(actual.datetime.hour, expected.datetime.hour);
    EXPECT_EQ(actual.datetime.timezone, expected.datetime.timezone);
    EXPECT_EQ(actual.divetime, expected.divetime);
    EXPECT_EQ(actual.maxdepth, expected.maxdepth);
    EXPECT_EQ(actual.gasmix.oxygen, expected.gasmix.oxygen);
    EXPECT_EQ(actual.gasmix.helium, expected.gasmix.helium);
    EXPECT_EQ(actual.profile.sampleCount, expected.profile.sampleCount);
    EXPECT_EQ(actual.profile.timeSeries, expected.profile.timeSeries);
    EXPECT_EQ(actual.profile.depthSeries, expected.profile.depthSeries);
    EXPECT_EQ(actual.profile.pressureSeries, expected.profile.pressureSeries);
    EXPECT_EQ(actual.profile.temperatureSeries, expected.profile.temperatureSeries);
    EXPECT_EQ(actual.profile.eventSeries, expected.profile.eventSeries);
    EXPECT_EQ(actual.fingerprint, expected.fingerprint);
}

// A detail whose query fails is left out and named in the support log; the dive, its record and
// every line arrive as they do without the details, and so do the dives around it.
TEST_F(DiveParserTest, DetailThatFailsToParseIsLeftOutAndTheDiveKept) {
    const std::string faulty = R"(
dive
datetime 2024-06-02 10:00:00 +02:00
divetime 40:00
maxdepth 30
avgdepth 15
salinity salt 1025
decomodel buhlmann 0 30 70
mix 32 0
mix 50 0
tank 0 metric 12 232 200 50
tank 1 metric 7 200 190 120
time 0; depth 0; temperature 20; pressure 0 200; gasmix 0
time 10; depth 5; pressure 0 199; event bookmark
)";
    struct Case {
        const char* fault;     // a scenario line of the faulty dive, or ""
        const char* function;  // else a call counted over the download, from the first dive:
        unsigned int call;     // the faulty dive's details make the fourth
        const char* logged;    // the warning, after "Dive 2: "
        std::function<void(const DiveDetails&)> check;
    };
    const Case cases[] = {
        {"fault field avgdepth io", nullptr, 0,
         "DC_FIELD_AVGDEPTH answered status -6; the dive's details leave the average depth out.",
         [](const DiveDetails& d) {
             EXPECT_EQ(d.averageDepth, std::nullopt);
             EXPECT_TRUE(d.salinity);
         }},
        {"fault field salinity done", nullptr, 0,
         "DC_FIELD_SALINITY answered status 1; the dive's details leave the salinity out.",
         [](const DiveDetails& d) {
             EXPECT_EQ(d.salinity, std::nullopt);
             EXPECT_EQ(d.averageDepth, 15.0);
         }},
        {"fault field decomodel dataformat", nullptr, 0,
         "DC_FIELD_DECOMODEL answered status -9; the dive's details leave the deco model out.",
         [](const DiveDetails& d) { EXPECT_EQ(d.decoModel, std::nullopt); }},
        {"fault field tank-count protocol", nullptr, 0,
         "DC_FIELD_TANK_COUNT answered status -8; the dive's details leave every tank out.",
         [](const DiveDetails& d) {
             EXPECT_TRUE(d.tanks.empty());
             EXPECT_EQ(d.gasMixes.size(), 2u);
         }},
        {"fault field tank timeout", nullptr, 0,
         "DC_FIELD_TANK 1 answered status -7; the dive's details leave tank 1 out.",
         [](const DiveDetails& d) {
             ASSERT_EQ(d.tanks.size(), 2u);
             EXPECT_FALSE(d.tanks[0] || d.tanks[1]);
         }},
        {"", "dc_parser_get_datetime", 4,
         "dc_parser_get_datetime answered status -6; the dive's details leave the time zone out.",
         [](const DiveDetails& d) {
             EXPECT_EQ(d.timezone, std::nullopt);
             EXPECT_EQ(d.averageDepth, 15.0);
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.logged);
        const std::string scenario = dives(1) + faulty + c.fault + "\n" + dives(1);
        dcsim_detach_all();
        const Download plain = download(scenario);
        ASSERT_EQ(plain.error, std::nullopt);

        dcsim_detach_all();
        if (c.function != nullptr) {
            ASSERT_EQ(dcsim_fault(c.function, c.call, DC_STATUS_IO), 0) << dcsim_last_error();
        }
        const TemporaryDirectory directory;
        const std::string logPath = (directory.path() / "support.log").string();
        Download detailed;
        {
            const SupportLog log = SupportLog::open(logPath, "info");
            const Diagnostics diagnostics(false, log);
            detailed = download(scenario, {}, nullptr, DetailRequest::kParse, diagnostics);
        }
        ASSERT_EQ(detailed.error, std::nullopt);
        ASSERT_EQ(detailed.dives.size(), 3u);
        for (std::size_t i = 0; i < 3; ++i) {
            expectSameRecord(detailed.dives[i], plain.dives.at(i));
        }
        EXPECT_EQ(detailed.output, plain.output);
        c.check(detailed.dives[1].details.value());
        EXPECT_EQ(detailed.dives[0].details.value().samples.times.size(), 2u);
        EXPECT_EQ(detailed.dives[2].details.value().samples.times.size(), 2u);

        std::ifstream file(logPath);
        const std::string text((std::istreambuf_iterator<char>(file)),
                               std::istreambuf_iterator<char>());
        EXPECT_THAT(text, testing::HasSubstr(std::string(" WARNING diveconnector: Dive 2: ") +
                                             c.logged + "\n"));
        EXPECT_THAT(text, testing::Not(testing::HasSubstr("Dive 1: ")));
        EXPECT_THAT(text, testing::Not(testing::HasSubstr("Dive 3: ")));
    }
}

TEST_F(DiveParserTest, UnsupportedFieldsKeepTheirDefaults) {
    const Download result = download(R"(
dive
time 0
dive
divetime 60
fault field gasmix-count unsupported
fault field maxdepth unsupported
)");
    ASSERT_EQ(result.error, std::nullopt);
    ASSERT_EQ(result.dives.size(), 2u);
    for (const DiveRecord& dive : result.dives) {
        EXPECT_EQ(dive.datetime.year, 0);
        EXPECT_EQ(dive.datetime.month, 0);
        EXPECT_EQ(dive.datetime.day, 0);
        EXPECT_EQ(dive.maxdepth, 0.0);
        EXPECT_EQ(dive.gasmix.oxygen, 0.0);
        EXPECT_EQ(dive.gasmix.helium, 0.0);
        EXPECT_EQ(dive.gasmix.nitrogen, 0.0);
    }
}

TEST_F(DiveParserTest, GasIsTheMixTheDiveStartsOn) {
    const std::string mixes = "mix 50 0\nmix 100 0\nmix 18 45\n";
    // Without a gas-mix sample: index 0.
    Download result = download("dive\n" + mixes + "time 0\n");
    ASSERT_EQ(result.error, std::nullopt);
    EXPECT_DOUBLE_EQ(result.dives.at(0).gasmix.oxygen, 0.50);

    // Starting on the trimix, switching to the deco gases later.
    dcsim_detach_all();
    result =
        download("dive\n" + mixes + "time 0; gasmix 2\ntime 10; gasmix 0\ntime 20; gasmix 1\n");
    ASSERT_EQ(result.error, std::nullopt);
    EXPECT_DOUBLE_EQ(result.dives.at(0).gasmix.oxygen, 0.18);
    EXPECT_DOUBLE_EQ(result.dives.at(0).gasmix.helium, 0.45);
}

TEST_F(DiveParserTest, MixAnsweringUnsupportedIsSkipped) {
    // Calls of the only dive: divetime, maxdepth, mix count, then mixes 0, 1 and 2.
    dcsim_fault("dc_parser_get_field", 6, DC_STATUS_UNSUPPORTED);
    Download result = download("dive\nmix 21 0\nmix 50 0\nmix 100 0\ntime 0; gasmix 2\n");
    ASSERT_EQ(result.error, std::nullopt);
    EXPECT_DOUBLE_EQ(result.dives.at(0).gasmix.oxygen, 0.21) << "the named mix is unknown";

    dcsim_detach_all();
    dcsim_fault("dc_parser_get_field", 6, DC_STATUS_IO);
    result = download("dive\nmix 21 0\nmix 50 0\nmix 100 0\n");
    EXPECT_EQ(result.error, "[-6]: Error parsing the gas mix.");
}

TEST_F(DiveParserTest, EveryQueryFailureFailsTheDownload) {
    const std::pair<std::string, std::string> cases[] = {
#if DC_VERSION_CHECK(0, 9, 0)
        {"fault parser nomemory", "[-3]: Error creating the parser."},
#else
        // Before 0.9 the parser is made from the device alone; the data is refused when set.
        {"fault parser nomemory", "[-3]: Error registering the data."},
#endif
        {"fault datetime io", "[-6]: Error parsing the datetime."},
        {"fault field divetime -1\nfault field maxdepth dataformat",
         "[-9]: Error parsing the maxdepth."},
        {"fault field divetime io", "[-6]: Error parsing the divetime."},
        {"fault field gasmix-count protocol", "[-8]: Error parsing the gas mix count."},
        {"fault field gasmix timeout", "[-7]: Error parsing the gas mix."},
        {"fault samples 1 dataformat", "[-9]: Error parsing the sample data."},
        {"fault samples 0 unsupported", "[-1]: Error parsing the sample data."},
        {"fault samples 1 done", "[1]: Error parsing the sample data."},
    };
    // Asking for the details changes none of it: the record is parsed first.
    for (const DetailRequest request : {DetailRequest::kSkip, DetailRequest::kParse}) {
        for (const auto& [fault, expected] : cases) {
            SCOPED_TRACE(fault);
            dcsim_detach_all();
            // The failing dive is the second delivered: the first must not reach the caller.
            const Download result =
                download(dives(1, "") + "dive\nmix 32 0\ntime 0\n" + fault + "\n" + dives(1), {},
                         nullptr, request);
            EXPECT_EQ(result.error, expected);
            EXPECT_TRUE(result.dives.empty());
            EXPECT_EQ(dcsim_live(DCSIM_PARSER), 0);
        }
    }
}

TEST_F(DiveParserTest, FailingParserDestructionKeepsTheDive) {
    const Download result = download(dives(1) + "dive\ntime 0\nfault destroy io\n" + dives(1));
    ASSERT_EQ(result.error, std::nullopt);
    EXPECT_EQ(result.dives.size(), 3u);
    EXPECT_THAT(
        parsingLines(result.output),
        ElementsAre("Parsing the maxdepth.", "Parsing the gas mixes.", "Parsing the maxdepth.",
                    "Parsing the gas mixes.", "Error destroying the parser (-6).",
                    "Parsing the maxdepth.", "Parsing the gas mixes."));
}

TEST_F(DiveParserTest, EnumerationFailingAfterFiveDives) {
    const Download result = download("fail-after 5 io\n" + dives(8));
    EXPECT_EQ(result.error, "[-6]: Error downloading the dives.");
    EXPECT_TRUE(result.dives.empty());
    EXPECT_EQ(dcsim_calls("dc_parser_new"), 5u);
}

TEST_F(DiveParserTest, InterruptionBeforeTheFirstDive) {
    const Download result =
        download(dives(3), [](const DownloadInterruption&) { interruptDeviceDownload(); });
    EXPECT_EQ(result.error, std::nullopt);
    EXPECT_TRUE(result.dives.empty());
    EXPECT_EQ(dcsim_calls("dc_parser_new"), 0u);
}

// Acts once, on the downloading thread, when the transfer reaches a given chunk: what happens
// from another thread at that moment, with no thread to be scheduled in time.
class AtChunk : public DownloadListener {
  public:
    AtChunk(std::uint32_t chunk, std::function<void()> action)
        : chunk_(chunk), action_(std::move(action)) {}
    bool progress(std::uint32_t current, std::uint32_t) noexcept override {
        if (current == chunk_) {
            action_();
        }
        return true;
    }
    bool waiting() noexcept override { return true; }
    bool deviceInfo(std::uint32_t, std::uint32_t, std::uint32_t) noexcept override { return true; }
    std::optional<std::string> pinCode(const std::string&, const std::string&) noexcept override {
        return std::nullopt;
    }

  private:
    std::uint32_t chunk_;
    std::function<void()> action_;
};

// SIGINT at its default disposition while the owner lives, as in an interactive shell, whatever
// the test run inherited: nohup and background jobs ignore it, and a download then rightly
// leaves it ignored.
class DefaultSigint {
  public:
#ifdef _WIN32
    DefaultSigint() : saved_(std::signal(SIGINT, SIG_DFL)) {}
    ~DefaultSigint() {
        std::signal(SIGINT, saved_);
    }
#else
    DefaultSigint() {
        struct sigaction standard {};
        standard.sa_handler = SIG_DFL;
        sigemptyset(&standard.sa_mask);
        sigaction(SIGINT, &standard, &saved_);
    }
    ~DefaultSigint() {
        sigaction(SIGINT, &saved_, nullptr);
    }
#endif
    DefaultSigint(const DefaultSigint&) = delete;
    DefaultSigint& operator=(const DefaultSigint&) = delete;

  private:
#ifdef _WIN32
    void (*saved_)(int);
#else
    struct sigaction saved_ {};
#endif
};

TEST_F(DiveParserTest, InterruptionDuringTheThirdDiveKeepsThreeDives) {
    // Four chunks a dive: chunk 13, the fourth dive's first, comes after the third was handed over.
    AtChunk interrupter(13, [] { interruptDeviceDownload(); });
    const Download result = download("transfer 4 1\n" + dives(6), {}, &interrupter);
    EXPECT_EQ(result.error, std::nullopt);
    EXPECT_EQ(result.dives.size(), 3u);
    const auto lines = parsingLines(result.output);
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "Parsing the maxdepth."), 3);
}

TEST_F(DiveParserTest, SignalDuringSlowTransferCancels) {
    const DefaultSigint sigint;
    // Chunk 15: halfway through the second dive.
    AtChunk signaller(15, [] { std::raise(SIGINT); });
    const Download result = download("transfer 10 10\n" + dives(5), {}, &signaller);
    EXPECT_EQ(result.error, "[-10]: Error downloading the dives.");
    EXPECT_TRUE(result.dives.empty());
}

TEST_F(DiveParserTest, AllocationFailureInsideCallbacksIsCarriedOutUnchanged) {
    const std::string scenario = "serial sim:alloc\n" + dives(3);
    ASSERT_EQ(dcsim_attach(scenario.c_str()), 0) << dcsim_last_error();
    // Every allocation count from the first dive's record to deep inside the third dive's samples.
    int failures = 0;
    for (long failAt = 1; failAt < 60; ++failAt) {
        SCOPED_TRACE(failAt);
        const DeviceSession session("sim:alloc", "Test", "Computer", Diagnostics::standard());
        const DownloadInterruption interruption;
        const DeviceConnection connection(session, nullptr);
        testing::internal::CaptureStdout();
        allocationsUntilFailure = failAt;
        try {
            static_cast<void>(downloadDives(connection, interruption));
        } catch (const std::bad_alloc&) {
            ++failures;
        }
        allocationsUntilFailure = -1;
        testing::internal::GetCapturedStdout();
        EXPECT_EQ(dcsim_live(DCSIM_PARSER), 0);
    }
    EXPECT_GT(failures, 30) << "most allocation points lie inside the callbacks";
}

}  // namespace
}  // namespace diveconnector
