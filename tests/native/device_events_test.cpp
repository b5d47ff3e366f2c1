#include "device_events.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "interrupt_signal.h"

#ifndef _WIN32
#include <unistd.h>
#endif

namespace diveconnector {
namespace {

// The events of one download that no listener hears.
class UnheardEvents {
  public:
    DeviceEvents& operator*() { return events_; }
    const DeviceInfo& info() const { return events_.info(); }

  private:
    InterruptSignalScope signalScope_;
    DeviceEvents events_{signalScope_, nullptr, Diagnostics::standard()};
};

std::string eventLine(dc_event_type_t kind, const void* data, DeviceEvents& events) {
    testing::internal::CaptureStdout();
    onDeviceEvent(nullptr, kind, data, &events);
    return testing::internal::GetCapturedStdout();
}

std::string progressLine(unsigned int current, unsigned int maximum) {
    UnheardEvents events;
    const dc_event_progress_t progress{current, maximum};
    return eventLine(DC_EVENT_PROGRESS, &progress, *events);
}

TEST(DeviceEventsTest, WaitingWritesItsLineOnly) {
    UnheardEvents events;
    EXPECT_EQ(eventLine(DC_EVENT_WAITING, nullptr, *events), "Event: waiting for user action\n");
    EXPECT_FALSE(events.info().identified);
    EXPECT_EQ(events.info().serial, 0u);
}

TEST(DeviceEventsTest, ProgressShowsPercentageAndCounts) {
    EXPECT_EQ(progressLine(1, 3), "Event: progress 33.33% (1/3)\n");
    EXPECT_EQ(progressLine(1000, 1000), "Event: progress 100.00% (1000/1000)\n");
    EXPECT_EQ(progressLine(0, 1000), "Event: progress 0.00% (0/1000)\n");
    EXPECT_EQ(progressLine(4294967295u, 4294967295u),
              "Event: progress 100.00% (4294967295/4294967295)\n");
    // No maximum: the C runtime's text for a non-finite number, but still one line.
    EXPECT_THAT(progressLine(0, 0), testing::MatchesRegex("Event: progress -?nan% \\(0/0\\)\n"));
    EXPECT_EQ(progressLine(1, 0), "Event: progress inf% (1/0)\n");
}

TEST(DeviceEventsTest, DeviceInformationIsRecordedAndReplaced) {
    UnheardEvents events;
    const DeviceInfo& info = events.info();
    const dc_event_devinfo_t first{18, 2, 12345};
    EXPECT_EQ(eventLine(DC_EVENT_DEVINFO, &first, *events),
              "Event: model=18 (0x00000012), firmware=2 (0x00000002), serial=12345 (0x00003039)\n");
    EXPECT_EQ(info.model, 18u);
    EXPECT_EQ(info.firmware, 2u);
    EXPECT_EQ(info.serial, 12345u);
    EXPECT_TRUE(info.identified);

    const dc_event_devinfo_t second{4294967295u, 0, 0};
    EXPECT_EQ(
        eventLine(DC_EVENT_DEVINFO, &second, *events),
        "Event: model=4294967295 (0xffffffff), firmware=0 (0x00000000), serial=0 (0x00000000)\n");
    EXPECT_EQ(info.model, 4294967295u);
    EXPECT_EQ(info.serial, 0u);
    EXPECT_TRUE(info.identified);
}

TEST(DeviceEventsTest, ClockKeepsSignedSystemTime) {
    UnheardEvents events;
    const DeviceInfo& info = events.info();
    const dc_event_clock_t clock{600, -5};
    EXPECT_EQ(eventLine(DC_EVENT_CLOCK, &clock, *events), "Event: systime=-5, devtime=600\n");
    EXPECT_EQ(info.devtime, 600u);
    EXPECT_EQ(info.systime, -5);

    const dc_event_clock_t far{1, INT64_MIN};
    EXPECT_EQ(eventLine(DC_EVENT_CLOCK, &far, *events),
              "Event: systime=-9223372036854775808, devtime=1\n");
}

#ifndef _WIN32
// The lines must reach standard output when the event happens, not when the next flushed line
// comes: a pipe or a file would otherwise show the progress of a dive only after it has arrived.
TEST(DeviceEventsTest, LinesReachAFileAtOnce) {
    std::FILE* file = std::tmpfile();
    ASSERT_NE(file, nullptr);
    std::fflush(stdout);
    const int savedStdout = dup(fileno(stdout));
    ASSERT_EQ(dup2(fileno(file), fileno(stdout)), fileno(stdout));

    UnheardEvents events;
    const dc_event_progress_t progress{1, 2};
    onDeviceEvent(nullptr, DC_EVENT_PROGRESS, &progress, &*events);
    const dc_event_devinfo_t devinfo{1, 2, 3};
    onDeviceEvent(nullptr, DC_EVENT_DEVINFO, &devinfo, &*events);

    std::string written(200, '\0');
    const auto length = pread(fileno(file), written.data(), written.size(), 0);
    dup2(savedStdout, fileno(stdout));
    close(savedStdout);
    std::fclose(file);
    ASSERT_GE(length, 0);
    written.resize(static_cast<std::size_t>(length));
    EXPECT_EQ(written,
              "Event: progress 50.00% (1/2)\n"
              "Event: model=1 (0x00000001), firmware=2 (0x00000002), serial=3 (0x00000003)\n");
}
#endif  // _WIN32

TEST(DeviceEventsTest, OtherKindsAreIgnored) {
    UnheardEvents events;
    const unsigned char vendorBytes[4] = {1, 2, 3, 4};
    const dc_event_vendor_t vendor{vendorBytes, sizeof vendorBytes};
    EXPECT_EQ(eventLine(DC_EVENT_VENDOR, &vendor, *events), "");
    // No kind at all; a kind above DC_EVENT_VENDOR would be outside the enum's values.
    EXPECT_EQ(eventLine(static_cast<dc_event_type_t>(0), nullptr, *events), "");
    EXPECT_FALSE(events.info().identified);
}

// Records what it hears; fails (answers false) at the call numbered failAt (1-based), if any.
class RecordingListener final : public DownloadListener {
  public:
    explicit RecordingListener(int failAt = 0) : failAt_(failAt) {}

