// Shared pieces of dcsim's own tests: owning handles, a fixture that checks
// for leaks, and helpers that download and parse.
#ifndef DCSIM_TEST_H
#define DCSIM_TEST_H

#include <gtest/gtest.h>
#include <libdivecomputer/bluetooth.h>
#include <libdivecomputer/buffer.h>
#include <libdivecomputer/context.h>
#include <libdivecomputer/descriptor.h>
#include <libdivecomputer/device.h>
#include <libdivecomputer/iostream.h>
#include <libdivecomputer/irda.h>
#include <libdivecomputer/parser.h>
#include <libdivecomputer/serial.h>
#include <libdivecomputer/usb.h>
#include <libdivecomputer/usbhid.h>
#include <libdivecomputer/version.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "dcsim.h"

namespace dcsimtest {

template <typename T, auto release>
struct Releaser {
    void operator()(T* handle) const { release(handle); }
};

using Context = std::unique_ptr<dc_context_t, Releaser<dc_context_t, dc_context_free>>;
using Iterator = std::unique_ptr<dc_iterator_t, Releaser<dc_iterator_t, dc_iterator_free>>;
using Descriptor = std::unique_ptr<dc_descriptor_t, Releaser<dc_descriptor_t, dc_descriptor_free>>;
using Stream = std::unique_ptr<dc_iostream_t, Releaser<dc_iostream_t, dc_iostream_close>>;
using Device = std::unique_ptr<dc_device_t, Releaser<dc_device_t, dc_device_close>>;
using Parser = std::unique_ptr<dc_parser_t, Releaser<dc_parser_t, dc_parser_destroy>>;
using Buffer = std::unique_ptr<dc_buffer_t, Releaser<dc_buffer_t, dc_buffer_free>>;

// Every test starts from dcsim's load-time state and must release every
// handle it got.
class DcsimTest : public ::testing::Test {
  protected:
    void SetUp() override { dcsim_reset(); }
    void TearDown() override {
        for (int kind = 0; kind < DCSIM_HANDLE_KINDS; ++kind) {
            EXPECT_EQ(dcsim_live(static_cast<dcsim_handle_t>(kind)), 0)
                << dcsim_handle_name(static_cast<dcsim_handle_t>(kind)) << " leaked";
        }
        dcsim_reset();
    }
};

inline Context quietContext() {
    dc_context_t* context = nullptr;
    EXPECT_EQ(dc_context_new(&context), DC_STATUS_SUCCESS);
    dc_context_set_loglevel(context, DC_LOGLEVEL_NONE);
    return Context(context);
}

// The first descriptor of the current table with this vendor and product.
inline Descriptor findDescriptor(const std::string& vendor, const std::string& product) {
    dc_iterator_t* raw = nullptr;
    EXPECT_EQ(dc_descriptor_iterator(&raw), DC_STATUS_SUCCESS);
    Iterator iterator(raw);
    dc_descriptor_t* descriptor = nullptr;
    while (dc_iterator_next(iterator.get(), &descriptor) == DC_STATUS_SUCCESS) {
        Descriptor owned(descriptor);
        if (vendor == dc_descriptor_get_vendor(descriptor) &&
            product == dc_descriptor_get_product(descriptor)) {
            return owned;
        }
    }
    ADD_FAILURE() << "no descriptor " << vendor << " " << product;
    return Descriptor();
}

inline Stream openSerial(const std::string& name, dc_status_t expected = DC_STATUS_SUCCESS) {
    dc_iostream_t* stream = nullptr;
    EXPECT_EQ(dc_serial_open(&stream, nullptr, name.c_str()), expected) << name;
    return Stream(stream);
}

inline Device openDevice(dc_descriptor_t* descriptor, dc_iostream_t* stream) {
    dc_device_t* device = nullptr;
    EXPECT_EQ(dc_device_open(&device, nullptr, descriptor, stream), DC_STATUS_SUCCESS);
    return Device(device);
}

struct Event {
    dc_event_type_t type;
    dc_event_progress_t progress;
    dc_event_devinfo_t devinfo;
    dc_event_clock_t clock;
    std::vector<unsigned char> vendor;
};

// What a download delivered, newest dive first.
struct Download {
    dc_status_t status = DC_STATUS_SUCCESS;
    std::vector<std::vector<unsigned char>> dives;
    std::vector<std::vector<unsigned char>> fingerprints;
    std::vector<Event> events;
    int stopAfter = -1;  // the dive callback answers 0 after this many dives
};

inline void recordEvent(dc_device_t*, dc_event_type_t type, const void* data, void* userdata) {
    Event event{};
    event.type = type;
    switch (type) {
        case DC_EVENT_PROGRESS:
            event.progress = *static_cast<const dc_event_progress_t*>(data);
            break;
        case DC_EVENT_DEVINFO:
            event.devinfo = *static_cast<const dc_event_devinfo_t*>(data);
            break;
        case DC_EVENT_CLOCK:
            event.clock = *static_cast<const dc_event_clock_t*>(data);
            break;
        case DC_EVENT_VENDOR: {
            const auto* vendor = static_cast<const dc_event_vendor_t*>(data);
            event.vendor.assign(vendor->data, vendor->data + vendor->size);
            break;
        }
        default:
            break;
    }
    static_cast<Download*>(userdata)->events.push_back(event);
}

inline int recordDive(const unsigned char* data, unsigned int size,
                      const unsigned char* fingerprint, unsigned int fsize, void* userdata) {
    auto* download = static_cast<Download*>(userdata);
    download->dives.emplace_back(data, data + size);
    download->fingerprints.emplace_back(fingerprint, fingerprint + fsize);
    return download->stopAfter < 0 ||
           static_cast<int>(download->dives.size()) < download->stopAfter;
}

constexpr unsigned int allEvents =
    DC_EVENT_WAITING | DC_EVENT_PROGRESS | DC_EVENT_DEVINFO | DC_EVENT_CLOCK | DC_EVENT_VENDOR;

inline Download download(dc_device_t* device, unsigned int events = allEvents, int stopAfter = -1) {
    Download result;
    result.stopAfter = stopAfter;
    EXPECT_EQ(dc_device_set_events(device, events, recordEvent, &result), DC_STATUS_SUCCESS);
    result.status = dc_device_foreach(device, recordDive, &result);
    return result;
}

// Opens the serial port with the descriptor and downloads everything.
inline Download downloadSerial(const std::string& port, const std::string& vendor,
                               const std::string& product, unsigned int events = allEvents) {
    Descriptor descriptor = findDescriptor(vendor, product);
    Stream stream = openSerial(port);
    if (!descriptor || !stream) {
        return Download{DC_STATUS_NODEVICE, {}, {}, {}, -1};
    }
    Device device = openDevice(descriptor.get(), stream.get());
    return download(device.get(), events);
}

struct Sample {
    dc_sample_type_t type;
    dc_sample_value_t value;
    std::vector<unsigned char> vendor;  // vendor data, copied during the callback
};

struct Samples {
    std::vector<Sample> list;
    dc_status_t status = DC_STATUS_SUCCESS;

