// The library's only exported symbols: the native methods of
// brenquill.main.java.core.DeviceConnector. No exception leaves them.
#include <jni.h>
#include <libdivecomputer/version.h>

#include "device_events.h"
#include "device_listing.h"
#include "device_memory_dump.h"
#include "device_scan.h"
#include "dive_download.h"

extern "C" {

JNIEXPORT jobject JNICALL
Java_brenquill_main_java_core_DeviceConnector_getSupportedDevices(JNIEnv* env, jobject connector) {
    return diveconnector::getSupportedDevices(env, connector);
}

JNIEXPORT jobject JNICALL Java_brenquill_main_java_core_DeviceConnector_loadUserDivesFromDevice(
    JNIEnv* env, jobject connector, jstring deviceName, jstring vendor, jstring product,
    jobject dives) {
    return diveconnector::loadUserDivesFromDevice(env, connector, deviceName, vendor, product,
                                                  dives);
}

JNIEXPORT jbyteArray JNICALL Java_brenquill_main_java_core_DeviceConnector_dumpDeviceMemory(
    JNIEnv* env, jobject connector, jstring deviceName, jstring vendor, jstring product) {
    return diveconnector::dumpDeviceMemory(env, connector, deviceName, vendor, product);
}

JNIEXPORT jlong JNICALL Java_brenquill_main_java_core_DeviceConnector_scanForDevices(
    JNIEnv* env, jobject connector, jint seconds) {
    return diveconnector::scanForDevices(env, connector, seconds);
}

// Asks nothing of the JVM but the string; null with an OutOfMemoryError pending if that fails.
JNIEXPORT jstring JNICALL
Java_brenquill_main_java_core_DeviceConnector_getLibdivecomputerVersion(JNIEnv* env, jclass) {
    const char* version = dc_version(nullptr);
    return env->NewStringUTF(version != nullptr ? version : "unknown");
}

// Makes no JNI call, so any thread may call it at any time.
JNIEXPORT void JNICALL
Java_brenquill_main_java_core_DeviceConnector_interruptDeviceDownload(JNIEnv*, jobject) {
    diveconnector::interruptDeviceDownload();
}

}  // extern "C"
