#include "dive_parser.h"

#include <dcsim.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <new>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "dcsim_fixture.h"
#include "download_listener.h"
#include "native_exception.h"

// Lets a test make the Nth allocation on its own thread fail, to show that std::bad_alloc from a
// libdivecomputer callback is carried out unchanged instead of unwinding through C.
namespace {
thread_local long allocationsUntilFailure = -1;
}

void* operator new(std::size_t size) {
    if (allocationsUntilFailure > 0 && --allocationsUntilFailure == 0) {
        throw std::bad_alloc();
    }
    if (void* memory = std::malloc(size == 0 ? 1 : size)) {
        return memory;
    }
    throw std::bad_alloc();
}
// GCC 12 takes free() of what this operator new returned for a mismatch.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void operator delete(void* memory) noexcept {
    std::free(memory);
}
void operator delete(void* memory, std::size_t) noexcept {
    std::free(memory);
}
#pragma GCC diagnostic pop

namespace diveconnector {
namespace {

using testing::ElementsAre;

constexpr char kPort[] = "sim:dives";

class DiveParserTest : public DcsimFixture {
  protected:
    void SetUp() override {
        DcsimFixture::SetUp();
        dcsim_descriptors_add("Test", "Computer", 0x10004, 0, DC_TRANSPORT_SERIAL);
    }
    void TearDown() override {
        allocationsUntilFailure = -1;
        DcsimFixture::TearDown();
    }

    struct Download {
        std::vector<DiveRecord> dives;
        std::optional<std::string> error;
        std::string output;
    };

    // Downloads from a computer described by `scenario` (its serial port line is added here).
    Download download(
        const std::string& scenario,
        const std::function<void(const DownloadInterruption&)>& beforeEnumeration = {},
        DownloadListener* listener = nullptr) {
        const std::string text = std::string("serial ") + kPort + "\n" + scenario;
        EXPECT_EQ(dcsim_attach(text.c_str()), 0) << dcsim_last_error();
        Download result;
        testing::internal::CaptureStdout();
        try {
            const DeviceSession session(kPort, "Test", "Computer", Diagnostics::standard());
            const DownloadInterruption interruption;
            const DeviceConnection connection(session, listener);
            if (beforeEnumeration) {
                beforeEnumeration(interruption);
            }
            result.dives = downloadDives(connection, interruption);
        } catch (const Exception& error) {
            result.error = error.what();
        }
        result.output = testing::internal::GetCapturedStdout();
        return result;
    }

    // Only the layer's own lines, not the device events.
    static std::vector<std::string> parsingLines(const std::string& output) {
        std::vector<std::string> lines;
        std::size_t start = 0;
        while (start < output.size()) {
            const std::size_t end = output.find('\n', start);
            const std::string line = output.substr(start, end - start);
            if (line.rfind("Event: ", 0) != 0) {
                lines.push_back(line);
            }
            start = end + 1;
        }
        return lines;
    }

