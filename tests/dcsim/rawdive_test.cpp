// dcsim's raw dive format: what is encoded decodes unchanged, and malformed
// data is refused without reading past it.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "rawdive.h"

namespace {

using Bytes = std::vector<unsigned char>;

struct Writer {
    dcsim_raw_writer_t w;
    Writer() { dcsim_raw_writer_init(&w); }
    ~Writer() { dcsim_raw_writer_release(&w); }
    Writer(const Writer&) = delete;
    Writer& operator=(const Writer&) = delete;
    Bytes bytes() const {
        EXPECT_FALSE(w.failed);
        return Bytes(w.data, w.data + w.size);
    }
};

struct Decoded {
    std::vector<dcsim_raw_sample_t> samples;
    std::vector<Bytes> vendor;  // vendor data, copied during the walk
    dc_status_t status = DC_STATUS_SUCCESS;
};

int collect(const dcsim_raw_sample_t* sample, void* userdata) {
    auto* decoded = static_cast<Decoded*>(userdata);
    decoded->samples.push_back(*sample);
    if (sample->type == DCSIM_SAMPLE_VENDOR) {
        decoded->vendor.emplace_back(sample->value.vendor.data,
                                     sample->value.vendor.data + sample->value.vendor.size);
    }
    return 0;
}

Decoded decodeSamples(const Bytes& data) {
    Decoded decoded;
    decoded.status = dcsim_raw_samples(data.data(), data.size(), collect, &decoded);
    return decoded;
}

dcsim_raw_sample_t sampleOf(unsigned int type) {
    dcsim_raw_sample_t sample;
    std::memset(&sample, 0, sizeof sample);
    sample.type = type;
    return sample;
}

// A dive with every header field and every sample kind, at extreme values.
Bytes everything() {
    Writer writer;
    dcsim_raw_writer_t* w = &writer.w;
    dcsim_raw_begin(w);
    const dc_datetime_t datetime{2023, 12, 31, 23, 59, 58, -34200};
    dcsim_raw_put_datetime(w, &datetime);
    dcsim_raw_put_divetime(w, 0xFFFFFFFF);
    dcsim_raw_put_number(w, DCSIM_FIELD_MAXDEPTH, 332.35);
    dcsim_raw_put_number(w, DCSIM_FIELD_AVGDEPTH, -0.0);
    dcsim_raw_put_number(w, DCSIM_FIELD_ATMOSPHERIC, 0.998);
    dcsim_raw_put_number(w, DCSIM_FIELD_TEMPERATURE_SURFACE, -1.5);
    dcsim_raw_put_number(w, DCSIM_FIELD_TEMPERATURE_MINIMUM,
                         std::numeric_limits<double>::infinity());
    dcsim_raw_put_number(w, DCSIM_FIELD_TEMPERATURE_MAXIMUM, 31.25);
    const dcsim_raw_gasmix_t air{0.21, 0.0, DCSIM_USAGE_NONE}, oxygen{1.0, 0.0, DCSIM_USAGE_OXYGEN},
        trimix{0.18, 0.45, DCSIM_USAGE_DILUENT};
    dcsim_raw_put_gasmix(w, &air);
    dcsim_raw_put_gasmix(w, &oxygen);
    dcsim_raw_put_gasmix(w, &trimix);
    const dcsim_raw_tank_t tank{0xFFFFFFFF, DCSIM_TANKVOLUME_IMPERIAL, 11.1, 207.0, 210.5,
                                35.0,       DCSIM_USAGE_SIDEMOUNT};
    dcsim_raw_put_tank(w, &tank);
    dcsim_raw_put_salinity(w, 0, 1000.0);
    dcsim_raw_put_divemode(w, 4);
    const dcsim_raw_decomodel_t model{4, -2, 85, 40};
    dcsim_raw_put_decomodel(w, &model);
    const dcsim_raw_location_t location{-33.8688, 151.2093, -12.0};
    dcsim_raw_put_location(w, &location);
    dcsim_raw_end_header(w);

    dcsim_raw_sample_t s = sampleOf(DCSIM_SAMPLE_DEPTH);
    s.value.depth = 1.5;  // before the first time sample
    dcsim_raw_put_sample(w, &s);
    s = sampleOf(DCSIM_SAMPLE_TIME);
    s.value.time_ms = 0xFFFFFFFFFFFFull;
    dcsim_raw_put_sample(w, &s);
    s = sampleOf(DCSIM_SAMPLE_PRESSURE);
    s.value.pressure.tank = 7;
    s.value.pressure.value = 199.9;
    dcsim_raw_put_sample(w, &s);
    s = sampleOf(DCSIM_SAMPLE_TEMPERATURE);
    s.value.temperature = -2.0;
    dcsim_raw_put_sample(w, &s);
    s = sampleOf(DCSIM_SAMPLE_EVENT);
    s.value.event.type = 0xFFFFFFFF;
    s.value.event.time = 1;
    s.value.event.flags = 1;
    s.value.event.value = 0x80000000;
    dcsim_raw_put_sample(w, &s);
    s = sampleOf(DCSIM_SAMPLE_RBT);
    s.value.rbt = 99;
    dcsim_raw_put_sample(w, &s);
    s = sampleOf(DCSIM_SAMPLE_HEARTBEAT);
    s.value.heartbeat = 180;
    dcsim_raw_put_sample(w, &s);
    s = sampleOf(DCSIM_SAMPLE_BEARING);
    s.value.bearing = 359;
    dcsim_raw_put_sample(w, &s);
    const unsigned char blob[] = {0, 1, 2, 0xFF};
    s = sampleOf(DCSIM_SAMPLE_VENDOR);
    s.value.vendor.type = 3;
    s.value.vendor.size = sizeof blob;
    s.value.vendor.data = blob;
    dcsim_raw_put_sample(w, &s);
    s = sampleOf(DCSIM_SAMPLE_SETPOINT);
    s.value.setpoint = 1.3;
    dcsim_raw_put_sample(w, &s);
    s = sampleOf(DCSIM_SAMPLE_PPO2);
    s.value.ppo2.sensor = 0xFFFFFFFF;
    s.value.ppo2.value = 1.61;
    dcsim_raw_put_sample(w, &s);
    s = sampleOf(DCSIM_SAMPLE_CNS);
    s.value.cns = 1.5;
    dcsim_raw_put_sample(w, &s);
    s = sampleOf(DCSIM_SAMPLE_DECO);
    s.value.deco.type = 3;
    s.value.deco.time = 60;
    s.value.deco.depth = 21.0;
    s.value.deco.tts = 1800;
    dcsim_raw_put_sample(w, &s);
    s = sampleOf(DCSIM_SAMPLE_GASMIX);
    s.value.gasmix = 17;
    dcsim_raw_put_sample(w, &s);
    s = sampleOf(DCSIM_RAW_MAX_SAMPLE_TYPE);
    const unsigned char other[] = {1, 0, 0, 0, 2, 0, 0, 0};
    std::memcpy(s.value.other.bytes, other, sizeof other);
    s.value.other.size = sizeof other;
    dcsim_raw_put_sample(w, &s);
    return writer.bytes();
}

TEST(RawDiveTest, HeaderRoundTrips) {
    const Bytes data = everything();
    dcsim_raw_header_t h;
    ASSERT_EQ(dcsim_raw_header(data.data(), data.size(), &h), DC_STATUS_SUCCESS);
    EXPECT_TRUE(h.has_datetime);
    EXPECT_EQ(h.datetime.year, 2023);
    EXPECT_EQ(h.datetime.second, 58);
    EXPECT_EQ(h.datetime.timezone, -34200);
    EXPECT_EQ(h.divetime, 0xFFFFFFFFu);
    EXPECT_EQ(h.maxdepth, 332.35);
    EXPECT_TRUE(std::signbit(h.avgdepth));
    EXPECT_EQ(h.temperature_surface, -1.5);
    EXPECT_TRUE(std::isinf(h.temperature_minimum));
    EXPECT_EQ(h.water, 0u);
    EXPECT_EQ(h.density, 1000.0);
    EXPECT_EQ(h.divemode, 4u);
    EXPECT_EQ(h.decomodel.type, 4u);
    EXPECT_EQ(h.decomodel.conservatism, -2);
    EXPECT_EQ(h.decomodel.gf_low, 40u);
    EXPECT_EQ(h.location.latitude, -33.8688);
    EXPECT_EQ(h.ngasmixes, 3u);
    EXPECT_EQ(h.ntanks, 1u);
    const unsigned int expected = (1u << DCSIM_FIELD_LOCATION) | (1u << DCSIM_FIELD_TANK) |
                                  (1u << DCSIM_FIELD_TANK_COUNT) |
                                  (1u << DCSIM_FIELD_GASMIX_COUNT) | (1u << DCSIM_FIELD_DIVETIME);
    EXPECT_EQ(h.fields & expected, expected);

    dcsim_raw_gasmix_t mix{};
    ASSERT_EQ(dcsim_raw_gasmix(data.data(), data.size(), 2, &mix), DC_STATUS_SUCCESS);
    EXPECT_EQ(mix.oxygen, 0.18);
    EXPECT_EQ(mix.helium, 0.45);
    EXPECT_EQ(mix.usage, unsigned{DCSIM_USAGE_DILUENT});
    EXPECT_EQ(dcsim_raw_gasmix(data.data(), data.size(), 3, &mix), DC_STATUS_INVALIDARGS);
    dcsim_raw_tank_t tank{};
    ASSERT_EQ(dcsim_raw_tank(data.data(), data.size(), 0, &tank), DC_STATUS_SUCCESS);
    EXPECT_EQ(tank.gasmix, 0xFFFFFFFFu);
    EXPECT_EQ(tank.volume_type, unsigned{DCSIM_TANKVOLUME_IMPERIAL});
    EXPECT_EQ(tank.beginpressure, 210.5);
    EXPECT_EQ(tank.usage, unsigned{DCSIM_USAGE_SIDEMOUNT});
}

TEST(RawDiveTest, SamplesRoundTripInOrder) {
    const Decoded decoded = decodeSamples(everything());
    ASSERT_EQ(decoded.status, DC_STATUS_SUCCESS);
    const auto& s = decoded.samples;
    ASSERT_EQ(s.size(), 15u);
    const unsigned int order[] = {
        DCSIM_SAMPLE_DEPTH,       DCSIM_SAMPLE_TIME,    DCSIM_SAMPLE_PRESSURE,
        DCSIM_SAMPLE_TEMPERATURE, DCSIM_SAMPLE_EVENT,   DCSIM_SAMPLE_RBT,
        DCSIM_SAMPLE_HEARTBEAT,   DCSIM_SAMPLE_BEARING, DCSIM_SAMPLE_VENDOR,
        DCSIM_SAMPLE_SETPOINT,    DCSIM_SAMPLE_PPO2,    DCSIM_SAMPLE_CNS,
        DCSIM_SAMPLE_DECO,        DCSIM_SAMPLE_GASMIX};
    for (unsigned int i = 0; i < 14; ++i) {
        EXPECT_EQ(s[i].type, order[i]) << i;
    }
    EXPECT_EQ(s[0].value.depth, 1.5);
    EXPECT_EQ(s[1].value.time_ms, 0xFFFFFFFFFFFFull);
    EXPECT_EQ(s[2].value.pressure.tank, 7u);
    EXPECT_EQ(s[2].value.pressure.value, 199.9);
    EXPECT_EQ(s[4].value.event.type, 0xFFFFFFFFu);
    EXPECT_EQ(s[4].value.event.value, 0x80000000u);
    EXPECT_EQ(s[8].value.vendor.type, 3u);
    EXPECT_EQ(decoded.vendor.at(0), (Bytes{0, 1, 2, 0xFF}));
    EXPECT_EQ(s[10].value.ppo2.sensor, 0xFFFFFFFFu);
    EXPECT_EQ(s[10].value.ppo2.value, 1.61);
    EXPECT_EQ(s[12].value.deco.type, 3u);
    EXPECT_EQ(s[12].value.deco.tts, 1800u);
    EXPECT_EQ(s[13].value.gasmix, 17u);
    EXPECT_EQ(s[14].type, unsigned{DCSIM_RAW_MAX_SAMPLE_TYPE});
    EXPECT_EQ(s[14].value.other.size, 8u);
    EXPECT_EQ(s[14].value.other.bytes[4], 2);
}

TEST(RawDiveTest, EveryTruncationIsRefusedOrAPrefix) {
    const Bytes full = everything();
    dcsim_raw_header_t h;
    for (size_t size = 0; size < full.size(); ++size) {
        // A copy of exactly `size` bytes, so AddressSanitizer sees any over-read.
        const Bytes cut(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(size));
        Decoded decoded;
        const dc_status_t status = dcsim_raw_dive_decode(cut.empty() ? nullptr : cut.data(),
                                                         cut.size(), &h, collect, &decoded);
        ASSERT_TRUE(status == DC_STATUS_DATAFORMAT || status == DC_STATUS_SUCCESS) << size;
        if (status == DC_STATUS_SUCCESS) {
            EXPECT_LT(decoded.samples.size(), 15u) << size;
        }
    }
}

TEST(RawDiveTest, CorruptBytesNeverCrash) {
    const Bytes full = everything();
    dcsim_raw_header_t h;
    for (size_t i = 0; i < full.size(); ++i) {
        for (unsigned char value : {0x00, 0x01, 0x0F, 0x10, 0x7F, 0x80, 0xFF}) {
            Bytes bad = full;
            bad[i] = value;
            Decoded decoded;
            const dc_status_t status =
                dcsim_raw_dive_decode(bad.data(), bad.size(), &h, collect, &decoded);
            EXPECT_TRUE(status == DC_STATUS_SUCCESS || status == DC_STATUS_DATAFORMAT);
            for (const dcsim_raw_sample_t& sample : decoded.samples) {
                EXPECT_LE(sample.type, unsigned{DCSIM_RAW_MAX_SAMPLE_TYPE});
            }
        }
    }
}

Bytes minimal(std::initializer_list<unsigned char> header,
              std::initializer_list<unsigned char> samples) {
    Bytes data = {'D', 'C', 'S', 'M', 1, 0, 0, 0, static_cast<unsigned char>(header.size()),
                  0,   0,   0};
    // Room first: GCC 12 for mingw-w64 sees a bogus overflow in growing by an initializer list.
    data.reserve(data.size() + header.size() + samples.size());
    data.insert(data.end(), header);
    data.insert(data.end(), samples);
    return data;
}

TEST(RawDiveTest, MalformedDataIsRefused) {
    dcsim_raw_header_t h;
    auto header = [&h](const Bytes& data) {
        return dcsim_raw_header(data.data(), data.size(), &h);
    };
    auto samples = [](const Bytes& data) { return decodeSamples(data).status; };

    EXPECT_EQ(header(minimal({}, {})), DC_STATUS_SUCCESS);
    Bytes wrongMagic = minimal({}, {});
    wrongMagic[0] = 'X';
    EXPECT_EQ(header(wrongMagic), DC_STATUS_DATAFORMAT);
    Bytes wrongVersion = minimal({}, {});
    wrongVersion[4] = 2;
    EXPECT_EQ(header(wrongVersion), DC_STATUS_DATAFORMAT);
    Bytes headerPastEnd = minimal({}, {});
    headerPastEnd[8] = 1;
    EXPECT_EQ(header(headerPastEnd), DC_STATUS_DATAFORMAT);
    EXPECT_EQ(samples(headerPastEnd), DC_STATUS_DATAFORMAT);
    EXPECT_EQ(dcsim_raw_header(nullptr, 0, &h), DC_STATUS_DATAFORMAT);

    EXPECT_EQ(header(minimal({0x10, 3, 1, 2, 3}, {})), DC_STATUS_DATAFORMAT);  // short divetime
    EXPECT_EQ(header(minimal({0x10, 4, 1, 2, 3}, {})), DC_STATUS_DATAFORMAT);  // past the section
    EXPECT_EQ(header(minimal({0x1C, 1, 5}, {})), DC_STATUS_DATAFORMAT);        // divemode 5
    EXPECT_EQ(header(minimal({0x15, 9, 2, 0, 0, 0, 0, 0, 0, 0, 0}, {})), DC_STATUS_DATAFORMAT);
    EXPECT_EQ(header(minimal({0x30, 14, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, {})),
              DC_STATUS_DATAFORMAT);  // a fault with status SUCCESS
    EXPECT_EQ(header(minimal({0x2F, 2, 9, 9}, {})), DC_STATUS_SUCCESS);  // unknown: skipped

    Writer deco;
    dcsim_raw_begin(&deco.w);
    dcsim_raw_end_header(&deco.w);
    dcsim_raw_sample_t sample = sampleOf(DCSIM_SAMPLE_DECO);
    sample.value.deco.type = 3;
    dcsim_raw_put_sample(&deco.w, &sample);
    Bytes badDeco = deco.bytes();
    EXPECT_EQ(samples(badDeco), DC_STATUS_SUCCESS);
    badDeco[DCSIM_RAW_PREAMBLE_SIZE + 2] = 4;
    EXPECT_EQ(samples(badDeco), DC_STATUS_DATAFORMAT);

    EXPECT_EQ(samples(minimal({}, {0x48, 3, 0, 0, 0})), DC_STATUS_DATAFORMAT);     // short vendor
    EXPECT_EQ(samples(minimal({}, {0x7F, 4, 8, 0, 0, 0})), DC_STATUS_DATAFORMAT);  // other: VENDOR
    EXPECT_EQ(samples(minimal({}, {0x7F, 4, 14, 0, 0, 0})), DC_STATUS_SUCCESS);
    EXPECT_EQ(samples(minimal({}, {0x7F, 4, 16, 0, 0, 0})), DC_STATUS_DATAFORMAT);
    EXPECT_EQ(samples(minimal({}, {0x41})), DC_STATUS_DATAFORMAT);
    EXPECT_EQ(samples(minimal({}, {0x20, 1, 0})), DC_STATUS_SUCCESS);  // unknown: skipped
}

TEST(RawDiveTest, SamplesBeforeTheDamageAreDelivered) {
    Bytes data = everything();
    data.push_back(0x41);
    const Decoded decoded = decodeSamples(data);
    EXPECT_EQ(decoded.status, DC_STATUS_DATAFORMAT);
    EXPECT_EQ(decoded.samples.size(), 15u);
}

TEST(RawDiveTest, WriterRefusesWhatTheFormatCannotHold) {
    Writer vendor;
    const Bytes big(252, 0);
    dcsim_raw_sample_t sample = sampleOf(DCSIM_SAMPLE_VENDOR);
    sample.value.vendor.size = static_cast<unsigned int>(big.size());
    sample.value.vendor.data = big.data();
    dcsim_raw_put_sample(&vendor.w, &sample);
    EXPECT_TRUE(vendor.w.failed);

    Writer outside;
    dcsim_raw_put_sample(&outside.w, &(sample = sampleOf(DCSIM_RAW_MAX_SAMPLE_TYPE + 1)));
    EXPECT_TRUE(outside.w.failed);

    Writer notANumber;
    dcsim_raw_put_number(&notANumber.w, DCSIM_FIELD_GASMIX_COUNT, 1.0);
    EXPECT_TRUE(notANumber.w.failed);
}

}  // namespace
