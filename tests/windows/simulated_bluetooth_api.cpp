#include "simulated_bluetooth_api.h"

#include <setupapi.h>
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <cwctype>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <thread>

namespace diveconnector {

namespace {

using Clock = std::chrono::steady_clock;

constexpr HRESULT kMoreData = hresultFromWin32(ERROR_MORE_DATA);
constexpr HRESULT kNotFound = hresultFromWin32(ERROR_NOT_FOUND);
constexpr HRESULT kInvalidArgument = hresultFromWin32(ERROR_INVALID_PARAMETER);
constexpr HRESULT kAccessDenied = hresultFromWin32(ERROR_ACCESS_DENIED);
constexpr HRESULT kBufferTooSmall = hresultFromWin32(ERROR_INVALID_USER_BUFFER);
constexpr HRESULT kBadHandle = hresultFromWin32(ERROR_INVALID_HANDLE);
constexpr HRESULT kNotReadable = hresultFromWin32(ERROR_PRIVILEGE_NOT_HELD);
constexpr HRESULT kTimedOut = hresultFromWin32(ERROR_SEM_TIMEOUT);
constexpr HRESULT kNotConnected = hresultFromWin32(ERROR_DEVICE_NOT_CONNECTED);
constexpr HRESULT kNoReliableWrite = hresultFromWin32(ERROR_INVALID_FUNCTION);
constexpr HRESULT kWriteNotPermitted = static_cast<HRESULT>(0x80650003u);
constexpr HRESULT kInvalidValueLength = static_cast<HRESULT>(0x8065000Du);

// ATT_MTU 247 negotiated: the largest value one write carries.
constexpr size_t kLargestWrite = 244;
// DN_DRIVER_LOADED | DN_STARTED | DN_NT_ENUMERATOR | DN_NT_DRIVER, as a working devnode shows.
constexpr ULONG kDevnodeWorking = 0x0180200A;

constexpr GUID kBluetoothClass = {
    0xE0CBF06C, 0xCD8B, 0x4647, {0xBB, 0x8A, 0x26, 0x3B, 0x43, 0xF0, 0xF9, 0x74}};

constexpr char kTerminalIo[] = "0000fefb-0000-1000-8000-00805f9b34fb";
constexpr char kSigBase[] = "-0000-1000-8000-00805f9b34fb";

bool sameKey(const DEVPROPKEY& a, const DEVPROPKEY& b) {
    return a.pid == b.pid && IsEqualGUID(a.fmtid, b.fmtid);
}

int hexDigit(char c) {
    return c >= '0' && c <= '9'   ? c - '0'
           : c >= 'a' && c <= 'f' ? c - 'a' + 10
           : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                  : 0;
}

// "6e400001-b5a3-f393-e0a9-e50e24dcca9e" as the GUID Windows holds it.
GUID guidOf(const std::string& text) {
    std::string digits;
    std::copy_if(text.begin(), text.end(), std::back_inserter(digits),
                 [](char c) { return c != '-'; });
    const auto byte = [&digits](size_t i) {
        return static_cast<unsigned char>(hexDigit(digits[2 * i]) << 4 |
                                          hexDigit(digits[2 * i + 1]));
    };
    GUID guid{};
    guid.Data1 = static_cast<unsigned long>(byte(0)) << 24 | byte(1) << 16 | byte(2) << 8 | byte(3);
    guid.Data2 = static_cast<unsigned short>(byte(4) << 8 | byte(5));
    guid.Data3 = static_cast<unsigned short>(byte(6) << 8 | byte(7));
    for (size_t i = 0; i < 8; ++i) {
        guid.Data4[i] = byte(8 + i);
    }
    return guid;
}

// A 16-bit UUID of the Bluetooth base as Windows reports it (short), any other in full.
BTH_LE_UUID uuidOf(const std::string& text) {
    BTH_LE_UUID uuid{};
    if (text.size() == 36 && text.compare(0, 4, "0000") == 0 &&
        text.compare(8, 28, kSigBase) == 0) {
        uuid.IsShortUuid = TRUE;
        uuid.Value.ShortUuid = static_cast<USHORT>(guidOf(text).Data1);
    } else {
        uuid.Value.LongUuid = guidOf(text);
    }
    return uuid;
}

BTH_LE_UUID shortUuid(USHORT value) {
    BTH_LE_UUID uuid{};
    uuid.IsShortUuid = TRUE;
    uuid.Value.ShortUuid = value;
    return uuid;
}

std::wstring widened(const std::string& text) {
    return std::wstring(text.begin(), text.end());
}

std::wstring lowered(std::wstring text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](wchar_t c) { return static_cast<wchar_t>(std::towlower(c)); });
    return text;
}

std::string upper(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](char c) { return static_cast<char>(std::toupper(c)); });
    return text;
}

// The device path of an interface: its instance ID with '#' for '\', in lower case, after
// "\\?\" and before the interface class.
std::wstring devicePath(const std::wstring& instance, const char* interfaceClass) {
    std::wstring path = instance;
    std::replace(path.begin(), path.end(), L'\\', L'#');
    return L"\\\\?\\" + lowered(path) + L"#{" + widened(interfaceClass) + L"}";
}

enum class Role { kNone, kData, kNotify, kCreditsRx, kCreditsTx };

struct Characteristic {
    BTH_LE_GATT_CHARACTERISTIC gatt{};  // as GetCharacteristics hands it over
    USHORT descriptor = 0;              // its client configuration descriptor; 0: none
    Role role = Role::kNone;
    std::vector<unsigned char> value;  // of a readable one
};

struct Service {
    BTH_LE_GATT_SERVICE gatt{};
    std::string uuid;  // lower case, 128-bit
    std::vector<Characteristic> characteristics;
    std::wstring instance;
    std::wstring path;
};

