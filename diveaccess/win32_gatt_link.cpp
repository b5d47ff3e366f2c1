#include "win32_gatt_link.h"

#include <algorithm>
#include <cctype>
#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <cwctype>
#include <mutex>

namespace diveconnector {

namespace {

// The longest attribute value ATT carries.
constexpr size_t kMaxValueSize = 512;
constexpr size_t kValueDataOffset = offsetof(BTH_LE_GATT_CHARACTERISTIC_VALUE, Data);

std::string hresultText(HRESULT result) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08" PRIX32, static_cast<uint32_t>(result));
    return text;
}

std::string handleText(USHORT handle) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%04x", static_cast<unsigned int>(handle));
    return text;
}

// In lower case as gatt_choice takes it; a 16-bit UUID over the Bluetooth base UUID, which
// Windows may give in either form.
std::string uuidText(const BTH_LE_UUID& uuid) {
    GUID guid = kBluetoothBaseGuid;
    if (uuid.IsShortUuid) {
        guid.Data1 = uuid.Value.ShortUuid;
    } else {
        guid = uuid.Value.LongUuid;
    }
    char text[40];
    std::snprintf(text, sizeof text, "%08" PRIx32 "-%04x-%04x-%02x%02x-%02x%02x%02x%02x%02x%02x",
                  static_cast<uint32_t>(guid.Data1), static_cast<unsigned int>(guid.Data2),
                  static_cast<unsigned int>(guid.Data3), guid.Data4[0], guid.Data4[1],
                  guid.Data4[2], guid.Data4[3], guid.Data4[4], guid.Data4[5], guid.Data4[6],
                  guid.Data4[7]);
    return text;
}

// The flags BlueZ names, which gatt_choice and the stream go by.
std::vector<std::string> flagsOf(const BTH_LE_GATT_CHARACTERISTIC& characteristic) {
    std::vector<std::string> flags;
    if (characteristic.IsReadable) {
        flags.emplace_back("read");
    }
    if (characteristic.IsWritable) {
        flags.emplace_back("write");
    }
    if (characteristic.IsWritableWithoutResponse) {
        flags.emplace_back("write-without-response");
    }
    if (characteristic.IsNotifiable) {
        flags.emplace_back("notify");
    }
    if (characteristic.IsIndicatable) {
        flags.emplace_back("indicate");
    }
    return flags;
}

// What Windows answers for a device that is off, out of reach or silent.
bool unanswered(HRESULT result) {
    for (const DWORD code :
         {ERROR_SEM_TIMEOUT, ERROR_BAD_NET_RESP, ERROR_DEVICE_NOT_CONNECTED, ERROR_TIMEOUT}) {
        if (result == hresultFromWin32(code)) {
            return true;
        }
    }
    return false;
}

// Windows' list calls: first the count (ERROR_MORE_DATA), then the items. Nothing to list
// (ERROR_NOT_FOUND, or a count of 0) is S_OK with no items.
template <typename Item, typename Call>
HRESULT listed(Call call, std::vector<Item>& items) {
    items.clear();
    USHORT count = 0;
    HRESULT result = call(USHORT{0}, static_cast<Item*>(nullptr), &count);
    if (result == hresultFromWin32(ERROR_NOT_FOUND) || (result == S_OK && count == 0)) {
        return S_OK;
    }
    if (result != hresultFromWin32(ERROR_MORE_DATA) && result != S_OK) {
        return result;
    }
    items.resize(count);
    USHORT actual = 0;
    result = call(count, items.data(), &actual);
    items.resize(result == S_OK ? std::min(actual, count) : 0);
    return result;
}

// The registrations whose callbacks may still come. Windows does not say that no callback runs
// once UnregisterEvent has returned, so a callback gets a number, not the inbox: it pushes only
// while the number is listed, under the lock that its removal takes too. The link's one piece of
// process-wide state.
class CallbackRegistry {
  public:
    static CallbackRegistry& instance() {
        static CallbackRegistry registry;
        return registry;
    }

    uintptr_t add(GattInbox& inbox, bool credits) {
        const std::lock_guard<std::mutex> lock(mutex_);
        const uintptr_t number = next_++;
        entries_.emplace(number, Entry{&inbox, credits});
        return number;
    }

