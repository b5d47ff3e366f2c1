// Two downloads at once, each from its own simulated computer: the stops of one must not undo
// those of the other.
#include <dcsim.h>
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <string>
#include <thread>
#include <vector>

#include "dcsim_fixture.h"
#include "device_session.h"
#include "dive_parser.h"
#include "native_exception.h"

namespace diveconnector {
namespace {

struct Result {
    std::size_t dives = 0;
    std::string error;
};

class ConcurrentDownloadTest : public DcsimFixture {
  protected:
    void SetUp() override {
        DcsimFixture::SetUp();
        dcsim_descriptors_add("Test", "Computer", 0x10004, 0, DC_TRANSPORT_SERIAL);
        // Eight dives of 40 ms each: long enough for the other thread to act in between.
        for (const char* port : {"sim:first", "sim:second"}) {
            const std::string scenario = std::string("serial ") + port +
                                         "\nevents none\ntransfer 4 10\ngenerate 8 samples=30\n";
            ASSERT_EQ(dcsim_attach(scenario.c_str()), 0) << dcsim_last_error();
        }
    }

    static Result download(const char* port) {
        Result result;
        try {
            const DeviceSession session(port, "Test", "Computer", Diagnostics::standard());
            const DownloadInterruption interruption;
            const DeviceConnection connection(session, nullptr);
            result.dives = downloadDives(connection, interruption).size();
        } catch (const Exception& error) {
            result.error = error.what();
        }
        return result;
    }

    static void waitForParsers(unsigned int count) {
        while (dcsim_calls("dc_parser_new") < count) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }

  private:
    const SilencedStandardOutput silenced_;
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
    Result first, second;
    std::thread a([&] { first = download("sim:first"); });
    std::thread b([&] { second = download("sim:second"); });
    waitForParsers(2);
    interruptDeviceDownload();
    a.join();
    b.join();
    EXPECT_EQ(first.error, "");
    EXPECT_EQ(second.error, "");
    EXPECT_GE(first.dives + second.dives, 1u);
    EXPECT_LT(first.dives, 8u);
    EXPECT_LT(second.dives, 8u);
}

TEST_F(ConcurrentDownloadTest, StartingADownloadDoesNotUndoAnotherInterruption) {
    Result first, second;
    std::thread a([&] { first = download("sim:first"); });
    waitForParsers(1);
    interruptDeviceDownload();
    std::thread b([&] { second = download("sim:second"); });
    a.join();
    b.join();
    EXPECT_LT(first.dives, 8u);
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
    Result first, second;
    std::thread a([&] { first = download("sim:first"); });
    std::thread b([&] { second = download("sim:second"); });
    waitForParsers(2);
    std::raise(SIGINT);
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
