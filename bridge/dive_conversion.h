// Turning downloaded dives into the application's Java objects.
#pragma once

#include <jni.h>

#include <vector>

#include "device_events.h"
#include "dive_parser.h"
#include "java_bindings.h"
#include "java_download_listener.h"

namespace diveconnector {

// The classes and members a download binds, looked up anew at every call.
struct DiveClasses {
    jclass set;
    jclass device;
    jclass gas;
    jclass dive;
    jmethodID setAdd;
    jmethodID deviceInit;
    jmethodID blendGas;
    jmethodID diveInit;
    jmethodID setDiveProfile;
};

// Looks them up through `binding`; check binding.complete() afterwards.
[[nodiscard]] DiveClasses bindDiveClasses(JavaBinding& binding) noexcept;

// Creates the Device (the caller's vendor and product strings, the serial the computer reported,
// or "" when it never did) and adds one Dive per record to `dives`, in order. With a
// `detailsListener`, each record's details go to it right before its dive goes into the set.
// Returns the Device, or null with a NativeException pending; dives added before a failure stay in
// the set.
[[nodiscard]] jobject convertDives(JNIEnv* env, const DiveClasses& classes, jclass nativeException,
                                   jstring vendor, jstring product, const DeviceInfo& info,
                                   const std::vector<DiveRecord>& records, jobject dives,
                                   JavaDownloadListener* detailsListener = nullptr) noexcept;

}  // namespace diveconnector