Characteristic characteristic(USHORT service, USHORT declaration, const std::string& uuid,
                              bool write, bool writeWithoutResponse, bool notify, bool indicate,
                              Role role) {
    Characteristic c;
    c.gatt.ServiceHandle = service;
    c.gatt.CharacteristicUuid = uuidOf(uuid);
    c.gatt.AttributeHandle = declaration;
    c.gatt.CharacteristicValueHandle = static_cast<USHORT>(declaration + 1);
    c.gatt.IsWritable = write;
    c.gatt.IsWritableWithoutResponse = writeWithoutResponse;
    c.gatt.IsNotifiable = notify;
    c.gatt.IsIndicatable = indicate;
    c.descriptor = notify || indicate ? static_cast<USHORT>(declaration + 2) : 0;
    c.role = role;
    return c;
}

// A reply or a credit grant on its way to the client.
struct Packet {
    USHORT valueHandle;
    std::vector<unsigned char> bytes;
    Clock::time_point due;
};

// The mock BlueZ's script peripheral.
class ScriptPeripheral final : public SimulatedPeripheral {
  public:
    std::optional<Packets> answer(const unsigned char* data, size_t size) override {
        if (size == 1 && data[0] == 'X') {
            return std::nullopt;
        }
        if (size != 4 || data[0] != 'S') {
            return Packets{std::vector<unsigned char>(data, data + size)};
        }
        Packets packets(data[1] | data[2] << 8, std::vector<unsigned char>(data[3]));
        for (unsigned int k = 0; k < packets.size(); ++k) {
            for (unsigned int j = 0; j < packets[k].size(); ++j) {
                packets[k][j] = static_cast<unsigned char>((k * 7 + j) & 0xFF);
            }
        }
        return packets;
    }
};

struct Computer {
    SimulatedComputer spec;
    std::string hex;  // the address as 12 upper-case hex digits
    std::vector<Service> services;
    std::wstring instance;
    std::wstring path;
    // The connection, while a file of the computer is open.
    int openFiles = 0;
    bool connected = false;
    bool dropped = false;  // disconnected during the connection
    std::unique_ptr<SimulatedPeripheral> peripheral;
    std::map<USHORT, bool> subscribed;  // by value handle
    std::deque<Packet> replies;
    std::deque<Packet> grants;  // Terminal I/O: the computer's credits for the client
    // Callbacks of unregistered events still to come (callbackAfterUnregister).
    std::deque<std::pair<PFNBLUETOOTH_GATT_EVENT_CALLBACK, PVOID>> late;
    Clock::time_point lastDue{};
    unsigned int clientCredits = 0;  // granted by the client for the replies
    unsigned int hostCredits = 0;    // granted to the client, not spent yet
    int sent = 0;
    SimulatedComputerCounts counts;
    std::thread sender;
};

struct File {
    Computer* computer;
    int service;  // index into computer->services; -1: the device itself
};

struct Interface {
    Computer* computer;
    int service;
    GUID interfaceClass;
    DWORD devInst;
};

struct Registration {
    Computer* computer;
    HANDLE file;
    std::vector<USHORT> valueHandles;
    PFNBLUETOOTH_GATT_EVENT_CALLBACK callback;
    PVOID context;
    bool delivering = false;
    std::thread::id deliverer;
};

}  // namespace

struct SimulatedBluetooth::Simulation {
    Win32BluetoothApi table{};
    mutable std::mutex mutex;
    std::condition_variable changed;
    bool stopping = false;
    std::vector<std::unique_ptr<Computer>> computers;
    std::uintptr_t nextHandle = 0x5100;
    std::map<HANDLE, File> files;
    std::map<HDEVINFO, std::vector<Interface>> sets;
    std::map<HANDLE, Registration> registrations;
    std::map<std::string, unsigned int> calls;

    HANDLE newHandle() {
        nextHandle += 4;
        return reinterpret_cast<HANDLE>(nextHandle);
    }

    void count(const char* function) { ++calls[function]; }

    // The open file of a handle; null for any other, INVALID_HANDLE_VALUE and null included.
    File* fileOf(HANDLE handle) {
        const auto found = files.find(handle);
        return found == files.end() ? nullptr : &found->second;
    }

    Service* serviceOf(const File& file) {
        return file.service < 0 ? nullptr : &file.computer->services[file.service];
    }

    // The characteristic a caller hands back, found by its handles in the computer's cache.
    static Characteristic* find(Computer& computer, const BTH_LE_GATT_CHARACTERISTIC* given,
                                Service* within) {
        if (given == nullptr) {
            return nullptr;
        }
        for (Service& service : computer.services) {
            if (within != nullptr && &service != within) {
                continue;
            }
            for (Characteristic& c : service.characteristics) {
                if (c.gatt.AttributeHandle == given->AttributeHandle &&
                    c.gatt.CharacteristicValueHandle == given->CharacteristicValueHandle &&
                    c.gatt.ServiceHandle == given->ServiceHandle) {
                    return &c;
                }
            }
        }
        return nullptr;
    }

    static Characteristic* withRole(Computer& computer, Role role) {
        for (Service& service : computer.services) {
            for (Characteristic& c : service.characteristics) {
                if (c.role == role) {
                    return &c;
                }
            }
        }
        return nullptr;
    }

    void connect(Computer& computer) {
        computer.connected = computer.spec.reachable;
        computer.dropped = false;
        computer.subscribed.clear();
        computer.replies.clear();
        computer.grants.clear();
        computer.clientCredits = computer.hostCredits = 0;
        computer.peripheral = computer.spec.peripheral ? computer.spec.peripheral()
                                                       : std::make_unique<ScriptPeripheral>();
    }

    void disconnect(Computer& computer) {
        computer.connected = false;
        computer.dropped = true;
        computer.replies.clear();
        computer.grants.clear();
        changed.notify_all();
    }

