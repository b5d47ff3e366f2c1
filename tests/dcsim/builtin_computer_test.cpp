// The computer at DCSIM_BUILTIN_PORT: a plausible two-week dive trip.
#include <cmath>
#include <set>

#include "dcsim_test.h"

namespace dcsimtest {
namespace {

struct Dive {
    dc_datetime_t datetime{};
    std::vector<dc_gasmix_t> mixes;
    unsigned int tanks = 0;
    Samples samples;
};

class BuiltinComputerTest : public DcsimTest {
  protected:
    static void SetUpTestSuite() {
        dcsim_reset();
        result_ = new Download(
            downloadSerial(DCSIM_BUILTIN_PORT, DCSIM_BUILTIN_VENDOR, DCSIM_BUILTIN_PRODUCT));
        for (const auto& data : result_->dives) {
            ParsedDive parser = parse(data);
            Dive dive;
            dc_parser_get_datetime(parser.get(), &dive.datetime);
            unsigned int count = 0;
            dc_parser_get_field(parser.get(), DC_FIELD_GASMIX_COUNT, 0, &count);
            for (unsigned int i = 0; i < count; ++i) {
                dc_gasmix_t mix{};
                dc_parser_get_field(parser.get(), DC_FIELD_GASMIX, i, &mix);
                dive.mixes.push_back(mix);
            }
            dc_parser_get_field(parser.get(), DC_FIELD_TANK_COUNT, 0, &dive.tanks);
            dive.samples = samplesOf(parser.get());
            dives_.push_back(dive);
        }
    }
    static void TearDownTestSuite() {
        delete result_;
        dives_.clear();
    }
    static Download* result_;
    static std::vector<Dive> dives_;
};

Download* BuiltinComputerTest::result_ = nullptr;
std::vector<Dive> BuiltinComputerTest::dives_;

TEST_F(BuiltinComputerTest, TwoWeeksOfDivesNewestFirst) {
    ASSERT_EQ(result_->status, DC_STATUS_SUCCESS);
    ASSERT_GE(dives_.size(), 18u);
    ASSERT_LE(dives_.size(), 22u);
    for (size_t i = 1; i < dives_.size(); ++i) {
        EXPECT_LT(dc_datetime_mktime(&dives_[i].datetime),
                  dc_datetime_mktime(&dives_[i - 1].datetime));
    }
    const dc_ticks_t span =
        dc_datetime_mktime(&dives_.front().datetime) - dc_datetime_mktime(&dives_.back().datetime);
    EXPECT_GT(span, 9 * 86400);
    EXPECT_LT(span, 15 * 86400);
}

TEST_F(BuiltinComputerTest, SamplesEveryTenSecondsWithDepthTemperatureAndPressure) {
    std::set<unsigned int> eventTypes;
    for (const Dive& dive : dives_) {
        ASSERT_EQ(dive.samples.status, DC_STATUS_SUCCESS);
        const auto times = dive.samples.of(DC_SAMPLE_TIME);
        ASSERT_GT(times.size(), 200u);
        for (size_t i = 1; i < times.size(); ++i) {
            ASSERT_EQ(times[i].value.time - times[i - 1].value.time, 10000u);
        }
        EXPECT_EQ(dive.samples.of(DC_SAMPLE_DEPTH).size(), times.size());
        EXPECT_EQ(dive.samples.of(DC_SAMPLE_TEMPERATURE).size(), times.size());
        EXPECT_GE(dive.samples.of(DC_SAMPLE_PRESSURE).size(), times.size());
        for (const Sample& event : dive.samples.of(DC_SAMPLE_EVENT)) {
            eventTypes.insert(event.value.event.type);
        }
    }
    EXPECT_GE(eventTypes.size(), 3u);
}

TEST_F(BuiltinComputerTest, SomeDivesAreOnNitrox) {
    int nitrox = 0;
    for (const Dive& dive : dives_) {
        nitrox += dive.mixes.size() == 1 && dive.mixes[0].oxygen == 0.32;
    }
    EXPECT_GE(nitrox, 5);
}

TEST_F(BuiltinComputerTest, TrimixDiveStartsOnTheBottomMix) {
    const Dive* trimix = nullptr;
    for (const Dive& dive : dives_) {
        if (dive.mixes.size() == 3) {
            trimix = &dive;
        }
    }
    ASSERT_NE(trimix, nullptr);
    EXPECT_EQ(trimix->mixes[0].oxygen, 1.0);
    EXPECT_EQ(trimix->mixes[0].usage, DC_USAGE_OXYGEN);
    EXPECT_EQ(trimix->mixes[1].oxygen, 0.5);
    EXPECT_EQ(trimix->mixes[2].oxygen, 0.18);
    EXPECT_EQ(trimix->mixes[2].helium, 0.45);
    const auto switches = trimix->samples.of(DC_SAMPLE_GASMIX);
    ASSERT_EQ(switches.size(), 3u);
    EXPECT_EQ(switches[0].value.gasmix, 2u);
    EXPECT_EQ(switches[1].value.gasmix, 1u);
    EXPECT_EQ(switches[2].value.gasmix, 0u);
    EXPECT_FALSE(trimix->samples.of(DC_SAMPLE_DECO).empty());
    EXPECT_EQ(trimix->tanks, 3u);
}

TEST_F(BuiltinComputerTest, SidemountDiveHasTwoPressuresPerTimeSample) {
    int sidemount = 0;
    for (const Dive& dive : dives_) {
        if (dive.tanks != 2) {
            continue;
        }
        ++sidemount;
        const auto pressures = dive.samples.of(DC_SAMPLE_PRESSURE);
        EXPECT_EQ(pressures.size(), 2 * dive.samples.of(DC_SAMPLE_TIME).size());
        EXPECT_EQ(pressures[0].value.pressure.tank, 0u);
        EXPECT_EQ(pressures[1].value.pressure.tank, 1u);
    }
    EXPECT_EQ(sidemount, 1);
}

TEST_F(BuiltinComputerTest, SendsEveryEventIncludingVendorAndProgress) {
    std::set<dc_event_type_t> types;
    unsigned int progressEvents = 0;
    for (const Event& event : result_->events) {
        types.insert(event.type);
        progressEvents += event.type == DC_EVENT_PROGRESS;
    }
    EXPECT_EQ(types.size(), 5u);
    EXPECT_GT(progressEvents, dives_.size());
    EXPECT_EQ(result_->events.back().progress.current, result_->events.back().progress.maximum);
}

}  // namespace
}  // namespace dcsimtest
