// Feeds arbitrary bytes to dcsim's raw dive decoder and to its parser. Whatever the decoder
// accepts must survive a round trip through the encoder unchanged, and the parser must accept
// what the decoder accepts unless the dive records a fault for parser creation.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "dive_walk.h"
#include "rawdive.h"

namespace {

// A decoded sample with its vendor bytes copied out of the data.
struct Sample {
    dcsim_raw_sample_t raw;
    std::vector<unsigned char> vendor;
};

struct Dive {
    dcsim_raw_header_t header;
    std::vector<dcsim_raw_gasmix_t> gasmixes;
    std::vector<dcsim_raw_tank_t> tanks;
    std::vector<Sample> samples;
};

int keepSample(const dcsim_raw_sample_t* sample, void* userdata) {
    Sample kept{*sample, {}};
    if (sample->type == DCSIM_SAMPLE_VENDOR) {
        kept.vendor.assign(sample->value.vendor.data,
                           sample->value.vendor.data + sample->value.vendor.size);
        kept.raw.value.vendor.data = nullptr;
    }
    static_cast<std::vector<Sample>*>(userdata)->push_back(kept);
    return 0;
}

bool decode(const unsigned char* data, std::size_t size, Dive& dive) {
    if (dcsim_raw_dive_decode(data, size, &dive.header, keepSample, &dive.samples) !=
        DC_STATUS_SUCCESS) {
        return false;
    }
    dive.gasmixes.resize(dive.header.ngasmixes);
    for (unsigned int i = 0; i < dive.header.ngasmixes; ++i) {
        if (dcsim_raw_gasmix(data, size, i, &dive.gasmixes[i]) != DC_STATUS_SUCCESS) {
            std::abort();
        }
    }
    dive.tanks.resize(dive.header.ntanks);
    for (unsigned int i = 0; i < dive.header.ntanks; ++i) {
        if (dcsim_raw_tank(data, size, i, &dive.tanks[i]) != DC_STATUS_SUCCESS) {
            std::abort();
        }
    }
    return true;
}

bool has(const dcsim_raw_header_t& header, unsigned int field) {
    return (header.fields & (1u << field)) != 0;
}

// Writes the dive again from what was decoded; faults and unknown records are left out.
std::vector<unsigned char> encode(const Dive& dive) {
    const dcsim_raw_header_t& h = dive.header;
    dcsim_raw_writer_t writer;
    dcsim_raw_writer_init(&writer);
    dcsim_raw_begin(&writer);
    if (h.has_datetime) {
        dcsim_raw_put_datetime(&writer, &h.datetime);
    }
    if (has(h, DCSIM_FIELD_DIVETIME)) {
        dcsim_raw_put_divetime(&writer, h.divetime);
    }
    const struct {
        unsigned int field;
        double value;
    } numbers[] = {{DCSIM_FIELD_MAXDEPTH, h.maxdepth},
                   {DCSIM_FIELD_AVGDEPTH, h.avgdepth},
                   {DCSIM_FIELD_ATMOSPHERIC, h.atmospheric},
                   {DCSIM_FIELD_TEMPERATURE_SURFACE, h.temperature_surface},
                   {DCSIM_FIELD_TEMPERATURE_MINIMUM, h.temperature_minimum},
                   {DCSIM_FIELD_TEMPERATURE_MAXIMUM, h.temperature_maximum}};
    for (const auto& number : numbers) {
        if (has(h, number.field)) {
            dcsim_raw_put_number(&writer, number.field, number.value);
        }
    }
    for (const dcsim_raw_gasmix_t& gasmix : dive.gasmixes) {
        dcsim_raw_put_gasmix(&writer, &gasmix);
    }
    for (const dcsim_raw_tank_t& tank : dive.tanks) {
        dcsim_raw_put_tank(&writer, &tank);
    }
    if (has(h, DCSIM_FIELD_SALINITY)) {
        dcsim_raw_put_salinity(&writer, h.water, h.density);
    }
    if (has(h, DCSIM_FIELD_DIVEMODE)) {
        dcsim_raw_put_divemode(&writer, h.divemode);
    }
    if (has(h, DCSIM_FIELD_DECOMODEL)) {
        dcsim_raw_put_decomodel(&writer, &h.decomodel);
    }
    if (has(h, DCSIM_FIELD_LOCATION)) {
        dcsim_raw_put_location(&writer, &h.location);
    }
    dcsim_raw_end_header(&writer);
    for (const Sample& sample : dive.samples) {
        dcsim_raw_sample_t raw = sample.raw;
        if (raw.type == DCSIM_SAMPLE_VENDOR) {
            raw.value.vendor.data = sample.vendor.data();
        }
        dcsim_raw_put_sample(&writer, &raw);
    }
    if (writer.failed) {
        std::abort();
    }
    std::vector<unsigned char> bytes(writer.data, writer.data + writer.size);
    dcsim_raw_writer_release(&writer);
    return bytes;
}

template <typename T>
bool same(const T& a, const T& b) {
    return std::memcmp(&a, &b, sizeof(T)) == 0;
}

bool sameHeader(const dcsim_raw_header_t& a, const dcsim_raw_header_t& b) {
    auto field = [&](unsigned int f) { return has(a, f); };
    return a.fields == b.fields && a.has_datetime == b.has_datetime &&
           (!a.has_datetime || same(a.datetime, b.datetime)) &&
           (!field(DCSIM_FIELD_DIVETIME) || a.divetime == b.divetime) &&
           (!field(DCSIM_FIELD_MAXDEPTH) || same(a.maxdepth, b.maxdepth)) &&
           (!field(DCSIM_FIELD_AVGDEPTH) || same(a.avgdepth, b.avgdepth)) &&
           (!field(DCSIM_FIELD_ATMOSPHERIC) || same(a.atmospheric, b.atmospheric)) &&
           (!field(DCSIM_FIELD_TEMPERATURE_SURFACE) ||
            same(a.temperature_surface, b.temperature_surface)) &&
           (!field(DCSIM_FIELD_TEMPERATURE_MINIMUM) ||
            same(a.temperature_minimum, b.temperature_minimum)) &&
           (!field(DCSIM_FIELD_TEMPERATURE_MAXIMUM) ||
            same(a.temperature_maximum, b.temperature_maximum)) &&
           (!field(DCSIM_FIELD_SALINITY) || (a.water == b.water && same(a.density, b.density))) &&
           (!field(DCSIM_FIELD_DIVEMODE) || a.divemode == b.divemode) &&
           (!field(DCSIM_FIELD_DECOMODEL) || same(a.decomodel, b.decomodel)) &&
           (!field(DCSIM_FIELD_LOCATION) || same(a.location, b.location)) &&
           a.ngasmixes == b.ngasmixes && a.ntanks == b.ntanks;
}

bool sameGasmix(const dcsim_raw_gasmix_t& a, const dcsim_raw_gasmix_t& b) {
    return same(a.oxygen, b.oxygen) && same(a.helium, b.helium) && a.usage == b.usage;
}

bool sameTank(const dcsim_raw_tank_t& a, const dcsim_raw_tank_t& b) {
    return a.gasmix == b.gasmix && a.volume_type == b.volume_type && same(a.volume, b.volume) &&
           same(a.workpressure, b.workpressure) && same(a.beginpressure, b.beginpressure) &&
           same(a.endpressure, b.endpressure) && a.usage == b.usage;
}

// Samples are zeroed before decoding, so their values compare as bytes.
bool sameSample(const Sample& a, const Sample& b) {
    return a.raw.type == b.raw.type && same(a.raw.value, b.raw.value) && a.vendor == b.vendor;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Dive dive;
    const bool decoded = decode(data, size, dive);
    if (decoded) {
        const std::vector<unsigned char> again = encode(dive);
        Dive copy;
        if (!decode(again.data(), again.size(), copy) || !sameHeader(dive.header, copy.header) ||
            dive.samples.size() != copy.samples.size() ||
            dive.gasmixes.size() != copy.gasmixes.size() ||
            dive.tanks.size() != copy.tanks.size()) {
            std::abort();
        }
        for (std::size_t i = 0; i < dive.gasmixes.size(); ++i) {
            if (!sameGasmix(dive.gasmixes[i], copy.gasmixes[i])) {
                std::abort();
            }
        }
        for (std::size_t i = 0; i < dive.tanks.size(); ++i) {
            if (!sameTank(dive.tanks[i], copy.tanks[i])) {
                std::abort();
            }
        }
        for (std::size_t i = 0; i < dive.samples.size(); ++i) {
            if (!sameSample(dive.samples[i], copy.samples[i])) {
                std::abort();
            }
        }
    }
    dc_status_t fault;
    const bool made = fuzz::walkDive(data, size);
    if (decoded && !made &&
        !dcsim_raw_find_fault(data, size, DCSIM_RAW_STAGE_CREATE, 0, &fault, nullptr)) {
        std::abort();
    }
    return 0;
}
