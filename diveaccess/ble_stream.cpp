#include "ble_stream.h"

#include <libdivecomputer/ble.h>
#include <libdivecomputer/custom.h>

#include <chrono>
#include <cstring>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "gatt_link.h"

namespace diveconnector {

namespace {

// Terminal I/O: credits granted at the start, and the top-up once they run low.
constexpr unsigned char kInitialCredits = 254;
constexpr unsigned char kMoreCredits = 222;
// How long a write waits for a credit from the device: as long as a call to it may take.
constexpr std::chrono::milliseconds kCreditTime{5000};

// What the custom stream's callbacks get as their user data: the platform's link under the
// logic every platform shares.
class BleStream final : public GattWaiter {
  public:
    BleStream(const char* address, const BleHooks& hooks)
        : hooks(hooks), inbox_(upperCaseAddress(address)) {}

    [[nodiscard]] dc_status_t open(const std::string& address);

    dc_status_t waitUntil(GattLink& link, const std::function<bool()>& done,
                          std::optional<Clock::time_point> deadline) override;

    void setTimeout(int milliseconds) noexcept { timeoutMs_ = milliseconds; }
    [[nodiscard]] dc_status_t read(void* data, size_t size, size_t* actual);
    [[nodiscard]] dc_status_t poll(int milliseconds);
    [[nodiscard]] dc_status_t sleep(unsigned int milliseconds);
    void purgeInput() { inbox_.purge(); }
    [[nodiscard]] dc_status_t write(const void* data, size_t size, size_t* actual);
#ifdef DC_IOCTL_BLE_CHARACTERISTIC_READ
    [[nodiscard]] dc_status_t readCharacteristic(const std::string& uuid, unsigned char* data,
                                                 size_t size);
    [[nodiscard]] dc_status_t writeCharacteristic(const std::string& uuid,
                                                  const unsigned char* data, size_t size);
#endif
    [[nodiscard]] const GattLink& link() const { return *link_; }

    const BleHooks hooks;

  private:
    [[nodiscard]] dc_status_t waitUntil(const std::function<bool()>& done,
                                        std::optional<Clock::time_point> deadline) {
        return waitUntil(*link_, done, deadline);
    }
    [[nodiscard]] dc_status_t grantCredits(GattLink& link, unsigned char credits);
    void say(dc_loglevel_t level, const std::string& message) const;
    // What the inbox has to say, on the downloading thread.
    void sayInboxNews();