    std::vector<Sample> of(dc_sample_type_t type) const {
        std::vector<Sample> found;
        for (const Sample& sample : list) {
            if (sample.type == type) {
                found.push_back(sample);
            }
        }
        return found;
    }
};

inline void keepSample(dc_sample_type_t type, const dc_sample_value_t& value, void* userdata) {
    Sample sample{type, value, {}};
    if (type == DC_SAMPLE_VENDOR) {
        const auto* bytes = static_cast<const unsigned char*>(value.vendor.data);
        sample.vendor.assign(bytes, bytes + value.vendor.size);
        sample.value.vendor.data = nullptr;
    }
    static_cast<Samples*>(userdata)->list.push_back(sample);
}

#if DC_VERSION_CHECK(0, 9, 0)
inline void recordSample(dc_sample_type_t type, const dc_sample_value_t* value, void* userdata) {
    keepSample(type, *value, userdata);
}
#else
inline void recordSample(dc_sample_type_t type, dc_sample_value_t value, void* userdata) {
    keepSample(type, value, userdata);
}
#endif

inline Samples samplesOf(dc_parser_t* parser) {
    Samples samples;
    samples.status = dc_parser_samples_foreach(parser, recordSample, &samples);
    return samples;
}

// A parser over dive data, made without a device, with the data kept alive
// as long as the parser (a 0.8 parser reads the caller's bytes).
class ParsedDive {
  public:
    ParsedDive(std::vector<unsigned char> data, dc_status_t expected) : data_(std::move(data)) {
        Descriptor descriptor = findDescriptor(DCSIM_BUILTIN_VENDOR, DCSIM_BUILTIN_PRODUCT);
        dc_parser_t* parser = nullptr;
#if DC_VERSION_CHECK(0, 9, 0)
        EXPECT_EQ(dc_parser_new2(&parser, nullptr, descriptor.get(), data_.data(), data_.size()),
                  expected);
#else
        EXPECT_EQ(dc_parser_new2(&parser, nullptr, descriptor.get(), 0, 0), DC_STATUS_SUCCESS);
        EXPECT_EQ(dc_parser_set_data(parser, data_.data(), static_cast<unsigned int>(data_.size())),
                  expected);
        if (expected != DC_STATUS_SUCCESS) {
            dc_parser_destroy(parser);
            parser = nullptr;
        }
#endif
        parser_.reset(parser);
    }
    dc_parser_t* get() const {
        return parser_.get();
    }
    dc_parser_t* release() {
        return parser_.release();
    }

  private:
    std::vector<unsigned char> data_;  // declared first: outlives the parser
    Parser parser_;
};

inline ParsedDive parse(std::vector<unsigned char> data, dc_status_t expected = DC_STATUS_SUCCESS) {
    return ParsedDive(std::move(data), expected);
}

// The only dive of a scenario, as raw bytes, downloaded over its serial port.
inline std::vector<unsigned char> onlyDive(const std::string& scenario) {
    EXPECT_EQ(dcsim_attach(("serial sim:only\n" + scenario).c_str()), 0) << dcsim_last_error();
    Download result = downloadSerial("sim:only", DCSIM_BUILTIN_VENDOR, DCSIM_BUILTIN_PRODUCT, 0);
    EXPECT_EQ(result.status, DC_STATUS_SUCCESS);
    EXPECT_EQ(result.dives.size(), 1u);
    dcsim_detach_all();
    return result.dives.empty() ? std::vector<unsigned char>() : result.dives.front();
}

// A file that is removed again when the test ends. Its name is unique, as
// tests run in parallel processes.
class TempFile {
  public:
    TempFile(const std::string& name, const std::string& contents)
        : path_(::testing::TempDir() + unique() + "-" + name) {
        std::ofstream(path_, std::ios::binary) << contents;
    }
    ~TempFile() { std::remove(path_.c_str()); }
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;
    const std::string& path() const { return path_; }

  private:
    static std::string unique() {
        std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
        std::replace(name.begin(), name.end(), '/', '-');
        return name + "-" + std::to_string(std::random_device()());
    }
    std::string path_;
};

}  // namespace dcsimtest

#endif
