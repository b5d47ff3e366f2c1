#include "bluez_discovery.h"

#include <cstdint>
#include <map>
#include <optional>
#include <utility>

#include "bluez_objects.h"
#include "sd_bus_handles.h"

namespace diveconnector {

namespace {

// The devices under `adapter` that carry an RSSI: BlueZ gives one only to the devices seen by the
// discovery under way, not to the ones it merely remembers.
std::vector<NearbyBluetoothDevice> nearbyDevices(const BluezObjects& objects,
                                                 const std::string& adapter) {
    std::map<std::string, NearbyBluetoothDevice> byAddress;
    for (const auto& object : objects) {
        const auto device = object.second.find(kBluezDevice);
        if (device == object.second.end()) {
            continue;
        }
        const BluezProperties& properties = device->second;
        const std::string* owner = bluezObjectPath(properties, "Adapter");
        const std::string* address = bluezString(properties, "Address");
        const std::optional<int64_t> rssi = bluezInteger(properties, "RSSI", "n");
        if (owner == nullptr || *owner != adapter || address == nullptr || !rssi) {
            continue;
        }
        NearbyBluetoothDevice nearby;
        nearby.address = upperCaseAddress(*address);
        // Not Alias: without a name BlueZ makes it up from the address.
        const std::string* name = bluezString(properties, "Name");
        nearby.name = name != nullptr ? *name : std::string();
        nearby.rssi = static_cast<int>(*rssi);
        // BlueZ learns a device's class only from a classic inquiry.
        nearby.classic = properties.count("Class") != 0;
        byAddress.emplace(nearby.address, std::move(nearby));
    }
    std::vector<NearbyBluetoothDevice> devices;
    devices.reserve(byAddress.size());
    for (auto& entry : byAddress) {
        devices.push_back(std::move(entry.second));
    }
    return devices;
}

}  // namespace

dc_status_t discoverNearbyDevices(std::chrono::milliseconds duration,
                                  const std::function<bool()>& cancelled,
                                  std::vector<NearbyBluetoothDevice>& found) {
    found.clear();
    sd_bus* rawBus = nullptr;
    const int r = sd_bus_open_system(&rawBus);
    const Bus bus(rawBus);
    if (r < 0) {
        return DC_STATUS_UNSUPPORTED;
    }
    BluezObjects objects;
    std::string adapter;
    dc_status_t status = bluezManagedObjects(bus.get(), objects);
    if (status == DC_STATUS_SUCCESS) {
        status = firstPoweredAdapter(objects, adapter);
    }
    if (status != DC_STATUS_SUCCESS || duration <= std::chrono::milliseconds::zero()) {
        return status;
    }
    const BusWait wait = [&bus, &cancelled](const std::function<bool()>& done,
                                            std::chrono::steady_clock::time_point deadline) {
        return pumpBus(bus.get(), done, deadline, cancelled);
    };
    status = startBluezDiscovery(bus.get(), adapter, "auto", wait);
    if (status == DC_STATUS_CANCELLED) {
        // Before the discovery was under way: nothing found and nothing failed. It may have
        // begun all the same.
        stopBluezDiscovery(bus.get(), adapter);
        return DC_STATUS_SUCCESS;
    }
    if (status != DC_STATUS_SUCCESS) {
        return status;
    }
    // Over with the duration, or earlier on a cancel: both keep what was found.
    status = pumpBus(
        bus.get(), [] { return false; }, std::chrono::steady_clock::now() + duration, cancelled);
    objects.clear();
    if (status == DC_STATUS_TIMEOUT || status == DC_STATUS_CANCELLED) {
        // Read before stopping: BlueZ drops the RSSI of every device once the discovery stops.
        status = bluezManagedObjects(bus.get(), objects);
    }
    stopBluezDiscovery(bus.get(), adapter);
    if (status == DC_STATUS_SUCCESS) {
        found = nearbyDevices(objects, adapter);
    }
    return status;
}

}  // namespace diveconnector
