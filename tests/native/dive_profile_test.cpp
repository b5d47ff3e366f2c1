#include "dive_profile.h"

#include <gtest/gtest.h>

#include <optional>
#include <vector>

namespace diveconnector {
namespace {

using Floats = std::vector<std::optional<float>>;
using Ints = std::vector<std::optional<std::int32_t>>;
constexpr std::nullopt_t none = std::nullopt;

// Sample values as libdivecomputer hands them over; times are given in seconds.
class Samples {
  public:
    Samples& time(unsigned int seconds) {
        dc_sample_value_t v{};
#if DC_VERSION_CHECK(0, 9, 0)
        v.time = seconds * 1000;
#else
        v.time = seconds;
#endif
        return add(DC_SAMPLE_TIME, v);
    }
    Samples& rawTime(unsigned int time) {
        dc_sample_value_t v{};
        v.time = time;
        return add(DC_SAMPLE_TIME, v);
    }
    Samples& depth(double metres) {
        dc_sample_value_t v{};
        v.depth = metres;
        return add(DC_SAMPLE_DEPTH, v);
    }
    Samples& pressure(unsigned int tank, double bar) {
        dc_sample_value_t v{};
        v.pressure.tank = tank;
        v.pressure.value = bar;
        return add(DC_SAMPLE_PRESSURE, v);
    }
    Samples& temperature(double celsius) {
        dc_sample_value_t v{};
        v.temperature = celsius;
        return add(DC_SAMPLE_TEMPERATURE, v);
    }
    Samples& event(unsigned int type) {
        dc_sample_value_t v{};
        v.event.type = type;
        return add(DC_SAMPLE_EVENT, v);
    }
    Samples& gasmix(unsigned int index) {
        dc_sample_value_t v{};
        v.gasmix = index;
        return add(DC_SAMPLE_GASMIX, v);
    }
    Samples& add(dc_sample_type_t type, const dc_sample_value_t& value) {
        builder_.add(type, value);
        return *this;
    }
    DiveProfile profile() {
        return std::move(builder_).finish();
    }