    bool progress(std::uint32_t current, std::uint32_t maximum) noexcept override {
        return hear("progress " + std::to_string(current) + "/" + std::to_string(maximum));
    }
    bool waiting() noexcept override { return hear("waiting"); }
    bool deviceInfo(std::uint32_t model, std::uint32_t firmware,
                    std::uint32_t serial) noexcept override {
        return hear("devinfo " + std::to_string(model) + " " + std::to_string(firmware) + " " +
                    std::to_string(serial));
    }
    std::optional<std::string> pinCode(const std::string& address,
                                       const std::string& name) noexcept override {
        return hear("pin " + address + " " + name) ? std::optional<std::string>("1234")
                                                   : std::nullopt;
    }

    std::vector<std::string> heard;

  private:
    bool hear(std::string call) {
        heard.push_back(std::move(call));
        return static_cast<int>(heard.size()) != failAt_;
    }
    int failAt_;
};

void sendEveryKind(DeviceEvents& events) {
    const dc_event_progress_t progress{4294967295u, 4294967295u};
    const dc_event_devinfo_t devinfo{4294967295u, 7, 3000000000u};
    const dc_event_clock_t clock{1, 2};
    const unsigned char bytes[1] = {0};
    const dc_event_vendor_t vendor{bytes, 1};
    onDeviceEvent(nullptr, DC_EVENT_WAITING, nullptr, &events);
    onDeviceEvent(nullptr, DC_EVENT_PROGRESS, &progress, &events);
    onDeviceEvent(nullptr, DC_EVENT_CLOCK, &clock, &events);
    onDeviceEvent(nullptr, DC_EVENT_VENDOR, &vendor, &events);
    onDeviceEvent(nullptr, DC_EVENT_DEVINFO, &devinfo, &events);
}

TEST(DeviceEventsListenerTest, HearsWaitingProgressAndDeviceInfoInOrderAfterTheirLines) {
    const InterruptSignalScope scope;
    RecordingListener listener;
    DeviceEvents events(scope, &listener, Diagnostics::standard());
    testing::internal::CaptureStdout();
    sendEveryKind(events);
    const std::string lines = testing::internal::GetCapturedStdout();

    EXPECT_THAT(listener.heard, testing::ElementsAre("waiting", "progress 4294967295/4294967295",
                                                     "devinfo 4294967295 7 3000000000"));
    EXPECT_EQ(lines,
              "Event: waiting for user action\n"
              "Event: progress 100.00% (4294967295/4294967295)\n"
              "Event: systime=2, devtime=1\n"
              "Event: model=4294967295 (0xffffffff), firmware=7 (0x00000007), "
              "serial=3000000000 (0xb2d05e00)\n");
    EXPECT_FALSE(events.listenerFailed());
    EXPECT_EQ(onCancelQuery(&events), 0);
    EXPECT_EQ(events.info().serial, 3000000000u);
}

TEST(DeviceEventsListenerTest, AFailedListenerCancelsAndHearsNothingMoreWhileLinesGoOn) {
    for (int failAt : {1, 2, 3}) {
        const InterruptSignalScope scope;
        RecordingListener listener(failAt);
        DeviceEvents events(scope, &listener, Diagnostics::standard());
        EXPECT_EQ(onCancelQuery(&events), 0);
        testing::internal::CaptureStdout();
        sendEveryKind(events);
        const std::string lines = testing::internal::GetCapturedStdout();

        EXPECT_EQ(listener.heard.size(), static_cast<std::size_t>(failAt)) << failAt;
        EXPECT_TRUE(events.listenerFailed());
        EXPECT_EQ(onCancelQuery(&events), 1) << "the download ends like a cancellation";
        EXPECT_THAT(lines, testing::HasSubstr("serial=3000000000")) << "the lines stay";
        EXPECT_TRUE(events.info().identified);
    }
}

TEST(DownloadInterruptionTest, OnlyRequestsAfterTheStartCount) {
    interruptDeviceDownload();
    const DownloadInterruption running;
    EXPECT_FALSE(running.requested()) << "a request made before the download started";
    interruptDeviceDownload();
    interruptDeviceDownload();
    EXPECT_TRUE(running.requested());

    const DownloadInterruption next;
    EXPECT_FALSE(next.requested());
    EXPECT_TRUE(running.requested()) << "starting a download must not undo another's interruption";
}

TEST(DownloadInterruptionTest, RequestFromAnotherThreadStopsEveryRunningDownload) {
    const DownloadInterruption first;
    const DownloadInterruption second;
    std::thread([] { interruptDeviceDownload(); }).join();
    EXPECT_TRUE(first.requested());
    EXPECT_TRUE(second.requested());
}

// Stands in for the JVM's SIGINT handler: an SA_SIGINFO one on POSIX, a signal() one on Windows.
volatile std::sig_atomic_t outerHandlerCalls = 0;

#ifdef _WIN32
void outerHandler(int) {
    // Windows resets the disposition before calling a handler, as for the JVM's.
    std::signal(SIGINT, outerHandler);
    outerHandlerCalls = outerHandlerCalls + 1;
}

using Disposition = void (*)(int);
Disposition sigintDisposition() {
    const Disposition current = std::signal(SIGINT, SIG_IGN);
    std::signal(SIGINT, current);
    return current;
}
void setSigintDisposition(Disposition disposition) {
    std::signal(SIGINT, disposition);
}
Disposition outerDisposition() {
    return outerHandler;
}
Disposition ignoredDisposition() {
    return SIG_IGN;
}
bool isOuterHandler(Disposition disposition) {
    return disposition == outerHandler;
}
bool isIgnored(Disposition disposition) {
    return disposition == SIG_IGN;
}
#else
void outerHandler(int, siginfo_t*, void*) {
    outerHandlerCalls = outerHandlerCalls + 1;
}

using Disposition = struct sigaction;
Disposition sigintDisposition() {
    struct sigaction current {};
    sigaction(SIGINT, nullptr, &current);
    return current;
}
void setSigintDisposition(const Disposition& disposition) {
    sigaction(SIGINT, &disposition, nullptr);
}
Disposition outerDisposition() {
    struct sigaction action {};
    action.sa_sigaction = outerHandler;
    action.sa_flags = SA_SIGINFO | SA_ONSTACK;
    sigemptyset(&action.sa_mask);
    return action;
}
Disposition ignoredDisposition() {
    struct sigaction action {};
    action.sa_handler = SIG_IGN;
    sigemptyset(&action.sa_mask);
    return action;
}
bool isOuterHandler(const Disposition& disposition) {
    return disposition.sa_sigaction == outerHandler &&
           (disposition.sa_flags & (SA_SIGINFO | SA_ONSTACK)) == (SA_SIGINFO | SA_ONSTACK);
}
bool isIgnored(const Disposition& disposition) {
    return disposition.sa_handler == SIG_IGN;
}
#endif  // _WIN32

bool cancelQuery(const InterruptSignalScope& scope) {
    DeviceEvents events(scope, nullptr, Diagnostics::standard());
    return onCancelQuery(&events) != 0;
}

class InterruptSignalTest : public testing::Test {
  protected:
    void SetUp() override {
        saved_ = sigintDisposition();
        setSigintDisposition(outerDisposition());
        outerHandlerCalls = 0;
    }
    void TearDown() override { setSigintDisposition(saved_); }

