// dumpDeviceMemory: a dive computer's raw memory for a bug report, with a download's events.
#pragma once

#include <jni.h>

namespace diveconnector {

// Reads the whole memory of the computer on `deviceName` (a model named by vendor and product as
// the device list gives them), telling `connector` the events as a download does. Returns the
// bytes, or null with a NativeException pending (its message says when the model's family
// cannot dump at all).
[[nodiscard]] jbyteArray dumpDeviceMemory(JNIEnv* env, jobject connector, jstring deviceName,
                                          jstring vendor, jstring product) noexcept;

}  // namespace diveconnector