    // Queues the notifications of the computer's answer to a data write.
    void answer(Computer& computer, const unsigned char* data, size_t size) {
        std::optional<SimulatedPeripheral::Packets> packets =
            computer.peripheral->answer(data, size);
        if (!packets) {
            disconnect(computer);
            return;
        }
        const Characteristic* notifier = withRole(computer, Role::kNotify);
        const USHORT notify = (notifier != nullptr ? notifier : withRole(computer, Role::kData))
                                  ->gatt.CharacteristicValueHandle;
        for (std::vector<unsigned char>& packet : *packets) {
            computer.lastDue = std::max(Clock::now(), computer.lastDue + computer.spec.gap);
            computer.replies.push_back(Packet{notify, std::move(packet), computer.lastDue});
        }
        changed.notify_all();
    }

    void grantToClient(Computer& computer, unsigned int credits, Clock::time_point due) {
        const USHORT creditsTx =
            withRole(computer, Role::kCreditsTx)->gatt.CharacteristicValueHandle;
        computer.grants.push_back(
            Packet{creditsTx, {static_cast<unsigned char>(std::min(credits, 255u))}, due});
        changed.notify_all();
    }

    // The packet to send next, if one is due: grants first, replies while the client's credits
    // last.
    std::optional<Clock::time_point> nextDue(const Computer& computer) const {
        std::optional<Clock::time_point> due;
        if (!computer.grants.empty()) {
            due = computer.grants.front().due;
        }
        if (!computer.replies.empty() &&
            (!computer.spec.terminalIo || computer.clientCredits > 0)) {
            due = due ? std::min(*due, computer.replies.front().due) : computer.replies.front().due;
        }
        return due;
    }

    // The computer's radio: sends its packets to the registered callbacks, on its own thread.
    void send(Computer& computer) {
        std::unique_lock<std::mutex> lock(mutex);
        while (!stopping) {
            if (!computer.late.empty() && registered(computer)) {
                deliverLate(lock, computer);
                continue;
            }
            const std::optional<Clock::time_point> due = nextDue(computer);
            if (!due) {
                changed.wait(lock);
                continue;
            }
            if (*due > Clock::now()) {
                changed.wait_until(lock, *due);
                continue;
            }
            const bool grant = !computer.grants.empty() && computer.grants.front().due == *due;
            std::deque<Packet>& queue = grant ? computer.grants : computer.replies;
            Packet packet = std::move(queue.front());
            queue.pop_front();
            if (grant) {
                computer.hostCredits += packet.bytes[0];
            } else {
                if (computer.spec.disconnectAfter >= 0 &&
                    computer.sent >= computer.spec.disconnectAfter) {
                    disconnect(computer);
                    continue;
                }
                ++computer.sent;
                if (computer.spec.terminalIo) {
                    --computer.clientCredits;
                }
            }
            deliver(lock, computer, packet, !grant);
        }
    }

    void deliver(std::unique_lock<std::mutex>& lock, Computer& computer, const Packet& packet,
                 bool data) {
        std::vector<HANDLE> targets;
        for (auto& [handle, registration] : registrations) {
            if (registration.computer == &computer && registration.file != nullptr &&
                computer.subscribed[packet.valueHandle] &&
                std::count(registration.valueHandles.begin(), registration.valueHandles.end(),
                           packet.valueHandle) != 0) {
                targets.push_back(handle);
            }
        }
        if (targets.empty()) {
            computer.counts.lostNotifications += data;
            return;
        }
        // The value lives for the callback only, as Windows documents nothing longer.
        const size_t header = offsetof(BTH_LE_GATT_CHARACTERISTIC_VALUE, Data);
        std::vector<ULONG> storage((header + packet.bytes.size()) / sizeof(ULONG) + 1);
        auto* value = reinterpret_cast<BTH_LE_GATT_CHARACTERISTIC_VALUE*>(storage.data());
        value->DataSize = static_cast<ULONG>(packet.bytes.size());
        std::memcpy(value->Data, packet.bytes.data(), packet.bytes.size());
        BLUETOOTH_GATT_VALUE_CHANGED_EVENT event{};
        event.ChangedAttributeHandle = packet.valueHandle;
        // The size of the whole value, header included: the payload's is value->DataSize.
        event.CharacteristicValueDataSize = header + packet.bytes.size();
        event.CharacteristicValue = value;
        for (HANDLE handle : targets) {
            const auto found = registrations.find(handle);
            if (found == registrations.end()) {
                continue;
            }
            Registration& registration = found->second;
            registration.delivering = true;
            registration.deliverer = std::this_thread::get_id();
            const PFNBLUETOOTH_GATT_EVENT_CALLBACK callback = registration.callback;
            const PVOID context = registration.context;
            lock.unlock();
            callback(CharacteristicValueChangedEvent, &event, context);
            lock.lock();
            registration.delivering = false;
            computer.counts.notifications += data;
            changed.notify_all();
        }
    }

    bool registered(const Computer& computer) const {
        return std::any_of(registrations.begin(), registrations.end(),
                           [&computer](const auto& r) { return r.second.computer == &computer; });
    }

    // One callback of an event already unregistered, with a value of one byte: it comes once
    // the next connection has its events registered, when it could do the most harm.
    void deliverLate(std::unique_lock<std::mutex>& lock, Computer& computer) {
        const auto [callback, context] = computer.late.front();
        computer.late.pop_front();
        BTH_LE_GATT_CHARACTERISTIC_VALUE value{1, {0xEE}};
        BLUETOOTH_GATT_VALUE_CHANGED_EVENT event{};
        event.CharacteristicValueDataSize = sizeof value;
        event.CharacteristicValue = &value;
        lock.unlock();
        callback(CharacteristicValueChangedEvent, &event, context);
        lock.lock();
        ++computer.counts.lateCallbacks;
    }

    // A GATT write or descriptor write reaching the air: blocks for an unreachable computer.
    HRESULT airtime(std::unique_lock<std::mutex>& lock, const Computer& computer) {
        if (!computer.spec.reachable) {
            lock.unlock();
            std::this_thread::sleep_for(SimulatedBluetooth::kUnreachableCall);
            lock.lock();
            return kTimedOut;
        }
        return computer.connected ? S_OK : kNotConnected;
    }