    void remove(uintptr_t number) noexcept {
        const std::lock_guard<std::mutex> lock(mutex_);
        entries_.erase(number);
    }

    void deliver(uintptr_t number, const unsigned char* bytes, size_t size) {
        const std::lock_guard<std::mutex> lock(mutex_);
        const auto entry = entries_.find(number);
        if (entry == entries_.end()) {
            return;
        }
        if (entry->second.credits) {
            entry->second.inbox->pushCredits(bytes, size);
        } else {
            entry->second.inbox->pushData(bytes, size);
        }
    }

  private:
    struct Entry {
        GattInbox* inbox;
        bool credits;  // the credits characteristic's, not the data's
    };

    std::mutex mutex_;
    std::map<uintptr_t, Entry> entries_;
    uintptr_t next_ = 1;
};

// On a thread of Windows': the value is copied before the callback returns.
void CALLBACK onValueChanged(BTH_LE_GATT_EVENT_TYPE type, PVOID parameter, PVOID context) {
    if (type != CharacteristicValueChangedEvent || parameter == nullptr) {
        return;
    }
    const auto* event = static_cast<const BLUETOOTH_GATT_VALUE_CHANGED_EVENT*>(parameter);
    const BTH_LE_GATT_CHARACTERISTIC_VALUE* value = event->CharacteristicValue;
    if (value == nullptr) {
        return;
    }
    try {
        // No attribute value is longer: a larger size cannot be the value's.
        CallbackRegistry::instance().deliver(reinterpret_cast<uintptr_t>(context), value->Data,
                                             std::min<size_t>(value->DataSize, kMaxValueSize));
    } catch (...) {
        // Out of memory on Windows' thread: the notification is lost, which the download's
        // checks find, and nothing escapes into Windows.
    }
}

std::string addressDigits(const std::string& address) {
    std::string digits;
    for (const char c : address) {
        if (c != ':') {
            digits += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        }
    }
    return digits;
}

}  // namespace

class Win32GattLink::CallbackSlot {
  public:
    CallbackSlot(GattInbox& inbox, bool credits)
        : number_(CallbackRegistry::instance().add(inbox, credits)) {}
    ~CallbackSlot() { CallbackRegistry::instance().remove(number_); }
    CallbackSlot(const CallbackSlot&) = delete;
    CallbackSlot& operator=(const CallbackSlot&) = delete;

    [[nodiscard]] PVOID context() const noexcept { return reinterpret_cast<PVOID>(number_); }

  private:
    const uintptr_t number_;
};

Win32GattLink::Win32GattLink(OpenKey, const Win32BluetoothApi& api, std::string address,
                             const GattLinkContext& context)
    : api_(api),
      address_(upperCaseAddress(std::move(address))),
      digits_(addressDigits(address_)),
      context_(context) {}

Win32GattLink::~Win32GattLink() = default;

dc_status_t Win32GattLink::open(const Win32BluetoothApi& api, const std::string& address,
                                const GattLinkContext& context, std::unique_ptr<GattLink>& link) {
    link.reset();
    auto opened = std::make_unique<Win32GattLink>(OpenKey{}, api, address, context);
    dc_status_t status = opened->findDevice();
    if (status == DC_STATUS_SUCCESS) {
        status = opened->listServices();
    }
    if (status != DC_STATUS_SUCCESS) {
        return status;
    }
    const GattChoice& choice = *opened->choice_;
    status = opened->notify(choice.notify, false);
    if (status == DC_STATUS_SUCCESS && choice.creditsNotify &&
        choice.creditsNotify->path != choice.notify.path) {
        status = opened->notify(*choice.creditsNotify, true);
    }
    if (status == DC_STATUS_SUCCESS) {
        opened->say(DC_LOGLEVEL_INFO,
                    "Notifications of " + opened->address_ + " on through Windows.");
        opened->opened_ = true;
        // Before the first write: a device that answers it and goes at once is then seen gone.
        opened->watchConnection();
        link = std::move(opened);
    }
    return status;
}

void Win32GattLink::say(dc_loglevel_t level, const std::string& message) const {
    if (context_.log) {
        context_.log(level, message);
    }
}

