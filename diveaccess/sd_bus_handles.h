// Owners of sd-bus objects: one move-only type per kind, each dropping its reference once.
//
//     sd_bus_message* raw = nullptr;
//     const int result = sd_bus_call(bus, call.get(), timeout, error.get(), &raw);
//     BusMessage reply(raw);   // take ownership straight after the call, before any check
//
// sd-bus's unref functions accept null.
#pragma once

#include <systemd/sd-bus.h>

#include <memory>

namespace diveconnector {

struct BusClose {
    // Flushes what is queued (a last Disconnect call), then closes.
    void operator()(sd_bus* bus) const noexcept { sd_bus_flush_close_unref(bus); }
};
struct BusMessageUnref {
    void operator()(sd_bus_message* message) const noexcept { sd_bus_message_unref(message); }
};
struct BusSlotUnref {
    void operator()(sd_bus_slot* slot) const noexcept { sd_bus_slot_unref(slot); }
};

using Bus = std::unique_ptr<sd_bus, BusClose>;
using BusMessage = std::unique_ptr<sd_bus_message, BusMessageUnref>;
using BusSlot = std::unique_ptr<sd_bus_slot, BusSlotUnref>;

// An sd_bus_error that frees itself.
class BusError {
  public:
    BusError() = default;
    ~BusError() { sd_bus_error_free(&error_); }
    BusError(const BusError&) = delete;
    BusError& operator=(const BusError&) = delete;

    [[nodiscard]] sd_bus_error* get() noexcept { return &error_; }
    [[nodiscard]] bool hasName(const char* name) const noexcept {
        return sd_bus_error_has_name(&error_, name) != 0;
    }

  private:
    sd_bus_error error_{};  // SD_BUS_ERROR_NULL, without its C compound literal
};

}  // namespace diveconnector