  private:
    ProfileBuilder builder_;
};

TEST(DiveProfileTest, NoSamplesGivesEmptyProfile) {
    const DiveProfile profile = Samples().profile();
    EXPECT_EQ(profile.sampleCount, 0);
    EXPECT_TRUE(profile.timeSeries.empty());
    EXPECT_TRUE(profile.depthSeries.empty());
    EXPECT_TRUE(profile.eventSeries.empty());
    EXPECT_FALSE(profile.firstGasMix);
}

TEST(DiveProfileTest, ValuesWithoutTimeSampleAreKeptButNotCounted) {
    const DiveProfile profile = Samples().depth(1.0).temperature(20.0).profile();
    EXPECT_EQ(profile.sampleCount, 0);
    EXPECT_EQ(profile.depthSeries, Floats{1.0f});
}

TEST(DiveProfileTest, MissingKindsLeaveEmptyEntries) {
    const DiveProfile profile = Samples()
                                    .time(0)
                                    .depth(0.0)
                                    .temperature(25.0)
                                    .time(10)
                                    .depth(3.5)
                                    .temperature(24.5)
                                    .profile();
    EXPECT_EQ(profile.sampleCount, 2);
    EXPECT_EQ(profile.timeSeries, Floats({0.0f, 10.0f}));
    EXPECT_EQ(profile.depthSeries, Floats({0.0f, 3.5f}));
    EXPECT_EQ(profile.temperatureSeries, Floats({25.0f, 24.5f}));
    EXPECT_EQ(profile.pressureSeries, Floats({none, none}));
    EXPECT_EQ(profile.eventSeries, Ints({none, none}));
}

TEST(DiveProfileTest, SecondTankAndSecondEventDoNotShiftLaterSamples) {
    const DiveProfile profile = Samples()
                                    .time(0)
                                    .depth(1.0)
                                    .pressure(0, 200)
                                    .pressure(1, 180)
                                    .event(3)
                                    .event(7)
                                    .time(10)
                                    .depth(2.0)
                                    .pressure(0, 199)
                                    .pressure(1, 179)
                                    .time(20)
                                    .depth(3.0)
                                    .event(9)
                                    .profile();
    EXPECT_EQ(profile.sampleCount, 3);
    EXPECT_EQ(profile.timeSeries, Floats({0.0f, 10.0f, 20.0f}));
    EXPECT_EQ(profile.depthSeries, Floats({1.0f, 2.0f, 3.0f}));
    EXPECT_EQ(profile.pressureSeries, Floats({200.0f, 199.0f, none}));
    EXPECT_EQ(profile.eventSeries, Ints({3, none, 9}));
    EXPECT_EQ(profile.temperatureSeries, Floats({none, none, none}));
}

TEST(DiveProfileTest, ValueBeforeFirstTimeSampleBelongsToIt) {
    const DiveProfile profile =
        Samples().depth(5.0).pressure(0, 210).time(0).depth(6.0).time(10).depth(7.0).profile();
    EXPECT_EQ(profile.depthSeries, Floats({5.0f, 7.0f}));
    EXPECT_EQ(profile.pressureSeries, Floats({210.0f, none}));
}

TEST(DiveProfileTest, ValuesAreNarrowedAndEventBitsKept) {
    const DiveProfile profile = Samples()
                                    .time(0)
                                    .depth(0.1)
                                    .temperature(-1.9)
                                    .event(0xFFFFFFFFu)
                                    .time(1)
                                    .event(0x80000000u)
                                    .profile();
    EXPECT_EQ(profile.depthSeries[0], 0.1f);
    EXPECT_EQ(profile.temperatureSeries[0], -1.9f);
    EXPECT_EQ(profile.eventSeries, Ints({-1, INT32_MIN}));
}

TEST(DiveProfileTest, SampleTimesAreSeconds) {
#if DC_VERSION_CHECK(0, 9, 0)
    const DiveProfile profile = Samples().rawTime(10500).rawTime(1).rawTime(4294967295u).profile();
    EXPECT_EQ(profile.timeSeries, Floats({10.5f, 0.001f, 4294967.295f}));
#else
    const DiveProfile profile =
        Samples().rawTime(10).rawTime(16777217u).rawTime(4294967295u).profile();
    EXPECT_EQ(profile.timeSeries, Floats({10.0f, 16777216.0f, 4294967296.0f}));
#endif
}

TEST(DiveProfileTest, OtherKindsChangeNothing) {
    // A kind a later release may add: unnamed here, yet a value of the enum (whose enumerators
    // need four bits), so passing it is defined.
    constexpr auto laterKind = static_cast<dc_sample_type_t>(DC_SAMPLE_GASMIX + 1);
    dc_sample_value_t value{};
    value.heartbeat = 80;
    const DiveProfile profile = Samples()
                                    .time(0)
                                    .add(DC_SAMPLE_HEARTBEAT, value)
                                    .add(DC_SAMPLE_CNS, value)
                                    .add(DC_SAMPLE_DECO, value)
                                    .add(laterKind, value)
                                    .profile();
    EXPECT_EQ(profile.sampleCount, 1);
    EXPECT_EQ(profile.depthSeries, Floats{none});
}

TEST(DiveProfileTest, FirstGasMixSampleNamesTheStartingMix) {
    const DiveProfile profile = Samples().time(0).gasmix(2).time(10).gasmix(1).profile();
    EXPECT_EQ(profile.firstGasMix, 2u);
}

TEST(DiveProfileTest, PadToOnlyGrows) {
    DiveProfile profile = Samples().time(0).depth(1).time(1).depth(2).time(2).depth(3).profile();
    profile.padTo(1);
    EXPECT_EQ(profile.depthSeries.size(), 3u);
    profile.padTo(5);
    EXPECT_EQ(profile.depthSeries, Floats({1.0f, 2.0f, 3.0f, none, none}));
    EXPECT_EQ(profile.eventSeries.size(), 5u);
}

}  // namespace
}  // namespace diveconnector
