#include "bluez_gatt_link.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <utility>

namespace diveconnector {

namespace {

constexpr char kService[] = "org.bluez.GattService1";
constexpr char kCharacteristic[] = "org.bluez.GattCharacteristic1";
constexpr char kProperties[] = "org.freedesktop.DBus.Properties";

constexpr std::chrono::milliseconds kConnectTime{20000};
constexpr std::chrono::milliseconds kResolveTime{15000};
constexpr std::chrono::milliseconds kCloseTime{2000};

// Terminal I/O: credits granted at the start, and the top-up once they run low.
constexpr unsigned char kInitialCredits = 254;
constexpr int kLowCredits = 32;
constexpr unsigned char kMoreCredits = 222;

std::string lowerCase(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

}  // namespace

BluezGattLink::BluezGattLink(Bus bus, std::string address, CancelQuery cancelled)
    : bus_(std::move(bus)),
      address_(upperCase(std::move(address))),
      cancelled_(std::move(cancelled)) {}

dc_status_t BluezGattLink::open(const std::string& address, CancelQuery cancelled,
                                std::unique_ptr<BluezGattLink>& link) {
    sd_bus* rawBus = nullptr;
    const int r = sd_bus_open_system(&rawBus);
    Bus bus(rawBus);
    if (r < 0) {
        return DC_STATUS_UNSUPPORTED;
    }
    std::unique_ptr<BluezGattLink> opened(
        new BluezGattLink(std::move(bus), address, std::move(cancelled)));
    const dc_status_t status = opened->connect();
    if (status == DC_STATUS_SUCCESS) {
        link = std::move(opened);
    }
    return status;
}

dc_status_t BluezGattLink::connect() {
    sd_bus_slot* slot = nullptr;
    // Signals are matched before anything is asked, so that no change goes unseen.
    if (sd_bus_match_signal(bus_.get(), &slot, nullptr, nullptr, kProperties, "PropertiesChanged",
                            onPropertiesChanged, this) < 0) {
        return DC_STATUS_UNSUPPORTED;
    }
    propertiesSlot_.reset(slot);
    if (sd_bus_match_signal(bus_.get(), &slot, nullptr, "/", kObjectManager, "InterfacesAdded",
                            onInterfacesAdded, this) < 0) {
        return DC_STATUS_UNSUPPORTED;
    }
    addedSlot_.reset(slot);
    if (sd_bus_match_signal(bus_.get(), &slot, nullptr, "/", kObjectManager, "InterfacesRemoved",
                            onInterfacesRemoved, this) < 0) {
        return DC_STATUS_UNSUPPORTED;
    }
    removedSlot_.reset(slot);

    BluezObjects objects;
    std::string adapter;
    dc_status_t status = bluezManagedObjects(bus_.get(), objects);
    if (status == DC_STATUS_SUCCESS) {
        status = firstPoweredAdapter(objects, adapter);
    }
    if (status != DC_STATUS_SUCCESS) {
        return status;
    }
    status = findDevice(objects, adapter);
    if (status == DC_STATUS_NODEVICE) {
        status = discover(adapter);
    }
    if (status != DC_STATUS_SUCCESS) {
        return status;
    }
    BusError error;
    if (!gone_ && !servicesResolved_) {
        status = callBluez(bus_.get(), devicePath_.c_str(), kBluezDevice, "Connect", kConnectTime,
                           error);
        if (status != DC_STATUS_SUCCESS) {
            return status == DC_STATUS_TIMEOUT ? DC_STATUS_TIMEOUT : DC_STATUS_IO;
        }
    }
    status = waitUntil([this] { return servicesResolved_; }, Clock::now() + kResolveTime);
    if (status != DC_STATUS_SUCCESS) {
        return status;
    }
    return chooseCharacteristics();
}

dc_status_t BluezGattLink::findDevice(const BluezObjects& objects, const std::string& adapter) {
    for (const auto& [path, interfaces] : objects) {
        const auto device = interfaces.find(kBluezDevice);
        if (device == interfaces.end()) {
            continue;
        }
        const std::string* owner = bluezProperty(device->second, "Adapter");
        const std::string* address = bluezProperty(device->second, "Address");
        if (owner != nullptr && *owner == adapter && address != nullptr &&
            upperCase(*address) == address_) {
            devicePath_ = path;
            const std::string* name = bluezProperty(device->second, "Name");
            name_ = name != nullptr ? *name : std::string();
            servicesResolved_ = bluezIsTrue(device->second, "ServicesResolved");
            return DC_STATUS_SUCCESS;
        }
    }
    return DC_STATUS_NODEVICE;
}

dc_status_t BluezGattLink::discover(const std::string& adapter) {
    if (startBluezDiscovery(bus_.get(), adapter, "le") != DC_STATUS_SUCCESS) {
        return DC_STATUS_NODEVICE;
    }
    const dc_status_t status =
        waitUntil([this] { return !devicePath_.empty(); }, Clock::now() + kDiscoveryTime);
    stopBluezDiscovery(bus_.get(), adapter);
    return status == DC_STATUS_TIMEOUT ? DC_STATUS_NODEVICE : status;
}

dc_status_t BluezGattLink::chooseCharacteristics() {
    BluezObjects objects;
    dc_status_t status = bluezManagedObjects(bus_.get(), objects);
    if (status != DC_STATUS_SUCCESS) {
        return status;
    }
    std::vector<GattService> services;
    for (const auto& [path, interfaces] : objects) {
        const auto service = interfaces.find(kService);
        const std::string* device =
            service == interfaces.end() ? nullptr : bluezProperty(service->second, "Device");
        const std::string* uuid =
            service == interfaces.end() ? nullptr : bluezProperty(service->second, "UUID");
        if (device != nullptr && *device == devicePath_ && uuid != nullptr) {
            services.push_back(GattService{path, lowerCase(*uuid), {}});
        }
    }
    for (const auto& [path, interfaces] : objects) {
        const auto characteristic = interfaces.find(kCharacteristic);
        if (characteristic == interfaces.end()) {
            continue;
        }
        const std::string* owner = bluezProperty(characteristic->second, "Service");
        const std::string* uuid = bluezProperty(characteristic->second, "UUID");
        const auto flags = characteristic->second.find("Flags");
        for (GattService& service : services) {
            if (owner != nullptr && *owner == service.path && uuid != nullptr) {
                service.characteristics.push_back(GattCharacteristic{
                    path, lowerCase(*uuid),
                    flags != characteristic->second.end() ? flags->second
                                                          : std::vector<std::string>()});
                characteristicPaths_.emplace(lowerCase(*uuid), path);
            }
        }
    }
    choice_ = chooseGattService(services);
    if (!choice_) {
        return DC_STATUS_UNSUPPORTED;
    }
    if (choice_->creditsNotify) {
        status = startNotify(choice_->creditsNotify->path);
    }
    if (status == DC_STATUS_SUCCESS &&
        (!choice_->creditsNotify || choice_->creditsNotify->path != choice_->notify.path)) {
        status = startNotify(choice_->notify.path);
    }
    if (status == DC_STATUS_SUCCESS && choice_->creditsWrite) {
        status = grantCredits(kInitialCredits);
    }
    return status;
}

dc_status_t BluezGattLink::startNotify(const std::string& path) {
    BusError error;
    const dc_status_t status =
        callBluez(bus_.get(), path.c_str(), kCharacteristic, "StartNotify", kBluezCallTime, error);
    if (status == DC_STATUS_SUCCESS) {
        notifying_.push_back(path);
    }
    return status == DC_STATUS_SUCCESS ? status : DC_STATUS_IO;
}

dc_status_t BluezGattLink::writeValue(const std::string& path, const unsigned char* data,
                                      size_t size, bool withResponse) {
    sd_bus_message* rawCall = nullptr;
    sd_bus_message* rawReply = nullptr;
    BusError error;
    int r = sd_bus_message_new_method_call(bus_.get(), &rawCall, kBluezName, path.c_str(),
                                           kCharacteristic, "WriteValue");
    const BusMessage request(rawCall);
    if (r >= 0) {
        r = sd_bus_message_append_array(request.get(), 'y', data, size);
    }
    if (r >= 0) {
        r = sd_bus_message_append(request.get(), "a{sv}", 1, "type", "s",
                                  withResponse ? "request" : "command");
    }
    if (r >= 0) {
        r = sd_bus_call(bus_.get(), request.get(), busTimeout(kBluezCallTime), error.get(),
                        &rawReply);
    }
    const BusMessage reply(rawReply);
    return r >= 0 ? DC_STATUS_SUCCESS : DC_STATUS_IO;
}

dc_status_t BluezGattLink::grantCredits(unsigned char credits) {
    const dc_status_t status = writeValue(choice_->creditsWrite->path, &credits, 1, true);
    if (status == DC_STATUS_SUCCESS) {
        credits_ += credits;
        creditsLow_ = false;
    }
    return status;
}

std::optional<BluezGattLink::Clock::time_point> BluezGattLink::deadlineAfter(
    int milliseconds) const {
    if (milliseconds < 0) {
        return std::nullopt;
    }
    return Clock::now() + std::chrono::milliseconds(milliseconds);
}

dc_status_t BluezGattLink::waitUntil(const std::function<bool()>& done,
                                     std::optional<Clock::time_point> deadline) {
    for (;;) {
        if (!processBus(bus_.get())) {
            return DC_STATUS_IO;
        }
        if (creditsLow_ && grantCredits(kMoreCredits) != DC_STATUS_SUCCESS) {
            return DC_STATUS_IO;
        }
        // Checked first: while the device streams, a read never waits, and a cancelled download
        // must not go on until its transfer ends.
        if (cancelled_ && cancelled_()) {
            return DC_STATUS_CANCELLED;
        }
        if (done()) {
            return DC_STATUS_SUCCESS;
        }
        if (gone_) {
            return DC_STATUS_IO;
        }
        if (deadline && Clock::now() >= *deadline) {
            return DC_STATUS_TIMEOUT;
        }
        if (!waitForBus(bus_.get(), deadline)) {
            return DC_STATUS_IO;
        }
    }
}

dc_status_t BluezGattLink::read(void* data, size_t size, size_t* actual) {
    if (size == 0) {
        return DC_STATUS_INVALIDARGS;
    }
    if (offset_ == current_.size()) {
        const dc_status_t status =
            waitUntil([this] { return !queue_.empty(); }, deadlineAfter(timeoutMs_));
        if (status != DC_STATUS_SUCCESS) {
            return status;
        }
        current_ = std::move(queue_.front());
        queue_.pop_front();
        offset_ = 0;
    }
    const size_t count = std::min(size, current_.size() - offset_);
    std::memcpy(data, current_.data() + offset_, count);
    offset_ += count;
    *actual = count;
    return DC_STATUS_SUCCESS;
}

dc_status_t BluezGattLink::poll(int timeoutMs) {
    return waitUntil([this] { return hasInput(); }, deadlineAfter(timeoutMs));
}

dc_status_t BluezGattLink::sleep(unsigned int milliseconds) {
    const dc_status_t status =
        waitUntil([] { return false; }, Clock::now() + std::chrono::milliseconds(milliseconds));
    return status == DC_STATUS_TIMEOUT ? DC_STATUS_SUCCESS : status;
}

void BluezGattLink::purgeInput() noexcept {
    queue_.clear();
    current_.clear();
    offset_ = 0;
}

dc_status_t BluezGattLink::write(const void* data, size_t size, size_t* actual) {
    if (gone_) {
        return DC_STATUS_IO;
    }
    const GattCharacteristic& target = choice_->write;
    const dc_status_t status = writeValue(target.path, static_cast<const unsigned char*>(data),
                                          size, !target.has("write-without-response"));
    if (status == DC_STATUS_SUCCESS) {
        *actual = size;
    }
    return status;
}

dc_status_t BluezGattLink::readCharacteristic(const std::string& uuid, unsigned char* data,
                                              size_t size) {
    const auto path = characteristicPaths_.find(lowerCase(uuid));
    if (path == characteristicPaths_.end()) {
        return DC_STATUS_UNSUPPORTED;
    }
    sd_bus_message* rawReply = nullptr;
    BusError error;
    int r = sd_bus_call_method(bus_.get(), kBluezName, path->second.c_str(), kCharacteristic,
                               "ReadValue", error.get(), &rawReply, "a{sv}", 0);
    const BusMessage reply(rawReply);
    const void* value = nullptr;
    size_t length = 0;
    if (r >= 0) {
        r = sd_bus_message_read_array(reply.get(), 'y', &value, &length);
    }
    if (r < 0 || length < size) {
        return DC_STATUS_IO;
    }
    std::memcpy(data, value, size);
    return DC_STATUS_SUCCESS;
}

dc_status_t BluezGattLink::writeCharacteristic(const std::string& uuid, const unsigned char* data,
                                               size_t size) {
    const auto path = characteristicPaths_.find(lowerCase(uuid));
    if (path == characteristicPaths_.end()) {
        return DC_STATUS_UNSUPPORTED;
    }
    return writeValue(path->second, data, size, true);
}

int BluezGattLink::onPropertiesChanged(sd_bus_message* message, void* userdata, sd_bus_error*) {
    auto* link = static_cast<BluezGattLink*>(userdata);
    const char* path = sd_bus_message_get_path(message);
    const char* interface = nullptr;
    if (path == nullptr || sd_bus_message_read(message, "s", &interface) < 0) {
        return 0;
    }
    if (link->devicePath_ == path && std::strcmp(interface, kBluezDevice) == 0) {
        BluezProperties changed;
        if (readBluezProperties(message, changed) >= 0) {
            const std::string* connected = bluezProperty(changed, "Connected");
            const std::string* resolved = bluezProperty(changed, "ServicesResolved");
            if (connected != nullptr && *connected == "0") {
                link->gone_ = true;
                link->servicesResolved_ = false;
            }
            if (resolved != nullptr) {
                link->servicesResolved_ = *resolved == "1";
            }
        }
        return 0;
    }
    if (!link->choice_ || std::strcmp(interface, kCharacteristic) != 0 ||
        link->choice_->notify.path != path) {
        return 0;
    }
    // Only the Value of the data characteristic: one notification, one packet.
    int r = sd_bus_message_enter_container(message, 'a', "{sv}");
    while (r >= 0 && (r = sd_bus_message_enter_container(message, 'e', "sv")) > 0) {
        const char* name = nullptr;
        r = sd_bus_message_read(message, "s", &name);
        if (r >= 0 && std::strcmp(name, "Value") == 0 &&
            (r = sd_bus_message_enter_container(message, 'v', "ay")) >= 0) {
            const void* bytes = nullptr;
            size_t size = 0;
            r = sd_bus_message_read_array(message, 'y', &bytes, &size);
            if (r >= 0 && size > 0) {
                const auto* first = static_cast<const unsigned char*>(bytes);
                link->queue_.emplace_back(first, first + size);
                if (link->choice_->creditsWrite && --link->credits_ <= kLowCredits) {
                    link->creditsLow_ = true;
                }
            }
            if (r >= 0) {
                r = sd_bus_message_exit_container(message);
            }
        } else if (r >= 0) {
            r = sd_bus_message_skip(message, "v");
        }
        if (r >= 0) {
            r = sd_bus_message_exit_container(message);
        }
    }
    return 0;
}

int BluezGattLink::onInterfacesAdded(sd_bus_message* message, void* userdata, sd_bus_error*) {
    auto* link = static_cast<BluezGattLink*>(userdata);
    const char* path = nullptr;
    if (!link->devicePath_.empty() || sd_bus_message_read(message, "o", &path) < 0) {
        return 0;
    }
    BluezInterfaces interfaces;
    if (readBluezInterfaces(message, interfaces) < 0) {
        return 0;
    }
    const auto device = interfaces.find(kBluezDevice);
    const std::string* address =
        device == interfaces.end() ? nullptr : bluezProperty(device->second, "Address");
    if (address != nullptr && upperCase(*address) == link->address_) {
        link->devicePath_ = path;
        const std::string* name = bluezProperty(device->second, "Name");
        link->name_ = name != nullptr ? *name : std::string();
    }
    return 0;
}

int BluezGattLink::onInterfacesRemoved(sd_bus_message* message, void* userdata, sd_bus_error*) {
    auto* link = static_cast<BluezGattLink*>(userdata);
    const char* path = nullptr;
    if (sd_bus_message_read(message, "o", &path) >= 0 && link->devicePath_ == path) {
        link->gone_ = true;
    }
    return 0;
}

BluezGattLink::~BluezGattLink() {
    // Best effort: a device that is gone answers nothing, and each call is bounded.
    for (const std::string& path : notifying_) {
        BusError error;
        static_cast<void>(
            callBluez(bus_.get(), path.c_str(), kCharacteristic, "StopNotify", kCloseTime, error));
    }
    if (!devicePath_.empty() && !gone_) {
        BusError error;
        static_cast<void>(callBluez(bus_.get(), devicePath_.c_str(), kBluezDevice, "Disconnect",
                                    kCloseTime, error));
    }
}

}  // namespace diveconnector
