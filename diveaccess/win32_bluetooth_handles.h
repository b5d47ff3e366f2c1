// Owners of what the Win32BluetoothApi table hands out, each released through the same table:
//
//     DeviceInfoSet set(api, api.SetupDiGetClassDevsW(&interfaceClass, nullptr, nullptr, flags));
//     if (!set) { ... GetLastError() ... }
//     BluetoothHandle service(api, api.CreateFileW(path, ...));
//     BLUETOOTH_GATT_EVENT_HANDLE raw = nullptr;
//     if (api.BluetoothGATTRegisterEvent(service.get(), ..., &raw, 0) == S_OK) {
//         GattEventRegistration event(api, raw);   // unregistered when it goes
//     }
//
// Move-only; each releases its resource once, when it goes or is assigned another. An event goes
// before the service handle it was registered on: declare it after the handle.
#pragma once

#include <utility>

#include "win32_bluetooth_api.h"

namespace diveconnector {

// Traits: the handle type, whether a value is one to release, and how.
template <typename Traits>
class Win32ApiOwner {
  public:
    using Handle = typename Traits::Handle;

    Win32ApiOwner() noexcept = default;
    Win32ApiOwner(const Win32BluetoothApi& api, Handle handle) noexcept
        : api_(&api), handle_(handle) {}
    ~Win32ApiOwner() { release(); }
    Win32ApiOwner(Win32ApiOwner&& other) noexcept
        : api_(other.api_), handle_(std::exchange(other.handle_, Traits::none())) {}
    Win32ApiOwner& operator=(Win32ApiOwner&& other) noexcept {
        if (this != &other) {
            release();
            api_ = other.api_;
            handle_ = std::exchange(other.handle_, Traits::none());
        }
        return *this;
    }
    Win32ApiOwner(const Win32ApiOwner&) = delete;
    Win32ApiOwner& operator=(const Win32ApiOwner&) = delete;

    [[nodiscard]] Handle get() const noexcept { return handle_; }
    [[nodiscard]] explicit operator bool() const noexcept { return Traits::owned(handle_); }

  private:
    void release() noexcept {
        if (Traits::owned(handle_)) {
            Traits::release(*api_, handle_);
        }
        handle_ = Traits::none();
    }

    const Win32BluetoothApi* api_ = nullptr;
    Handle handle_ = Traits::none();
};

struct DeviceInfoSetTraits {
    using Handle = HDEVINFO;
    static Handle none() noexcept { return INVALID_HANDLE_VALUE; }
    static bool owned(Handle set) noexcept { return set != nullptr && set != INVALID_HANDLE_VALUE; }
    static void release(const Win32BluetoothApi& api, Handle set) noexcept {
        api.SetupDiDestroyDeviceInfoList(set);
    }
};

struct BluetoothHandleTraits {
    using Handle = HANDLE;
    static Handle none() noexcept { return INVALID_HANDLE_VALUE; }
    static bool owned(Handle handle) noexcept {
        return handle != nullptr && handle != INVALID_HANDLE_VALUE;
    }
    static void release(const Win32BluetoothApi& api, Handle handle) noexcept {
        api.CloseHandle(handle);
    }
};

struct GattEventTraits {
    using Handle = BLUETOOTH_GATT_EVENT_HANDLE;
    static Handle none() noexcept { return nullptr; }
    static bool owned(Handle event) noexcept { return event != nullptr; }
    static void release(const Win32BluetoothApi& api, Handle event) noexcept {
        api.BluetoothGATTUnregisterEvent(event, BLUETOOTH_GATT_FLAG_NONE);
    }
};

// A SetupDi list of device interfaces (HDEVINFO).
using DeviceInfoSet = Win32ApiOwner<DeviceInfoSetTraits>;
// A device or service interface opened with CreateFileW.
using BluetoothHandle = Win32ApiOwner<BluetoothHandleTraits>;
// A RegisterEvent registration: unregistered when it goes.
using GattEventRegistration = Win32ApiOwner<GattEventTraits>;

}  // namespace diveconnector