    static std::string dives(int count, const std::string& extra = "") {
        std::string text;
        for (int i = 1; i <= count; ++i) {
            text += "dive\ndatetime 2024-06-0" + std::to_string(i) +
                    " 10:00:00\ndivetime 600\nmaxdepth " + std::to_string(10 + i) +
                    "\nmix 21 0\ntime 0; depth 0\ntime 10; depth 5\n" + extra;
        }
        return text;
    }
};

TEST_F(DiveParserTest, NoDives) {
    const Download result = download("events none\n");
    EXPECT_EQ(result.error, std::nullopt);
    EXPECT_TRUE(result.dives.empty());
    EXPECT_EQ(result.output, "");
}

TEST_F(DiveParserTest, DivesArriveNewestFirstWithTheirFields) {
    const Download result = download(R"(
devinfo 18 2 12345
dive
datetime 2024-06-01 10:00:00 +02:00
divetime 4294967295
maxdepth 30.25
mix 32 0
time 0; depth 0; temperature 25; pressure 0 200
time 10; depth 3.5; pressure 0 199
dive
datetime 1999-12-31 23:59:59
divetime 0:40
maxdepth 12.5
)");
    ASSERT_EQ(result.error, std::nullopt);
    ASSERT_EQ(result.dives.size(), 2u);

    const DiveRecord& newest = result.dives[0];
    EXPECT_EQ(newest.datetime.year, 1999);
    EXPECT_EQ(newest.datetime.second, 59);
    EXPECT_EQ(newest.divetime, 40.0);
    EXPECT_EQ(newest.gasmix.oxygen, 0.0) << "no mix configured";
    EXPECT_EQ(newest.profile.sampleCount, 0);

    const DiveRecord& oldest = result.dives[1];
    EXPECT_EQ(oldest.datetime.year, 2024);
    EXPECT_EQ(oldest.datetime.month, 6);
    EXPECT_EQ(oldest.datetime.day, 1);
    EXPECT_EQ(oldest.datetime.hour, 10);
    EXPECT_EQ(oldest.divetime, 4294967295.0);
    EXPECT_EQ(oldest.maxdepth, 30.25);
    EXPECT_DOUBLE_EQ(oldest.gasmix.oxygen, 0.32);
    EXPECT_EQ(oldest.profile.sampleCount, 2);
    EXPECT_EQ(oldest.profile.timeSeries[1], 10.0f);
    EXPECT_EQ(oldest.profile.pressureSeries[1], 199.0f);
    EXPECT_EQ(oldest.profile.temperatureSeries[1], std::nullopt);

    EXPECT_THAT(parsingLines(result.output),
                ElementsAre("Parsing the maxdepth.", "Parsing the gas mixes.",
                            "Parsing the maxdepth.", "Parsing the gas mixes."));
}

TEST_F(DiveParserTest, UnsupportedFieldsKeepTheirDefaults) {
    const Download result = download(R"(
dive
time 0
dive
divetime 60
fault field gasmix-count unsupported
fault field maxdepth unsupported
)");
    ASSERT_EQ(result.error, std::nullopt);
    ASSERT_EQ(result.dives.size(), 2u);
    for (const DiveRecord& dive : result.dives) {
        EXPECT_EQ(dive.datetime.year, 0);
        EXPECT_EQ(dive.datetime.month, 0);
        EXPECT_EQ(dive.datetime.day, 0);
        EXPECT_EQ(dive.maxdepth, 0.0);
        EXPECT_EQ(dive.gasmix.oxygen, 0.0);
        EXPECT_EQ(dive.gasmix.helium, 0.0);
        EXPECT_EQ(dive.gasmix.nitrogen, 0.0);
    }
}

TEST_F(DiveParserTest, GasIsTheMixTheDiveStartsOn) {
    const std::string mixes = "mix 50 0\nmix 100 0\nmix 18 45\n";
    // Without a gas-mix sample: index 0.
    Download result = download("dive\n" + mixes + "time 0\n");
    ASSERT_EQ(result.error, std::nullopt);
    EXPECT_DOUBLE_EQ(result.dives.at(0).gasmix.oxygen, 0.50);

    // Starting on the trimix, switching to the deco gases later.
    dcsim_detach_all();
    result =
        download("dive\n" + mixes + "time 0; gasmix 2\ntime 10; gasmix 0\ntime 20; gasmix 1\n");
    ASSERT_EQ(result.error, std::nullopt);
    EXPECT_DOUBLE_EQ(result.dives.at(0).gasmix.oxygen, 0.18);
    EXPECT_DOUBLE_EQ(result.dives.at(0).gasmix.helium, 0.45);
}

TEST_F(DiveParserTest, MixAnsweringUnsupportedIsSkipped) {
    // Calls of the only dive: divetime, maxdepth, mix count, then mixes 0, 1 and 2.
    dcsim_fault("dc_parser_get_field", 6, DC_STATUS_UNSUPPORTED);
    Download result = download("dive\nmix 21 0\nmix 50 0\nmix 100 0\ntime 0; gasmix 2\n");
    ASSERT_EQ(result.error, std::nullopt);
    EXPECT_DOUBLE_EQ(result.dives.at(0).gasmix.oxygen, 0.21) << "the named mix is unknown";

    dcsim_detach_all();
    dcsim_fault("dc_parser_get_field", 6, DC_STATUS_IO);
    result = download("dive\nmix 21 0\nmix 50 0\nmix 100 0\n");
    EXPECT_EQ(result.error, "[-6]: Error parsing the gas mix.");
}

TEST_F(DiveParserTest, EveryQueryFailureFailsTheDownload) {
    const std::pair<std::string, std::string> cases[] = {
#if DC_VERSION_CHECK(0, 9, 0)
        {"fault parser nomemory", "[-3]: Error creating the parser."},
#else
        // Before 0.9 the parser is made from the device alone; the data is refused when set.
        {"fault parser nomemory", "[-3]: Error registering the data."},
#endif
        {"fault datetime io", "[-6]: Error parsing the datetime."},
        {"fault field divetime -1\nfault field maxdepth dataformat",
         "[-9]: Error parsing the maxdepth."},
        {"fault field divetime io", "[-6]: Error parsing the divetime."},
        {"fault field gasmix-count protocol", "[-8]: Error parsing the gas mix count."},
        {"fault field gasmix timeout", "[-7]: Error parsing the gas mix."},
        {"fault samples 1 dataformat", "[-9]: Error parsing the sample data."},
        {"fault samples 0 unsupported", "[-1]: Error parsing the sample data."},
        {"fault samples 1 done", "[1]: Error parsing the sample data."},
    };
    for (const auto& [fault, expected] : cases) {
        SCOPED_TRACE(fault);
        dcsim_detach_all();
        // The failing dive is the second delivered: the first must not reach the caller either.
        const Download result =
            download(dives(1, "") + "dive\nmix 32 0\ntime 0\n" + fault + "\n" + dives(1));
        EXPECT_EQ(result.error, expected);
        EXPECT_TRUE(result.dives.empty());
        EXPECT_EQ(dcsim_live(DCSIM_PARSER), 0);
    }
}

TEST_F(DiveParserTest, FailingParserDestructionKeepsTheDive) {
    const Download result = download(dives(1) + "dive\ntime 0\nfault destroy io\n" + dives(1));
    ASSERT_EQ(result.error, std::nullopt);
    EXPECT_EQ(result.dives.size(), 3u);
    EXPECT_THAT(
        parsingLines(result.output),
        ElementsAre("Parsing the maxdepth.", "Parsing the gas mixes.", "Parsing the maxdepth.",
                    "Parsing the gas mixes.", "Error destroying the parser (-6).",
                    "Parsing the maxdepth.", "Parsing the gas mixes."));
}

TEST_F(DiveParserTest, EnumerationFailingAfterFiveDives) {
    const Download result = download("fail-after 5 io\n" + dives(8));
    EXPECT_EQ(result.error, "[-6]: Error downloading the dives.");
    EXPECT_TRUE(result.dives.empty());
    EXPECT_EQ(dcsim_calls("dc_parser_new"), 5u);
}

TEST_F(DiveParserTest, InterruptionBeforeTheFirstDive) {
    const Download result =
        download(dives(3), [](const DownloadInterruption&) { interruptDeviceDownload(); });
    EXPECT_EQ(result.error, std::nullopt);
    EXPECT_TRUE(result.dives.empty());
    EXPECT_EQ(dcsim_calls("dc_parser_new"), 0u);
}

// Acts once, on the downloading thread, when the transfer reaches a given chunk: what happens
// from another thread at that moment, with no thread to be scheduled in time.
class AtChunk : public DownloadListener {
  public:
    AtChunk(std::uint32_t chunk, std::function<void()> action)
        : chunk_(chunk), action_(std::move(action)) {}
    bool progress(std::uint32_t current, std::uint32_t) noexcept override {
        if (current == chunk_) {
            action_();
        }
        return true;
    }
    bool waiting() noexcept override { return true; }
    bool deviceInfo(std::uint32_t, std::uint32_t, std::uint32_t) noexcept override { return true; }
    std::optional<std::string> pinCode(const std::string&, const std::string&) noexcept override {
        return std::nullopt;
    }