    void write(Computer& computer, Characteristic& c, const BTH_LE_GATT_CHARACTERISTIC_VALUE& value,
               bool withResponse) {
        if (c.role == Role::kCreditsRx) {
            if (value.DataSize == 1) {
                computer.counts.grants.push_back(value.Data[0]);
                computer.clientCredits += value.Data[0];
                changed.notify_all();
            }
            return;
        }
        if (c.role != Role::kData) {
            return;
        }
        ++(withResponse ? computer.counts.writes : computer.counts.writesWithoutResponse);
        if (computer.spec.terminalIo) {
            if (computer.hostCredits == 0) {
                ++computer.counts.overruns;
            } else {
                --computer.hostCredits;
            }
            grantToClient(computer, 1, Clock::now() + computer.spec.hostCreditDelay);
        }
        answer(computer, value.Data, value.DataSize);
    }

    void build(const SimulatedComputer& spec) {
        auto computer = std::make_unique<Computer>();
        computer->spec = spec;
        for (const char c : spec.address) {
            if (c != ':') {
                computer->hex += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
            }
        }
        const std::wstring hex = widened(computer->hex);
        computer->instance = L"BTHLE\\DEV_" + hex + L"\\8&2B5E4A1C&0&" + hex;
        computer->path = devicePath(computer->instance, "781aee18-7733-4ce4-add0-91f41c67b592");

        Service access;
        access.gatt.ServiceUuid = shortUuid(0x1800);
        access.gatt.AttributeHandle = 0x0001;
        access.uuid = "00001800" + std::string(kSigBase);
        access.characteristics.push_back(characteristic(0x0001, 0x0002,
                                                        "00002a00" + std::string(kSigBase), false,
                                                        false, false, false, Role::kNone));
        access.characteristics.back().gatt.IsReadable = TRUE;
        access.characteristics.back().value.assign(spec.name.begin(), spec.name.end());
        computer->services.push_back(access);

        const std::string uuid = spec.terminalIo ? kTerminalIo : spec.service;
        if (!uuid.empty()) {
            Service data;
            data.gatt.ServiceUuid = uuidOf(uuid);
            data.gatt.AttributeHandle = 0x0010;
            data.uuid = uuid;
            auto& list = data.characteristics;
            if (spec.terminalIo) {
                const auto tio = [](char n) {
                    return std::string("0000000") + n + "-0000-1000-8000-008025000000";
                };
                list.push_back(characteristic(0x10, 0x11, tio('1'), spec.writable,
                                              spec.writableWithoutResponse, false, false,
                                              Role::kData));
                list.push_back(
                    characteristic(0x10, 0x13, tio('2'), false, false, true, false, Role::kNotify));
                list.push_back(characteristic(0x10, 0x16, tio('3'), true, false, false, false,
                                              Role::kCreditsRx));
                list.push_back(characteristic(0x10, 0x18, tio('4'), false, false, false, true,
                                              Role::kCreditsTx));
            } else {
                const auto derived = [&uuid](const std::string& given, const char* part) {
                    return !given.empty() ? given : uuid.substr(0, 4) + part + uuid.substr(8);
                };
                const std::string write = derived(spec.writeCharacteristic, "0002");
                const std::string notify = derived(spec.notifyCharacteristic, "0003");
                list.push_back(characteristic(0x10, 0x11, write, spec.writable,
                                              spec.writableWithoutResponse, write == notify, false,
                                              Role::kData));
                if (write != notify) {
                    list.push_back(characteristic(0x10, 0x14, notify, false, false, true, false,
                                                  Role::kNotify));
                }
            }
            USHORT declaration = 0x20;
            for (const auto& [readable, value] : spec.readable) {
                list.push_back(characteristic(0x10, declaration, readable, false, false, false,
                                              false, Role::kNone));
                list.back().gatt.IsReadable = TRUE;
                list.back().value = value;
                declaration = static_cast<USHORT>(declaration + 2);
            }
            computer->services.push_back(data);
        }
        for (Service& service : computer->services) {
            char handle[5];
            std::snprintf(handle, sizeof handle, "%04X", service.gatt.AttributeHandle);
            service.instance = L"BTHLEDEVICE\\{" + widened(upper(service.uuid)) +
                               L"}_DEV_VID&01000A_PID&014C_REV&0100_" + hex + L"\\8&1D3C5B7A&0&" +
                               widened(handle);
            service.path = devicePath(service.instance, "6e3bb679-4372-40c8-9eaa-4509df260cd8");
        }
        computers.push_back(std::move(computer));
    }

    // Every interface of a class: the computers' device interfaces, their services' interfaces,
    // or (as Qt asks) the interfaces of the services with that UUID.
    std::vector<Interface> interfacesOf(const GUID& interfaceClass) const {
        std::vector<Interface> found;
        for (size_t i = 0; i < computers.size(); ++i) {
            Computer& computer = *computers[i];
            const DWORD base = static_cast<DWORD>(100 * (i + 1));
            if (IsEqualGUID(interfaceClass, kGuidBluetoothLeDeviceInterface)) {
                found.push_back(Interface{&computer, -1, interfaceClass, base});
            }
            for (size_t s = 0; s < computer.services.size(); ++s) {
                if (IsEqualGUID(interfaceClass, kGuidBluetoothGattServiceDeviceInterface) ||
                    IsEqualGUID(interfaceClass, guidOf(computer.services[s].uuid))) {
                    found.push_back(Interface{&computer, static_cast<int>(s), interfaceClass,
                                              static_cast<DWORD>(base + s + 1)});
                }
            }
        }
        return found;
    }

    const Interface* interfaceOf(HDEVINFO set, const SP_DEVINFO_DATA* node) {
        const auto found = sets.find(set);
        if (found == sets.end() || node == nullptr || node->cbSize != sizeof(SP_DEVINFO_DATA)) {
            return nullptr;
        }
        for (const Interface& item : found->second) {
            if (item.devInst == node->DevInst) {
                return &item;
            }
        }
        return nullptr;
    }