dc_status_t Win32GattLink::failed(const std::string& what, HRESULT result) const {
    if (unanswered(result) && opened_) {
        say(DC_LOGLEVEL_ERROR, what + " failed with " + hresultText(result) + ".");
        context_.inbox.lose("Windows no longer reaches the device.");
        return DC_STATUS_IO;
    }
    if (unanswered(result)) {
        say(DC_LOGLEVEL_ERROR,
            what + " failed with " + hresultText(result) + ": " + address_ +
                " is paired but did not answer; is it switched on, in its Bluetooth mode and "
                "near this computer?");
        return DC_STATUS_TIMEOUT;
    }
    say(DC_LOGLEVEL_ERROR,
        what + " failed with " + hresultText(result) +
            (isBluetoothAttError(result) ? ", an error the device answered." : "."));
    return DC_STATUS_IO;
}

dc_status_t Win32GattLink::findDevice() {
    const DWORD error = DeviceInterfaces::list(api_, kGuidBluetoothLeDeviceInterface, devices_);
    if (error != ERROR_SUCCESS) {
        say(DC_LOGLEVEL_ERROR,
            "Windows' list of Bluetooth LE devices failed (error " + std::to_string(error) + ").");
        return DC_STATUS_IO;
    }
    for (const DeviceInterface& entry : devices_.entries()) {
        if (devices_.bleAddress(entry) == digits_) {
            device_ = &entry;
            break;
        }
    }
    if (device_ == nullptr) {
        say(DC_LOGLEVEL_ERROR, "No Bluetooth LE device paired with Windows has the address " +
                                   address_ + " (" + std::to_string(devices_.entries().size()) +
                                   " paired): pair the dive computer in Windows' Bluetooth "
                                   "settings first, with Bluetooth on, then download again.");
        return DC_STATUS_NODEVICE;
    }
    name_ =
        utf8FromWide(devices_.stringProperty(*device_, kDevpkeyDeviceFriendlyName).value_or(L""));
    deviceHandle_ =
        BluetoothHandle(api_, api_.CreateFileW(device_->path.c_str(), GENERIC_READ | GENERIC_WRITE,
                                               FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                               OPEN_EXISTING, 0, nullptr));
    if (!deviceHandle_) {
        say(DC_LOGLEVEL_ERROR, "Windows did not open the paired device " + address_ + " (error " +
                                   std::to_string(GetLastError()) + ").");
        return DC_STATUS_IO;
    }
    say(DC_LOGLEVEL_INFO, "Paired with Windows: " + address_ + " \"" + name_ + "\".");
    return DC_STATUS_SUCCESS;
}

dc_status_t Win32GattLink::listServices() {
    std::vector<BTH_LE_GATT_SERVICE> natives;
    HRESULT result = listed<BTH_LE_GATT_SERVICE>(
        [this](USHORT count, BTH_LE_GATT_SERVICE* items, USHORT* actual) {
            return api_.BluetoothGATTGetServices(deviceHandle_.get(), count, items, actual,
                                                 BLUETOOTH_GATT_FLAG_NONE);
        },
        natives);
    if (result != S_OK) {
        return failed("Listing the services of " + address_, result);
    }
    if (natives.empty()) {
        say(DC_LOGLEVEL_ERROR, "Windows knows no services of " + address_ +
                                   ": remove the dive computer in Windows' Bluetooth settings "
                                   "and pair it again.");
        return DC_STATUS_UNSUPPORTED;
    }
    services_.resize(natives.size());
    std::vector<GattService> choices;
    for (size_t i = 0; i < natives.size(); ++i) {
        Service& service = services_[i];
        service.native = natives[i];
        service.gatt.uuid = uuidText(service.native.ServiceUuid);
        service.gatt.path = handleText(service.native.AttributeHandle);
        std::vector<BTH_LE_GATT_CHARACTERISTIC> characteristics;
        result = listed<BTH_LE_GATT_CHARACTERISTIC>(
            [&](USHORT count, BTH_LE_GATT_CHARACTERISTIC* items, USHORT* actual) {
                return api_.BluetoothGATTGetCharacteristics(deviceHandle_.get(), &service.native,
                                                            count, items, actual,
                                                            BLUETOOTH_GATT_FLAG_NONE);
            },
            characteristics);
        if (result != S_OK) {
            return failed(
                "Listing the characteristics of service " + service.gatt.uuid + " of " + address_,
                result);
        }
        for (const BTH_LE_GATT_CHARACTERISTIC& characteristic : characteristics) {
            GattCharacteristic gatt{
                service.gatt.path + "/" + handleText(characteristic.AttributeHandle),
                uuidText(characteristic.CharacteristicUuid), flagsOf(characteristic)};
            where_[gatt.path] = {i, characteristic.AttributeHandle};
            service.gatt.characteristics.push_back(std::move(gatt));
        }
        choices.push_back(service.gatt);
    }
    choice_ = chooseGattService(choices);
    if (!choice_) {
        say(DC_LOGLEVEL_ERROR, "None of the " + std::to_string(services_.size()) + " services of " +
                                   address_ + " carries a dive computer's data.");
        return DC_STATUS_UNSUPPORTED;
    }
    return DC_STATUS_SUCCESS;
}

