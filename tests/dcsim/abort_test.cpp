// A C++ exception thrown by a callback must not unwind through dcsim (C code
// without unwind tables, like the real library): the process aborts.
#include <stdexcept>

#include "dcsim_test.h"

namespace dcsimtest {
namespace {

int throwingDive(const unsigned char*, unsigned int, const unsigned char*, unsigned int, void*) {
    throw std::runtime_error("dive callback");
}

#if DC_VERSION_CHECK(0, 9, 0)
void throwingSample(dc_sample_type_t, const dc_sample_value_t*, void*) {
#else
void throwingSample(dc_sample_type_t, dc_sample_value_t, void*) {
#endif
    throw std::runtime_error("sample callback");
}

void downloadWithThrowingCallback() {
    Descriptor descriptor = findDescriptor(DCSIM_BUILTIN_VENDOR, DCSIM_BUILTIN_PRODUCT);
    Stream stream = openSerial(DCSIM_BUILTIN_PORT);
    Device device = openDevice(descriptor.get(), stream.get());
    try {
        dc_device_foreach(device.get(), throwingDive, nullptr);
    } catch (...) {
        std::fputs("exception crossed dcsim\n", stderr);
        std::exit(0);
    }
}

void parseWithThrowingCallback() {
    ParsedDive parser = parse(onlyDive("dive\ntime 0; depth 1\n"));
    try {
        dc_parser_samples_foreach(parser.get(), throwingSample, nullptr);
    } catch (...) {
        std::fputs("exception crossed dcsim\n", stderr);
        std::exit(0);
    }
}

using AbortDeathTest = DcsimTest;

TEST_F(AbortDeathTest, ThrowingDiveCallbackAborts) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(downloadWithThrowingCallback(), "terminate");
}

TEST_F(AbortDeathTest, ThrowingSampleCallbackAborts) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(parseWithThrowingCallback(), "terminate");
}

}  // namespace
}  // namespace dcsimtest