  private:
    Disposition saved_{};
};

TEST_F(InterruptSignalTest, SignalDuringScopeCancelsAndOuterHandlerComesBack) {
    {
        const InterruptSignalScope scope;
        EXPECT_FALSE(cancelQuery(scope));
        std::raise(SIGINT);
        EXPECT_TRUE(cancelQuery(scope));
        EXPECT_TRUE(cancelQuery(scope)) << "the download stays cancelled";
        EXPECT_EQ(outerHandlerCalls, 0) << "the download's handler takes SIGINT while it runs";
    }
    EXPECT_TRUE(isOuterHandler(sigintDisposition()));
    EXPECT_EQ(outerHandlerCalls, 0) << "the download acted on the signal: not raised again";
    std::raise(SIGINT);
    EXPECT_EQ(outerHandlerCalls, 1) << "outside a download SIGINT is the host's again";

    const InterruptSignalScope later;
    EXPECT_FALSE(cancelQuery(later)) << "an earlier Ctrl-C must not cancel a later download";
}

// After libdivecomputer's last cancel query (parsing, closing, conversion) a Ctrl-C can no longer
// cancel: it must reach the host once its handler is back, exactly once.
TEST_F(InterruptSignalTest, SignalNoQueryActedOnReachesTheOuterHandlerAfterwards) {
    {
        const InterruptSignalScope scope;
        EXPECT_FALSE(cancelQuery(scope));
        std::raise(SIGINT);
        EXPECT_EQ(outerHandlerCalls, 0);
    }
    EXPECT_EQ(outerHandlerCalls, 1);
    EXPECT_TRUE(isOuterHandler(sigintDisposition()));

    { const InterruptSignalScope quiet; }
    EXPECT_EQ(outerHandlerCalls, 1) << "a signal is raised again only once";
}

TEST_F(InterruptSignalTest, SignalAfterTheCancellingQueryReachesTheOuterHandler) {
    {
        const InterruptSignalScope scope;
        std::raise(SIGINT);
        EXPECT_TRUE(cancelQuery(scope));
        std::raise(SIGINT);
        std::raise(SIGINT);
    }
    EXPECT_EQ(outerHandlerCalls, 1) << "the later Ctrl-Cs, once";
}

TEST_F(InterruptSignalTest, OverlappingScopesInstallOnceAndRestoreAfterTheLast) {
    auto first = std::make_unique<InterruptSignalScope>();
    auto second = std::make_unique<InterruptSignalScope>();
    first.reset();
    std::raise(SIGINT);
    EXPECT_EQ(outerHandlerCalls, 0) << "a download is still running";
    EXPECT_TRUE(cancelQuery(*second));
    second.reset();
    EXPECT_TRUE(isOuterHandler(sigintDisposition()));
    EXPECT_EQ(outerHandlerCalls, 0);
}

TEST_F(InterruptSignalTest, SignalNoOverlappingQueryActedOnIsRaisedAfterTheLastScope) {
    auto first = std::make_unique<InterruptSignalScope>();
    auto second = std::make_unique<InterruptSignalScope>();
    std::raise(SIGINT);
    first.reset();
    EXPECT_EQ(outerHandlerCalls, 0) << "a download is still running";
    second.reset();
    EXPECT_EQ(outerHandlerCalls, 1);
}

// nohup, background jobs and `trap '' INT` ignore SIGINT; so does the JVM then.
TEST_F(InterruptSignalTest, IgnoredSignalStaysIgnoredAndCancelsNothing) {
    setSigintDisposition(ignoredDisposition());
    {
        const InterruptSignalScope scope;
        EXPECT_TRUE(isIgnored(sigintDisposition()));
        std::raise(SIGINT);
        EXPECT_FALSE(cancelQuery(scope));
    }
    EXPECT_TRUE(isIgnored(sigintDisposition()));

    setSigintDisposition(outerDisposition());
    {
        const InterruptSignalScope scope;
        EXPECT_FALSE(cancelQuery(scope));
    }
    EXPECT_EQ(outerHandlerCalls, 0) << "the ignored signal is not raised later";
}

TEST_F(InterruptSignalTest, ScopesOnManyThreadsLeaveTheOuterHandler) {
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([] {
            for (int i = 0; i < 200; ++i) {
                const InterruptSignalScope scope;
                EXPECT_FALSE(cancelQuery(scope));
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    EXPECT_TRUE(isOuterHandler(sigintDisposition()));
    EXPECT_EQ(outerHandlerCalls, 0);
}

}  // namespace
}  // namespace diveconnector