dc_status_t Win32GattLink::openService(Service& service) {
    if (service.handle) {
        return DC_STATUS_SUCCESS;
    }
    DeviceInterfaces interfaces;
    const DWORD error =
        DeviceInterfaces::list(api_, kGuidBluetoothGattServiceDeviceInterface, interfaces);
    if (error != ERROR_SUCCESS) {
        say(DC_LOGLEVEL_ERROR,
            "Windows' list of Bluetooth LE services failed (error " + std::to_string(error) + ").");
        return DC_STATUS_IO;
    }
    const std::wstring digits(digits_.begin(), digits_.end());
    for (const DeviceInterface& entry : interfaces.entries()) {
        std::wstring id = interfaces.instanceId(entry);
        std::transform(id.begin(), id.end(), id.begin(),
                       [](wchar_t c) { return static_cast<wchar_t>(std::towupper(c)); });
        if (id.find(digits) == std::wstring::npos) {
            continue;
        }
        BluetoothHandle handle(
            api_, api_.CreateFileW(entry.path.c_str(), GENERIC_READ | GENERIC_WRITE,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                                   nullptr));
        if (!handle) {
            continue;
        }
        std::vector<BTH_LE_GATT_SERVICE> there;
        HRESULT result = listed<BTH_LE_GATT_SERVICE>(
            [&](USHORT count, BTH_LE_GATT_SERVICE* items, USHORT* actual) {
                return api_.BluetoothGATTGetServices(handle.get(), count, items, actual,
                                                     BLUETOOTH_GATT_FLAG_NONE);
            },
            there);
        const auto same = std::find_if(there.begin(), there.end(), [&](const auto& candidate) {
            return uuidText(candidate.ServiceUuid) == service.gatt.uuid;
        });
        if (result != S_OK || same == there.end()) {
            continue;
        }
        BTH_LE_GATT_SERVICE native = *same;
        std::vector<BTH_LE_GATT_CHARACTERISTIC> characteristics;
        result = listed<BTH_LE_GATT_CHARACTERISTIC>(
            [&](USHORT count, BTH_LE_GATT_CHARACTERISTIC* items, USHORT* actual) {
                return api_.BluetoothGATTGetCharacteristics(handle.get(), &native, count, items,
                                                            actual, BLUETOOTH_GATT_FLAG_NONE);
            },
            characteristics);
        if (result != S_OK) {
            return failed("Listing the characteristics of service " + service.gatt.uuid + " of " +
                              address_ + " on its interface",
                          result);
        }
        service.handle = std::move(handle);
        service.nativeThere = native;
        service.characteristicsThere = std::move(characteristics);
        return DC_STATUS_SUCCESS;
    }
    say(DC_LOGLEVEL_ERROR, "Windows has no interface for service " + service.gatt.uuid + " of " +
                               address_ +
                               ": remove the dive computer in Windows' Bluetooth settings and "
                               "pair it again.");
    return DC_STATUS_IO;
}

