#include "device_stream.h"

#include <libdivecomputer/bluetooth.h>
#include <libdivecomputer/irda.h>
#include <libdivecomputer/serial.h>
#include <libdivecomputer/usb.h>
#include <libdivecomputer/usbhid.h>

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "native_exception.h"
#include "transport_name.h"
#ifdef DIVECONNECTOR_BLE
#include "ble_stream.h"
#endif

namespace diveconnector {

namespace {

struct TransportPrefix {
    const char* text;
    dc_transport_t transport;
};

// "usbhid:" before "usb:", which is its prefix.
constexpr TransportPrefix kPrefixes[] = {
    {"serial:", DC_TRANSPORT_SERIAL}, {"bluetooth:", DC_TRANSPORT_BLUETOOTH},
    {"ble:", DC_TRANSPORT_BLE},       {"usbhid:", DC_TRANSPORT_USBHID},
    {"usb:", DC_TRANSPORT_USB},       {"irda:", DC_TRANSPORT_IRDA},
};

bool isBluetoothAddress(const char* name) {
    // Six pairs of hex digits separated by colons: 17 characters.
    if (std::strlen(name) != 17) {
        return false;
    }
    for (int i = 0; i < 17; ++i) {
        const unsigned char c = static_cast<unsigned char>(name[i]);
        if (i % 3 == 2 ? c != ':' : !std::isxdigit(c)) {
            return false;
        }
    }
    return true;
}

// The transport to use, given the name (prefix already stripped) and an explicit choice or none.
dc_transport_t chooseTransport(unsigned int supported, dc_transport_t explicitChoice,
                               const char* name) {
    if (explicitChoice != DC_TRANSPORT_NONE) {
        return (supported & explicitChoice) != 0 ? explicitChoice : DC_TRANSPORT_NONE;
    }
    if (isBluetoothAddress(name)) {
        for (const dc_transport_t candidate : {DC_TRANSPORT_BLUETOOTH, DC_TRANSPORT_BLE}) {
            if ((supported & candidate) != 0) {
                return candidate;
            }
        }
    }
    for (const dc_transport_t candidate :
         {DC_TRANSPORT_SERIAL, DC_TRANSPORT_USBHID, DC_TRANSPORT_USB, DC_TRANSPORT_IRDA}) {
        if ((supported & candidate) != 0) {
            return candidate;
        }
    }
    return DC_TRANSPORT_NONE;
}

// Why chooseTransport chose `chosen`, for the support log.
const char* choiceReason(dc_transport_t explicitChoice, dc_transport_t chosen) {
    if (explicitChoice != DC_TRANSPORT_NONE) {
        return chosen != DC_TRANSPORT_NONE ? "named by the prefix"
                                           : "the prefix names a transport the model lacks";
    }
    if (chosen == DC_TRANSPORT_BLUETOOTH || chosen == DC_TRANSPORT_BLE) {
        return "the name is a Bluetooth address";
    }
    return chosen != DC_TRANSPORT_NONE ? "the model's first of serial, USB HID, USB and IrDA"
                                       : "the model has none of serial, USB HID, USB and IrDA, "
                                         "nor Bluetooth or BLE for this name";
}

// The first device of one transport that libdivecomputer finds for the model.
template <typename Item>
dc_status_t findFirst(dc_status_t (*iterate)(dc_iterator_t**, dc_context_t*, dc_descriptor_t*),
                      dc_context_t* context, dc_descriptor_t* descriptor, ItemHandle<Item>& found) {
    dc_iterator_t* rawIterator = nullptr;
    dc_status_t status = iterate(&rawIterator, context, descriptor);
    const IteratorHandle iterator(rawIterator);
    if (status != DC_STATUS_SUCCESS) {
        return status;
    }
    Item* rawItem = nullptr;
    status = dc_iterator_next(iterator.get(), &rawItem);
    if (status == DC_STATUS_SUCCESS) {
        found.reset(rawItem);
    }
    return status == DC_STATUS_DONE ? DC_STATUS_NODEVICE : status;
}

template <typename Item>
dc_status_t openFirstFound(dc_status_t (*iterate)(dc_iterator_t**, dc_context_t*, dc_descriptor_t*),
                           void (*freeItem)(Item*),
                           dc_status_t (*open)(dc_iostream_t**, dc_context_t*, Item*),
                           dc_context_t* context, dc_descriptor_t* descriptor,
                           dc_iostream_t** stream) {
    ItemHandle<Item> item(nullptr, freeItem);
    const dc_status_t status = findFirst(iterate, context, descriptor, item);
    return status == DC_STATUS_SUCCESS ? open(stream, context, item.get()) : status;
}

// IrDA takes the name as a numeric address (any base); only an empty name opens the first device
// found. A name that is not entirely such an address must not open some other device.
dc_status_t openIrda(dc_context_t* context, dc_descriptor_t* descriptor, const char* name,
                     dc_iostream_t** stream) {
    constexpr unsigned int kLsap = 1;
    if (*name != '\0') {
        // strtoull would also take leading blanks and a sign.
        if (!std::isdigit(static_cast<unsigned char>(*name))) {
            return DC_STATUS_INVALIDARGS;
        }
        char* end = nullptr;
        errno = 0;
        const unsigned long long address = std::strtoull(name, &end, 0);
        return *end == '\0' && errno == 0 && address <= UINT_MAX
                   ? dc_irda_open(stream, context, static_cast<unsigned int>(address), kLsap)
                   : DC_STATUS_INVALIDARGS;
    }
    ItemHandle<dc_irda_device_t> item(nullptr, dc_irda_device_free);
    const dc_status_t status = findFirst(dc_irda_iterator_new, context, descriptor, item);
    return status == DC_STATUS_SUCCESS
               ? dc_irda_open(stream, context, dc_irda_device_get_address(item.get()), kLsap)
               : status;
}

}  // namespace

IostreamHandle openDeviceStream(dc_context_t* context, dc_descriptor_t* descriptor,
                                const char* deviceName, const SupportLog& log,
                                const BleHooks& hooks) {
    const char* name = deviceName;
    dc_transport_t explicitChoice = DC_TRANSPORT_NONE;
    for (const TransportPrefix& prefix : kPrefixes) {
        const size_t length = std::strlen(prefix.text);
        if (std::strncmp(deviceName, prefix.text, length) == 0) {
            explicitChoice = prefix.transport;
            name = deviceName + length;
            break;
        }
    }

    const unsigned int supported = dc_descriptor_get_transports(descriptor);
    const dc_transport_t transport = chooseTransport(supported, explicitChoice, name);
    log.write(DC_LOGLEVEL_INFO, "Device name \"%s\", model transports 0x%02x: %s (%s).", deviceName,
              supported, transportName(transport), choiceReason(explicitChoice, transport));

    dc_iostream_t* rawStream = nullptr;
    dc_status_t status = DC_STATUS_UNSUPPORTED;
    switch (transport) {
        case DC_TRANSPORT_SERIAL:
            status = dc_serial_open(&rawStream, context, name);
            break;
        case DC_TRANSPORT_BLUETOOTH: {
            const dc_bluetooth_address_t address = dc_bluetooth_str2addr(name);
            // Port 0: the RFCOMM channel is found by service discovery.
            status = address != 0 ? dc_bluetooth_open(&rawStream, context, address, 0)
                                  : DC_STATUS_INVALIDARGS;
            break;
        }
        case DC_TRANSPORT_BLE:
#ifdef DIVECONNECTOR_BLE
            status = isBluetoothAddress(name) ? openBleStream(context, name, hooks, &rawStream)
                                              : DC_STATUS_INVALIDARGS;
#else
            static_cast<void>(hooks);
#endif
            break;
        case DC_TRANSPORT_USBHID:
            status = openFirstFound(dc_usbhid_iterator_new, dc_usbhid_device_free, dc_usbhid_open,
                                    context, descriptor, &rawStream);
            break;
        case DC_TRANSPORT_USB:
            status = openFirstFound(dc_usb_iterator_new, dc_usb_device_free, dc_usb_open, context,
                                    descriptor, &rawStream);
            break;
        case DC_TRANSPORT_IRDA:
            status = openIrda(context, descriptor, name, &rawStream);
            break;
        default:
            break;
    }
    IostreamHandle stream(rawStream);
    if (status != DC_STATUS_SUCCESS) {
        log.write(DC_LOGLEVEL_ERROR, "Opening %s \"%s\" failed with status %d.",
                  transportName(transport), name, static_cast<int>(status));
        throw Exception(messages::kOpeningDevice, status);
    }
    log.write(DC_LOGLEVEL_INFO, "Opened %s \"%s\".", transportName(transport), name);
    return stream;
}

}  // namespace diveconnector
