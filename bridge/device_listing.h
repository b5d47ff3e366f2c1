// getSupportedDevices: every model libdivecomputer knows, as a java.util.TreeSet of Device.
#pragma once

#include <jni.h>

namespace diveconnector {

// The set, or null with a NativeException pending (or the JVM's own error when NativeException
// cannot be found). Each Device carries the product text twice: as product and in the place where
// a download puts the serial number.
//
// When the connector's class declares or inherits the instance method
//     void onSupportedDevice(String vendor, String product, long transports)
// it is called for every model once its Device is in the set, with libdivecomputer's transport
// bits; an application's class from before it is not called. A call that throws fails the listing with
// "Could not report device.", its exception cleared.
[[nodiscard]] jobject getSupportedDevices(JNIEnv* env, jobject connector) noexcept;

}  // namespace diveconnector
