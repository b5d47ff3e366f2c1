// The Win32 Bluetooth LE GATT API (BluetoothApis.dll, Windows 8 and later) and the device
// functions around it, as one table of functions: the BLE link and the scan on Windows call
// nothing of Bluetooth or of the device but through it, so that a test can stand in for the whole.
//
//     const Win32BluetoothApi* api = systemBluetoothApi();
//     if (api == nullptr) { ... BLE is missing on this Windows ... }
//     const HDEVINFO set = api->SetupDiGetClassDevsW(&kGuidBluetoothLeDeviceInterface, ...);
//
// mingw-w64 has neither bthledef.h nor bluetoothleapis.h: the types below are declared here after
// the Windows SDK's, with the SDK's names, and their layouts are checked against the sizes and
// offsets measured with the SDK's compilers. The functions keep their Win32 names and contracts:
// the SetupDi* functions and CreateFileW report failures through SetLastError, the
// BluetoothGATT* ones return HRESULTs (hresultFromWin32 of the ERROR_* codes their documentation
// names).
//
// What the link and the scan call, and so what a stand-in provides:
// - SetupDiGetClassDevsW(&interfaceClass, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE)
//   for kGuidBluetoothLeDeviceInterface (one interface per paired device) and
//   kGuidBluetoothGattServiceDeviceInterface (one per primary service of each);
//   SetupDiEnumDeviceInterfaces until ERROR_NO_MORE_ITEMS; SetupDiGetDeviceInterfaceDetailW
//   twice, for the size (ERROR_INSUFFICIENT_BUFFER) and then for the path and the devnode.
// - A device's address is kDevpkeyBluetoothDeviceAddress of its devnode, else the 12 hex digits
//   after "BTHLE\DEV_" in its instance ID; its name kDevpkeyDeviceFriendlyName. A service
//   interface is the device's whose 12 hex digits its instance ID holds; any case.
// - CreateFileW(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
//   OPEN_EXISTING, 0, nullptr) for a device or service interface, CloseHandle for each.
// - GetServices and GetCharacteristics, each first for the count (ERROR_MORE_DATA) then for the
//   items: on the device handle to choose the service, on the service handle to use it. On the
//   service handle: GetDescriptors, RegisterEvent of each notifying characteristic and then
//   SetDescriptorValue of its client configuration, SetCharacteristicValue (flags
//   BLUETOOTH_GATT_FLAG_NONE for a request, BLUETOOTH_GATT_FLAG_WRITE_WITHOUT_RESPONSE for a
//   command), GetCharacteristicValue with BLUETOOTH_GATT_FLAG_FORCE_READ_FROM_DEVICE;
//   UnregisterEvent before the handle is closed.
// - While open, the link reads kDevpkeyDeviceDevNodeStatus of the device's devnode now and then:
//   kDnDeviceDisconnected, once the device was seen connected, counts as losing it.
#pragma once

#include <windows.h>
// windef.h's DeviceCapabilities index, a name libdivecomputer/version.h gives its version.
#undef DC_VERSION
// After windows.h, which they need.
#include <devpropdef.h>
#include <setupapi.h>

#include <cstddef>

