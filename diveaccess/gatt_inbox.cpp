#include "gatt_inbox.h"

#include <algorithm>
#include <cstring>

#include "gatt_link.h"

namespace diveconnector {

namespace {

// Terminal I/O: the credits left at which the stream grants more.
constexpr int kLowCredits = 32;

}  // namespace

GattInbox::GattInbox(std::string address) : address_(std::move(address)) {}

void GattInbox::pushData(const unsigned char* bytes, size_t size) {
    if (size == 0) {
        return;
    }
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        if (flooded_) {
            return;
        }
        if (queue_.size() >= kMaxQueuedPackets || queuedBytes_ + size > kMaxQueuedBytes) {
            flooded_ = true;
            purgeLocked();
            sayLater(DC_LOGLEVEL_ERROR,
                     "More than " + std::to_string(kMaxQueuedPackets) + " notifications or " +
                         std::to_string(kMaxQueuedBytes) + " bytes from " + address_ +
                         " came unread: the device floods the link, which fails.");
        } else {
            queue_.emplace_back(bytes, bytes + size);
            queuedBytes_ += size;
            // Counted whether or not the device takes credits: only a Terminal I/O stream asks.
            if (--credits_ <= kLowCredits) {
                creditsLow_ = true;
            }
        }
        newsPending_ = true;
    }
    news_.notify_one();
}

void GattInbox::pushCredits(const unsigned char* bytes, size_t size) {
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        if (size == 1) {
            deviceCredits_ += *bytes;
        } else {
            sayLater(DC_LOGLEVEL_WARNING, "The device granted credits in " + std::to_string(size) +
                                              " bytes, not one: ignored.");
        }
        newsPending_ = true;
    }
    news_.notify_one();
}

void GattInbox::lose(const std::string& why) {
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        if (lost_) {
            return;
        }
        lost_ = true;
        sayLater(DC_LOGLEVEL_ERROR, "BLE link to " + address_ + " lost: " + why);
        newsPending_ = true;
    }
    news_.notify_one();
}

void GattInbox::waitForNews(std::optional<Clock::time_point> deadline) {
    Clock::time_point until = Clock::now() + kCancelSlice;
    if (deadline) {
        until = std::min(until, *deadline);
    }
    std::unique_lock<std::mutex> lock(mutex_);
    news_.wait_until(lock, until, [this] { return newsPending_; });
    newsPending_ = false;
}

bool GattInbox::read(void* data, size_t size, size_t* actual) {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (offset_ == current_.size()) {
        if (queue_.empty()) {
            return false;
        }
        current_ = std::move(queue_.front());
        queue_.pop_front();
        queuedBytes_ -= current_.size();
        offset_ = 0;
    }
    copyRest(data, size, actual);
    return true;
}

bool GattInbox::readRest(void* data, size_t size, size_t* actual) {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (offset_ == current_.size()) {
        return false;
    }
    copyRest(data, size, actual);
    return true;
}

void GattInbox::copyRest(void* data, size_t size, size_t* actual) {
    const size_t count = std::min(size, current_.size() - offset_);
    std::memcpy(data, current_.data() + offset_, count);
    offset_ += count;
    *actual = count;
}

bool GattInbox::hasInput() const {
    const std::lock_guard<std::mutex> lock(mutex_);
    return offset_ < current_.size() || !queue_.empty();
}

void GattInbox::purge() {
    const std::lock_guard<std::mutex> lock(mutex_);
    purgeLocked();
}

void GattInbox::purgeLocked() {
    queue_.clear();
    queuedBytes_ = 0;
    current_.clear();
    offset_ = 0;
}

bool GattInbox::failed() const {
    const std::lock_guard<std::mutex> lock(mutex_);
    return lost_ || flooded_;
}

bool GattInbox::lost() const {
    const std::lock_guard<std::mutex> lock(mutex_);
    return lost_;
}

void GattInbox::grantCredits(int credits) {
    const std::lock_guard<std::mutex> lock(mutex_);
    creditsLow_ = false;
    credits_ += credits;
}

void GattInbox::withdrawCredits(int credits) {
    const std::lock_guard<std::mutex> lock(mutex_);
    credits_ -= credits;
}

bool GattInbox::creditsLow() const {
    const std::lock_guard<std::mutex> lock(mutex_);
    return creditsLow_;
}

bool GattInbox::hasDeviceCredit() const {
    const std::lock_guard<std::mutex> lock(mutex_);
    return deviceCredits_ > 0;
}

bool GattInbox::takeDeviceCredit() {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (deviceCredits_ == 0) {
        return false;
    }
    --deviceCredits_;
    return true;
}

void GattInbox::sayLater(dc_loglevel_t level, std::string message) {
    logLines_.emplace_back(level, std::move(message));
    hasLogLines_ = true;
}

std::vector<GattInbox::LogLine> GattInbox::takeLogLines() {
    if (!hasLogLines_) {
        return {};
    }
    const std::lock_guard<std::mutex> lock(mutex_);
    hasLogLines_ = false;
    return std::exchange(logLines_, {});
}

}  // namespace diveconnector
