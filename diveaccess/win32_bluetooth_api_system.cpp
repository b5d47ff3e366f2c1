// Alone in its file: a test program that defines systemBluetoothApi itself keeps this object out
// of its link.
#include <optional>

#include "win32_bluetooth_api.h"

namespace diveconnector {

namespace {

// FARPROC to the function's own type; through void (*)(), which warns of no mismatch.
template <typename Function>
bool resolve(HMODULE dll, const char* name, Function& function) {
    const FARPROC address = GetProcAddress(dll, name);
    function = reinterpret_cast<Function>(reinterpret_cast<void (*)()>(address));
    return address != nullptr;
}

std::optional<Win32BluetoothApi> loadSystemApi() {
    // Only from the system folder: a BluetoothApis.dll beside the program or in the working
    // folder is never taken. Never freed: the table points into it for the rest of the process.
    const HMODULE dll = LoadLibraryExW(L"BluetoothApis.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (dll == nullptr) {
        return std::nullopt;
    }
    Win32BluetoothApi api{};
    const bool complete =
        resolve(dll, "BluetoothGATTGetServices", api.BluetoothGATTGetServices) &&
        resolve(dll, "BluetoothGATTGetCharacteristics", api.BluetoothGATTGetCharacteristics) &&
        resolve(dll, "BluetoothGATTGetDescriptors", api.BluetoothGATTGetDescriptors) &&
        resolve(dll, "BluetoothGATTGetCharacteristicValue",
                api.BluetoothGATTGetCharacteristicValue) &&
        resolve(dll, "BluetoothGATTSetCharacteristicValue",
                api.BluetoothGATTSetCharacteristicValue) &&
        resolve(dll, "BluetoothGATTSetDescriptorValue", api.BluetoothGATTSetDescriptorValue) &&
        resolve(dll, "BluetoothGATTRegisterEvent", api.BluetoothGATTRegisterEvent) &&
        resolve(dll, "BluetoothGATTUnregisterEvent", api.BluetoothGATTUnregisterEvent);
    if (!complete) {
        return std::nullopt;
    }
    // setupapi.dll and kernel32.dll are on every Windows: imported as usual.
    api.SetupDiGetClassDevsW = ::SetupDiGetClassDevsW;
    api.SetupDiEnumDeviceInterfaces = ::SetupDiEnumDeviceInterfaces;
    api.SetupDiGetDeviceInterfaceDetailW = ::SetupDiGetDeviceInterfaceDetailW;
    api.SetupDiGetDeviceInstanceIdW = ::SetupDiGetDeviceInstanceIdW;
    api.SetupDiGetDevicePropertyW = ::SetupDiGetDevicePropertyW;
    api.SetupDiDestroyDeviceInfoList = ::SetupDiDestroyDeviceInfoList;
    api.CreateFileW = ::CreateFileW;
    api.CloseHandle = ::CloseHandle;
    return api;
}

}  // namespace

const Win32BluetoothApi* systemBluetoothApi() {
    static const std::optional<Win32BluetoothApi> api = loadSystemApi();
    return api ? &*api : nullptr;
}

}  // namespace diveconnector