namespace diveconnector {

// bthledef.h

struct BTH_LE_UUID {
    BOOLEAN IsShortUuid;
    union {
        USHORT ShortUuid;
        GUID LongUuid;
    } Value;
};

struct BTH_LE_GATT_SERVICE {
    BTH_LE_UUID ServiceUuid;
    USHORT AttributeHandle;
};

struct BTH_LE_GATT_CHARACTERISTIC {
    USHORT ServiceHandle;
    BTH_LE_UUID CharacteristicUuid;
    USHORT AttributeHandle;
    USHORT CharacteristicValueHandle;
    BOOLEAN IsBroadcastable;
    BOOLEAN IsReadable;
    BOOLEAN IsWritable;
    BOOLEAN IsWritableWithoutResponse;
    BOOLEAN IsSignedWritable;
    BOOLEAN IsNotifiable;
    BOOLEAN IsIndicatable;
    BOOLEAN HasExtendedProperties;
};

// DataSize bytes follow inline from Data: allocate offsetof(..., Data) + DataSize.
struct BTH_LE_GATT_CHARACTERISTIC_VALUE {
    ULONG DataSize;
    UCHAR Data[1];
};

enum BTH_LE_GATT_DESCRIPTOR_TYPE : int {
    CharacteristicExtendedProperties = 0,
    CharacteristicUserDescription = 1,
    ClientCharacteristicConfiguration = 2,
    ServerCharacteristicConfiguration = 3,
    CharacteristicFormat = 4,
    CharacteristicAggregateFormat = 5,
    CustomDescriptor = 6,
};

struct BTH_LE_GATT_DESCRIPTOR {
    USHORT ServiceHandle;
    USHORT CharacteristicHandle;
    BTH_LE_GATT_DESCRIPTOR_TYPE DescriptorType;
    BTH_LE_UUID DescriptorUuid;
    USHORT AttributeHandle;
};

struct BTH_LE_GATT_DESCRIPTOR_VALUE {
    BTH_LE_GATT_DESCRIPTOR_TYPE DescriptorType;
    BTH_LE_UUID DescriptorUuid;
    union {
        struct {
            BOOLEAN IsReliableWriteEnabled;
            BOOLEAN IsAuxiliariesWritable;
        } CharacteristicExtendedProperties;
        struct {
            BOOLEAN IsSubscribeToNotification;
            BOOLEAN IsSubscribeToIndication;
        } ClientCharacteristicConfiguration;
        struct {
            BOOLEAN IsBroadcast;
        } ServerCharacteristicConfiguration;
        struct {
            UCHAR Format;
            UCHAR Exponent;
            BTH_LE_UUID Unit;
            UCHAR NameSpace;
            BTH_LE_UUID Description;
        } CharacteristicFormat;
    };
    ULONG DataSize;
    UCHAR Data[1];
};

enum BTH_LE_GATT_EVENT_TYPE : int {
    CharacteristicValueChangedEvent = 0,
};

using BLUETOOTH_GATT_EVENT_HANDLE = HANDLE;
using BTH_LE_GATT_RELIABLE_WRITE_CONTEXT = ULONG64;

// RegisterEvent's parameter for CharacteristicValueChangedEvent: NumCharacteristics of them, the
// first inline.
struct BLUETOOTH_GATT_VALUE_CHANGED_EVENT_REGISTRATION {
    USHORT NumCharacteristics;
    BTH_LE_GATT_CHARACTERISTIC Characteristics[1];
};

// What the callback of a CharacteristicValueChangedEvent gets; the value is valid only during the
// call.
struct BLUETOOTH_GATT_VALUE_CHANGED_EVENT {
    USHORT ChangedAttributeHandle;
    size_t CharacteristicValueDataSize;
    BTH_LE_GATT_CHARACTERISTIC_VALUE* CharacteristicValue;
};

// Called on a thread of the system's. CALLBACK (__stdcall) matters on 32-bit Windows, where
// early SDKs left it out.
typedef VOID(CALLBACK* PFNBLUETOOTH_GATT_EVENT_CALLBACK)(BTH_LE_GATT_EVENT_TYPE EventType,
                                                         PVOID EventOutParameter, PVOID Context);

// BLUETOOTH_GATT_FLAG_*
inline constexpr ULONG BLUETOOTH_GATT_FLAG_NONE = 0x00;
inline constexpr ULONG BLUETOOTH_GATT_FLAG_CONNECTION_ENCRYPTED = 0x01;
inline constexpr ULONG BLUETOOTH_GATT_FLAG_CONNECTION_AUTHENTICATED = 0x02;
inline constexpr ULONG BLUETOOTH_GATT_FLAG_FORCE_READ_FROM_DEVICE = 0x04;
inline constexpr ULONG BLUETOOTH_GATT_FLAG_FORCE_READ_FROM_CACHE = 0x08;
inline constexpr ULONG BLUETOOTH_GATT_FLAG_SIGNED_WRITE = 0x10;
inline constexpr ULONG BLUETOOTH_GATT_FLAG_WRITE_WITHOUT_RESPONSE = 0x20;
inline constexpr ULONG BLUETOOTH_GATT_FLAG_RETURN_ALL = 0x40;

// The 16-bit UUIDs of the descriptors, 0x2900 to 0x2905 in the order of their types.
inline constexpr USHORT kClientCharacteristicConfigurationUuid = 0x2902;

// A 16-bit UUID xxxx stands for 0000xxxx-0000-1000-8000-00805F9B34FB.
inline constexpr GUID kBluetoothBaseGuid{
    0x00000000, 0x0000, 0x1000, {0x80, 0x00, 0x00, 0x80, 0x5F, 0x9B, 0x34, 0xFB}};

// The device interface classes Windows gives a paired LE device and each of its primary services.
inline constexpr GUID kGuidBluetoothLeDeviceInterface{
    0x781AEE18, 0x7733, 0x4CE4, {0xAD, 0xD0, 0x91, 0xF4, 0x1C, 0x67, 0xB5, 0x92}};
inline constexpr GUID kGuidBluetoothGattServiceDeviceInterface{
    0x6E3BB679, 0x4372, 0x40C8, {0x9E, 0xAA, 0x45, 0x09, 0xDF, 0x26, 0x0C, 0xD8}};

// DEVPROP_TYPE_STRING: the device's address as 12 hex digits, most significant first.
inline constexpr DEVPROPKEY kDevpkeyBluetoothDeviceAddress{
    {0x2BD67D8B, 0x8BEB, 0x48D5, {0x87, 0xE0, 0x6C, 0xDA, 0x34, 0x28, 0x04, 0x0A}}, 1};
// DEVPROP_TYPE_STRING: the name the diver sees in Windows' settings.
inline constexpr DEVPROPKEY kDevpkeyDeviceFriendlyName{
    {0xA45C254E, 0xDF1C, 0x4EFD, {0x80, 0x20, 0x67, 0xD1, 0x46, 0xA8, 0x50, 0xE0}}, 14};

// DEVPROP_TYPE_UINT32: the devnode's DN_* status bits; an LE device's tell whether Windows holds a
// connection to it.
inline constexpr DEVPROPKEY kDevpkeyDeviceDevNodeStatus{
    {0x4340A6C5, 0x93FA, 0x4706, {0x97, 0x2C, 0x7B, 0x64, 0x80, 0x08, 0xA5, 0xA7}}, 2};
inline constexpr ULONG kDnDeviceDisconnected = 0x02000000;

// HRESULT_FROM_WIN32, usable in constant expressions.
[[nodiscard]] constexpr HRESULT hresultFromWin32(DWORD code) noexcept {
    return code == 0 ? S_OK : static_cast<HRESULT>((code & 0xFFFFu) | 0x80070000u);
}
// The device's own ATT error codes (BTH_LE_ERROR_*) in the low byte: E_BLUETOOTH_ATT_*.
[[nodiscard]] constexpr bool isBluetoothAttError(HRESULT result) noexcept {
    return (static_cast<DWORD>(result) & 0xFFFF0000u) == 0x80650000u;
}

struct Win32BluetoothApi {
    // BluetoothApis.dll
    HRESULT(WINAPI* BluetoothGATTGetServices)
    (HANDLE device, USHORT count, BTH_LE_GATT_SERVICE* services, USHORT* actual, ULONG flags);
    HRESULT(WINAPI* BluetoothGATTGetCharacteristics)
    (HANDLE device, BTH_LE_GATT_SERVICE* service, USHORT count,
     BTH_LE_GATT_CHARACTERISTIC* characteristics, USHORT* actual, ULONG flags);
    HRESULT(WINAPI* BluetoothGATTGetDescriptors)
    (HANDLE device, BTH_LE_GATT_CHARACTERISTIC* characteristic, USHORT count,
     BTH_LE_GATT_DESCRIPTOR* descriptors, USHORT* actual, ULONG flags);
    HRESULT(WINAPI* BluetoothGATTGetCharacteristicValue)
    (HANDLE service, BTH_LE_GATT_CHARACTERISTIC* characteristic, ULONG size,
     BTH_LE_GATT_CHARACTERISTIC_VALUE* value, USHORT* sizeRequired, ULONG flags);
    HRESULT(WINAPI* BluetoothGATTSetCharacteristicValue)
    (HANDLE service, BTH_LE_GATT_CHARACTERISTIC* characteristic,
     BTH_LE_GATT_CHARACTERISTIC_VALUE* value, BTH_LE_GATT_RELIABLE_WRITE_CONTEXT context,
     ULONG flags);
    HRESULT(WINAPI* BluetoothGATTSetDescriptorValue)
    (HANDLE service, BTH_LE_GATT_DESCRIPTOR* descriptor, BTH_LE_GATT_DESCRIPTOR_VALUE* value,
     ULONG flags);
    HRESULT(WINAPI* BluetoothGATTRegisterEvent)
    (HANDLE service, BTH_LE_GATT_EVENT_TYPE type, PVOID parameter,
     PFNBLUETOOTH_GATT_EVENT_CALLBACK callback, PVOID context, BLUETOOTH_GATT_EVENT_HANDLE* event,
     ULONG flags);
    HRESULT(WINAPI* BluetoothGATTUnregisterEvent)(BLUETOOTH_GATT_EVENT_HANDLE event, ULONG flags);