std::optional<Win32GattLink::NativeTarget> Win32GattLink::nativeOf(
    const GattCharacteristic& target) {
    const auto found = where_.find(target.path);
    if (found == where_.end()) {
        say(DC_LOGLEVEL_ERROR, "No characteristic " + target.uuid + " on " + address_ + ".");
        return std::nullopt;
    }
    Service& service = services_[found->second.first];
    if (openService(service) != DC_STATUS_SUCCESS) {
        return std::nullopt;
    }
    const auto& there = service.characteristicsThere;
    auto native = std::find_if(there.begin(), there.end(), [&](const auto& candidate) {
        return candidate.AttributeHandle == found->second.second;
    });
    if (native == there.end()) {
        native = std::find_if(there.begin(), there.end(), [&](const auto& candidate) {
            return uuidText(candidate.CharacteristicUuid) == target.uuid;
        });
    }
    if (native == there.end()) {
        say(DC_LOGLEVEL_ERROR, "Windows lists no characteristic " + target.uuid +
                                   " on the interface of service " + service.gatt.uuid + " of " +
                                   address_ + ".");
        return std::nullopt;
    }
    return NativeTarget{service.handle.get(), *native};
}

dc_status_t Win32GattLink::notify(const GattCharacteristic& target, bool credits) {
    std::optional<NativeTarget> found = nativeOf(target);
    if (!found) {
        return DC_STATUS_IO;
    }
    BTH_LE_GATT_CHARACTERISTIC& native = found->characteristic;
    const HANDLE handle = found->service;
    std::vector<BTH_LE_GATT_DESCRIPTOR> descriptors;
    HRESULT result = listed<BTH_LE_GATT_DESCRIPTOR>(
        [&](USHORT count, BTH_LE_GATT_DESCRIPTOR* items, USHORT* actual) {
            return api_.BluetoothGATTGetDescriptors(handle, &native, count, items, actual,
                                                    BLUETOOTH_GATT_FLAG_NONE);
        },
        descriptors);
    if (result != S_OK) {
        return failed(
            "Listing the descriptors of characteristic " + target.uuid + " of " + address_, result);
    }

    // Registered before the notifications are on: none of them is lost.
    auto slot = std::make_unique<CallbackSlot>(context_.inbox, credits);
    BLUETOOTH_GATT_VALUE_CHANGED_EVENT_REGISTRATION registration{};
    registration.NumCharacteristics = 1;
    registration.Characteristics[0] = native;
    BLUETOOTH_GATT_EVENT_HANDLE event = nullptr;
    result = api_.BluetoothGATTRegisterEvent(handle, CharacteristicValueChangedEvent, &registration,
                                             onValueChanged, slot->context(), &event,
                                             BLUETOOTH_GATT_FLAG_NONE);
    if (result != S_OK) {
        return failed("Registering for the notifications of " + target.uuid + " of " + address_,
                      result);
    }
    events_.emplace_back(api_, event);
    slots_.push_back(std::move(slot));

    const auto configuration =
        std::find_if(descriptors.begin(), descriptors.end(), [](const auto& descriptor) {
            return descriptor.DescriptorType == ClientCharacteristicConfiguration;
        });
    if (configuration == descriptors.end()) {
        say(DC_LOGLEVEL_WARNING, "Characteristic " + target.uuid + " of " + address_ +
                                     " has no client configuration descriptor: its "
                                     "notifications stay as the device keeps them.");
        return DC_STATUS_SUCCESS;
    }
    BTH_LE_GATT_DESCRIPTOR descriptor = *configuration;
    BTH_LE_GATT_DESCRIPTOR_VALUE value{};
    value.DescriptorType = ClientCharacteristicConfiguration;
    if (native.IsNotifiable) {
        value.ClientCharacteristicConfiguration.IsSubscribeToNotification = TRUE;
    } else {
        value.ClientCharacteristicConfiguration.IsSubscribeToIndication = TRUE;
    }
    // The first request that needs the device itself: Windows connects to it here.
    result =
        api_.BluetoothGATTSetDescriptorValue(handle, &descriptor, &value, BLUETOOTH_GATT_FLAG_NONE);
    if (result != S_OK) {
        return failed("Turning on the notifications of " + target.uuid + " of " + address_, result);
    }
    return DC_STATUS_SUCCESS;
}

const GattCharacteristic* Win32GattLink::characteristic(const std::string& uuid) const {
    for (const Service& service : services_) {
        for (const GattCharacteristic& candidate : service.gatt.characteristics) {
            if (candidate.uuid == uuid) {
                return &candidate;
            }
        }
    }
    return nullptr;
}