  private:
    std::uint32_t chunk_;
    std::function<void()> action_;
};

// SIGINT at its default disposition while the owner lives, as in an interactive shell, whatever
// the test run inherited: nohup and background jobs ignore it, and a download then rightly
// leaves it ignored.
class DefaultSigint {
  public:
#ifdef _WIN32
    DefaultSigint() : saved_(std::signal(SIGINT, SIG_DFL)) {}
    ~DefaultSigint() {
        std::signal(SIGINT, saved_);
    }
#else
    DefaultSigint() {
        struct sigaction standard {};
        standard.sa_handler = SIG_DFL;
        sigemptyset(&standard.sa_mask);
        sigaction(SIGINT, &standard, &saved_);
    }
    ~DefaultSigint() {
        sigaction(SIGINT, &saved_, nullptr);
    }
#endif
    DefaultSigint(const DefaultSigint&) = delete;
    DefaultSigint& operator=(const DefaultSigint&) = delete;

  private:
#ifdef _WIN32
    void (*saved_)(int);
#else
    struct sigaction saved_ {};
#endif
};

TEST_F(DiveParserTest, InterruptionDuringTheThirdDiveKeepsThreeDives) {
    // Four chunks a dive: chunk 13, the fourth dive's first, comes after the third was handed over.
    AtChunk interrupter(13, [] { interruptDeviceDownload(); });
    const Download result = download("transfer 4 1\n" + dives(6), {}, &interrupter);
    EXPECT_EQ(result.error, std::nullopt);
    EXPECT_EQ(result.dives.size(), 3u);
    const auto lines = parsingLines(result.output);
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "Parsing the maxdepth."), 3);
}

