// The scenario language: what it can express reaches the parser unchanged,
// and mistakes are reported with their line.
#include <cmath>
#include <cstring>

#include "dcsim_test.h"

namespace dcsimtest {
namespace {

using ScenarioTest = DcsimTest;

struct BadScenario {
    const char* text;
    const char* error;
};

class ScenarioErrorTest : public DcsimTest, public ::testing::WithParamInterface<BadScenario> {};

TEST_P(ScenarioErrorTest, IsRejectedWithItsLine) {
    EXPECT_EQ(dcsim_attach(GetParam().text), -1);
    EXPECT_STREQ(dcsim_last_error(), GetParam().error);
    dc_iostream_t* stream = nullptr;
    EXPECT_EQ(dc_serial_open(&stream, nullptr, "sim:port"), DC_STATUS_NODEVICE);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ScenarioErrorTest,
    ::testing::Values(
        BadScenario{"serial sim:port\nbogus 1\n", "line 2: unknown keyword 'bogus'"},
        BadScenario{"serial sim:port\ndepth 3\n",
                    "line 2: 'depth' belongs to a dive; start one with a 'dive' line"},
        BadScenario{"serial sim:port\ndive\n# comment\n  depth deep # why\n",
                    "line 4: depth: expected a number such as 12.5, got 'deep'"},
        BadScenario{"serial sim:port\ndive\ndepth 1,5\n",
                    "line 3: depth: expected a number such as 12.5, got '1,5'"},
        BadScenario{"serial sim:port\ndive\nserial other\n",
                    "line 3: 'serial' describes the computer and belongs before the first dive"},
        BadScenario{"serial sim:port\ndive\ntime 4294967.296\n",
                    "line 3: time: 4294967.296 does not fit libdivecomputer's time sample, "
                    "unsigned milliseconds (at most 4294967.295 s)"},
        BadScenario{"serial sim:port\ndive\ntime 1:60\n",
                    "line 3: time: expected a time such as 90, 1:30, 1:02:03, 12.5 or 1500ms, "
                    "got '1:60'"},
        BadScenario{"serial sim:port\ndive\nmaxdepth 3\nmaxdepth 4\n",
                    "line 4: maxdepth is given twice in this dive"},
        BadScenario{"serial sim:port\ndive\nmix 80 30\n",
                    "line 3: mix: oxygen and helium add up to more than 100 %"},
        // What libdivecomputer's backends never give.
        BadScenario{"serial sim:port\ndive\nmix 32 0 sidemount\n",
                    "line 3: mix: sidemount is the use of a tank, not of a mix"},
        BadScenario{"serial sim:port\ndive\ntank 0 none 12 0 200 50\n",
                    "line 3: tank: a tank of volume type none has volume and work pressure 0"},
        BadScenario{"serial sim:port\ndive\ntank 0 imperial 11.1 0 200 50\n",
                    "line 3: tank: an imperial tank has a volume and a work pressure above 0"},
        BadScenario{"serial sim:port\ndive\ndecomodel vpm 2 30 70\n",
                    "line 3: decomodel: gradient factors belong to buhlmann only"},
        BadScenario{"serial sim:port\ndive\ntime 0; depth 1; event bookmark 0 sideways\n",
                    "line 3: event flags: expected none, begin, end or a number, got 'sideways'"},
        BadScenario{"serial \"sim:port\n", "line 1: unterminated quoted string"},
        BadScenario{"serial sim:port\ndive\nat 10 depth 1\n",
                    "line 3: at adds samples to a profile; give the profile line first"},
        BadScenario{"serial sim:port\ndive\nprofile 0@0 1:00@10\ndepth 3\n",
                    "line 4: this dive's samples come from its profile; add 'depth' with 'at "
                    "TIME depth ...'"},
        BadScenario{"serial sim:port\ndive\nprofile 0@0\n",
                    "line 3: profile: needs at least two waypoints TIME@DEPTH"},
        BadScenario{"serial sim:port\ndive\nprofile 1:00@0 0:30@10\n",
                    "line 3: profile: waypoint times must increase ('0:30@10')"},
        BadScenario{"serial sim:port\ndive\ndepth 1\nraw 00\n",
                    "line 4: raw gives the whole dive; it cannot be mixed with header, sample or "
                    "profile lines"},
        BadScenario{"serial sim:port\ndive\nraw 0\n",
                    "line 3: raw: expected an even number of hex digits, got '0'"},
        BadScenario{"serial sim:port\ndive\nfault samples 3 SUCCESS\n",
                    "line 3: expected a failure status such as IO, TIMEOUT or -6, got 'SUCCESS'"},
        BadScenario{"serial sim:port\ndive\nfault field nofield IO\n",
                    "line 3: fault field: expected divetime, maxdepth, avgdepth, gasmix-count, "
                    "gasmix, salinity, atmospheric, temperature-surface, temperature-minimum, "
                    "temperature-maximum, tank-count, tank, divemode, decomodel, location or a "
                    "number, got 'nofield'"},
        BadScenario{"serial sim:port\ndive\nfingerprint 0102\n",
                    "line 3: fingerprint: expected 4 bytes (8 hex digits)"},
        BadScenario{"serial sim:port\ndive\nsample 4 1\n",
                    "line 3: sample: type 4 is one libdivecomputer defines; write it as such"},
        BadScenario{"serial sim:port\ndive\nsample 16\n",
                    "line 3: sample: type 16 is outside dc_sample_type_t, which holds 0 to 15 in "
                    "C++; unknown kinds are 14 to 15"},
        BadScenario{"serial sim:port\ntransfer 0 5\n",
                    "line 2: transfer: a dive takes at least 1 chunk"},
        BadScenario{"serial sim:port\nevents waiting waiting\n",
                    "line 2: events: waiting is listed twice"},
        BadScenario{"serial sim:port\nusb 0x10000 1\n",
                    "line 2: vendor id: expected a whole number from 0 to 65535, got '0x10000'"},
        BadScenario{"serial sim:port\nbluetooth 00:11:22:33:44\n",
                    "line 2: bluetooth: expected an address such as 00:11:22:AA:BB:CC, got "
                    "'00:11:22:33:44'"},
        BadScenario{"serial sim:port\ngenerate 0\n",
                    "line 2: generate: the count must be at least 1"},
        BadScenario{"serial sim:port\ndive\ndive extra\n", "line 3: dive takes no arguments"},
        BadScenario{"serial " DCSIM_BUILTIN_PORT "\n",
                    "cannot attach: serial port dcsim:builtin belongs to the built-in computer"}));

TEST_F(ScenarioTest, FileErrorsNameTheFile) {
    TempFile file("broken.scenario", "serial sim:file\n\ndive\ndepth\n");
    EXPECT_EQ(dcsim_attach_file(file.path().c_str()), -1);
    EXPECT_EQ(std::string(dcsim_last_error()), file.path() + ":4: expected: depth METRES");
    EXPECT_EQ(dcsim_attach_file("/nonexistent/scenario"), -1);
    EXPECT_NE(std::strstr(dcsim_last_error(), "/nonexistent/scenario"), nullptr);
}

TEST_F(ScenarioTest, TakenAddressesAreRefused) {
    ASSERT_EQ(dcsim_attach("serial sim:a\nbluetooth 00:00:00:00:00:01\nirda 5\n"), 0);
    EXPECT_EQ(dcsim_attach("serial sim:a\n"), -1);
    EXPECT_EQ(dcsim_attach("bluetooth 00:00:00:00:00:01\n"), -1);
    EXPECT_EQ(dcsim_attach("irda 5\n"), -1);
    EXPECT_EQ(dcsim_attach("serial sim:b\nusb 1 2\n"), 0);
    EXPECT_EQ(dcsim_attach("serial sim:c\nusb 1 2\n"), 0) << "two of one model may be plugged in";
    dcsim_detach_all();
    EXPECT_EQ(dcsim_attach("serial sim:a\n"), 0);
}

TEST_F(ScenarioTest, SerialOpenOfAnInvalidScenarioFilePrintsTheReason) {
    TempFile file("invalid.scenario", "devinfo 1 2\n");
    ::testing::internal::CaptureStderr();
    openSerial(file.path(), DC_STATUS_IO);
    const std::string printed = ::testing::internal::GetCapturedStderr();
    const std::string reason = file.path() + ":1: expected: devinfo MODEL FIRMWARE SERIAL";
    EXPECT_EQ(printed, reason + "\n");
    EXPECT_EQ(dcsim_last_error(), reason);
}

TEST_F(ScenarioTest, SerialOpenOfAScenarioFileReachesItsComputer) {
    TempFile file("two.scenario", "devinfo 7 8 9\ndive\ndivetime 60\ndive\ndivetime 120\n");
    Download result = downloadSerial(file.path(), DCSIM_BUILTIN_VENDOR, DCSIM_BUILTIN_PRODUCT);
    ASSERT_EQ(result.status, DC_STATUS_SUCCESS);
    EXPECT_EQ(result.dives.size(), 2u);
    openSerial(::testing::TempDir() + "missing.scenario", DC_STATUS_NODEVICE);
}

TEST_F(ScenarioTest, SamplesArriveExactlyAsWritten) {
    ParsedDive parser = parse(
        onlyDive("dive\n"
                 "depth 0.5              # before the first time sample\n"
                 "temperature 21.5\n"
                 "time 0; depth 1.25; pressure 0 200; pressure 1 190.5\n"
                 "event bookmark; event 0xFFFFFFFF 7 begin 42; event violation 0 end\n"
                 "time 1500ms\n"
                 "time 1.5; depth nan\n"
                 "time 4294967.295\n"
                 "time 10; rbt 35; heartbeat 120; bearing 270; setpoint 1.3; cns 0.25; gasmix 9\n"
                 "ppo2 1.1; ppo2 2 0.95; ppo2 none 1.2\n"
                 "deco decostop 1:00 6 12:30; deco ndl 99:00 0\n"
                 "vendor 5 DEADbeef\n"
                 "sample 14 1 0xFFFFFFFF\n"
                 "time 5\n"));
    const Samples samples = samplesOf(parser.get());
    ASSERT_EQ(samples.status, DC_STATUS_SUCCESS);
    const auto& s = samples.list;
    ASSERT_EQ(s.size(), 28u);
    EXPECT_EQ(s[0].type, DC_SAMPLE_DEPTH);
    EXPECT_EQ(s[0].value.depth, 0.5);
    EXPECT_EQ(s[2].type, DC_SAMPLE_TIME);
    EXPECT_EQ(s[4].value.pressure.tank, 0u);
    EXPECT_EQ(s[5].value.pressure.tank, 1u);
    EXPECT_EQ(s[5].value.pressure.value, 190.5);
    EXPECT_EQ(s[6].value.event.type, unsigned{SAMPLE_EVENT_BOOKMARK});
    EXPECT_EQ(s[7].value.event.type, 0xFFFFFFFFu);
    EXPECT_EQ(s[7].value.event.time, 7u);
    EXPECT_EQ(s[7].value.event.flags, unsigned{SAMPLE_FLAGS_BEGIN});
    EXPECT_EQ(s[7].value.event.value, 42u);
    EXPECT_EQ(s[8].value.event.flags, unsigned{SAMPLE_FLAGS_END});
    EXPECT_EQ(s[9].value.time, 1500u);
    EXPECT_EQ(s[10].value.time, 1500u);
    EXPECT_TRUE(std::isnan(s[11].value.depth));
    EXPECT_EQ(s[12].value.time, 4294967295u);
    EXPECT_EQ(s[13].value.time, 10000u);
    EXPECT_EQ(s[19].type, DC_SAMPLE_GASMIX);
    EXPECT_EQ(s[19].value.gasmix, 9u);
    EXPECT_EQ(s[20].value.ppo2.sensor, DC_SENSOR_NONE);
    EXPECT_EQ(s[21].value.ppo2.sensor, 2u);
    EXPECT_EQ(s[22].value.ppo2.sensor, DC_SENSOR_NONE);
    EXPECT_EQ(s[23].value.deco.type, unsigned{DC_DECO_DECOSTOP});
    EXPECT_EQ(s[23].value.deco.time, 60u);
    EXPECT_EQ(s[23].value.deco.tts, 750u);
    EXPECT_EQ(s[24].value.deco.type, unsigned{DC_DECO_NDL});
    EXPECT_EQ(s[25].type, DC_SAMPLE_VENDOR);
    EXPECT_EQ(s[25].value.vendor.type, 5u);
    EXPECT_EQ(s[25].vendor, (std::vector<unsigned char>{0xDE, 0xAD, 0xBE, 0xEF}));
    EXPECT_EQ(s[26].type, static_cast<dc_sample_type_t>(14));
    unsigned int words[2];
    std::memcpy(words, &s[26].value, sizeof words);
    EXPECT_EQ(words[1], 0xFFFFFFFFu);
    EXPECT_EQ(s[27].value.time, 5000u) << "times may go backwards";
}

TEST_F(ScenarioTest, HeaderFieldsAreAnsweredOnlyWhenGiven) {
    ParsedDive full =
        parse(onlyDive("dive\n"
                       "datetime 2024-02-29 23:59:58 -03:30\n"
                       "divetime 1:02:03\n"
                       "maxdepth 40.5; avgdepth 18.25\n"
                       "atmospheric 0.95; temperature-surface 30; temperature-minimum 4.5; "
                       "temperature-maximum 31\n"
                       "salinity fresh 1000\n"
                       "divemode ccr\n"
                       "decomodel buhlmann -1 35 75\n"
                       "location 45.5 -122.25 300\n"
                       "mix 21 0; mix 10 70 diluent; mix 100 0 oxygen\n"
                       "tank 1 imperial 80 207 200 50 sidemount\n"
                       "tank none none 0 0 0 0\n"));
    dc_datetime_t dt{};
    ASSERT_EQ(dc_parser_get_datetime(full.get(), &dt), DC_STATUS_SUCCESS);
    EXPECT_EQ(dt.year, 2024);
    EXPECT_EQ(dt.day, 29);
    EXPECT_EQ(dt.second, 58);
    EXPECT_EQ(dt.timezone, -(3 * 3600 + 30 * 60));
    unsigned int count = 0;
    EXPECT_EQ(dc_parser_get_field(full.get(), DC_FIELD_DIVETIME, 0, &count), DC_STATUS_SUCCESS);
    EXPECT_EQ(count, 3723u);
    double number = 0;
    EXPECT_EQ(dc_parser_get_field(full.get(), DC_FIELD_AVGDEPTH, 0, &number), DC_STATUS_SUCCESS);
    EXPECT_EQ(number, 18.25);
    EXPECT_EQ(dc_parser_get_field(full.get(), DC_FIELD_TEMPERATURE_MINIMUM, 0, &number),
              DC_STATUS_SUCCESS);
    EXPECT_EQ(number, 4.5);
    dc_salinity_t salinity{};
    EXPECT_EQ(dc_parser_get_field(full.get(), DC_FIELD_SALINITY, 0, &salinity), DC_STATUS_SUCCESS);
    EXPECT_EQ(salinity.type, DC_WATER_FRESH);
    dc_divemode_t mode{};
    EXPECT_EQ(dc_parser_get_field(full.get(), DC_FIELD_DIVEMODE, 0, &mode), DC_STATUS_SUCCESS);
    EXPECT_EQ(mode, DC_DIVEMODE_CCR);
    dc_decomodel_t model{};
    EXPECT_EQ(dc_parser_get_field(full.get(), DC_FIELD_DECOMODEL, 0, &model), DC_STATUS_SUCCESS);
    EXPECT_EQ(model.conservatism, -1);
    EXPECT_EQ(model.params.gf.low, 35u);
    EXPECT_EQ(model.params.gf.high, 75u);
    dc_location_t location{};
    EXPECT_EQ(dc_parser_get_field(full.get(), DC_FIELD_LOCATION, 0, &location), DC_STATUS_SUCCESS);
    EXPECT_EQ(location.longitude, -122.25);
    EXPECT_EQ(dc_parser_get_field(full.get(), DC_FIELD_GASMIX_COUNT, 0, &count), DC_STATUS_SUCCESS);
    EXPECT_EQ(count, 3u);
    dc_gasmix_t mix{};
    EXPECT_EQ(dc_parser_get_field(full.get(), DC_FIELD_GASMIX, 1, &mix), DC_STATUS_SUCCESS);
    EXPECT_EQ(mix.oxygen, 0.10);
    EXPECT_EQ(mix.helium, 0.70);
    EXPECT_DOUBLE_EQ(mix.nitrogen, 0.20);
    EXPECT_EQ(mix.usage, DC_USAGE_DILUENT);
    EXPECT_EQ(dc_parser_get_field(full.get(), DC_FIELD_GASMIX, 3, &mix), DC_STATUS_INVALIDARGS);
    EXPECT_EQ(dc_parser_get_field(full.get(), DC_FIELD_TANK_COUNT, 0, &count), DC_STATUS_SUCCESS);
    EXPECT_EQ(count, 2u);
    dc_tank_t tank{};
    EXPECT_EQ(dc_parser_get_field(full.get(), DC_FIELD_TANK, 0, &tank), DC_STATUS_SUCCESS);
    EXPECT_EQ(tank.gasmix, 1u);
    EXPECT_EQ(tank.type, DC_TANKVOLUME_IMPERIAL);
    EXPECT_EQ(tank.usage, DC_USAGE_SIDEMOUNT);
    EXPECT_EQ(dc_parser_get_field(full.get(), DC_FIELD_TANK, 1, &tank), DC_STATUS_SUCCESS);
    EXPECT_EQ(tank.gasmix, DC_GASMIX_UNKNOWN);
    EXPECT_EQ(dc_parser_get_field(full.get(), DC_FIELD_TANK, 2, &tank), DC_STATUS_INVALIDARGS);
    EXPECT_EQ(dc_parser_get_field(full.get(), static_cast<dc_field_type_t>(-1), 0, &number),
              DC_STATUS_UNSUPPORTED);

    ParsedDive empty = parse(onlyDive("dive\n"));
    EXPECT_EQ(dc_parser_get_datetime(empty.get(), &dt), DC_STATUS_UNSUPPORTED);
    for (dc_field_type_t field :
         {DC_FIELD_DIVETIME, DC_FIELD_MAXDEPTH, DC_FIELD_AVGDEPTH, DC_FIELD_GASMIX,
          DC_FIELD_SALINITY, DC_FIELD_TANK_COUNT, DC_FIELD_TANK, DC_FIELD_LOCATION}) {
        EXPECT_EQ(dc_parser_get_field(empty.get(), field, 0, &tank), DC_STATUS_UNSUPPORTED)
            << field;
    }
    EXPECT_EQ(dc_parser_get_field(empty.get(), DC_FIELD_GASMIX_COUNT, 0, &count),
              DC_STATUS_SUCCESS);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(samplesOf(empty.get()).list.size(), 0u);
}

TEST_F(ScenarioTest, ProfileSamplesEveryIntervalWithInsertsInPlace) {
    ParsedDive parser = parse(
        onlyDive("dive\n"
                 "profile interval=30 temperature=20:10 tank=0:200:100 tank=3:210:90 0@0 1:00@20 "
                 "2:00@0\n"
                 "at 1:00 event bookmark\n"
                 "at 0:45 gasmix 1\n"
                 "at 1:00 event surface\n"
                 "at 9:00 cns 0.5\n"));
    unsigned int divetime = 0;
    double maxdepth = 0;
    EXPECT_EQ(dc_parser_get_field(parser.get(), DC_FIELD_DIVETIME, 0, &divetime),
              DC_STATUS_SUCCESS);
    EXPECT_EQ(divetime, 120u);
    EXPECT_EQ(dc_parser_get_field(parser.get(), DC_FIELD_MAXDEPTH, 0, &maxdepth),
              DC_STATUS_SUCCESS);
    EXPECT_EQ(maxdepth, 20.0);

    const Samples samples = samplesOf(parser.get());
    ASSERT_EQ(samples.status, DC_STATUS_SUCCESS);
    // time, depth, temperature, two pressures per time sample; inserts after
    // the time sample that reaches them.
    const std::vector<Sample> times = samples.of(DC_SAMPLE_TIME);
    ASSERT_EQ(times.size(), 5u);
    EXPECT_EQ(times[4].value.time, 120000u);
    const std::vector<Sample> depths = samples.of(DC_SAMPLE_DEPTH);
    EXPECT_EQ(depths[1].value.depth, 10.0);
    EXPECT_EQ(depths[2].value.depth, 20.0);
    const std::vector<Sample> temperatures = samples.of(DC_SAMPLE_TEMPERATURE);
    EXPECT_EQ(temperatures[0].value.temperature, 20.0);
    EXPECT_EQ(temperatures[2].value.temperature, 10.0);
    const std::vector<Sample> pressures = samples.of(DC_SAMPLE_PRESSURE);
    ASSERT_EQ(pressures.size(), 10u);
    EXPECT_EQ(pressures[1].value.pressure.tank, 3u);
    EXPECT_EQ(pressures[8].value.pressure.value, 100.0);
    EXPECT_EQ(pressures[9].value.pressure.value, 90.0);
    const auto& s = samples.list;
    EXPECT_EQ(s[10].type, DC_SAMPLE_TIME);  // 1:00
    EXPECT_EQ(s[15].type, DC_SAMPLE_GASMIX);
    EXPECT_EQ(s[16].value.event.type, unsigned{SAMPLE_EVENT_BOOKMARK});
    EXPECT_EQ(s[17].value.event.type, unsigned{SAMPLE_EVENT_SURFACE});
    EXPECT_EQ(s.back().type, DC_SAMPLE_CNS) << "inserts past the end come last";
}

TEST_F(ScenarioTest, GeneratedDivesAreMadeDuringTheDownload) {
    ASSERT_EQ(dcsim_attach("serial sim:bulk\n"
                           "dive\ndivetime 1\n"
                           "generate 30 samples=3600 interval=10 depth=25 "
                           "start=2023-06-01T09:00:00 spacing=3:00:00 tanks=2 oxygen=32\n"),
              0)
        << dcsim_last_error();
    Download result = downloadSerial("sim:bulk", DCSIM_BUILTIN_VENDOR, DCSIM_BUILTIN_PRODUCT, 0);
    ASSERT_EQ(result.status, DC_STATUS_SUCCESS);
    ASSERT_EQ(result.dives.size(), 31u);
    dc_datetime_t previous{};
    for (int i = 29; i >= 0; --i) {  // oldest generated dive first
        ParsedDive parser = parse(result.dives[static_cast<size_t>(i)]);
        dc_datetime_t dt{};
        ASSERT_EQ(dc_parser_get_datetime(parser.get(), &dt), DC_STATUS_SUCCESS);
        if (i == 29) {
            EXPECT_EQ(dt.year, 2023);
            EXPECT_EQ(dt.hour, 9);
        } else {
            EXPECT_EQ(dc_datetime_mktime(&dt) - dc_datetime_mktime(&previous), 3 * 3600);
        }
        previous = dt;
        const Samples samples = samplesOf(parser.get());
        EXPECT_EQ(samples.of(DC_SAMPLE_TIME).size(), 3600u);
        EXPECT_EQ(samples.of(DC_SAMPLE_PRESSURE).size(), 7200u);
        dc_gasmix_t mix{};
        ASSERT_EQ(dc_parser_get_field(parser.get(), DC_FIELD_GASMIX, 0, &mix), DC_STATUS_SUCCESS);
        EXPECT_EQ(mix.oxygen, 0.32);
        double maxdepth = 0;
        ASSERT_EQ(dc_parser_get_field(parser.get(), DC_FIELD_MAXDEPTH, 0, &maxdepth),
                  DC_STATUS_SUCCESS);
        EXPECT_GE(maxdepth, 20.0);
        EXPECT_LE(maxdepth, 30.0);
    }
}

TEST_F(ScenarioTest, ParserFaultsStrikeWhereTheDiveSays) {
    const std::vector<unsigned char> created = onlyDive("dive\nfault parser TIMEOUT\n");
    parse(created, DC_STATUS_TIMEOUT);

    ParsedDive parser =
        parse(onlyDive("dive\n"
                       "datetime 2024-01-01 00:00:00\n"
                       "maxdepth 10; divetime 60\n"
                       "fault datetime IO\n"
                       "fault field maxdepth -1\n"
                       "fault field -1 PROTOCOL\n"
                       "fault samples 2 DC_STATUS_CANCELLED\n"
                       "fault destroy NOMEMORY\n"
                       "time 0; depth 1; time 10; depth 2\n"));
    dc_datetime_t dt{};
    EXPECT_EQ(dc_parser_get_datetime(parser.get(), &dt), DC_STATUS_IO);
    double maxdepth = 0;
    EXPECT_EQ(dc_parser_get_field(parser.get(), DC_FIELD_MAXDEPTH, 0, &maxdepth),
              DC_STATUS_UNSUPPORTED);
    unsigned int divetime = 0;
    EXPECT_EQ(dc_parser_get_field(parser.get(), DC_FIELD_DIVETIME, 0, &divetime),
              DC_STATUS_SUCCESS);
    EXPECT_EQ(dc_parser_get_field(parser.get(), static_cast<dc_field_type_t>(-1), 0, &divetime),
              DC_STATUS_PROTOCOL);
    const Samples samples = samplesOf(parser.get());
    EXPECT_EQ(samples.status, DC_STATUS_CANCELLED);
    EXPECT_EQ(samples.list.size(), 2u);
    EXPECT_EQ(dc_parser_destroy(parser.release()), DC_STATUS_NOMEMORY);
    EXPECT_EQ(dcsim_live(DCSIM_PARSER), 0);

    ParsedDive any = parse(onlyDive("dive\ndivetime 60\nfault field any DATAFORMAT\n"));
    EXPECT_EQ(dc_parser_get_field(any.get(), DC_FIELD_DIVETIME, 0, &divetime),
              DC_STATUS_DATAFORMAT);
    EXPECT_EQ(dc_parser_get_field(any.get(), DC_FIELD_GASMIX_COUNT, 0, &divetime),
              DC_STATUS_DATAFORMAT);
}

TEST_F(ScenarioTest, MalformedDivesReachTheParserAsWritten) {
    EXPECT_EQ(onlyDive("dive\nraw 444353\nraw 4d\n"),
              (std::vector<unsigned char>{'D', 'C', 'S', 'M'}));
    parse(onlyDive("dive\nraw 00112233\n"), DC_STATUS_DATAFORMAT);
    parse(onlyDive("dive\ndivetime 60\npatch 0 58\n"), DC_STATUS_DATAFORMAT);

    // Cut inside the second depth sample: the samples before it still arrive.
    ParsedDive cut = parse(onlyDive("dive\ntime 0; depth 1; time 10; depth 2\ntruncate 45\n"));
    const Samples samples = samplesOf(cut.get());
    EXPECT_EQ(samples.status, DC_STATUS_DATAFORMAT);
    EXPECT_EQ(samples.list.size(), 3u);

    const std::vector<unsigned char> extended = onlyDive("dive\npatch 14 01020304\n");
    EXPECT_EQ(extended.size(), 18u);
    EXPECT_EQ(extended[12], 0);
    EXPECT_EQ(extended[17], 4);
}

TEST_F(ScenarioTest, ParserCopiesTheData) {
    std::vector<unsigned char> data = onlyDive("dive\ndivetime 60\ntime 0; depth 3\n");
    Descriptor descriptor = findDescriptor(DCSIM_BUILTIN_VENDOR, "Reef Nitrox");
    Stream stream = openSerial(DCSIM_BUILTIN_PORT);
    Device device = openDevice(descriptor.get(), stream.get());
    dc_parser_t* raw = nullptr;
    ASSERT_EQ(dc_parser_new(&raw, device.get(), data.data(), data.size()), DC_STATUS_SUCCESS);
    Parser parser(raw);
    std::fill(data.begin(), data.end(), 0);
    data.clear();
    data.shrink_to_fit();
    unsigned int divetime = 0;
    EXPECT_EQ(dc_parser_get_field(parser.get(), DC_FIELD_DIVETIME, 0, &divetime),
              DC_STATUS_SUCCESS);
    EXPECT_EQ(divetime, 60u);
    EXPECT_EQ(samplesOf(parser.get()).list.size(), 2u);
    EXPECT_EQ(dc_parser_get_type(parser.get()), DC_FAMILY_SUUNTO_VYPER);
}

}  // namespace
}  // namespace dcsimtest
