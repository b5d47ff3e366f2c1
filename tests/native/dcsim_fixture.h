// The base of the tests that run libdivecomputer calls on dcsim:
//
//     class DownloadTest : public DcsimFixture {
//       protected:
//         void SetUp() override {
//             DcsimFixture::SetUp();   // first: the scenarios below start from a clean dcsim
//             ASSERT_EQ(dcsim_attach("serial sim:port\n..."), 0);
//         }
//     };
//
// Every test starts from dcsim's load-time state and must release every handle it got.
#pragma once

#include <dcsim.h>
#include <gtest/gtest.h>

#include <iostream>

namespace diveconnector {

class DcsimFixture : public testing::Test {
  protected:
    void SetUp() override { dcsim_reset(); }
    void TearDown() override {
        EXPECT_EQ(dcsim_live_total(), 0) << "a libdivecomputer handle leaked";
        dcsim_reset();
    }
};

// Standard output shows nothing while the owner lives, for fixtures whose downloads would fill
// the test's output with their diagnostic lines: a member of the fixture.
class SilencedStandardOutput {
  public:
    SilencedStandardOutput() : saved_(std::cout.rdbuf(nullptr)) {}
    ~SilencedStandardOutput() {
        std::cout.rdbuf(saved_);
        std::cout.clear();
    }
    SilencedStandardOutput(const SilencedStandardOutput&) = delete;
    SilencedStandardOutput& operator=(const SilencedStandardOutput&) = delete;

  private:
    std::streambuf* saved_;
};

}  // namespace diveconnector
