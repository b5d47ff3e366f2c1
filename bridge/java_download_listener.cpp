#include "java_download_listener.h"

#include "scoped_local_ref.h"

namespace diveconnector {

namespace {

// The instance method, or null when the class neither declares nor inherits it.
jmethodID optionalMethod(JNIEnv* env, jclass owner, const char* name,
                         const char* signature) noexcept {
    if (owner == nullptr) {
        return nullptr;
    }
    const jmethodID method = env->GetMethodID(owner, name, signature);
    if (method == nullptr) {
        // NoSuchMethodError: the application did not ask for this event.
        env->ExceptionClear();
    }
    return method;
}

// Unsigned 32-bit values as the Java long that holds them unchanged.
jlong unsignedValue(std::uint32_t value) {
    return static_cast<jlong>(value);
}

}  // namespace

JavaDownloadListener::JavaDownloadListener(JNIEnv* env, jobject connector) noexcept
    : env_(env), connector_(connector) {
    const ScopedLocalRef<jclass> owner(env, env->GetObjectClass(connector));
    onDownloadProgress_ = optionalMethod(env, owner.get(), "onDownloadProgress", "(JJ)V");
    onDownloadWaiting_ = optionalMethod(env, owner.get(), "onDownloadWaiting", "()V");
    onDeviceInfo_ = optionalMethod(env, owner.get(), "onDeviceInfo", "(JJJ)V");
}

bool JavaDownloadListener::succeeded() noexcept {
    if (!env_->ExceptionCheck()) {
        return true;
    }
    env_->ExceptionClear();
    return false;
}

bool JavaDownloadListener::progress(std::uint32_t current, std::uint32_t maximum) noexcept {
    if (onDownloadProgress_ == nullptr) {
        return true;
    }
    env_->CallVoidMethod(connector_, onDownloadProgress_, unsignedValue(current),
                         unsignedValue(maximum));
    return succeeded();
}

bool JavaDownloadListener::waiting() noexcept {
    if (onDownloadWaiting_ == nullptr) {
        return true;
    }
    env_->CallVoidMethod(connector_, onDownloadWaiting_);
    return succeeded();
}

bool JavaDownloadListener::deviceInfo(std::uint32_t model, std::uint32_t firmware,
                                      std::uint32_t serial) noexcept {
    if (onDeviceInfo_ == nullptr) {
        return true;
    }
    env_->CallVoidMethod(connector_, onDeviceInfo_, unsignedValue(model), unsignedValue(firmware),
                         unsignedValue(serial));
    return succeeded();
}

}  // namespace diveconnector
