#include "device_listing.h"

#include "java_bindings.h"
#include "library_version.h"
#include "scoped_local_ref.h"
#include "supported_devices.h"

namespace diveconnector {

jobject getSupportedDevices(JNIEnv* env, jobject connector) noexcept {
    JavaBinding binding(env);
    const jclass treeSet = binding.findClass(jni::kTreeSetClass);
    const jclass device = binding.findClass(jni::kDeviceClass);
    const jmethodID treeSetInit = binding.findMethod(treeSet, jni::kInit, jni::kDefaultConstructor);
    const jmethodID treeSetAdd = binding.findMethod(treeSet, jni::kAdd, jni::kAddSignature);
    const jmethodID deviceInit = binding.findMethod(device, jni::kInit, jni::kDeviceConstructor);
    if (!binding.complete()) {
        return nullptr;
    }
    const jclass nativeException = binding.nativeException();
    if (const auto mismatch = libraryVersionMismatch()) {
        return raiseNativeException(env, nativeException, mismatch->message);
    }

    const ScopedLocalRef<jclass> owner(env, env->GetObjectClass(connector));
    const jmethodID onSupportedDevice =
        optionalMethod(env, owner.get(), jni::kOnSupportedDevice, jni::kOnSupportedDeviceSignature);
    ScopedLocalRef<jobject> set(env, env->NewObject(treeSet, treeSetInit));
    if (env->ExceptionCheck()) {
        return raiseNativeException(env, nativeException, javamessages::kCreatingContainer);
    }

    return guarded(env, nativeException, [&]() -> jobject {
        for (const SupportedDevice& model : listSupportedDevices()) {
            // Each model's references are dropped once its Device is in the set, so a table of
            // any size needs only a handful of local references at a time.
            const ScopedLocalRef<jstring> vendor(env, env->NewStringUTF(model.vendor.c_str()));
            if (env->ExceptionCheck()) {
                return raiseNativeException(env, nativeException, javamessages::kCreatingDevice);
            }
            const ScopedLocalRef<jstring> product(env, env->NewStringUTF(model.product.c_str()));
            if (env->ExceptionCheck()) {
                return raiseNativeException(env, nativeException, javamessages::kCreatingDevice);
            }
            const ScopedLocalRef<jobject> entry(
                env,
                env->NewObject(device, deviceInit, vendor.get(), product.get(), product.get()));
            if (env->ExceptionCheck()) {
                return raiseNativeException(env, nativeException, javamessages::kCreatingDevice);
            }
            // A duplicate model makes add() answer false; that is no failure.
            static_cast<void>(env->CallBooleanMethod(set.get(), treeSetAdd, entry.get()));
            if (env->ExceptionCheck()) {
                return raiseNativeException(env, nativeException, javamessages::kSavingDevice);
            }
            if (onSupportedDevice != nullptr) {
                env->CallVoidMethod(connector, onSupportedDevice, vendor.get(), product.get(),
                                    static_cast<jlong>(model.transports));
                if (env->ExceptionCheck()) {
                    return raiseNativeException(env, nativeException,
                                                javamessages::kReportingDevice);
                }
            }
        }
        return set.release();
    });
}

}  // namespace diveconnector