    static const std::wstring& instanceOf(const Interface& item) {
        return item.service < 0 ? item.computer->instance
                                : item.computer->services[item.service].instance;
    }
    static const std::wstring& pathOf(const Interface& item) {
        return item.service < 0 ? item.computer->path : item.computer->services[item.service].path;
    }
};

namespace {

std::atomic<SimulatedBluetooth::Simulation*> current{nullptr};

using Lock = std::unique_lock<std::mutex>;

// The two-call pattern of the BluetoothGATTGet* calls that list.
template <typename T>
HRESULT list(const std::vector<T>& items, USHORT count, T* buffer, USHORT* actual) {
    *actual = static_cast<USHORT>(items.size());
    if (buffer == nullptr) {
        return items.empty() ? kNotFound : kMoreData;
    }
    if (count == 0) {
        return kInvalidArgument;
    }
    if (count < items.size()) {
        return kBufferTooSmall;
    }
    if (items.empty()) {
        return kNotFound;
    }
    std::copy(items.begin(), items.end(), buffer);
    return S_OK;
}

HRESULT WINAPI getServices(HANDLE handle, USHORT count, BTH_LE_GATT_SERVICE* buffer, USHORT* actual,
                           ULONG) {
    auto& s = *current.load();
    const Lock lock(s.mutex);
    s.count("BluetoothGATTGetServices");
    if (actual == nullptr) {
        return E_POINTER;
    }
    File* file = s.fileOf(handle);
    if (file == nullptr) {
        return E_HANDLE;
    }
    std::vector<BTH_LE_GATT_SERVICE> services;
    for (const Service& service : file->computer->services) {
        if (file->service < 0 || &service == s.serviceOf(*file)) {
            services.push_back(service.gatt);
        }
    }
    return list(services, count, buffer, actual);
}

HRESULT WINAPI getCharacteristics(HANDLE handle, BTH_LE_GATT_SERVICE* parent, USHORT count,
                                  BTH_LE_GATT_CHARACTERISTIC* buffer, USHORT* actual, ULONG) {
    auto& s = *current.load();
    const Lock lock(s.mutex);
    s.count("BluetoothGATTGetCharacteristics");
    if (actual == nullptr) {
        return E_POINTER;
    }
    File* file = s.fileOf(handle);
    if (file == nullptr) {
        return E_HANDLE;
    }
    Service* service = s.serviceOf(*file);
    if (parent != nullptr) {
        Service* named = nullptr;
        for (Service& candidate : file->computer->services) {
            if (candidate.gatt.AttributeHandle == parent->AttributeHandle) {
                named = &candidate;
            }
        }
        if (named == nullptr) {
            return kInvalidArgument;
        }
        if (service != nullptr && named != service) {
            return kAccessDenied;
        }
        service = named;
    }
    if (service == nullptr) {
        return kInvalidArgument;  // a device handle needs the service
    }
    std::vector<BTH_LE_GATT_CHARACTERISTIC> characteristics;
    for (const Characteristic& c : service->characteristics) {
        characteristics.push_back(c.gatt);
    }
    return list(characteristics, count, buffer, actual);
}

HRESULT WINAPI getDescriptors(HANDLE handle, BTH_LE_GATT_CHARACTERISTIC* characteristic,
                              USHORT count, BTH_LE_GATT_DESCRIPTOR* buffer, USHORT* actual, ULONG) {
    auto& s = *current.load();
    const Lock lock(s.mutex);
    s.count("BluetoothGATTGetDescriptors");
    if (actual == nullptr) {
        return E_POINTER;
    }
    File* file = s.fileOf(handle);
    if (file == nullptr) {
        return E_HANDLE;
    }
    const Characteristic* c = s.find(*file->computer, characteristic, s.serviceOf(*file));
    if (c == nullptr) {
        return s.find(*file->computer, characteristic, nullptr) != nullptr ? kAccessDenied
                                                                           : kInvalidArgument;
    }
    std::vector<BTH_LE_GATT_DESCRIPTOR> descriptors;
    if (c->descriptor != 0) {
        BTH_LE_GATT_DESCRIPTOR d{};
        d.ServiceHandle = c->gatt.ServiceHandle;
        d.CharacteristicHandle = c->gatt.AttributeHandle;
        d.DescriptorType = ClientCharacteristicConfiguration;
        d.DescriptorUuid = shortUuid(0x2902);
        d.AttributeHandle = c->descriptor;
        descriptors.push_back(d);
    }
    return list(descriptors, count, buffer, actual);
}

HRESULT WINAPI getCharacteristicValue(HANDLE handle, BTH_LE_GATT_CHARACTERISTIC* characteristic,
                                      ULONG size, BTH_LE_GATT_CHARACTERISTIC_VALUE* value,
                                      USHORT* required, ULONG flags) {
    auto& s = *current.load();
    Lock lock(s.mutex);
    s.count("BluetoothGATTGetCharacteristicValue");
    File* file = s.fileOf(handle);
    if (file == nullptr || file->service < 0) {
        return E_HANDLE;
    }
    if (value == nullptr && required == nullptr) {
        return kInvalidArgument;
    }
    const Characteristic* c = s.find(*file->computer, characteristic, s.serviceOf(*file));
    if (c == nullptr) {
        return kAccessDenied;
    }
    if (!c->gatt.IsReadable) {
        return kNotReadable;
    }
    const size_t needed = offsetof(BTH_LE_GATT_CHARACTERISTIC_VALUE, Data) + c->value.size();
    if (required != nullptr) {
        *required = static_cast<USHORT>(needed);
    }
    if (value == nullptr) {
        return kMoreData;
    }
    if (size < needed) {
        return kBufferTooSmall;
    }
    // From the cache, unless the device is asked.
    if ((flags & BLUETOOTH_GATT_FLAG_FORCE_READ_FROM_DEVICE) != 0) {
        const HRESULT air = s.airtime(lock, *file->computer);
        if (air != S_OK) {
            return air;
        }
    }
    value->DataSize = static_cast<ULONG>(c->value.size());
    std::copy(c->value.begin(), c->value.end(), value->Data);
    return S_OK;
}

HRESULT WINAPI setCharacteristicValue(HANDLE handle, BTH_LE_GATT_CHARACTERISTIC* characteristic,
                                      BTH_LE_GATT_CHARACTERISTIC_VALUE* value,
                                      BTH_LE_GATT_RELIABLE_WRITE_CONTEXT context, ULONG flags) {
    auto& s = *current.load();
    Lock lock(s.mutex);
    s.count("BluetoothGATTSetCharacteristicValue");
    File* file = s.fileOf(handle);
    if (file == nullptr || file->service < 0) {
        return E_HANDLE;  // a service handle, never the device's
    }
    Computer& computer = *file->computer;
    Characteristic* c = s.find(computer, characteristic, s.serviceOf(*file));
    if (c == nullptr || value == nullptr) {
        return kInvalidArgument;
    }
    if (context != 0) {
        return kNoReliableWrite;
    }
    if (value->DataSize == 0 || value->DataSize > kLargestWrite) {
        return kInvalidValueLength;
    }
    const bool withResponse = (flags & BLUETOOTH_GATT_FLAG_WRITE_WITHOUT_RESPONSE) == 0;
    if (withResponse && !c->gatt.IsWritable) {
        return kWriteNotPermitted;
    }
    const HRESULT air = s.airtime(lock, computer);
    if (air != S_OK) {
        return air;
    }
    if (!withResponse && !c->gatt.IsWritableWithoutResponse) {
        ++computer.counts.droppedWrites;
        return S_OK;
    }
    s.write(computer, *c, *value, withResponse);
    return S_OK;
}

HRESULT WINAPI setDescriptorValue(HANDLE handle, BTH_LE_GATT_DESCRIPTOR* descriptor,
                                  BTH_LE_GATT_DESCRIPTOR_VALUE* value, ULONG) {
    auto& s = *current.load();
    Lock lock(s.mutex);
    s.count("BluetoothGATTSetDescriptorValue");
    File* file = s.fileOf(handle);
    if (file == nullptr || file->service < 0) {
        return E_HANDLE;
    }
    if (descriptor == nullptr || value == nullptr ||
        value->DescriptorType != ClientCharacteristicConfiguration) {
        return kInvalidArgument;
    }
    Computer& computer = *file->computer;
    Characteristic* c = nullptr;
    for (Characteristic& candidate : s.serviceOf(*file)->characteristics) {
        if (candidate.descriptor != 0 && candidate.descriptor == descriptor->AttributeHandle) {
            c = &candidate;
        }
    }
    if (c == nullptr) {
        return kAccessDenied;
    }
    const HRESULT air = s.airtime(lock, computer);
    if (air != S_OK) {
        return air;
    }
    const auto& configuration = value->ClientCharacteristicConfiguration;
    const bool on = (configuration.IsSubscribeToNotification && c->gatt.IsNotifiable) ||
                    (configuration.IsSubscribeToIndication && c->gatt.IsIndicatable);
    const bool wasOn = computer.subscribed[c->gatt.CharacteristicValueHandle];
    computer.subscribed[c->gatt.CharacteristicValueHandle] = on;
    if (on && !wasOn && c->role == Role::kCreditsTx) {
        s.grantToClient(computer, computer.spec.hostCredits, Clock::now());
    }
    return S_OK;
}

HRESULT WINAPI registerEvent(HANDLE handle, BTH_LE_GATT_EVENT_TYPE type, PVOID parameter,
                             PFNBLUETOOTH_GATT_EVENT_CALLBACK callback, PVOID context,
                             BLUETOOTH_GATT_EVENT_HANDLE* event, ULONG) {
    auto& s = *current.load();
    const Lock lock(s.mutex);
    s.count("BluetoothGATTRegisterEvent");
    File* file = s.fileOf(handle);
    if (file == nullptr || file->service < 0) {
        return E_HANDLE;  // "must be a service handle"
    }
    if (event == nullptr) {
        return E_POINTER;
    }
    const auto* registration =
        static_cast<const BLUETOOTH_GATT_VALUE_CHANGED_EVENT_REGISTRATION*>(parameter);
    if (type != CharacteristicValueChangedEvent || registration == nullptr || callback == nullptr ||
        registration->NumCharacteristics == 0) {
        return kInvalidArgument;
    }
    Registration made{file->computer, handle, {}, callback, context, false, {}};
    for (USHORT i = 0; i < registration->NumCharacteristics; ++i) {
        const Characteristic* c =
            s.find(*file->computer, &registration->Characteristics[i], s.serviceOf(*file));
        if (c == nullptr || (!c->gatt.IsNotifiable && !c->gatt.IsIndicatable)) {
            return kInvalidArgument;
        }
        made.valueHandles.push_back(c->gatt.CharacteristicValueHandle);
    }
    *event = s.newHandle();
    s.registrations.emplace(*event, made);
    s.changed.notify_all();
    return S_OK;
}

HRESULT WINAPI unregisterEvent(BLUETOOTH_GATT_EVENT_HANDLE event, ULONG) {
    auto& s = *current.load();
    Lock lock(s.mutex);
    s.count("BluetoothGATTUnregisterEvent");
    const auto found = s.registrations.find(event);
    if (found == s.registrations.end()) {
        return kBadHandle;
    }
    // No callback of the registration runs once this returns, unless it is the caller, or the
    // computer sends one more late.
    s.changed.wait(lock, [&found] {
        return !found->second.delivering || found->second.deliverer == std::this_thread::get_id();
    });
    Computer& computer = *found->second.computer;
    if (computer.spec.callbackAfterUnregister) {
        computer.late.emplace_back(found->second.callback, found->second.context);
        s.changed.notify_all();
    }
    s.registrations.erase(found);
    return S_OK;
}

BOOL fail(DWORD error) {
    SetLastError(error);
    return FALSE;
}

HDEVINFO WINAPI getClassDevs(const GUID* interfaceClass, PCWSTR, HWND, DWORD flags) {
    auto& s = *current.load();
    const Lock lock(s.mutex);
    s.count("SetupDiGetClassDevsW");
    if (interfaceClass == nullptr || (flags & DIGCF_DEVICEINTERFACE) == 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    const auto set = static_cast<HDEVINFO>(s.newHandle());
    s.sets.emplace(set, s.interfacesOf(*interfaceClass));
    return set;
}

BOOL WINAPI enumDeviceInterfaces(HDEVINFO set, PSP_DEVINFO_DATA, const GUID* interfaceClass,
                                 DWORD index, PSP_DEVICE_INTERFACE_DATA data) {
    auto& s = *current.load();
    const Lock lock(s.mutex);
    s.count("SetupDiEnumDeviceInterfaces");
    const auto found = s.sets.find(set);
    if (found == s.sets.end()) {
        return fail(ERROR_INVALID_HANDLE);
    }
    if (data == nullptr || data->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA) ||
        interfaceClass == nullptr) {
        return fail(ERROR_INVALID_USER_BUFFER);
    }
    std::vector<const Interface*> matching;
    for (const Interface& item : found->second) {
        if (IsEqualGUID(item.interfaceClass, *interfaceClass)) {
            matching.push_back(&item);
        }
    }
    if (index >= matching.size()) {
        return fail(ERROR_NO_MORE_ITEMS);
    }
    data->InterfaceClassGuid = *interfaceClass;
    data->Flags = SPINT_ACTIVE;
    data->Reserved = matching[index]->devInst;
    return TRUE;
}

BOOL WINAPI getDeviceInterfaceDetail(HDEVINFO set, PSP_DEVICE_INTERFACE_DATA data,
                                     PSP_DEVICE_INTERFACE_DETAIL_DATA_W detail, DWORD size,
                                     PDWORD required, PSP_DEVINFO_DATA node) {
    auto& s = *current.load();
    const Lock lock(s.mutex);
    s.count("SetupDiGetDeviceInterfaceDetailW");
    const auto found = s.sets.find(set);
    if (found == s.sets.end()) {
        return fail(ERROR_INVALID_HANDLE);
    }
    if (data == nullptr || data->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA)) {
        return fail(ERROR_INVALID_USER_BUFFER);
    }
    const auto item =
        std::find_if(found->second.begin(), found->second.end(),
                     [data](const Interface& i) { return i.devInst == data->Reserved; });
    if (item == found->second.end()) {
        return fail(ERROR_INVALID_PARAMETER);
    }
    const std::wstring& path = s.pathOf(*item);
    const DWORD needed =
        static_cast<DWORD>(offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_W, DevicePath) +
                           (path.size() + 1) * sizeof(WCHAR));
    if (required != nullptr) {
        *required = needed;
    }
    if (detail == nullptr ? size != 0
                          : detail->cbSize != sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W)) {
        return fail(ERROR_INVALID_USER_BUFFER);
    }
    if (detail == nullptr || size < needed) {
        return fail(ERROR_INSUFFICIENT_BUFFER);
    }
    if (node != nullptr) {
        if (node->cbSize != sizeof(SP_DEVINFO_DATA)) {
            return fail(ERROR_INVALID_USER_BUFFER);
        }
        node->ClassGuid = kBluetoothClass;
        node->DevInst = item->devInst;
        node->Reserved = item->devInst;
    }
    std::memcpy(detail->DevicePath, path.c_str(), (path.size() + 1) * sizeof(WCHAR));
    return TRUE;
}

