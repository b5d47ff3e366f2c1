// What a BLE device sent, kept until the BLE stream takes it: the notifications of the data
// characteristic as packets (one notification, one packet), the credits the device grants for the
// writes, and the loss of the device. A platform's GATT link pushes into it from whichever thread
// its system delivers on (BlueZ: the downloading thread, inside GattLink::pumpEvents; Windows: a
// callback thread of the system); the stream takes from it on the downloading thread. Every member
// is thread-safe.
//
//     GattInbox inbox("AA:BB:CC:DD:EE:FF");
//     inbox.pushData(bytes, size);         // link: a notification of the data characteristic
//     inbox.lose("the device disconnected.");
//     ...
//     inbox.read(buffer, sizeof buffer, &actual);   // stream: one packet, or the rest of one
//
// Past kMaxQueuedPackets or kMaxQueuedBytes unread the device counts as flooding the link: the
// queue is emptied, later packets are dropped and failed() holds. What the inbox has to say (a
// loss, a flood, credits in a strange size) waits in takeLogLines() for the downloading thread,
// since the support log is not to be written from a system thread.
#pragma once

#include <libdivecomputer/context.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace diveconnector {

class GattInbox {
  public:
    using Clock = std::chrono::steady_clock;
    using LogLine = std::pair<dc_loglevel_t, std::string>;

    // Notifications queued unread past which the device counts as flooding the link: far more
    // than any backend lets pile up.
    static constexpr size_t kMaxQueuedPackets = 16384;
    static constexpr size_t kMaxQueuedBytes = 4 * 1024 * 1024;

    // `address` names the device in the log lines.
    explicit GattInbox(std::string address);
    GattInbox(const GattInbox&) = delete;
    GattInbox& operator=(const GattInbox&) = delete;

    // --- The link's side, from any thread ---

    // One notification of the data characteristic; an empty one carries nothing and is dropped.
    void pushData(const unsigned char* bytes, size_t size);
    // One notification of the credits characteristic: one byte, the number of writes the device
    // takes more. Any other size is logged and ignored.
    void pushCredits(const unsigned char* bytes, size_t size);
    // The device is gone, `why` ("the device disconnected."): the first reason is logged, and
    // failed() holds from here on.
    void lose(const std::string& why);
    // Waits until something is pushed or lost, `deadline` passes or kCancelSlice has passed,
    // whichever comes first: a link whose events come on another thread waits here in its
    // GattLink::waitForEvents.
    void waitForNews(std::optional<Clock::time_point> deadline);

    // --- The stream's side, on the downloading thread ---

    // Copies one packet, or the rest of one larger than `size`, into `data`. False when none is
    // queued.
    [[nodiscard]] bool read(void* data, size_t size, size_t* actual);
    // The same for the rest of a packet only: false when none is partly read.
    [[nodiscard]] bool readRest(void* data, size_t size, size_t* actual);
    [[nodiscard]] bool hasInput() const;
    // Drops every queued packet, a partly read one included.
    void purge();
    // The device is gone or floods the link.
    [[nodiscard]] bool failed() const;
    [[nodiscard]] bool lost() const;
    // Terminal I/O: credits the stream granted the device for its notifications; each data
    // notification spends one. Low once a notification leaves few; granting clears it, taking a
    // failed grant back does not.
    void grantCredits(int credits);
    void withdrawCredits(int credits);
    [[nodiscard]] bool creditsLow() const;
    // Terminal I/O: the credits the device granted for the stream's writes.
    [[nodiscard]] bool hasDeviceCredit() const;
    // Spends one of them; false when there is none.
    [[nodiscard]] bool takeDeviceCredit();
    // What is to be logged since the last call, in order.
    [[nodiscard]] std::vector<LogLine> takeLogLines();

  private:
    void purgeLocked();
    void copyRest(void* data, size_t size, size_t* actual);
    void sayLater(dc_loglevel_t level, std::string message);

    const std::string address_;
    mutable std::mutex mutex_;
    std::condition_variable news_;
    bool newsPending_ = false;
    std::deque<std::vector<unsigned char>> queue_;
    size_t queuedBytes_ = 0;
    std::vector<unsigned char> current_;  // the packet being read
    size_t offset_ = 0;                   // into current_
    bool lost_ = false;
    bool flooded_ = false;
    int64_t credits_ = 0;  // counted for every device: never overflows
    bool creditsLow_ = false;
    int deviceCredits_ = 0;
    std::vector<LogLine> logLines_;
    // Read without the lock, once a read: lines are rare.
    std::atomic<bool> hasLogLines_{false};
};

}  // namespace diveconnector