    // setupapi.dll
    HDEVINFO(WINAPI* SetupDiGetClassDevsW)
    (const GUID* classGuid, PCWSTR enumerator, HWND parent, DWORD flags);
    BOOL(WINAPI* SetupDiEnumDeviceInterfaces)
    (HDEVINFO set, PSP_DEVINFO_DATA device, const GUID* interfaceClass, DWORD index,
     PSP_DEVICE_INTERFACE_DATA interfaceData);
    BOOL(WINAPI* SetupDiGetDeviceInterfaceDetailW)
    (HDEVINFO set, PSP_DEVICE_INTERFACE_DATA interfaceData,
     PSP_DEVICE_INTERFACE_DETAIL_DATA_W detail, DWORD detailSize, PDWORD requiredSize,
     PSP_DEVINFO_DATA device);
    BOOL(WINAPI* SetupDiGetDeviceInstanceIdW)
    (HDEVINFO set, PSP_DEVINFO_DATA device, PWSTR id, DWORD idSize, PDWORD requiredSize);
    BOOL(WINAPI* SetupDiGetDevicePropertyW)
    (HDEVINFO set, PSP_DEVINFO_DATA device, const DEVPROPKEY* key, DEVPROPTYPE* type, PBYTE buffer,
     DWORD bufferSize, PDWORD requiredSize, DWORD flags);
    BOOL(WINAPI* SetupDiDestroyDeviceInfoList)(HDEVINFO set);

