// How long a test's call took, for the bounds the BLE suites check:
//
//     const auto start = Clock::now();
//     ... the call ...
//     EXPECT_GE(millisecondsSince(start), 95);
#pragma once

#include <chrono>

namespace diveconnector {

using Clock = std::chrono::steady_clock;

inline long long millisecondsSince(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

}  // namespace diveconnector
