// A walk over a dive's samples into a sink of any type with
// `void add(dc_sample_type_t, const dc_sample_value_t&)`, over both of libdivecomputer's callback
// forms (0.9 passes each value by its address, 0.8 by value). libdivecomputer is C: an exception
// must not unwind through it, so the first one the sink throws is kept, later samples are ignored,
// and it is thrown again once the walk has returned:
//
//     ProfileBuilder builder;
//     const dc_status_t status = walkSamples(parser, builder);  // throws what builder.add threw
//     if (status != DC_STATUS_SUCCESS) { ... }
#pragma once

#include <libdivecomputer/parser.h>
#include <libdivecomputer/version.h>

#include <exception>

namespace diveconnector {

namespace sample_walk {

template <typename Sink>
struct Walk {
    Sink& sink;
    std::exception_ptr failure;
};

template <typename Sink>
#if DC_VERSION_CHECK(0, 9, 0)
void onSample(dc_sample_type_t type, const dc_sample_value_t* value, void* userdata) noexcept {
    const dc_sample_value_t& sample = *value;
#else
void onSample(dc_sample_type_t type, dc_sample_value_t value, void* userdata) noexcept {
    const dc_sample_value_t& sample = value;
#endif
    auto& walk = *static_cast<Walk<Sink>*>(userdata);
    if (walk.failure) {
        return;
    }
    try {
        walk.sink.add(type, sample);
    } catch (...) {
        walk.failure = std::current_exception();
    }
}

}  // namespace sample_walk

template <typename Sink>
[[nodiscard]] dc_status_t walkSamples(dc_parser_t* parser, Sink& sink) {
    sample_walk::Walk<Sink> walk{sink, nullptr};
    const dc_status_t status =
        dc_parser_samples_foreach(parser, sample_walk::onSample<Sink>, &walk);
    if (walk.failure) {
        std::rethrow_exception(walk.failure);
    }
    return status;
}

}  // namespace diveconnector