    // kernel32.dll: the interface paths SetupDi gives are opened as files.
    HANDLE(WINAPI* CreateFileW)
    (LPCWSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security, DWORD disposition,
     DWORD flags, HANDLE templateFile);
    BOOL(WINAPI* CloseHandle)(HANDLE handle);
};

// The system's table, loaded from the system folder once (no DLL planting) and kept for the
// process; null when BluetoothApis.dll or one of its functions is missing, as before Windows 8.
// Defined alone in win32_bluetooth_api_system.cpp: a test program that defines it itself gets its
// own table instead.
[[nodiscard]] const Win32BluetoothApi* systemBluetoothApi();

// What the support log says when systemBluetoothApi() is null.
inline constexpr char kNoBluetoothLeApi[] =
    "Windows has no Bluetooth LE API here (BluetoothApis.dll, Windows 8 and later).";

// The layouts of the Windows SDK (member order of bthledef.h, which packs nothing), measured with
// its compilers.
static_assert(sizeof(BTH_LE_UUID) == 20 && alignof(BTH_LE_UUID) == 4);
static_assert(offsetof(BTH_LE_UUID, Value) == 4);
static_assert(sizeof(BTH_LE_GATT_SERVICE) == 24);
static_assert(offsetof(BTH_LE_GATT_SERVICE, AttributeHandle) == 20);
static_assert(sizeof(BTH_LE_GATT_CHARACTERISTIC) == 36);
static_assert(offsetof(BTH_LE_GATT_CHARACTERISTIC, CharacteristicUuid) == 4);
static_assert(offsetof(BTH_LE_GATT_CHARACTERISTIC, AttributeHandle) == 24);
static_assert(offsetof(BTH_LE_GATT_CHARACTERISTIC, CharacteristicValueHandle) == 26);
static_assert(offsetof(BTH_LE_GATT_CHARACTERISTIC, IsBroadcastable) == 28);
static_assert(offsetof(BTH_LE_GATT_CHARACTERISTIC, IsReadable) == 29);
static_assert(offsetof(BTH_LE_GATT_CHARACTERISTIC, IsWritable) == 30);
static_assert(offsetof(BTH_LE_GATT_CHARACTERISTIC, IsWritableWithoutResponse) == 31);
static_assert(offsetof(BTH_LE_GATT_CHARACTERISTIC, IsSignedWritable) == 32);
static_assert(offsetof(BTH_LE_GATT_CHARACTERISTIC, IsNotifiable) == 33);
static_assert(offsetof(BTH_LE_GATT_CHARACTERISTIC, IsIndicatable) == 34);
static_assert(offsetof(BTH_LE_GATT_CHARACTERISTIC, HasExtendedProperties) == 35);
static_assert(sizeof(BTH_LE_GATT_CHARACTERISTIC_VALUE) == 8);
static_assert(offsetof(BTH_LE_GATT_CHARACTERISTIC_VALUE, Data) == 4);
static_assert(sizeof(BTH_LE_GATT_DESCRIPTOR_TYPE) == 4);
static_assert(sizeof(BTH_LE_GATT_DESCRIPTOR) == 32);
static_assert(offsetof(BTH_LE_GATT_DESCRIPTOR, CharacteristicHandle) == 2);
static_assert(offsetof(BTH_LE_GATT_DESCRIPTOR, DescriptorType) == 4);
static_assert(offsetof(BTH_LE_GATT_DESCRIPTOR, DescriptorUuid) == 8);
static_assert(offsetof(BTH_LE_GATT_DESCRIPTOR, AttributeHandle) == 28);
static_assert(sizeof(BTH_LE_GATT_DESCRIPTOR_VALUE) == 80);
static_assert(offsetof(BTH_LE_GATT_DESCRIPTOR_VALUE, DescriptorUuid) == 4);
static_assert(offsetof(BTH_LE_GATT_DESCRIPTOR_VALUE, ClientCharacteristicConfiguration) == 24);
static_assert(offsetof(BTH_LE_GATT_DESCRIPTOR_VALUE,
                       ClientCharacteristicConfiguration.IsSubscribeToIndication) == 25);
static_assert(offsetof(BTH_LE_GATT_DESCRIPTOR_VALUE, CharacteristicFormat.Exponent) == 25);
static_assert(offsetof(BTH_LE_GATT_DESCRIPTOR_VALUE, CharacteristicFormat.Unit) == 28);
static_assert(offsetof(BTH_LE_GATT_DESCRIPTOR_VALUE, CharacteristicFormat.NameSpace) == 48);
static_assert(offsetof(BTH_LE_GATT_DESCRIPTOR_VALUE, CharacteristicFormat.Description) == 52);
static_assert(offsetof(BTH_LE_GATT_DESCRIPTOR_VALUE, DataSize) == 72);
static_assert(offsetof(BTH_LE_GATT_DESCRIPTOR_VALUE, Data) == 76);
static_assert(sizeof(BTH_LE_GATT_EVENT_TYPE) == 4);
static_assert(sizeof(BLUETOOTH_GATT_VALUE_CHANGED_EVENT_REGISTRATION) == 40);
static_assert(offsetof(BLUETOOTH_GATT_VALUE_CHANGED_EVENT_REGISTRATION, Characteristics) == 4);
#ifdef _WIN64
static_assert(sizeof(BLUETOOTH_GATT_VALUE_CHANGED_EVENT) == 24);
static_assert(offsetof(BLUETOOTH_GATT_VALUE_CHANGED_EVENT, CharacteristicValueDataSize) == 8);
static_assert(offsetof(BLUETOOTH_GATT_VALUE_CHANGED_EVENT, CharacteristicValue) == 16);
// The cbSize values SetupDi checks: the fixed part of the detail, not the buffer's size.
static_assert(sizeof(SP_DEVICE_INTERFACE_DATA) == 32 && sizeof(SP_DEVINFO_DATA) == 32);
static_assert(sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W) == 8);
#else
static_assert(sizeof(BLUETOOTH_GATT_VALUE_CHANGED_EVENT) == 12);
static_assert(offsetof(BLUETOOTH_GATT_VALUE_CHANGED_EVENT, CharacteristicValueDataSize) == 4);
static_assert(offsetof(BLUETOOTH_GATT_VALUE_CHANGED_EVENT, CharacteristicValue) == 8);
static_assert(sizeof(SP_DEVICE_INTERFACE_DATA) == 28 && sizeof(SP_DEVINFO_DATA) == 28);
static_assert(sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W) == 6);
#endif

}  // namespace diveconnector