// Copies a property of `bytes` bytes, two-call style.
BOOL property(const void* bytes, DWORD length, PBYTE buffer, DWORD size, PDWORD required) {
    if (required != nullptr) {
        *required = length;
    }
    if (buffer == nullptr || size < length) {
        return fail(ERROR_INSUFFICIENT_BUFFER);
    }
    std::memcpy(buffer, bytes, length);
    return TRUE;
}

std::wstring nameOf(const Interface& item) {
    return item.service < 0 ? widened(item.computer->spec.name)
                            : L"Bluetooth LE Generic Attribute Service";
}

BOOL WINAPI getDeviceInstanceId(HDEVINFO set, PSP_DEVINFO_DATA node, PWSTR buffer, DWORD size,
                                PDWORD required) {
    auto& s = *current.load();
    const Lock lock(s.mutex);
    s.count("SetupDiGetDeviceInstanceIdW");
    const Interface* item = s.interfaceOf(set, node);
    if (item == nullptr) {
        return fail(ERROR_INVALID_PARAMETER);
    }
    const std::wstring& instance = s.instanceOf(*item);
    const DWORD length = static_cast<DWORD>(instance.size() + 1);
    if (required != nullptr) {
        *required = length;
    }
    if (buffer == nullptr || size < length) {
        return fail(ERROR_INSUFFICIENT_BUFFER);
    }
    std::memcpy(buffer, instance.c_str(), length * sizeof(WCHAR));
    return TRUE;
}

