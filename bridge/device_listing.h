// getSupportedDevices: every model libdivecomputer knows, as a java.util.TreeSet of Device.
#pragma once

#include <jni.h>

namespace diveconnector {

// The set, or null with a NativeException pending (or the JVM's own error when NativeException
// cannot be found). Each Device carries the product text twice: as product and in the place where
// a download puts the serial number.
[[nodiscard]] jobject getSupportedDevices(JNIEnv* env) noexcept;

}  // namespace diveconnector
