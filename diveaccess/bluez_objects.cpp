#include "bluez_objects.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdlib>
#include <cstring>

namespace diveconnector {

namespace {

template <typename Integer>
int readInteger(sd_bus_message* message, const char* type, BluezValue& value) {
    Integer number{};
    const int r = sd_bus_message_read(message, "v", type, &number);
    if (r >= 0) {
        value.push_back(std::to_string(number));
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
        for (char** item = items; item != nullptr && *item != nullptr; ++item) {
            value.emplace_back(*item);
        }
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

// Reads one variant into `value` as the header describes.
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
    if (std::strcmp(contents, "as") == 0) {
        return readStrings(message, value);
    }
    switch (std::strlen(contents) == 1 ? contents[0] : '\0') {
        case SD_BUS_TYPE_STRING:
        case SD_BUS_TYPE_OBJECT_PATH: {
            const char* text = nullptr;
            r = sd_bus_message_read(message, "v", contents, &text);
            if (r >= 0) {
                value.emplace_back(text);
            }
            return r;
        }
        case SD_BUS_TYPE_BOOLEAN: {
            int flag = 0;
            r = sd_bus_message_read(message, "v", contents, &flag);
            if (r >= 0) {
                value.emplace_back(flag ? "1" : "0");
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
        case SD_BUS_TYPE_UINT64:
            return readInteger<uint64_t>(message, contents, value);
        default:
            return sd_bus_message_skip(message, "v");
    }
}

}  // namespace

uint64_t busTimeout(std::chrono::milliseconds duration) {
    return static_cast<uint64_t>(duration.count()) * 1000u;
}

std::string upperCase(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return text;
}

int readBluezProperties(sd_bus_message* message, BluezProperties& properties) {
    int r = sd_bus_message_enter_container(message, 'a', "{sv}");
    while (r >= 0 && (r = sd_bus_message_enter_container(message, 'e', "sv")) > 0) {
        const char* name = nullptr;
        r = sd_bus_message_read(message, "s", &name);
        if (r >= 0) {
            BluezValue& value = properties[name];
            value.clear();
            r = readVariant(message, value);
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

const std::string* bluezProperty(const BluezProperties& properties, const char* name) {
    const auto found = properties.find(name);
    return found == properties.end() || found->second.empty() ? nullptr : &found->second.front();
}

bool bluezIsTrue(const BluezProperties& properties, const char* name) {
    const std::string* value = bluezProperty(properties, name);
    return value != nullptr && *value == "1";
}

std::optional<int64_t> bluezInteger(const BluezProperties& properties, const char* name) {
    const std::string* value = bluezProperty(properties, name);
    int64_t number = 0;
    if (value == nullptr) {
        return std::nullopt;
    }
    const char* end = value->data() + value->size();
    const auto [stop, error] = std::from_chars(value->data(), end, number);
    if (error != std::errc() || stop != end) {
        return std::nullopt;
    }
    return number;
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
    if (first == objects.end() || !bluezIsTrue(first->second.at(kBluezAdapter), "Powered")) {
        return DC_STATUS_NODEVICE;
    }
    adapter = first->first;
    return DC_STATUS_SUCCESS;
}

dc_status_t callBluez(sd_bus* bus, const char* path, const char* interface, const char* method,
                      std::chrono::milliseconds timeout, BusError& error) {
    sd_bus_message* rawCall = nullptr;
    sd_bus_message* rawReply = nullptr;
    int r = sd_bus_message_new_method_call(bus, &rawCall, kBluezName, path, interface, method);
    const BusMessage request(rawCall);
    if (r >= 0) {
        r = sd_bus_call(bus, request.get(), busTimeout(timeout), error.get(), &rawReply);
    }
    const BusMessage reply(rawReply);
    if (r >= 0) {
        return DC_STATUS_SUCCESS;
    }
    return r == -ETIMEDOUT || error.hasName(SD_BUS_ERROR_NO_REPLY) ? DC_STATUS_TIMEOUT
                                                                   : DC_STATUS_IO;
}

dc_status_t startBluezDiscovery(sd_bus* bus, const std::string& adapter, const char* transport) {
    sd_bus_message* rawCall = nullptr;
    sd_bus_message* rawReply = nullptr;
    BusError filterError;
    int r = sd_bus_message_new_method_call(bus, &rawCall, kBluezName, adapter.c_str(),
                                           kBluezAdapter, "SetDiscoveryFilter");
    const BusMessage request(rawCall);
    if (r >= 0) {
        r = sd_bus_message_append(request.get(), "a{sv}", 1, "Transport", "s", transport);
    }
    if (r >= 0) {
        static_cast<void>(sd_bus_call(bus, request.get(), busTimeout(kBluezCallTime),
                                      filterError.get(), &rawReply));
    }
    const BusMessage filterReply(rawReply);
    BusError error;
    return callBluez(bus, adapter.c_str(), kBluezAdapter, "StartDiscovery", kBluezCallTime, error);
}

void stopBluezDiscovery(sd_bus* bus, const std::string& adapter) {
    BusError error;
    static_cast<void>(
        callBluez(bus, adapter.c_str(), kBluezAdapter, "StopDiscovery", kBluezCallTime, error));
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
