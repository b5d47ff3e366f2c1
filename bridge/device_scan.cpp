#include "device_scan.h"

#include <chrono>

#include "application_settings.h"
#include "java_bindings.h"
#include "java_strings.h"
#include "library_version.h"
#include "reachable_devices.h"
#include "scoped_local_ref.h"
#include "support_log.h"

namespace diveconnector {

namespace {

constexpr jint kLongestScan = 600;

struct FindReport {
    JNIEnv* env;
    jobject connector;
    jmethodID onDeviceFound;  // null: the application does not listen
    jclass device;
    jmethodID deviceInit;

    // False with the JVM's exception pending.
    [[nodiscard]] bool send(const FoundDevice& found) const {
        const ScopedLocalRef<jobjectArray> models(
            env, env->NewObjectArray(static_cast<jsize>(found.models.size()), device, nullptr));
        if (models.get() == nullptr) {
            return false;
        }
        for (size_t i = 0; i < found.models.size(); ++i) {
            const ScopedLocalRef<jstring> vendor(env, javaString(env, found.models[i].vendor));
            if (vendor.get() == nullptr) {
                return false;
            }
            const ScopedLocalRef<jstring> product(env, javaString(env, found.models[i].product));
            if (product.get() == nullptr) {
                return false;
            }
            const ScopedLocalRef<jobject> model(
                env,
                env->NewObject(device, deviceInit, vendor.get(), product.get(), product.get()));
            if (model.get() == nullptr) {
                return false;
            }
            env->SetObjectArrayElement(models.get(), static_cast<jsize>(i), model.get());
            if (env->ExceptionCheck()) {
                return false;
            }
        }
        const ScopedLocalRef<jstring> port(env, javaString(env, found.port));
        if (port.get() == nullptr) {
            return false;
        }
        const ScopedLocalRef<jstring> name(env, javaString(env, found.name));
        if (name.get() == nullptr) {
            return false;
        }
        env->CallVoidMethod(connector, onDeviceFound, port.get(), name.get(),
                            static_cast<jint>(found.rssi), static_cast<jlong>(found.transport),
                            models.get());
        return !env->ExceptionCheck();
    }
};

}  // namespace

jlong scanForDevices(JNIEnv* env, jobject connector, jint seconds) noexcept {
    JavaBinding binding(env);
    const jclass device = binding.findClass(jni::kDeviceClass);
    const jmethodID deviceInit = binding.findMethod(device, jni::kInit, jni::kDeviceConstructor);
    if (!binding.complete()) {
        return 0;
    }
    const jclass nativeException = binding.nativeException();
    if (const auto mismatch = libraryVersionMismatch()) {
        raiseNativeException(env, nativeException, mismatch->message);
        return 0;
    }
    if (seconds < 0 || seconds > kLongestScan) {
        raiseNativeException(env, nativeException, javamessages::kScanTime);
        return 0;
    }
    const ScopedLocalRef<jclass> owner(env, env->GetObjectClass(connector));
    const jmethodID onDeviceFound =
        optionalMethod(env, owner.get(), jni::kOnDeviceFound, jni::kOnDeviceFoundSignature);

    jlong searched = 0;
    guarded(env, nativeException, [&]() -> jobject {
        const SupportLog log = SupportLog::open(systemProperty(env, properties::kLog),
                                                systemProperty(env, properties::kLogLevel));
        log.write(DC_LOGLEVEL_INFO, "Scanning, Bluetooth for %d s.", static_cast<int>(seconds));
        const ScanResult result = findReachableDevices(std::chrono::seconds(seconds), log);
        const FindReport report{env, connector, onDeviceFound, device, deviceInit};
        for (const FoundDevice& found : result.found) {
            if (onDeviceFound != nullptr && !report.send(found)) {
                return raiseNativeException(env, nativeException, javamessages::kReportingDevice);
            }
        }
        searched = static_cast<jlong>(result.searched);
        return nullptr;
    });
    return env->ExceptionCheck() ? 0 : searched;
}

}  // namespace diveconnector