BOOL WINAPI getDeviceProperty(HDEVINFO set, PSP_DEVINFO_DATA node, const DEVPROPKEY* key,
                              DEVPROPTYPE* type, PBYTE buffer, DWORD size, PDWORD required,
                              DWORD flags) {
    auto& s = *current.load();
    const Lock lock(s.mutex);
    s.count("SetupDiGetDevicePropertyW");
    const Interface* item = s.interfaceOf(set, node);
    if (item == nullptr || key == nullptr || type == nullptr || flags != 0) {
        return fail(ERROR_INVALID_PARAMETER);
    }
    const Computer& computer = *item->computer;
    if (sameKey(*key, kDevpkeyDeviceDevNodeStatus)) {
        *type = DEVPROP_TYPE_UINT32;
        const ULONG status =
            kDevnodeWorking |
            (!computer.spec.reachable || computer.dropped ? kDnDeviceDisconnected : 0);
        return property(&status, sizeof status, buffer, size, required);
    }
    std::wstring text;
    if (sameKey(*key, kDevpkeyDeviceFriendlyName)) {
        text = nameOf(*item);
    } else if (sameKey(*key, kDevpkeyBluetoothDeviceAddress) && item->service < 0) {
        text = widened(computer.hex);
    } else {
        return fail(ERROR_NOT_FOUND);
    }
    *type = DEVPROP_TYPE_STRING;
    return property(text.c_str(), static_cast<DWORD>((text.size() + 1) * sizeof(WCHAR)), buffer,
                    size, required);
}

