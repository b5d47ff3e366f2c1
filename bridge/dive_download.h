// loadUserDivesFromDevice: the whole road of one download, from the Java arguments to the Device.
#pragma once

#include <jni.h>

namespace diveconnector {

// Downloads every dive of the computer on `deviceName` (a model named by vendor and product as the
// device list gives them) into `dives`, telling `connector` the download's events (see
// java_download_listener.h). Returns the Device, or null with an exception pending.
[[nodiscard]] jobject loadUserDivesFromDevice(JNIEnv* env, jobject connector, jstring deviceName,
                                              jstring vendor, jstring product,
                                              jobject dives) noexcept;

}  // namespace diveconnector
