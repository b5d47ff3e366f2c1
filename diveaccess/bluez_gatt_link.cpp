#include "bluez_gatt_link.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <utility>

namespace diveconnector {

namespace {

constexpr char kService[] = "org.bluez.GattService1";
constexpr char kCharacteristic[] = "org.bluez.GattCharacteristic1";
constexpr char kProperties[] = "org.freedesktop.DBus.Properties";
constexpr char kOwnerChanged[] =
    "type='signal',sender='org.freedesktop.DBus',path='/org/freedesktop/DBus',"
    "interface='org.freedesktop.DBus',member='NameOwnerChanged',arg0='org.bluez'";

constexpr std::chrono::milliseconds kConnectTime{20000};
constexpr std::chrono::milliseconds kResolveTime{15000};
constexpr std::chrono::milliseconds kCloseTime{2000};
// A computer that has just woken up often refuses the first connection (BlueZ fails it with
// "le-connection-abort-by-local" or "Software caused connection abort"); the next one works.
constexpr int kConnectRetries = 2;
constexpr std::chrono::milliseconds kRetryPause{500};
constexpr char kRefused[] = "org.bluez.Error.Failed";

// A failure of a call that is not the link's own (a cancel, a timeout) counts as the device's.
dc_status_t failedCall(dc_status_t status) {
    return status == DC_STATUS_CANCELLED || status == DC_STATUS_TIMEOUT ? status : DC_STATUS_IO;
}

std::string errorText(BusError& error) {
    const sd_bus_error* raw = error.get();
    return std::string(raw->name != nullptr ? raw->name : "no error name") + " (" +
           (raw->message != nullptr ? raw->message : "") + ")";
}

// Reads an "as" into `items`.
int readNames(sd_bus_message* message, std::vector<std::string>& items) {
    char** names = nullptr;
    const int r = sd_bus_message_read_strv(message, &names);
    if (names != nullptr) {
        for (char** name = names; *name != nullptr; ++name) {
            items.emplace_back(*name);
            free(*name);
        }
        free(names);
    }
    return r;
}

bool contains(const std::vector<std::string>& items, const char* item) {
    return std::find(items.begin(), items.end(), item) != items.end();
}

}  // namespace

BluezGattLink::BluezGattLink(Bus bus, const std::string& address, const GattLinkContext& context)
    : bus_(std::move(bus)), address_(upperCaseAddress(address)), context_(context) {}

dc_status_t openPlatformGattLink(const std::string& address, const GattLinkContext& context,
                                 std::unique_ptr<GattLink>& link) {
    return BluezGattLink::open(address, context, link);
}

dc_status_t BluezGattLink::open(const std::string& address, const GattLinkContext& context,
                                std::unique_ptr<GattLink>& link) {
    sd_bus* rawBus = nullptr;
    const int r = sd_bus_open_system(&rawBus);
    Bus bus(rawBus);
    if (r < 0) {
        return DC_STATUS_UNSUPPORTED;
    }
    std::unique_ptr<BluezGattLink> opened(new BluezGattLink(std::move(bus), address, context));
    const dc_status_t status = opened->connect();
    if (status == DC_STATUS_SUCCESS) {
        link = std::move(opened);
    }
    return status;
}

void BluezGattLink::say(dc_loglevel_t level, const std::string& message) const {
    if (context_.log) {
        context_.log(level, message);
    }
}

dc_status_t BluezGattLink::watchSignals() {
    sd_bus_slot* slot = nullptr;
    // Before BlueZ's name is asked for, so that a change of its owner meanwhile still shows.
    if (sd_bus_add_match(bus_.get(), &slot, kOwnerChanged, onOwnerChanged, this) < 0) {
        return DC_STATUS_UNSUPPORTED;
    }
    ownerSlot_.reset(slot);
    const dc_status_t status = bluezOwner(bus_.get(), owner_);
    if (status != DC_STATUS_SUCCESS) {
        return status;
    }
    // Signals are matched before anything is asked, so that no change goes unseen.
    if (sd_bus_match_signal(bus_.get(), &slot, owner_.c_str(), nullptr, kProperties,
                            "PropertiesChanged", onPropertiesChanged, this) < 0) {
        return DC_STATUS_UNSUPPORTED;
    }
    propertiesSlot_.reset(slot);
    if (sd_bus_match_signal(bus_.get(), &slot, owner_.c_str(), "/", kObjectManager,
                            "InterfacesAdded", onInterfacesAdded, this) < 0) {
        return DC_STATUS_UNSUPPORTED;
    }
    addedSlot_.reset(slot);
    if (sd_bus_match_signal(bus_.get(), &slot, owner_.c_str(), "/", kObjectManager,
                            "InterfacesRemoved", onInterfacesRemoved, this) < 0) {
        return DC_STATUS_UNSUPPORTED;
    }
    removedSlot_.reset(slot);
    return DC_STATUS_SUCCESS;
}

dc_status_t BluezGattLink::connect() {
    dc_status_t status = watchSignals();
    BluezObjects objects;
    if (status == DC_STATUS_SUCCESS) {
        status = bluezManagedObjects(bus_.get(), objects);
    }
    if (status != DC_STATUS_SUCCESS) {
        return status;
    }
    for (const auto& [path, interfaces] : objects) {
        const auto adapter = interfaces.find(kBluezAdapter);
        if (adapter != interfaces.end()) {
            adapters_[path] = bluezBoolean(adapter->second, "Powered").value_or(false);
        }
    }
    status = findDevice(objects);
    if (status == DC_STATUS_NODEVICE) {
        std::string adapter;
        status = firstPoweredAdapter(objects, adapter);
        if (status == DC_STATUS_SUCCESS) {
            status = discover(adapter);
        }
    }
    if (status == DC_STATUS_SUCCESS && !connected_) {
        status = connectDevice();
    }
    if (status == DC_STATUS_SUCCESS) {
        status = waitUntil([this] { return servicesResolved_; }, Clock::now() + kResolveTime);
    }
    return status == DC_STATUS_SUCCESS ? chooseCharacteristics() : status;
}

dc_status_t BluezGattLink::findDevice(const BluezObjects& objects) {
    for (const auto& [path, interfaces] : objects) {
        const auto device = interfaces.find(kBluezDevice);
        if (device == interfaces.end()) {
            continue;
        }
        const BluezProperties& properties = device->second;
        const std::string* adapter = bluezObjectPath(properties, "Adapter");
        const std::string* address = bluezString(properties, "Address");
        if (adapter == nullptr || address == nullptr || upperCaseAddress(*address) != address_) {
            continue;
        }
        const auto powered = adapters_.find(*adapter);
        const bool connected = bluezBoolean(properties, "Connected").value_or(false);
        // Under any powered adapter; one that is connected already comes first.
        if (powered != adapters_.end() && powered->second &&
            (devicePath_.empty() || (connected && !connected_))) {
            devicePath_ = path;
            adapterPath_ = *adapter;
            const std::string* name = bluezString(properties, "Name");
            name_ = name != nullptr ? *name : std::string();
            connected_ = connected;
            servicesResolved_ = bluezBoolean(properties, "ServicesResolved").value_or(false);
        }
    }
    return devicePath_.empty() ? DC_STATUS_NODEVICE : DC_STATUS_SUCCESS;
}

dc_status_t BluezGattLink::discover(const std::string& adapter) {
    const dc_status_t started =
        startBluezDiscovery(bus_.get(), adapter, "le",
                            [this](const std::function<bool()>& done, Clock::time_point deadline) {
                                return waitUntil(done, deadline);
                            });
    if (started != DC_STATUS_SUCCESS && started != DC_STATUS_CANCELLED) {
        return DC_STATUS_NODEVICE;
    }
    const dc_status_t status =
        started == DC_STATUS_SUCCESS
            ? waitUntil([this] { return !devicePath_.empty(); }, Clock::now() + kDiscoveryTime)
            : started;
    // After a cancel too: the discovery may have begun.
    stopBluezDiscovery(bus_.get(), adapter);
    return status == DC_STATUS_TIMEOUT ? DC_STATUS_NODEVICE : status;
}

dc_status_t BluezGattLink::connectDevice() {
    const auto deadline = Clock::now() + kConnectTime;
    // From the first call on: a connection still being made is closed too.
    connectedHere_ = true;
    for (int attempt = 0;; ++attempt) {
        BusError error;
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        const dc_status_t status = call(devicePath_, kBluezDevice, "Connect", left, error);
        if (status != DC_STATUS_IO || context_.inbox.lost()) {
            return status;
        }
        say(DC_LOGLEVEL_WARNING,
            "BlueZ refused to connect to " + address_ + ": " + errorText(error) + ".");
        if (attempt == kConnectRetries || !error.hasName(kRefused) ||
            Clock::now() + kRetryPause >= deadline) {
            return DC_STATUS_IO;
        }
        const dc_status_t paused = waitUntil([] { return false; }, Clock::now() + kRetryPause);
        if (paused != DC_STATUS_TIMEOUT) {
            return paused;
        }
    }
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
        if (service == interfaces.end()) {
            continue;
        }
        const std::string* device = bluezObjectPath(service->second, "Device");
        const std::string* uuid = bluezString(service->second, "UUID");
        if (device != nullptr && *device == devicePath_ && uuid != nullptr) {
            services.push_back(GattService{path, lowerCaseUuid(*uuid), {}});
        }
    }
    for (const auto& [path, interfaces] : objects) {
        const auto characteristic = interfaces.find(kCharacteristic);
        if (characteristic == interfaces.end()) {
            continue;
        }
        const std::string* owner = bluezObjectPath(characteristic->second, "Service");
        const std::string* uuid = bluezString(characteristic->second, "UUID");
        const std::vector<std::string>* flags = bluezStrings(characteristic->second, "Flags");
        for (GattService& service : services) {
            if (owner != nullptr && *owner == service.path && uuid != nullptr) {
                service.characteristics.push_back(
                    GattCharacteristic{path, lowerCaseUuid(*uuid),
                                       flags != nullptr ? *flags : std::vector<std::string>()});
                characteristics_.emplace(lowerCaseUuid(*uuid), service.characteristics.back());
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
    return status;
}

dc_status_t BluezGattLink::call(sd_bus_message* request, std::chrono::milliseconds timeout,
                                BusError& error, BusMessage* reply) {
    return callBluez(
        bus_.get(), request, timeout,
        [this](const std::function<bool()>& done, Clock::time_point deadline) {
            return waitUntil(done, deadline);
        },
        error, reply);
}

dc_status_t BluezGattLink::waitUntil(const std::function<bool()>& done,
                                     Clock::time_point deadline) {
    return context_.waiter.waitUntil(*this, done, deadline);
}

dc_status_t BluezGattLink::call(const std::string& path, const char* interface, const char* method,
                                std::chrono::milliseconds timeout, BusError& error) {
    sd_bus_message* rawCall = nullptr;
    const int r = sd_bus_message_new_method_call(bus_.get(), &rawCall, kBluezName, path.c_str(),
                                                 interface, method);
    const BusMessage request(rawCall);
    return r >= 0 ? call(request.get(), timeout, error) : DC_STATUS_IO;
}

dc_status_t BluezGattLink::startNotify(const std::string& path) {
    BusError error;
    const dc_status_t status = call(path, kCharacteristic, "StartNotify", kBluezCallTime, error);
    if (status == DC_STATUS_SUCCESS) {
        notifying_.push_back(path);
    }
    return status == DC_STATUS_SUCCESS ? status : failedCall(status);
}

dc_status_t BluezGattLink::writeCharacteristic(const GattCharacteristic& target,
                                               const unsigned char* data, size_t size,
                                               bool withResponse) {
    sd_bus_message* rawCall = nullptr;
    int r = sd_bus_message_new_method_call(bus_.get(), &rawCall, kBluezName, target.path.c_str(),
                                           kCharacteristic, "WriteValue");
    const BusMessage request(rawCall);
    if (r >= 0) {
        r = sd_bus_message_append_array(request.get(), 'y', data, size);
    }
    if (r >= 0) {
        r = sd_bus_message_append(request.get(), "a{sv}", 1, "type", "s",
                                  withResponse ? "request" : "command");
    }
    if (r < 0) {
        return DC_STATUS_IO;
    }
    BusError error;
    const dc_status_t status = call(request.get(), kBluezCallTime, error);
    return status == DC_STATUS_SUCCESS ? status : failedCall(status);
}

dc_status_t BluezGattLink::pumpEvents() {
    return processBus(bus_.get()) ? DC_STATUS_SUCCESS : DC_STATUS_IO;
}

dc_status_t BluezGattLink::waitForEvents(std::optional<Clock::time_point> deadline) {
    return waitForBus(bus_.get(), deadline) ? DC_STATUS_SUCCESS : DC_STATUS_IO;
}

const GattCharacteristic* BluezGattLink::characteristic(const std::string& uuid) const {
    const auto found = characteristics_.find(uuid);
    return found != characteristics_.end() ? &found->second : nullptr;
}

dc_status_t BluezGattLink::readCharacteristic(const GattCharacteristic& target, unsigned char* data,
                                              size_t size) {
    sd_bus_message* rawCall = nullptr;
    int r = sd_bus_message_new_method_call(bus_.get(), &rawCall, kBluezName, target.path.c_str(),
                                           kCharacteristic, "ReadValue");
    const BusMessage request(rawCall);
    if (r >= 0) {
        r = sd_bus_message_append(request.get(), "a{sv}", 0);
    }
    if (r < 0) {
        return DC_STATUS_IO;
    }
    BusError error;
    BusMessage reply;
    const dc_status_t status = call(request.get(), kBluezCallTime, error, &reply);
    if (status != DC_STATUS_SUCCESS) {
        return failedCall(status);
    }
    const void* value = nullptr;
    size_t length = 0;
    r = sd_bus_message_read_array(reply.get(), 'y', &value, &length);
    if (r < 0 || length < size) {
        return DC_STATUS_IO;
    }
    std::memcpy(data, value, size);
    return DC_STATUS_SUCCESS;
}

bool BluezGattLink::fromBluez(sd_bus_message* message) const {
    const char* sender = sd_bus_message_get_sender(message);
    return sender != nullptr && owner_ == sender;
}

bool BluezGattLink::inUse(const std::string& characteristicPath) const {
    return choice_ &&
           (choice_->write.path == characteristicPath ||
            choice_->notify.path == characteristicPath ||
            (choice_->creditsWrite && choice_->creditsWrite->path == characteristicPath) ||
            (choice_->creditsNotify && choice_->creditsNotify->path == characteristicPath));
}

void BluezGattLink::onDeviceChanged(const BluezProperties& changed) {
    for (const char* name : {"Connected", "ServicesResolved"}) {
        const std::string type = bluezType(changed, name);
        if (!type.empty() && type != "b") {
            say(DC_LOGLEVEL_WARNING, std::string("BlueZ sent the device's ") + name +
                                         " as type \"" + type + "\", not boolean: ignored.");
        }
    }
    if (const std::optional<bool> connected = bluezBoolean(changed, "Connected")) {
        if (connected_ && !*connected) {
            context_.inbox.lose("the device disconnected.");
            servicesResolved_ = false;
        }
        connected_ = *connected;
    }
    if (const std::optional<bool> resolved = bluezBoolean(changed, "ServicesResolved")) {
        servicesResolved_ = *resolved;
    }
}

void BluezGattLink::onValue(const std::string& path, sd_bus_message* message) {
    const bool data = path == choice_->notify.path;
    const bool credits = !data && choice_->creditsNotify && path == choice_->creditsNotify->path;
    if (!data && !credits) {
        return;
    }
    // Only the Value: one notification, one packet.
    int r = sd_bus_message_enter_container(message, 'a', "{sv}");
    while (r >= 0 && (r = sd_bus_message_enter_container(message, 'e', "sv")) > 0) {
        const char* name = nullptr;
        char type = 0;
        const char* contents = nullptr;
        r = sd_bus_message_read(message, "s", &name);
        if (r >= 0) {
            r = sd_bus_message_peek_type(message, &type, &contents);
        }
        if (r < 0) {
            break;
        }
        if (std::strcmp(name, "Value") != 0 || contents == nullptr ||
            std::strcmp(contents, "ay") != 0) {
            if (std::strcmp(name, "Value") == 0) {
                say(DC_LOGLEVEL_WARNING, std::string("BlueZ sent a notification as type \"") +
                                             (contents != nullptr ? contents : "") +
                                             "\", not bytes: ignored.");
            }
            r = sd_bus_message_skip(message, "v");
        } else if ((r = sd_bus_message_enter_container(message, 'v', "ay")) >= 0) {
            const void* bytes = nullptr;
            size_t size = 0;
            r = sd_bus_message_read_array(message, 'y', &bytes, &size);
            if (r >= 0 && data) {
                context_.inbox.pushData(static_cast<const unsigned char*>(bytes), size);
            } else if (r >= 0 && credits) {
                context_.inbox.pushCredits(static_cast<const unsigned char*>(bytes), size);
            }
            if (r >= 0) {
                r = sd_bus_message_exit_container(message);
            }
        }
        if (r >= 0) {
            r = sd_bus_message_exit_container(message);
        }
    }
}

int BluezGattLink::onPropertiesChanged(sd_bus_message* message, void* userdata, sd_bus_error*) {
    auto* link = static_cast<BluezGattLink*>(userdata);
    const char* path = sd_bus_message_get_path(message);
    const char* interface = nullptr;
    if (!link->fromBluez(message) || path == nullptr ||
        sd_bus_message_read(message, "s", &interface) < 0) {
        return 0;
    }
    if (std::strcmp(interface, kBluezDevice) == 0 && link->devicePath_ == path) {
        BluezProperties changed;
        if (readBluezProperties(message, changed) >= 0) {
            link->onDeviceChanged(changed);
        }
    } else if (std::strcmp(interface, kBluezAdapter) == 0) {
        BluezProperties changed;
        const std::optional<bool> powered = readBluezProperties(message, changed) >= 0
                                                ? bluezBoolean(changed, "Powered")
                                                : std::nullopt;
        if (powered) {
            link->adapters_[path] = *powered;
            if (!*powered && link->adapterPath_ == path) {
                link->context_.inbox.lose("the adapter was powered off.");
            }
        }
    } else if (std::strcmp(interface, kCharacteristic) == 0 && link->choice_) {
        link->onValue(path, message);
    }
    return 0;
}

int BluezGattLink::onInterfacesAdded(sd_bus_message* message, void* userdata, sd_bus_error*) {
    auto* link = static_cast<BluezGattLink*>(userdata);
    const char* path = nullptr;
    if (!link->fromBluez(message) || !link->devicePath_.empty() ||
        sd_bus_message_read(message, "o", &path) < 0) {
        return 0;
    }
    BluezInterfaces interfaces;
    if (readBluezInterfaces(message, interfaces) < 0) {
        return 0;
    }
    const auto device = interfaces.find(kBluezDevice);
    if (device == interfaces.end()) {
        return 0;
    }
    const BluezProperties& properties = device->second;
    const std::string* adapter = bluezObjectPath(properties, "Adapter");
    const std::string* address = bluezString(properties, "Address");
    const auto powered =
        adapter != nullptr ? link->adapters_.find(*adapter) : link->adapters_.end();
    if (address != nullptr && upperCaseAddress(*address) == link->address_ &&
        powered != link->adapters_.end() && powered->second) {
        link->devicePath_ = path;
        link->adapterPath_ = *adapter;
        const std::string* name = bluezString(properties, "Name");
        link->name_ = name != nullptr ? *name : std::string();
        link->connected_ = bluezBoolean(properties, "Connected").value_or(false);
        link->servicesResolved_ = bluezBoolean(properties, "ServicesResolved").value_or(false);
    }
    return 0;
}

int BluezGattLink::onInterfacesRemoved(sd_bus_message* message, void* userdata, sd_bus_error*) {
    auto* link = static_cast<BluezGattLink*>(userdata);
    const char* path = nullptr;
    std::vector<std::string> interfaces;
    if (!link->fromBluez(message) || sd_bus_message_read(message, "o", &path) < 0 ||
        readNames(message, interfaces) < 0) {
        return 0;
    }
    // Only these mean the device is gone: BlueZ adds and removes others (Battery1, ...) at will.
    if (link->devicePath_ == path && contains(interfaces, kBluezDevice)) {
        link->context_.inbox.lose("BlueZ removed the device.");
    } else if (link->adapterPath_ == path && contains(interfaces, kBluezAdapter)) {
        link->context_.inbox.lose("BlueZ removed the adapter.");
    } else if (contains(interfaces, kCharacteristic) && link->inUse(path)) {
        link->context_.inbox.lose("BlueZ removed a characteristic in use.");
    }
    return 0;
}

int BluezGattLink::onOwnerChanged(sd_bus_message* message, void* userdata, sd_bus_error*) {
    auto* link = static_cast<BluezGattLink*>(userdata);
    const char* name = nullptr;
    const char* previous = nullptr;
    const char* next = nullptr;
    // Before BlueZ's owner is known, a change is no loss: the owner is asked for afterwards.
    if (sd_bus_message_read(message, "sss", &name, &previous, &next) >= 0 &&
        std::strcmp(name, kBluezName) == 0 && !link->owner_.empty() && link->owner_ != next) {
        link->context_.inbox.lose("BlueZ left the bus.");
    }
    return 0;
}

BluezGattLink::~BluezGattLink() {
    // Best effort, each call bounded: a device that is gone answers nothing.
    for (const std::string& path : notifying_) {
        callBluezBlocking(bus_.get(), path.c_str(), kCharacteristic, "StopNotify", kCloseTime);
    }
    // Another program's connection is left as it was.
    if (connectedHere_ && !context_.inbox.lost()) {
        callBluezBlocking(bus_.get(), devicePath_.c_str(), kBluezDevice, "Disconnect", kCloseTime);
    }
}

}  // namespace diveconnector
