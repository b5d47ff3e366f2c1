#include "win32_device_interfaces.h"

#include <cwctype>

namespace diveconnector {

namespace {

constexpr size_t kAddressDigits = 12;

// The 12 hex digits at `text`[from], in upper case; empty when they are not there.
std::string addressDigitsAt(const std::wstring& text, size_t from) {
    if (from > text.size() || text.size() - from < kAddressDigits) {
        return {};
    }
    std::string digits;
    for (size_t i = from; i < from + kAddressDigits; ++i) {
        if (!std::iswxdigit(text[i]) || text[i] > 0x7F) {
            return {};
        }
        digits += static_cast<char>(std::towupper(text[i]));
    }
    return digits;
}

std::wstring upperCase(std::wstring text) {
    for (wchar_t& c : text) {
        c = static_cast<wchar_t>(std::towupper(c));
    }
    return text;
}

}  // namespace

DWORD DeviceInterfaces::list(const Win32BluetoothApi& api, const GUID& interfaceClass,
                             DeviceInterfaces& interfaces) {
    interfaces = DeviceInterfaces();
    DeviceInfoSet set(api, api.SetupDiGetClassDevsW(&interfaceClass, nullptr, nullptr,
                                                    DIGCF_PRESENT | DIGCF_DEVICEINTERFACE));
    if (!set) {
        return GetLastError();
    }
    std::vector<DeviceInterface> entries;
    for (DWORD index = 0;; ++index) {
        SP_DEVICE_INTERFACE_DATA data{};
        data.cbSize = sizeof data;
        if (!api.SetupDiEnumDeviceInterfaces(set.get(), nullptr, &interfaceClass, index, &data)) {
            const DWORD error = GetLastError();
            if (error == ERROR_NO_MORE_ITEMS) {
                break;
            }
            return error;
        }
        DWORD required = 0;
        if (api.SetupDiGetDeviceInterfaceDetailW(set.get(), &data, nullptr, 0, &required,
                                                 nullptr) ||
            GetLastError() != ERROR_INSUFFICIENT_BUFFER ||
            required <= offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_W, DevicePath)) {
            continue;
        }
        // DWORD-aligned, as the detail begins with its cbSize.
        std::vector<DWORD> buffer((required + sizeof(DWORD) - 1) / sizeof(DWORD));
        auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(buffer.data());
        // The fixed part's size, not the buffer's.
        detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
        SP_DEVINFO_DATA devnode{};
        devnode.cbSize = sizeof devnode;
        if (!api.SetupDiGetDeviceInterfaceDetailW(set.get(), &data, detail, required, nullptr,
                                                  &devnode)) {
            continue;
        }
        const size_t room =
            (required - offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_W, DevicePath)) / sizeof(WCHAR);
        entries.push_back(
            {std::wstring(detail->DevicePath, wcsnlen(detail->DevicePath, room)), devnode});
    }
    interfaces.api_ = &api;
    interfaces.set_ = std::move(set);
    interfaces.entries_ = std::move(entries);
    return ERROR_SUCCESS;
}

std::wstring DeviceInterfaces::instanceId(const DeviceInterface& entry) const {
    SP_DEVINFO_DATA devnode = entry.devnode;
    DWORD required = 0;
    if (api_->SetupDiGetDeviceInstanceIdW(set_.get(), &devnode, nullptr, 0, &required) ||
        GetLastError() != ERROR_INSUFFICIENT_BUFFER || required == 0) {
        return {};
    }
    std::wstring id(required, L'\0');
    if (!api_->SetupDiGetDeviceInstanceIdW(set_.get(), &devnode, id.data(), required, nullptr)) {
        return {};
    }
    id.resize(wcsnlen(id.c_str(), id.size()));
    return id;
}

std::optional<std::wstring> DeviceInterfaces::stringProperty(const DeviceInterface& entry,
                                                             const DEVPROPKEY& key) const {
    SP_DEVINFO_DATA devnode = entry.devnode;
    DEVPROPTYPE type = 0;
    DWORD required = 0;
    if (api_->SetupDiGetDevicePropertyW(set_.get(), &devnode, &key, &type, nullptr, 0, &required,
                                        0) ||
        GetLastError() != ERROR_INSUFFICIENT_BUFFER || type != DEVPROP_TYPE_STRING ||
        required < sizeof(WCHAR)) {
        return std::nullopt;
    }
    std::wstring text(required / sizeof(WCHAR), L'\0');
    if (!api_->SetupDiGetDevicePropertyW(
            set_.get(), &devnode, &key, &type, reinterpret_cast<PBYTE>(text.data()),
            static_cast<DWORD>(text.size() * sizeof(WCHAR)), nullptr, 0) ||
        type != DEVPROP_TYPE_STRING) {
        return std::nullopt;
    }
    text.resize(wcsnlen(text.c_str(), text.size()));
    return text;
}

std::optional<ULONG> DeviceInterfaces::uint32Property(const DeviceInterface& entry,
                                                      const DEVPROPKEY& key) const {
    SP_DEVINFO_DATA devnode = entry.devnode;
    DEVPROPTYPE type = 0;
    ULONG value = 0;
    if (!api_->SetupDiGetDevicePropertyW(set_.get(), &devnode, &key, &type,
                                         reinterpret_cast<PBYTE>(&value), sizeof value, nullptr,
                                         0) ||
        type != DEVPROP_TYPE_UINT32) {
        return std::nullopt;
    }
    return value;
}

std::string DeviceInterfaces::bleAddress(const DeviceInterface& entry) const {
    if (const auto property = stringProperty(entry, kDevpkeyBluetoothDeviceAddress)) {
        const std::string digits = addressDigitsAt(*property, 0);
        if (!digits.empty() && property->size() == kAddressDigits) {
            return digits;
        }
    }
    // BTHLE\DEV_BC6A29AB5FB0\8&31038925&0&BC6A29AB5FB0
    const std::wstring id = upperCase(instanceId(entry));
    constexpr wchar_t kPrefix[] = L"BTHLE\\DEV_";
    if (id.compare(0, std::size(kPrefix) - 1, kPrefix) != 0) {
        return {};
    }
    return addressDigitsAt(id, std::size(kPrefix) - 1);
}

std::string utf8FromWide(const std::wstring& text) {
    if (text.empty()) {
        return {};
    }
    const int length =
        WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, text.data(),
                            static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    if (length <= 0) {
        return {};
    }
    std::string narrow(static_cast<size_t>(length), '\0');
    WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, text.data(), static_cast<int>(text.size()),
                        narrow.data(), length, nullptr, nullptr);
    return narrow;
}

}  // namespace diveconnector