TEST_F(DiveParserTest, SignalDuringSlowTransferCancels) {
    const DefaultSigint sigint;
    // Chunk 15: halfway through the second dive.
    AtChunk signaller(15, [] { std::raise(SIGINT); });
    const Download result = download("transfer 10 10\n" + dives(5), {}, &signaller);
    EXPECT_EQ(result.error, "[-10]: Error downloading the dives.");
    EXPECT_TRUE(result.dives.empty());
}

TEST_F(DiveParserTest, AllocationFailureInsideCallbacksIsCarriedOutUnchanged) {
    const std::string scenario = "serial sim:alloc\n" + dives(3);
    ASSERT_EQ(dcsim_attach(scenario.c_str()), 0) << dcsim_last_error();
    // Every allocation count from the first dive's record to deep inside the third dive's samples.
    int failures = 0;
    for (long failAt = 1; failAt < 60; ++failAt) {
        SCOPED_TRACE(failAt);
        const DeviceSession session("sim:alloc", "Test", "Computer", Diagnostics::standard());
        const DownloadInterruption interruption;
        const DeviceConnection connection(session, nullptr);
        testing::internal::CaptureStdout();
        allocationsUntilFailure = failAt;
        try {
            static_cast<void>(downloadDives(connection, interruption));
        } catch (const std::bad_alloc&) {
            ++failures;
        }
        allocationsUntilFailure = -1;
        testing::internal::GetCapturedStdout();
        EXPECT_EQ(dcsim_live(DCSIM_PARSER), 0);
    }
    EXPECT_GT(failures, 30) << "most allocation points lie inside the callbacks";
}

}  // namespace
}  // namespace diveconnector
