// scanForDevices: what the diver can download from now, reported to the connector one find at a
// time.
#pragma once

#include <jni.h>

namespace diveconnector {

// Searches the serial ports, the attached USB and USB HID computers and, for `seconds` (0 to 600;
// 0 skips it), the Bluetooth devices nearby. Returns the dc_transport_t bits of the transports
// searched, or 0 with a NativeException pending.
//
// When the connector's class declares or inherits the instance method
//     void onDeviceFound(String port, String name, int signalStrength, long transport,
//                        Device[] models)
// it is called for every find, on this thread: the device name a download takes, what the device
// calls itself, its signal strength in dBm (0 when not known), the transport bit it was found on,
// and the models it may be, each as getSupportedDevices lists it. A call that throws ends the scan
// with "Could not report device.", its exception cleared.
[[nodiscard]] jlong scanForDevices(JNIEnv* env, jobject connector, jint seconds) noexcept;

}  // namespace diveconnector