dc_status_t Win32GattLink::writeCharacteristic(const GattCharacteristic& target,
                                               const unsigned char* data, size_t size,
                                               bool withResponse) {
    std::optional<NativeTarget> native = nativeOf(target);
    if (!native) {
        return DC_STATUS_IO;
    }
    // The value's bytes follow its size inline.
    std::vector<unsigned char> buffer(
        std::max(sizeof(BTH_LE_GATT_CHARACTERISTIC_VALUE), kValueDataOffset + size));
    auto* value = reinterpret_cast<BTH_LE_GATT_CHARACTERISTIC_VALUE*>(buffer.data());
    value->DataSize = static_cast<ULONG>(size);
    if (size > 0) {
        std::memcpy(buffer.data() + kValueDataOffset, data, size);
    }
    const HRESULT result = api_.BluetoothGATTSetCharacteristicValue(
        native->service, &native->characteristic, value, 0,
        withResponse ? BLUETOOTH_GATT_FLAG_NONE : BLUETOOTH_GATT_FLAG_WRITE_WITHOUT_RESPONSE);
    return result == S_OK ? DC_STATUS_SUCCESS
                          : failed("Writing " + std::to_string(size) + " bytes to " + target.uuid +
                                       " of " + address_,
                                   result);
}

dc_status_t Win32GattLink::readCharacteristic(const GattCharacteristic& target, unsigned char* data,
                                              size_t size) {
    std::optional<NativeTarget> native = nativeOf(target);
    if (!native) {
        return DC_STATUS_IO;
    }
    std::vector<unsigned char> buffer(kValueDataOffset + kMaxValueSize);
    auto* value = reinterpret_cast<BTH_LE_GATT_CHARACTERISTIC_VALUE*>(buffer.data());
    USHORT required = 0;
    // From the device, not from what Windows cached at pairing.
    const HRESULT result = api_.BluetoothGATTGetCharacteristicValue(
        native->service, &native->characteristic, static_cast<ULONG>(buffer.size()), value,
        &required, BLUETOOTH_GATT_FLAG_FORCE_READ_FROM_DEVICE);
    if (result != S_OK) {
        return failed("Reading " + target.uuid + " of " + address_, result);
    }
    const size_t held = std::min<size_t>(value->DataSize, kMaxValueSize);
    if (held < size) {
        say(DC_LOGLEVEL_ERROR, "Characteristic " + target.uuid + " of " + address_ + " holds " +
                                   std::to_string(held) + " bytes, not " + std::to_string(size) +
                                   ".");
        return DC_STATUS_IO;
    }
    std::memcpy(data, buffer.data() + kValueDataOffset, size);
    return DC_STATUS_SUCCESS;
}

void Win32GattLink::watchConnection() {
    const std::optional<ULONG> status =
        devices_.uint32Property(*device_, kDevpkeyDeviceDevNodeStatus);
    if (!status) {
        return;
    }
    if ((*status & kDnDeviceDisconnected) == 0) {
        seenConnected_ = true;
    } else if (seenConnected_) {
        context_.inbox.lose("Windows reports the device disconnected.");
    }
}

dc_status_t Win32GattLink::pumpEvents() {
    // The notifications come on Windows' thread; what is left is to notice a disconnection,
    // which this API does not report.
    const Clock::time_point now = Clock::now();
    if (now >= nextStatusCheck_) {
        nextStatusCheck_ = now + kCancelSlice;
        watchConnection();
    }
    return DC_STATUS_SUCCESS;
}

dc_status_t Win32GattLink::waitForEvents(std::optional<Clock::time_point> deadline) {
    context_.inbox.waitForNews(deadline);
    return DC_STATUS_SUCCESS;
}

dc_status_t openPlatformGattLink(const std::string& address, const GattLinkContext& context,
                                 std::unique_ptr<GattLink>& link) {
    link.reset();
    const Win32BluetoothApi* api = systemBluetoothApi();
    if (api == nullptr) {
        if (context.log) {
            context.log(DC_LOGLEVEL_ERROR, kNoBluetoothLeApi);
        }
        return DC_STATUS_UNSUPPORTED;
    }
    return Win32GattLink::open(*api, address, context, link);
}

}  // namespace diveconnector