    GattInbox inbox_;
    bool grantsCredits_ = false;  // Terminal I/O: the device's notifications cost credits
    int timeoutMs_ = -1;          // negative blocks, 0 does not wait
    // Declared last: closed first, so that it pushes nothing into the inbox once that is gone.
    std::unique_ptr<GattLink> link_;
};

std::optional<GattWaiter::Clock::time_point> deadlineAfter(int milliseconds) {
    if (milliseconds < 0) {
        return std::nullopt;
    }
    return GattWaiter::Clock::now() + std::chrono::milliseconds(milliseconds);
}

dc_status_t BleStream::open(const std::string& address) {
    dc_status_t status =
        openPlatformGattLink(address, GattLinkContext{inbox_, *this, hooks.log}, link_);
    if (status == DC_STATUS_SUCCESS && link_->choice().creditsWrite) {
        grantsCredits_ = true;
        status = grantCredits(*link_, kInitialCredits);
        if (status != DC_STATUS_SUCCESS) {
            link_.reset();
        }
    }
    return status;
}

void BleStream::say(dc_loglevel_t level, const std::string& message) const {
    if (hooks.log) {
        hooks.log(level, message);
    }
}

void BleStream::sayInboxNews() {
    for (const auto& [level, message] : inbox_.takeLogLines()) {
        say(level, message);
    }
}

dc_status_t BleStream::waitUntil(GattLink& link, const std::function<bool()>& done,
                                 std::optional<Clock::time_point> deadline) {
    for (;;) {
        dc_status_t status = link.pumpEvents();
        sayInboxNews();
        if (status != DC_STATUS_SUCCESS) {
            return status;
        }
        if (grantsCredits_ && inbox_.creditsLow()) {
            status = grantCredits(link, kMoreCredits);
            if (status != DC_STATUS_SUCCESS) {
                return status == DC_STATUS_CANCELLED ? status : DC_STATUS_IO;
            }
        }
        // Checked first: while the device streams, a read never waits, and a cancelled download
        // must not go on until its transfer ends.
        if (hooks.cancelled && hooks.cancelled()) {
            return DC_STATUS_CANCELLED;
        }
        if (done()) {
            return DC_STATUS_SUCCESS;
        }
        if (inbox_.failed()) {
            return DC_STATUS_IO;
        }
        if (deadline && Clock::now() >= *deadline) {
            return DC_STATUS_TIMEOUT;
        }
        status = link.waitForEvents(deadline);
        if (status != DC_STATUS_SUCCESS) {
            return status;
        }
    }
}

dc_status_t BleStream::grantCredits(GattLink& link, unsigned char credits) {
    // Counted first: the notifications that come during the write's own wait must not make it
    // grant once more.
    inbox_.grantCredits(credits);
    const dc_status_t status =
        link.writeCharacteristic(*link.choice().creditsWrite, &credits, 1, true);
    if (status != DC_STATUS_SUCCESS) {
        inbox_.withdrawCredits(credits);
    }
    return status;
}

dc_status_t BleStream::read(void* data, size_t size, size_t* actual) {
    if (size == 0) {
        return DC_STATUS_INVALIDARGS;
    }
    // The rest of a packet comes at once; the next one is taken in a wait, which sees a cancel
    // first.
    if (inbox_.readRest(data, size, actual)) {
        return DC_STATUS_SUCCESS;
    }
    return waitUntil([&] { return inbox_.read(data, size, actual); }, deadlineAfter(timeoutMs_));
}

dc_status_t BleStream::poll(int milliseconds) {
    return waitUntil([this] { return inbox_.hasInput(); }, deadlineAfter(milliseconds));
}

dc_status_t BleStream::sleep(unsigned int milliseconds) {
    const dc_status_t status =
        waitUntil([] { return false; }, Clock::now() + std::chrono::milliseconds(milliseconds));
    return status == DC_STATUS_TIMEOUT ? DC_STATUS_SUCCESS : status;
}

dc_status_t BleStream::write(const void* data, size_t size, size_t* actual) {
    if (inbox_.failed()) {
        return DC_STATUS_IO;
    }
    const GattChoice& choice = link_->choice();
    if (choice.creditsNotify) {
        const dc_status_t status =
            waitUntil([this] { return inbox_.hasDeviceCredit(); }, Clock::now() + kCreditTime);
        if (status == DC_STATUS_TIMEOUT) {
            say(DC_LOGLEVEL_ERROR, "The device granted no credit for a write within " +
                                       std::to_string(kCreditTime.count()) + " ms.");
        }
        if (status != DC_STATUS_SUCCESS) {
            return status;
        }
        // Only this thread spends the device's credits.
        static_cast<void>(inbox_.takeDeviceCredit());
    }
    const dc_status_t status =
        link_->writeCharacteristic(choice.write, static_cast<const unsigned char*>(data), size,
                                   !choice.write.has("write-without-response"));
    if (status == DC_STATUS_SUCCESS) {
        *actual = size;
    }
    return status;
}

#ifdef DC_IOCTL_BLE_CHARACTERISTIC_READ
dc_status_t BleStream::readCharacteristic(const std::string& uuid, unsigned char* data,
                                          size_t size) {
    const GattCharacteristic* target = link_->characteristic(lowerCaseUuid(uuid));
    return target != nullptr ? link_->readCharacteristic(*target, data, size)
                             : DC_STATUS_UNSUPPORTED;
}

dc_status_t BleStream::writeCharacteristic(const std::string& uuid, const unsigned char* data,
                                           size_t size) {
    const GattCharacteristic* target = link_->characteristic(lowerCaseUuid(uuid));
    return target != nullptr ? link_->writeCharacteristic(*target, data, size, true)
                             : DC_STATUS_UNSUPPORTED;
}
#endif

BleStream& streamOf(void* userdata) {
    return *static_cast<BleStream*>(userdata);
}

dc_status_t setTimeout(void* userdata, int milliseconds) {
    streamOf(userdata).setTimeout(milliseconds);
    return DC_STATUS_SUCCESS;
}

// Backends configure serial lines on the BLE path too; an error there would abort them.
dc_status_t ignoreLine(void*, unsigned int) {
    return DC_STATUS_SUCCESS;
}

dc_status_t ignoreConfiguration(void*, unsigned int, unsigned int, dc_parity_t, dc_stopbits_t,
                                dc_flowcontrol_t) {
    return DC_STATUS_SUCCESS;
}

dc_status_t poll(void* userdata, int milliseconds) {
    return streamOf(userdata).poll(milliseconds);
}

dc_status_t read(void* userdata, void* data, size_t size, size_t* actual) {
    return streamOf(userdata).read(data, size, actual);
}

dc_status_t write(void* userdata, const void* data, size_t size, size_t* actual) {
    return streamOf(userdata).write(data, size, actual);
}

dc_status_t copyName(const std::string& name, void* data, size_t size) {
    if (name.empty()) {
        return DC_STATUS_UNSUPPORTED;
    }
    // Oceanic passes the exact room for its 8 characters and the terminator.
    const size_t count = std::min(name.size(), size);
    std::memcpy(data, name.data(), count);
    if (count < size) {
        static_cast<char*>(data)[count] = '\0';
    }
    return DC_STATUS_SUCCESS;
}

#ifdef DC_IOCTL_BLE_GET_PINCODE
// The application's PIN for the computer, NUL-terminated; UNSUPPORTED when it gives none.
dc_status_t pinCode(const BleStream& stream, void* data, size_t size) {
    const std::optional<std::string> pin =
        stream.hooks.pinCode ? stream.hooks.pinCode(stream.link().address(), stream.link().name())
                             : std::nullopt;
    if (stream.hooks.accessCodeUse) {
        stream.hooks.accessCodeUse->pinAsked = true;
    }
    if (!pin) {
        return DC_STATUS_UNSUPPORTED;
    }
    if (stream.hooks.secretsLog != nullptr) {
        stream.hooks.secretsLog->maskPin(*pin);
    }
    if (pin->size() >= size) {
        return DC_STATUS_INVALIDARGS;
    }
    std::memcpy(data, pin->c_str(), pin->size() + 1);
    return DC_STATUS_SUCCESS;
}

// The stored code, zero-filled; all zeros when none is stored.
dc_status_t loadAccessCode(const BleStream& stream, void* data, size_t size) {
    const std::vector<unsigned char> code = stream.hooks.accessCodes.load(stream.link().address());
    std::memset(data, 0, size);
    if (code.size() == size) {
        std::memcpy(data, code.data(), size);
        if (stream.hooks.accessCodeUse) {
            stream.hooks.accessCodeUse->address = stream.link().address();
            stream.hooks.accessCodeUse->storedCodeGiven = true;
        }
    }
    if (stream.hooks.secretsLog != nullptr) {
        stream.hooks.secretsLog->maskAccessCode(code.data(), code.size());
    }
    return DC_STATUS_SUCCESS;
}

dc_status_t storeAccessCode(const BleStream& stream, const void* data, size_t size) {
    const auto* code = static_cast<const unsigned char*>(data);
    if (stream.hooks.secretsLog != nullptr) {
        stream.hooks.secretsLog->maskAccessCode(code, size);
    }
    stream.hooks.accessCodes.store(stream.link().address(), code, size);
    if (stream.hooks.accessCodeUse) {
        stream.hooks.accessCodeUse->codeStored = true;
    }
    return DC_STATUS_SUCCESS;
}
#endif

dc_status_t ioctl(void* userdata, unsigned int request, void* data, size_t size) {
    BleStream& stream = streamOf(userdata);
    if (request == DC_IOCTL_BLE_GET_NAME) {
        return copyName(stream.link().name(), data, size);
    }
#ifdef DC_IOCTL_BLE_GET_PINCODE
    if (request == DC_IOCTL_BLE_GET_PINCODE) {
        return pinCode(stream, data, size);
    }
    if (request == DC_IOCTL_BLE_GET_ACCESSCODE) {
        return loadAccessCode(stream, data, size);
    }
    if (request == DC_IOCTL_BLE_SET_ACCESSCODE) {
        return storeAccessCode(stream, data, size);
    }
#endif
#ifdef DC_IOCTL_BLE_CHARACTERISTIC_READ
    if (request == DC_IOCTL_BLE_CHARACTERISTIC_READ ||
        request == DC_IOCTL_BLE_CHARACTERISTIC_WRITE) {
        if (size < sizeof(dc_ble_uuid_t)) {
            return DC_STATUS_INVALIDARGS;
        }
        auto* bytes = static_cast<unsigned char*>(data);
        char uuid[DC_BLE_UUID_SIZE];
        if (dc_ble_uuid2str(bytes, uuid, sizeof uuid) == nullptr) {
            return DC_STATUS_INVALIDARGS;
        }
        return request == DC_IOCTL_BLE_CHARACTERISTIC_READ
                   ? stream.readCharacteristic(uuid, bytes + sizeof(dc_ble_uuid_t),
                                               size - sizeof(dc_ble_uuid_t))
                   : stream.writeCharacteristic(uuid, bytes + sizeof(dc_ble_uuid_t),
                                                size - sizeof(dc_ble_uuid_t));
    }
#endif
    return DC_STATUS_UNSUPPORTED;
}

dc_status_t purge(void* userdata, dc_direction_t direction) {
    if ((direction & DC_DIRECTION_INPUT) != 0) {
        streamOf(userdata).purgeInput();
    }
    return DC_STATUS_SUCCESS;
}

dc_status_t sleep(void* userdata, unsigned int milliseconds) {
    return streamOf(userdata).sleep(milliseconds);
}

dc_status_t close(void* userdata) {
    // Takes the stream's state back; the link's end stops notifications and disconnects.
    std::unique_ptr<BleStream>(static_cast<BleStream*>(userdata)).reset();
    return DC_STATUS_SUCCESS;
}

}  // namespace

dc_status_t openBleStream(dc_context_t* context, const char* address, const BleHooks& hooks,
                          dc_iostream_t** stream) {
    auto state = std::make_unique<BleStream>(address, hooks);
    dc_status_t status = state->open(address);
    if (status != DC_STATUS_SUCCESS) {
        return status;
    }
    dc_custom_cbs_t callbacks{};
    callbacks.set_timeout = setTimeout;
    callbacks.set_dtr = ignoreLine;
    callbacks.set_rts = ignoreLine;
    callbacks.configure = ignoreConfiguration;
    callbacks.poll = poll;
    callbacks.read = read;
    callbacks.write = write;
    callbacks.ioctl = ioctl;
    callbacks.purge = purge;
    callbacks.sleep = sleep;
    callbacks.close = close;
    status = dc_custom_open(stream, context, DC_TRANSPORT_BLE, &callbacks, state.get());
    if (status == DC_STATUS_SUCCESS) {
        // The stream owns its state from here on and releases it in close.
        static_cast<void>(state.release());
    }
    return status;
}

}  // namespace diveconnector
