#include "bluez_objects.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <utility>

namespace diveconnector {

namespace {

template <typename Integer>
int readInteger(sd_bus_message* message, const char* type, BluezValue& value) {
    Integer number{};
    const int r = sd_bus_message_read(message, "v", type, &number);
    if (r >= 0) {
        value.value = static_cast<int64_t>(number);
    }
    return r;
}

int readStrings(sd_bus_message* message, BluezValue& value) {
    char** items = nullptr;
    int r = sd_bus_message_enter_container(message, 'v', "as");
    if (r >= 0) {
        r = sd_bus_message_read_strv(message, &items);
    }
    if (r >= 0) {
        std::vector<std::string> strings;
        for (char** item = items; item != nullptr && *item != nullptr; ++item) {
            strings.emplace_back(*item);
        }
        value.value = std::move(strings);
        r = sd_bus_message_exit_container(message);
    }
    if (items != nullptr) {
        for (char** item = items; *item != nullptr; ++item) {
            free(*item);
        }
        free(items);
    }
    return r;
}

// Reads one variant into `value` in the type its header gives.
int readVariant(sd_bus_message* message, BluezValue& value) {
    char type = 0;
    const char* contents = nullptr;
    int r = sd_bus_message_peek_type(message, &type, &contents);
    if (r < 0) {
        return r;
    }
    if (contents == nullptr) {
        return -EINVAL;
    }
    value.type = contents;
    value.value = std::monostate();
    if (std::strcmp(contents, "as") == 0) {
        return readStrings(message, value);
    }
    switch (std::strlen(contents) == 1 ? contents[0] : '\0') {
        case SD_BUS_TYPE_STRING:
        case SD_BUS_TYPE_OBJECT_PATH: {
            const char* text = nullptr;
            r = sd_bus_message_read(message, "v", contents, &text);
            if (r >= 0) {
                value.value = std::string(text);
            }
            return r;
        }
        case SD_BUS_TYPE_BOOLEAN: {
            int flag = 0;
            r = sd_bus_message_read(message, "v", contents, &flag);
            if (r >= 0) {
                value.value = flag != 0;
            }
            return r;
        }
        case SD_BUS_TYPE_BYTE:
            return readInteger<uint8_t>(message, contents, value);
        case SD_BUS_TYPE_INT16:
            return readInteger<int16_t>(message, contents, value);
        case SD_BUS_TYPE_UINT16:
            return readInteger<uint16_t>(message, contents, value);
        case SD_BUS_TYPE_INT32:
            return readInteger<int32_t>(message, contents, value);
        case SD_BUS_TYPE_UINT32:
            return readInteger<uint32_t>(message, contents, value);
        case SD_BUS_TYPE_INT64:
            return readInteger<int64_t>(message, contents, value);
        default:
            // uint64 too: no BlueZ property the library reads has it.
            return sd_bus_message_skip(message, "v");
    }
}

// The value of a property of exactly `type`; null otherwise.
template <typename Value>
const Value* typed(const BluezProperties& properties, const char* name, const char* type) {
    const auto found = properties.find(name);
    if (found == properties.end() || found->second.type != type) {
        return nullptr;
    }
    return std::get_if<Value>(&found->second.value);
}

// The answer to one call under way. It stays in place while the call is pending: sd-bus holds
// its address until the slot is released, which abandons the call.
class PendingCall {
  public:
    PendingCall() = default;
    PendingCall(const PendingCall&) = delete;
    PendingCall& operator=(const PendingCall&) = delete;

    [[nodiscard]] int start(sd_bus* bus, sd_bus_message* request,
                            std::chrono::milliseconds timeout) {
        sd_bus_slot* slot = nullptr;
        const int r = sd_bus_call_async(bus, &slot, request, onReply, this, busTimeout(timeout));
        slot_.reset(slot);
        return r;
    }
    [[nodiscard]] bool answered() const noexcept { return reply_ != nullptr; }
    [[nodiscard]] BusMessage& reply() noexcept { return reply_; }

  private:
    static int onReply(sd_bus_message* message, void* userdata, sd_bus_error*) {
        static_cast<PendingCall*>(userdata)->reply_.reset(sd_bus_message_ref(message));
        return 0;
    }

