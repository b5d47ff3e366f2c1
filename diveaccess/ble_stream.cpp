#include "ble_stream.h"

#include <libdivecomputer/ble.h>
#include <libdivecomputer/custom.h>

#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "bluez_gatt_link.h"

namespace diveconnector {

namespace {

// What the custom stream's callbacks get as their user data.
struct BleStream {
    std::unique_ptr<BluezGattLink> link;
    BleHooks hooks;
};

BluezGattLink& linkOf(void* userdata) {
    return *static_cast<BleStream*>(userdata)->link;
}

dc_status_t setTimeout(void* userdata, int milliseconds) {
    linkOf(userdata).setTimeout(milliseconds);
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
    return linkOf(userdata).poll(milliseconds);
}

dc_status_t read(void* userdata, void* data, size_t size, size_t* actual) {
    return linkOf(userdata).read(data, size, actual);
}

dc_status_t write(void* userdata, const void* data, size_t size, size_t* actual) {
    return linkOf(userdata).write(data, size, actual);
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
        stream.hooks.pinCode ? stream.hooks.pinCode(stream.link->address(), stream.link->name())
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
    const std::vector<unsigned char> code = stream.hooks.accessCodes.load(stream.link->address());
    std::memset(data, 0, size);
    if (code.size() == size) {
        std::memcpy(data, code.data(), size);
        if (stream.hooks.accessCodeUse) {
            stream.hooks.accessCodeUse->address = stream.link->address();
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
    stream.hooks.accessCodes.store(stream.link->address(), code, size);
    if (stream.hooks.accessCodeUse) {
        stream.hooks.accessCodeUse->codeStored = true;
    }
    return DC_STATUS_SUCCESS;
}
#endif

dc_status_t ioctl(void* userdata, unsigned int request, void* data, size_t size) {
    const BleStream& stream = *static_cast<BleStream*>(userdata);
    BluezGattLink& link = *stream.link;
    if (request == DC_IOCTL_BLE_GET_NAME) {
        return copyName(link.name(), data, size);
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
                   ? link.readCharacteristic(uuid, bytes + sizeof(dc_ble_uuid_t),
                                             size - sizeof(dc_ble_uuid_t))
                   : link.writeCharacteristic(uuid, bytes + sizeof(dc_ble_uuid_t),
                                              size - sizeof(dc_ble_uuid_t));
    }
#endif
    return DC_STATUS_UNSUPPORTED;
}

dc_status_t purge(void* userdata, dc_direction_t direction) {
    if ((direction & DC_DIRECTION_INPUT) != 0) {
        linkOf(userdata).purgeInput();
    }
    return DC_STATUS_SUCCESS;
}

dc_status_t sleep(void* userdata, unsigned int milliseconds) {
    return linkOf(userdata).sleep(milliseconds);
}

dc_status_t close(void* userdata) {
    // Takes the stream's state back; the link's end stops notifications and disconnects.
    std::unique_ptr<BleStream>(static_cast<BleStream*>(userdata)).reset();
    return DC_STATUS_SUCCESS;
}

}  // namespace

dc_status_t openBleStream(dc_context_t* context, const char* address, const BleHooks& hooks,
                          dc_iostream_t** stream) {
    auto state = std::make_unique<BleStream>(BleStream{nullptr, hooks});
    dc_status_t status = BluezGattLink::open(address, hooks.cancelled, hooks.log, state->link);
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
