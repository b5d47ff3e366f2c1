// Two downloads at once, each from its own simulated computer: the stops of one must not undo
// those of the other.
#include <dcsim.h>
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "dcsim_fixture.h"
#include "device_session.h"
#include "dive_parser.h"
#include "download_listener.h"
#include "native_exception.h"

namespace diveconnector {
namespace {

struct Result {
    std::size_t dives = 0;
    std::string error;
};

// Holds every download that reaches the first chunk of its second dive until opened: the test
// acts while its downloads are known to be in the middle of their transfers, however late any
// thread is scheduled.
class TransferGate : public DownloadListener {
  public:
    static constexpr std::uint32_t kHeldChunk = 5;

    bool progress(std::uint32_t current, std::uint32_t) noexcept override {
        if (current == kHeldChunk) {
            std::unique_lock<std::mutex> lock(mutex_);
            ++held_;
            changed_.notify_all();
            changed_.wait(lock, [this] { return open_; });
        }
        return true;
    }
    bool waiting() noexcept override { return true; }
    bool deviceInfo(std::uint32_t, std::uint32_t, std::uint32_t) noexcept override { return true; }
    std::optional<std::string> pinCode(const std::string&, const std::string&) noexcept override {
        return std::nullopt;
    }

    // True once `count` downloads are held; the bound only keeps a broken test from hanging.
    [[nodiscard]] bool holds(unsigned int count) {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, std::chrono::minutes(1),
                                 [this, count] { return held_ >= count; });
    }
    void open() {
        const std::lock_guard<std::mutex> lock(mutex_);
        open_ = true;
        changed_.notify_all();
    }

  private:
    std::mutex mutex_;
    std::condition_variable changed_;
    unsigned int held_ = 0;
    bool open_ = false;
};

class ConcurrentDownloadTest : public DcsimFixture {
  protected:
    void SetUp() override {
        DcsimFixture::SetUp();
        dcsim_descriptors_add("Test", "Computer", 0x10004, 0, DC_TRANSPORT_SERIAL);
        // Eight dives of four chunks, each chunk with its PROGRESS event.
        for (const char* port : {"sim:first", "sim:second"}) {
            const std::string scenario = std::string("serial ") + port +
                                         "\nevents progress\ntransfer 4 1\ngenerate 8 samples=30\n";
            ASSERT_EQ(dcsim_attach(scenario.c_str()), 0) << dcsim_last_error();
        }
    }

    static Result download(const char* port, DownloadListener* listener = nullptr) {
        Result result;
        try {
            // Quiet: the progress lines would go to the test's output.
            const SupportLog noLog;
            const Diagnostics quiet(true, noLog);
            const DeviceSession session(port, "Test", "Computer", quiet);
            const DownloadInterruption interruption;
            const DeviceConnection connection(session, listener);
            result.dives = downloadDives(connection, interruption).size();
        } catch (const Exception& error) {
            result.error = error.what();
        }
        return result;
    }
};

TEST_F(ConcurrentDownloadTest, BothCompleteUndisturbed) {
    Result first, second;
    std::thread a([&] { first = download("sim:first"); });
    std::thread b([&] { second = download("sim:second"); });
    a.join();
    b.join();
    EXPECT_EQ(first.error, "");
    EXPECT_EQ(second.error, "");
    EXPECT_EQ(first.dives, 8u);
    EXPECT_EQ(second.dives, 8u);
}

TEST_F(ConcurrentDownloadTest, InterruptStopsEveryRunningDownload) {
    TransferGate gate;
    Result first, second;
    std::thread a([&] { first = download("sim:first", &gate); });
    std::thread b([&] { second = download("sim:second", &gate); });
    EXPECT_TRUE(gate.holds(2));
    interruptDeviceDownload();
    gate.open();
    a.join();
    b.join();
    EXPECT_EQ(first.error, "");
    EXPECT_EQ(second.error, "");
    EXPECT_EQ(first.dives, 1u) << "the dive before the interruption";
    EXPECT_EQ(second.dives, 1u);
}

TEST_F(ConcurrentDownloadTest, StartingADownloadDoesNotUndoAnotherInterruption) {
    TransferGate gate;
    Result first, second;
    std::thread a([&] { first = download("sim:first", &gate); });
    EXPECT_TRUE(gate.holds(1));
    interruptDeviceDownload();
    std::thread([&] { second = download("sim:second"); }).join();
    gate.open();
    a.join();
    EXPECT_EQ(first.dives, 1u);
    EXPECT_EQ(second.dives, 8u) << "the interruption came before this download started";
}

#ifndef _WIN32
// sigaction dispositions are POSIX; Windows has only signal().

// Stands in for the JVM's own SIGINT handler.
volatile std::sig_atomic_t hostHandlerCalls = 0;
void hostHandler(int, siginfo_t*, void*) {
    hostHandlerCalls = hostHandlerCalls + 1;
}

TEST_F(ConcurrentDownloadTest, CtrlCCancelsBothAndRestoresTheHandlerAfterTheLast) {
    struct sigaction host {};
    host.sa_sigaction = hostHandler;
    host.sa_flags = SA_SIGINFO;
    sigemptyset(&host.sa_mask);
    struct sigaction saved {};
    ASSERT_EQ(sigaction(SIGINT, &host, &saved), 0);
    struct sigaction before {};
    ASSERT_EQ(sigaction(SIGINT, nullptr, &before), 0);
    hostHandlerCalls = 0;
    TransferGate gate;
    Result first, second;
    std::thread a([&] { first = download("sim:first", &gate); });
    std::thread b([&] { second = download("sim:second", &gate); });
    EXPECT_TRUE(gate.holds(2));
    std::raise(SIGINT);
    gate.open();
    a.join();
    b.join();
    EXPECT_EQ(first.error, "[-10]: Error downloading the dives.");
    EXPECT_EQ(second.error, "[-10]: Error downloading the dives.");
    struct sigaction after {};
    ASSERT_EQ(sigaction(SIGINT, nullptr, &after), 0);
    EXPECT_EQ(after.sa_sigaction, hostHandler);
    EXPECT_EQ(after.sa_flags, before.sa_flags);
    EXPECT_EQ(hostHandlerCalls, 0) << "both downloads acted on the Ctrl-C";
    sigaction(SIGINT, &saved, nullptr);
}
#endif  // _WIN32

}  // namespace
}  // namespace diveconnector
