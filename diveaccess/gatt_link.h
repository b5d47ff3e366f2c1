// A platform's GATT link to one BLE device, under the BLE stream that every platform shares.
//
// The stream (ble_stream.cpp) does everything a platform has in common: one notification per read
// and the rest kept, purge, poll and sleep, libdivecomputer's timeouts, cancel ending a wait
// within kCancelSlice, a lost or flooding device ending it with DC_STATUS_IO, the Terminal I/O
// credits, the ioctls. A link does only what needs the platform: it opens the device by its
// address and picks its characteristics with chooseGattService (gatt_choice.h), writes and reads
// characteristics, pushes what the device sends into the stream's GattInbox and waits for it.
//
// Each platform's link file (bluez_gatt_link.cpp on Linux; diveaccess/CMakeLists.txt builds the
// one of the platform) defines openPlatformGattLink. The stream uses it thus:
//
//     GattInbox inbox(address);                  // outlives the link: declared before it
//     GattLinkContext context{inbox, waiter, log};
//     std::unique_ptr<GattLink> link;
//     dc_status_t status = openPlatformGattLink(address, context, link);
//     ... waiter.waitUntil(*link, done, deadline), link->writeCharacteristic(...) ...
//     link.reset();   // stops the notifications, disconnects what it connected
//
// A link keeps the context for its whole life. It pushes every notification of choice().notify
// into inbox.pushData and of choice().creditsNotify into inbox.pushCredits (both may be one
// characteristic: then the data characteristic's), and calls inbox.lose once it finds the device
// gone. It may push from a thread of its own system; after its destructor has returned it pushes
// nothing more. Whenever a link itself has to wait for its device (a call its platform answers
// later, a connection being made), it waits through context.waiter, passing itself, so that a
// cancel ends that wait too and credits keep flowing meanwhile; the waiter then calls the link's
// pumpEvents and waitForEvents in turn. A platform whose calls block does not need the waiter.
#pragma once

#include <libdivecomputer/context.h>

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "gatt_choice.h"
#include "gatt_inbox.h"

namespace diveconnector {

// How long one wait for a device's events lasts at the most: a waiter that checks its cancel
// state between waits ends within this time.
inline constexpr std::chrono::milliseconds kCancelSlice{50};

// Where a link or the stream says what went wrong beyond its status; may be empty.
using GattLog = std::function<void(dc_loglevel_t level, const std::string& message)>;

class GattLink;

// The stream's one wait, which a link's own waits go through.
class GattWaiter {
  public:
    using Clock = std::chrono::steady_clock;

    // Pumps `link`'s events until `done` holds (DC_STATUS_SUCCESS), `deadline` passes
    // (DC_STATUS_TIMEOUT; none: no end), the download is cancelled (DC_STATUS_CANCELLED) or the
    // device is lost or floods the link (DC_STATUS_IO). Meanwhile it grants the device Terminal
    // I/O credits once they run low. `done` is tried before the loss, so that what came before
    // is still read.
    [[nodiscard]] virtual dc_status_t waitUntil(GattLink& link, const std::function<bool()>& done,
                                                std::optional<Clock::time_point> deadline) = 0;

  protected:
    ~GattWaiter() = default;
};

// What the stream hands a link when it opens it; every reference outlives the link.
struct GattLinkContext {
    GattInbox& inbox;
    GattWaiter& waiter;
    GattLog log;
};

class GattLink {
  public:
    using Clock = std::chrono::steady_clock;

    // Stops the notifications, unregisters every callback (none runs once it returns) and
    // disconnects what the link connected; each step bounded in time, a device that is gone
    // answering nothing.
    virtual ~GattLink() = default;
    GattLink() = default;
    GattLink(const GattLink&) = delete;
    GattLink& operator=(const GattLink&) = delete;

    // The device's address, in upper case.
    [[nodiscard]] virtual const std::string& address() const noexcept = 0;
    // The name the device advertises; empty if it advertises none.
    [[nodiscard]] virtual const std::string& name() const noexcept = 0;
    // The characteristics chooseGattService chose when the link was opened.
    [[nodiscard]] virtual const GattChoice& choice() const noexcept = 0;
    // Any characteristic of the device by its lower-case UUID, for the characteristic ioctls;
    // null when it has none such.
    [[nodiscard]] virtual const GattCharacteristic* characteristic(
        const std::string& uuid) const = 0;

    // One GATT write of `size` bytes to `target`, a request (answered) or a command (not).
    // DC_STATUS_CANCELLED or DC_STATUS_TIMEOUT when its wait ended so, else DC_STATUS_IO on
    // failure.
    [[nodiscard]] virtual dc_status_t writeCharacteristic(const GattCharacteristic& target,
                                                          const unsigned char* data, size_t size,
                                                          bool withResponse) = 0;
    // The value of `target`, exactly `size` bytes of it: DC_STATUS_IO when it is shorter.
    [[nodiscard]] virtual dc_status_t readCharacteristic(const GattCharacteristic& target,
                                                         unsigned char* data, size_t size) = 0;

    // Handles, without waiting, whatever events the platform holds for the link (BlueZ: the
    // messages on the bus), pushing into the inbox; a link whose events come on a thread of the
    // system has nothing to do here. DC_STATUS_IO when the link itself failed.
    [[nodiscard]] virtual dc_status_t pumpEvents() = 0;
    // Waits for the next event, at most kCancelSlice and never past `deadline`; it may return
    // earlier. BlueZ waits on its bus; a link with a system thread waits in inbox.waitForNews.
    // DC_STATUS_IO when the link itself failed.
    [[nodiscard]] virtual dc_status_t waitForEvents(std::optional<Clock::time_point> deadline) = 0;
};

// Opens the device at `address` ("AA:BB:CC:DD:EE:FF", either case) through the platform's BLE
// API. DC_STATUS_UNSUPPORTED when the platform's BLE API is missing or no service of the device
// suits, DC_STATUS_NODEVICE when the device is not found, DC_STATUS_IO when connecting to it
// fails, DC_STATUS_TIMEOUT when it does not answer in time, DC_STATUS_CANCELLED within
// kCancelSlice of a cancel; the context's log says why.
[[nodiscard]] dc_status_t openPlatformGattLink(const std::string& address,
                                               const GattLinkContext& context,
                                               std::unique_ptr<GattLink>& link);

}  // namespace diveconnector
