#include "reachable_devices.h"

#include <libdivecomputer/bluetooth.h>
#include <libdivecomputer/descriptor.h>
#include <libdivecomputer/iterator.h>
#include <libdivecomputer/serial.h>
#include <libdivecomputer/usb.h>
#include <libdivecomputer/usbhid.h>
#include <libdivecomputer/version.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <optional>

#include "bluetooth_name_models.h"
#include "bluez_discovery.h"
#include "dc_handles.h"
#include "native_exception.h"
#ifdef _WIN32
#include "paired_ble_devices.h"
#endif
#include "supported_devices.h"
#include "transport_name.h"

namespace diveconnector {

namespace {

using Iterate = dc_status_t (*)(dc_iterator_t**, dc_context_t*, dc_descriptor_t*);

// Hands every item the iterator lists to `use`, then frees it. The walk's status: SUCCESS once it
// ran to its end.
template <typename Item, typename Use>
dc_status_t forEachItem(Iterate iterate, void (*freeItem)(Item*), dc_context_t* context,
                        dc_descriptor_t* descriptor, Use&& use) {
    dc_iterator_t* rawIterator = nullptr;
    dc_status_t status = iterate(&rawIterator, context, descriptor);
    const IteratorHandle iterator(rawIterator);
    Item* rawItem = nullptr;
    while (status == DC_STATUS_SUCCESS &&
           (status = dc_iterator_next(iterator.get(), &rawItem)) == DC_STATUS_SUCCESS) {
        const ItemHandle<Item> item(rawItem, freeItem);
        use(item.get());
    }
    return status == DC_STATUS_DONE ? DC_STATUS_SUCCESS : status;
}

std::string textOf(const char* text) {
    return text != nullptr ? std::string(text) : std::string();
}

ModelFacts factsOf(dc_descriptor_t* descriptor) {
    return {textOf(dc_descriptor_get_vendor(descriptor)),
            textOf(dc_descriptor_get_product(descriptor)),
            static_cast<unsigned int>(dc_descriptor_get_type(descriptor)),
            dc_descriptor_get_model(descriptor)};
}

bool hasTransport(dc_descriptor_t* descriptor, unsigned int transport) {
    return (dc_descriptor_get_transports(descriptor) & transport) != 0;
}

// A model listed twice in the table (the OSTC 2 three times) is offered once.
void addModel(FoundDevice& found, ModelName model) {
    const bool known = std::any_of(found.models.begin(), found.models.end(), [&](const auto& m) {
        return m.vendor == model.vendor && m.product == model.product;
    });
    if (!known) {
        found.models.push_back(std::move(model));
    }
}

void searched(ScanResult& result, unsigned int transport, dc_status_t status,
              const SupportLog& log) {
    if (status == DC_STATUS_SUCCESS) {
        result.searched |= transport;
    } else {
        log.write(DC_LOGLEVEL_WARNING, "Searching %s failed with status %d.",
                  transportName(transport), static_cast<int>(status));
    }
}

void addSerialPorts(dc_context_t* context, ScanResult& result, const SupportLog& log) {
    const dc_status_t status = forEachItem<dc_serial_device_t>(
        dc_serial_iterator_new, dc_serial_device_free, context, nullptr,
        [&](dc_serial_device_t* port) {
            const std::string name = textOf(dc_serial_device_get_name(port));
            if (!name.empty()) {
                result.found.push_back({name, "", 0, DC_TRANSPORT_SERIAL, {}});
            }
        });
    searched(result, DC_TRANSPORT_SERIAL, status, log);
}

// Asks libdivecomputer, model by model, which attached devices it would open for the model: one
// find per vendor and product id, with every model that claims it.
template <typename Item>
void addUsbDevices(dc_context_t* context, const std::vector<DescriptorHandle>& descriptors,
                   unsigned int transport, Iterate iterate, void (*freeItem)(Item*),
                   unsigned int (*vendorId)(Item*), unsigned int (*productId)(Item*),
                   ScanResult& result, const SupportLog& log) {
    const std::string prefix = transport == DC_TRANSPORT_USB ? "usb:" : "usbhid:";
    std::map<std::string, FoundDevice> byId;
    dc_status_t status = DC_STATUS_SUCCESS;
    for (const DescriptorHandle& descriptor : descriptors) {
        if (status != DC_STATUS_SUCCESS || !hasTransport(descriptor.get(), transport)) {
            continue;
        }
        status = forEachItem<Item>(iterate, freeItem, context, descriptor.get(), [&](Item* item) {
            char id[16];
            std::snprintf(id, sizeof id, "%04x:%04x", vendorId(item) & 0xFFFFu,
                          productId(item) & 0xFFFFu);
            FoundDevice& found = byId[id];
            if (found.port.empty()) {
                found = {prefix, id, 0, transport, {}};
            }
            addModel(found, {textOf(dc_descriptor_get_vendor(descriptor.get())),
                             textOf(dc_descriptor_get_product(descriptor.get()))});
        });
    }
    searched(result, transport, status, log);
    for (auto& entry : byId) {
        result.found.push_back(std::move(entry.second));
    }
}

// libdivecomputer's own search finds classic devices only, without their signal strength.
dc_status_t classicByLibdivecomputer(dc_context_t* context,
                                     std::vector<NearbyBluetoothDevice>& nearby) {
    return forEachItem<dc_bluetooth_device_t>(
        dc_bluetooth_iterator_new, dc_bluetooth_device_free, context, nullptr,
        [&](dc_bluetooth_device_t* device) {
            char address[DC_BLUETOOTH_SIZE] = "";
            dc_bluetooth_addr2str(dc_bluetooth_device_get_address(device), address, sizeof address);
            nearby.push_back({address, textOf(dc_bluetooth_device_get_name(device)), 0, true});
        });
}

dc_status_t nearbyBluetooth(dc_context_t* context, std::chrono::milliseconds time,
                            BluetoothSearch search, std::vector<NearbyBluetoothDevice>& nearby) {
    if (search != BluetoothSearch::kBluez) {
        return classicByLibdivecomputer(context, nearby);
    }
#if defined(DIVECONNECTOR_BLE) && !defined(_WIN32)
    return discoverNearbyDevices(
        time, [] { return false; }, nearby);
#else
    static_cast<void>(time);
    return DC_STATUS_UNSUPPORTED;
#endif
}

// Would libdivecomputer's backend for the model accept a device of this name on the transport?
// Releases without the descriptor filter leave it to the name alone.
bool familyAccepts([[maybe_unused]] dc_descriptor_t* descriptor,
                   [[maybe_unused]] unsigned int transport,
                   [[maybe_unused]] const std::string& name) {
#if DC_VERSION_CHECK(0, 9, 0)
    return dc_descriptor_filter(descriptor, static_cast<dc_transport_t>(transport), name.c_str()) !=
           0;
#else
    return true;
#endif
}

constexpr bool kFilterTellsFamily = DC_VERSION_CHECK(0, 9, 0);

// A device seen over classic Bluetooth goes by its bare address, which opens classic Bluetooth
// for a model that has it and BLE for the others; one seen only over LE needs "ble:".
FoundDevice bluetoothFind(const NearbyBluetoothDevice& device,
                          const std::vector<DescriptorHandle>& descriptors) {
    FoundDevice found{device.classic ? device.address : "ble:" + device.address,
                      device.name,
                      device.rssi,
                      device.classic ? DC_TRANSPORT_BLUETOOTH : DC_TRANSPORT_BLE,
                      {}};
    if (device.name.empty()) {
        return found;
    }
    std::vector<ModelFacts> candidates;
    for (const DescriptorHandle& descriptor : descriptors) {
        const bool overBle = hasTransport(descriptor.get(), DC_TRANSPORT_BLE) &&
                             familyAccepts(descriptor.get(), DC_TRANSPORT_BLE, device.name);
        const bool overClassic =
            device.classic && hasTransport(descriptor.get(), DC_TRANSPORT_BLUETOOTH) &&
            familyAccepts(descriptor.get(), DC_TRANSPORT_BLUETOOTH, device.name);
        if (overBle || overClassic) {
            candidates.push_back(factsOf(descriptor.get()));
        }
    }
    std::vector<ModelFacts> models = modelsTheNameTells(candidates, device.name);
    if (models.empty() && kFilterTellsFamily) {
        models = std::move(candidates);
    }
    for (ModelFacts& model : models) {
        addModel(found, {std::move(model.vendor), std::move(model.product)});
    }
    return found;
}

#ifdef _WIN32
// The LE devices paired with Windows, but those libdivecomputer's classic search found already:
// their bare address opens classic Bluetooth for a model that has it and BLE for the others.
void addPairedBleDevices(const std::vector<DescriptorHandle>& descriptors, ScanResult& result,
                         const SupportLog& log) {
    std::vector<NearbyBluetoothDevice> paired;
    const dc_status_t status = listPairedBleDevices(paired, log);
    searched(result, DC_TRANSPORT_BLE, status, log);
    for (const NearbyBluetoothDevice& device : paired) {
        const bool foundClassic =
            std::any_of(result.found.begin(), result.found.end(), [&](const FoundDevice& found) {
                return found.transport == DC_TRANSPORT_BLUETOOTH && found.port == device.address;
            });
        if (!foundClassic) {
            result.found.push_back(bluetoothFind(device, descriptors));
        }
    }
}
#endif

void addBluetoothDevices(dc_context_t* context, const std::vector<DescriptorHandle>& descriptors,
                         std::chrono::milliseconds time, BluetoothSearch search, ScanResult& result,
                         const SupportLog& log) {
    std::vector<NearbyBluetoothDevice> nearby;
    const dc_status_t status = nearbyBluetooth(context, time, search, nearby);
    if (status != DC_STATUS_SUCCESS) {
        searched(result, DC_TRANSPORT_BLUETOOTH, status, log);
        if (search == BluetoothSearch::kBluez) {
            log.write(DC_LOGLEVEL_WARNING, "%s",
                      status == DC_STATUS_UNSUPPORTED
                          ? "No D-Bus system bus, or BlueZ is not running on it."
                      : status == DC_STATUS_NODEVICE
                          ? "No Bluetooth adapter, or the first one is powered off."
                          : "BlueZ's discovery failed.");
        }
        return;
    }
    result.searched |= search == BluetoothSearch::kBluez ? DC_TRANSPORT_BLUETOOTH | DC_TRANSPORT_BLE
                                                         : DC_TRANSPORT_BLUETOOTH;
    for (const NearbyBluetoothDevice& device : nearby) {
        result.found.push_back(bluetoothFind(device, descriptors));
    }
}

}  // namespace

ScanResult findReachableDevices(std::chrono::milliseconds bluetoothTime, const SupportLog& log,
                                BluetoothSearch search) {
    dc_context_t* rawContext = nullptr;
    const dc_status_t status = dc_context_new(&rawContext);
    const ContextHandle context(rawContext);
    if (status != DC_STATUS_SUCCESS) {
        throw Exception(messages::kCreatingContext, status);
    }
    log.attach(context.get());

    const std::vector<DescriptorHandle> descriptors = descriptorTable();
    const unsigned int available = dc_context_get_transports(context.get());
    ScanResult result;
    if ((available & DC_TRANSPORT_SERIAL) != 0) {
        addSerialPorts(context.get(), result, log);
    }
    if ((available & DC_TRANSPORT_USBHID) != 0) {
        addUsbDevices<dc_usbhid_device_t>(
            context.get(), descriptors, DC_TRANSPORT_USBHID, dc_usbhid_iterator_new,
            dc_usbhid_device_free, dc_usbhid_device_get_vid, dc_usbhid_device_get_pid, result, log);
    }
    if ((available & DC_TRANSPORT_USB) != 0) {
        addUsbDevices<dc_usb_device_t>(context.get(), descriptors, DC_TRANSPORT_USB,
                                       dc_usb_iterator_new, dc_usb_device_free,
                                       dc_usb_device_get_vid, dc_usb_device_get_pid, result, log);
    }
    if (bluetoothTime.count() > 0 &&
        (search == BluetoothSearch::kBluez || (available & DC_TRANSPORT_BLUETOOTH) != 0)) {
        addBluetoothDevices(context.get(), descriptors, bluetoothTime, search, result, log);
    }
#ifdef _WIN32
    if (bluetoothTime.count() > 0 && search == BluetoothSearch::kWindows) {
        addPairedBleDevices(descriptors, result, log);
    }
#endif
    return result;
}

}  // namespace diveconnector
