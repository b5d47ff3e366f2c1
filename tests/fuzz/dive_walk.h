// Takes a dive's bytes through every query of libdivecomputer's parser, as the library does on a
// download, so that the sanitizers see each read dcsim's parser makes of them.
#ifndef FUZZ_DIVE_WALK_H
#define FUZZ_DIVE_WALK_H

#include <libdivecomputer/descriptor.h>
#include <libdivecomputer/iterator.h>
#include <libdivecomputer/parser.h>
#include <libdivecomputer/version.h>

#include <cstddef>
#include <cstdlib>
#include <cstring>

#include "dcsim.h"

namespace fuzz {

// The built-in computer's descriptor, made once and kept for the whole run.
inline dc_descriptor_t* builtinDescriptor() {
    static dc_descriptor_t* const descriptor = [] {
        dc_iterator_t* iterator = nullptr;
        if (dc_descriptor_iterator(&iterator) != DC_STATUS_SUCCESS) {
            std::abort();
        }
        dc_descriptor_t* found = nullptr;
        dc_descriptor_t* item = nullptr;
        while (found == nullptr && dc_iterator_next(iterator, &item) == DC_STATUS_SUCCESS) {
            if (std::strcmp(dc_descriptor_get_vendor(item), DCSIM_BUILTIN_VENDOR) == 0 &&
                std::strcmp(dc_descriptor_get_product(item), DCSIM_BUILTIN_PRODUCT) == 0) {
                found = item;
            } else {
                dc_descriptor_free(item);
            }
        }
        dc_iterator_free(iterator);
        if (found == nullptr) {
            std::abort();
        }
        return found;
    }();
    return descriptor;
}

// Aborts if any dcsim handle but the kept descriptor is alive.
inline void expectNoLeakedHandle() {
    builtinDescriptor();
    if (dcsim_live_total() != 1 || dcsim_live(DCSIM_DESCRIPTOR) != 1) {
        std::abort();
    }
}

// Reads every byte a sample points to: an out-of-bounds vendor block shows up here.
inline void touchSample(dc_sample_type_t type, const dc_sample_value_t& value, void* userdata) {
    auto* sum = static_cast<unsigned int*>(userdata);
    if (type == DC_SAMPLE_VENDOR) {
        const auto* bytes = static_cast<const unsigned char*>(value.vendor.data);
        for (unsigned int i = 0; i < value.vendor.size; ++i) {
            *sum += bytes[i];
        }
    }
    *sum += static_cast<unsigned int>(type);
}

#if DC_VERSION_CHECK(0, 9, 0)
inline void onSample(dc_sample_type_t type, const dc_sample_value_t* value, void* userdata) {
    touchSample(type, *value, userdata);
}
#else
inline void onSample(dc_sample_type_t type, dc_sample_value_t value, void* userdata) {
    touchSample(type, value, userdata);
}
#endif

// Field values are written into this; it holds the largest of them.
union FieldValue {
    unsigned int count;
    double number;
    dc_gasmix_t gasmix;
    dc_tank_t tank;
    dc_salinity_t salinity;
    dc_decomodel_t decomodel;
    unsigned char bytes[256];
};

// Answers whether the data made a parser. Aborts if any handle outlives the walk.
inline bool walkDive(const unsigned char* data, std::size_t size) {
    dc_parser_t* parser = nullptr;
#if DC_VERSION_CHECK(0, 9, 0)
    const bool made =
        dc_parser_new2(&parser, nullptr, builtinDescriptor(), data, size) == DC_STATUS_SUCCESS;
#else
    if (dc_parser_new2(&parser, nullptr, builtinDescriptor(), 0, 0) != DC_STATUS_SUCCESS) {
        std::abort();
    }
    const bool made =
        dc_parser_set_data(parser, data, static_cast<unsigned int>(size)) == DC_STATUS_SUCCESS;
#endif
    if (parser != nullptr) {
        dc_datetime_t datetime;
        dc_parser_get_datetime(parser, &datetime);
        FieldValue value;
        unsigned int gasmixes = 0, tanks = 0;
        dc_parser_get_field(parser, DC_FIELD_GASMIX_COUNT, 0, &gasmixes);
        dc_parser_get_field(parser, DC_FIELD_TANK_COUNT, 0, &tanks);
        for (unsigned int field = 0; field < 16; ++field) {
            const auto type = static_cast<dc_field_type_t>(field);
            dc_parser_get_field(parser, type, 0, &value);
            dc_parser_get_field(parser, type, 0, nullptr);
        }
        // One past the last index too, which must be refused without reading.
        for (unsigned int i = 0; i <= gasmixes && i < 64; ++i) {
            dc_parser_get_field(parser, DC_FIELD_GASMIX, i, &value);
        }
        for (unsigned int i = 0; i <= tanks && i < 64; ++i) {
            dc_parser_get_field(parser, DC_FIELD_TANK, i, &value);
        }
        unsigned int sum = 0;
        dc_parser_samples_foreach(parser, onSample, &sum);
        dc_parser_samples_foreach(parser, nullptr, nullptr);
        dc_parser_destroy(parser);
    }
    expectNoLeakedHandle();
    return made;
}

}  // namespace fuzz

#endif