BOOL WINAPI destroyDeviceInfoList(HDEVINFO set) {
    auto& s = *current.load();
    const Lock lock(s.mutex);
    s.count("SetupDiDestroyDeviceInfoList");
    return s.sets.erase(set) == 1 ? TRUE : fail(ERROR_INVALID_HANDLE);
}

HANDLE WINAPI createFile(LPCWSTR path, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD disposition,
                         DWORD, HANDLE) {
    auto& s = *current.load();
    const Lock lock(s.mutex);
    s.count("CreateFileW");
    if (path == nullptr || disposition != OPEN_EXISTING) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    // Object names are case-insensitive.
    const std::wstring wanted = lowered(path);
    for (const auto& computer : s.computers) {
        for (int service = -1; service < static_cast<int>(computer->services.size()); ++service) {
            const std::wstring& candidate =
                service < 0 ? computer->path : computer->services[service].path;
            if (lowered(candidate) == wanted) {
                if (computer->openFiles++ == 0) {
                    s.connect(*computer);
                }
                const HANDLE handle = s.newHandle();
                s.files.emplace(handle, File{computer.get(), service});
                return handle;
            }
        }
    }
    SetLastError(ERROR_FILE_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
}

BOOL WINAPI closeHandle(HANDLE handle) {
    auto& s = *current.load();
    const Lock lock(s.mutex);
    s.count("CloseHandle");
    const auto found = s.files.find(handle);
    if (found == s.files.end()) {
        return fail(ERROR_INVALID_HANDLE);
    }
    Computer& computer = *found->second.computer;
    // Its registrations hear nothing more; they still count until unregistered.
    for (auto& [event, registration] : s.registrations) {
        if (registration.file == handle) {
            registration.file = nullptr;
        }
    }
    s.files.erase(found);
    if (--computer.openFiles == 0) {
        computer.connected = false;
        computer.replies.clear();
        computer.grants.clear();
        computer.peripheral.reset();
    }
    return TRUE;
}

}  // namespace

SimulatedBluetooth::SimulatedBluetooth(std::vector<SimulatedComputer> computers)
    : simulation_(std::make_unique<Simulation>()) {
    Simulation& s = *simulation_;
    for (const SimulatedComputer& computer : computers) {
        s.build(computer);
    }
    Win32BluetoothApi& t = s.table;
    t.BluetoothGATTGetServices = getServices;
    t.BluetoothGATTGetCharacteristics = getCharacteristics;
    t.BluetoothGATTGetDescriptors = getDescriptors;
    t.BluetoothGATTGetCharacteristicValue = getCharacteristicValue;
    t.BluetoothGATTSetCharacteristicValue = setCharacteristicValue;
    t.BluetoothGATTSetDescriptorValue = setDescriptorValue;
    t.BluetoothGATTRegisterEvent = registerEvent;
    t.BluetoothGATTUnregisterEvent = unregisterEvent;
    t.SetupDiGetClassDevsW = getClassDevs;
    t.SetupDiEnumDeviceInterfaces = enumDeviceInterfaces;
    t.SetupDiGetDeviceInterfaceDetailW = getDeviceInterfaceDetail;
    t.SetupDiGetDeviceInstanceIdW = getDeviceInstanceId;
    t.SetupDiGetDevicePropertyW = getDeviceProperty;
    t.SetupDiDestroyDeviceInfoList = destroyDeviceInfoList;
    t.CreateFileW = createFile;
    t.CloseHandle = closeHandle;
    current = simulation_.get();
    for (auto& computer : s.computers) {
        Computer* c = computer.get();
        computer->sender = std::thread([&s, c] { s.send(*c); });
    }
}

SimulatedBluetooth::~SimulatedBluetooth() {
    Simulation& s = *simulation_;
    {
        const std::lock_guard<std::mutex> lock(s.mutex);
        s.stopping = true;
        s.changed.notify_all();
    }
    for (auto& computer : s.computers) {
        computer->sender.join();
    }
    current = nullptr;
}

int SimulatedBluetooth::live() const {
    const std::lock_guard<std::mutex> lock(simulation_->mutex);
    return static_cast<int>(simulation_->files.size() + simulation_->sets.size() +
                            simulation_->registrations.size());
}

std::string SimulatedBluetooth::liveSummary() const {
    const std::lock_guard<std::mutex> lock(simulation_->mutex);
    return std::to_string(simulation_->files.size()) + " files, " +
           std::to_string(simulation_->sets.size()) + " device information sets, " +
           std::to_string(simulation_->registrations.size()) + " registered events open";
}

unsigned int SimulatedBluetooth::calls(const std::string& function) const {
    const std::lock_guard<std::mutex> lock(simulation_->mutex);
    const auto found = simulation_->calls.find(function);
    return found == simulation_->calls.end() ? 0 : found->second;
}

SimulatedComputerCounts SimulatedBluetooth::counts(const std::string& address) const {
    const std::lock_guard<std::mutex> lock(simulation_->mutex);
    for (const auto& computer : simulation_->computers) {
        if (computer->spec.address == address) {
            SimulatedComputerCounts counts = computer->counts;
            counts.waitingNotifications = static_cast<unsigned int>(computer->replies.size());
            return counts;
        }
    }
    return {};
}

// The test programs' own: the linker takes it instead of the one that loads BluetoothApis.dll.
const Win32BluetoothApi* systemBluetoothApi() {
    SimulatedBluetooth::Simulation* simulation = current.load();
    return simulation != nullptr ? &simulation->table : nullptr;
}

}  // namespace diveconnector