    BusMessage reply_;
    // Declared last: released first, so that no answer comes in while the rest goes.
    BusSlot slot_;
};

}  // namespace

uint64_t busTimeout(std::chrono::milliseconds duration) {
    return static_cast<uint64_t>(duration.count()) * 1000u;
}

int readBluezProperties(sd_bus_message* message, BluezProperties& properties) {
    int r = sd_bus_message_enter_container(message, 'a', "{sv}");
    while (r >= 0 && (r = sd_bus_message_enter_container(message, 'e', "sv")) > 0) {
        const char* name = nullptr;
        r = sd_bus_message_read(message, "s", &name);
        if (r >= 0) {
            r = readVariant(message, properties[name]);
        }
        if (r >= 0) {
            r = sd_bus_message_exit_container(message);
        }
    }
    return r < 0 ? r : sd_bus_message_exit_container(message);
}

int readBluezInterfaces(sd_bus_message* message, BluezInterfaces& interfaces) {
    int r = sd_bus_message_enter_container(message, 'a', "{sa{sv}}");
    while (r >= 0 && (r = sd_bus_message_enter_container(message, 'e', "sa{sv}")) > 0) {
        const char* interface = nullptr;
        r = sd_bus_message_read(message, "s", &interface);
        if (r >= 0) {
            r = readBluezProperties(message, interfaces[interface]);
        }
        if (r >= 0) {
            r = sd_bus_message_exit_container(message);
        }
    }
    return r < 0 ? r : sd_bus_message_exit_container(message);
}

const std::string* bluezString(const BluezProperties& properties, const char* name) {
    return typed<std::string>(properties, name, "s");
}

const std::string* bluezObjectPath(const BluezProperties& properties, const char* name) {
    return typed<std::string>(properties, name, "o");
}

std::optional<bool> bluezBoolean(const BluezProperties& properties, const char* name) {
    const bool* flag = typed<bool>(properties, name, "b");
    return flag != nullptr ? std::optional<bool>(*flag) : std::nullopt;
}

const std::vector<std::string>* bluezStrings(const BluezProperties& properties, const char* name) {
    return typed<std::vector<std::string>>(properties, name, "as");
}

std::optional<int64_t> bluezInteger(const BluezProperties& properties, const char* name,
                                    const char* type) {
    const int64_t* number = typed<int64_t>(properties, name, type);
    return number != nullptr ? std::optional<int64_t>(*number) : std::nullopt;
}

std::string bluezType(const BluezProperties& properties, const char* name) {
    const auto found = properties.find(name);
    return found != properties.end() ? found->second.type : std::string();
}

dc_status_t bluezOwner(sd_bus* bus, std::string& owner) {
    sd_bus_message* rawReply = nullptr;
    BusError error;
    int r = sd_bus_call_method(bus, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                               "org.freedesktop.DBus", "GetNameOwner", error.get(), &rawReply, "s",
                               kBluezName);
    const BusMessage reply(rawReply);
    const char* name = nullptr;
    if (r >= 0) {
        r = sd_bus_message_read(reply.get(), "s", &name);
    }
    if (r < 0) {
        return DC_STATUS_UNSUPPORTED;
    }
    owner = name;
    return DC_STATUS_SUCCESS;
}

dc_status_t bluezManagedObjects(sd_bus* bus, BluezObjects& objects) {
    BusError error;
    sd_bus_message* rawReply = nullptr;
    sd_bus_message* rawCall = nullptr;
    int r = sd_bus_message_new_method_call(bus, &rawCall, kBluezName, "/", kObjectManager,
                                           "GetManagedObjects");
    const BusMessage request(rawCall);
    if (r >= 0) {
        r = sd_bus_call(bus, request.get(), busTimeout(kBluezCallTime), error.get(), &rawReply);
    }
    const BusMessage reply(rawReply);
    if (r < 0) {
        // No org.bluez on the bus: BlueZ is not running.
        return error.hasName(SD_BUS_ERROR_SERVICE_UNKNOWN) ||
                       error.hasName(SD_BUS_ERROR_NAME_HAS_NO_OWNER) || r == -ENOTCONN ||
                       r == -ECONNRESET
                   ? DC_STATUS_UNSUPPORTED
                   : DC_STATUS_IO;
    }
    r = sd_bus_message_enter_container(reply.get(), 'a', "{oa{sa{sv}}}");
    while (r >= 0 && (r = sd_bus_message_enter_container(reply.get(), 'e', "oa{sa{sv}}")) > 0) {
        const char* path = nullptr;
        r = sd_bus_message_read(reply.get(), "o", &path);
        if (r >= 0) {
            r = readBluezInterfaces(reply.get(), objects[path]);
        }
        if (r >= 0) {
            r = sd_bus_message_exit_container(reply.get());
        }
    }
    return r < 0 ? DC_STATUS_IO : DC_STATUS_SUCCESS;
}

dc_status_t firstPoweredAdapter(const BluezObjects& objects, std::string& adapter) {
    // Paths sort as hci0, hci1, ...
    const auto first = std::find_if(objects.begin(), objects.end(), [](const auto& object) {
        return object.second.count(kBluezAdapter) != 0;
    });
    if (first == objects.end() ||
        !bluezBoolean(first->second.at(kBluezAdapter), "Powered").value_or(false)) {
        return DC_STATUS_NODEVICE;
    }
    adapter = first->first;
    return DC_STATUS_SUCCESS;
}

dc_status_t callBluez(sd_bus* bus, sd_bus_message* request, std::chrono::milliseconds timeout,
                      const BusWait& wait, BusError& error, BusMessage* reply) {
    PendingCall call;
    if (call.start(bus, request, timeout) < 0) {
        return DC_STATUS_IO;
    }
    const dc_status_t status =
        wait([&call] { return call.answered(); }, std::chrono::steady_clock::now() + timeout);
    if (status != DC_STATUS_SUCCESS) {
        return status;
    }
    sd_bus_message* answer = call.reply().get();
    if (sd_bus_message_is_method_error(answer, nullptr)) {
        sd_bus_error_copy(error.get(), sd_bus_message_get_error(answer));
        return error.hasName(SD_BUS_ERROR_NO_REPLY) || error.hasName(SD_BUS_ERROR_TIMEOUT)
                   ? DC_STATUS_TIMEOUT
                   : DC_STATUS_IO;
    }
    if (reply != nullptr) {
        *reply = std::move(call.reply());
    }
    return DC_STATUS_SUCCESS;
}

dc_status_t callBluez(sd_bus* bus, const char* path, const char* interface, const char* method,
                      std::chrono::milliseconds timeout, const BusWait& wait, BusError& error) {
    sd_bus_message* rawCall = nullptr;
    const int r =
        sd_bus_message_new_method_call(bus, &rawCall, kBluezName, path, interface, method);
    const BusMessage request(rawCall);
    return r >= 0 ? callBluez(bus, request.get(), timeout, wait, error) : DC_STATUS_IO;
}

dc_status_t startBluezDiscovery(sd_bus* bus, const std::string& adapter, const char* transport,
                                const BusWait& wait) {
    sd_bus_message* rawCall = nullptr;
    int r = sd_bus_message_new_method_call(bus, &rawCall, kBluezName, adapter.c_str(),
                                           kBluezAdapter, "SetDiscoveryFilter");
    const BusMessage request(rawCall);
    if (r >= 0) {
        r = sd_bus_message_append(request.get(), "a{sv}", 1, "Transport", "s", transport);
    }
    BusError filterError;
    const dc_status_t filtered =
        r >= 0 ? callBluez(bus, request.get(), kBluezCallTime, wait, filterError) : DC_STATUS_IO;
    // A refused filter is no failure; a cancel or a failing bus is.
    if (filtered != DC_STATUS_SUCCESS && filtered != DC_STATUS_IO &&
        filtered != DC_STATUS_TIMEOUT) {
        return filtered;
    }
    BusError error;
    return callBluez(bus, adapter.c_str(), kBluezAdapter, "StartDiscovery", kBluezCallTime, wait,
                     error);
}

void callBluezBlocking(sd_bus* bus, const char* path, const char* interface, const char* method,
                       std::chrono::milliseconds timeout) {
    sd_bus_message* rawCall = nullptr;
    sd_bus_message* rawReply = nullptr;
    BusError error;
    const int r =
        sd_bus_message_new_method_call(bus, &rawCall, kBluezName, path, interface, method);
    const BusMessage request(rawCall);
    if (r >= 0) {
        static_cast<void>(
            sd_bus_call(bus, request.get(), busTimeout(timeout), error.get(), &rawReply));
    }
    const BusMessage reply(rawReply);
}

void stopBluezDiscovery(sd_bus* bus, const std::string& adapter) {
    callBluezBlocking(bus, adapter.c_str(), kBluezAdapter, "StopDiscovery", kBluezCallTime);
}

dc_status_t pumpBus(sd_bus* bus, const std::function<bool()>& done,
                    std::chrono::steady_clock::time_point deadline,
                    const std::function<bool()>& cancelled) {
    for (;;) {
        if (!processBus(bus)) {
            return DC_STATUS_IO;
        }
        if (cancelled && cancelled()) {
            return DC_STATUS_CANCELLED;
        }
        if (done()) {
            return DC_STATUS_SUCCESS;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            return DC_STATUS_TIMEOUT;
        }
        if (!waitForBus(bus, deadline)) {
            return DC_STATUS_IO;
        }
    }
}

bool processBus(sd_bus* bus) {
    int r;
    while ((r = sd_bus_process(bus, nullptr)) > 0) {
    }
    return r >= 0;
}

bool waitForBus(sd_bus* bus, std::optional<std::chrono::steady_clock::time_point> deadline) {
    using std::chrono::microseconds;
    auto slice = std::chrono::duration_cast<microseconds>(kCancelSlice);
    if (deadline) {
        const auto left = *deadline - std::chrono::steady_clock::now();
        slice = std::max(microseconds::zero(),
                         std::min(slice, std::chrono::duration_cast<microseconds>(left)));
    }
    return sd_bus_wait(bus, static_cast<uint64_t>(slice.count()) + 1) >= 0;
}

}  // namespace diveconnector
