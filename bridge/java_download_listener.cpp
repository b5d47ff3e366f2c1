#include "java_download_listener.h"

#include <new>
#include <string>

#include "java_bindings.h"
#include "java_strings.h"
#include "scoped_local_ref.h"

namespace diveconnector {

namespace {

constexpr char kOnDownloadProgress[] = "onDownloadProgress";
constexpr char kOnDownloadWaiting[] = "onDownloadWaiting";
constexpr char kOnDeviceInfo[] = "onDeviceInfo";
constexpr char kOnPinCodeRequest[] = "onPinCodeRequest";
constexpr char kOnDivesDownloaded[] = "onDivesDownloaded";
constexpr char kOnDiveDetails[] = "onDiveDetails";

// The throwable's toString(), for the support log; an exception on the way is cleared.
std::string describe(JNIEnv* env, jthrowable thrown) noexcept {
    const ScopedLocalRef<jclass> type(env, env->GetObjectClass(thrown));
    const jmethodID toString = env->GetMethodID(type.get(), "toString", "()Ljava/lang/String;");
    const ScopedLocalRef<jstring> text(
        env, toString != nullptr ? static_cast<jstring>(env->CallObjectMethod(thrown, toString))
                                 : nullptr);
    if (env->ExceptionCheck() || text.get() == nullptr) {
        env->ExceptionClear();
        return "an exception it cannot describe";
    }
    try {
        return utf8String(env, text.get());
    } catch (...) {
        return "an exception it cannot describe";
    }
}

// Unsigned 32-bit values as the Java long that holds them unchanged.
jlong unsignedValue(std::uint32_t value) {
    return static_cast<jlong>(value);
}

}  // namespace

JavaDownloadListener::JavaDownloadListener(JNIEnv* env, jobject connector,
                                           const SupportLog& log) noexcept
    : env_(env), connector_(connector), log_(log) {
    const ScopedLocalRef<jclass> owner(env, env->GetObjectClass(connector));
    onDownloadProgress_ = optionalMethod(env, owner.get(), kOnDownloadProgress, "(JJ)V");
    onDownloadWaiting_ = optionalMethod(env, owner.get(), kOnDownloadWaiting, "()V");
    onDeviceInfo_ = optionalMethod(env, owner.get(), kOnDeviceInfo, "(JJJ)V");
    onPinCodeRequest_ = optionalMethod(env, owner.get(), kOnPinCodeRequest,
                                       "(Ljava/lang/String;Ljava/lang/String;)Ljava/lang/String;");
    onDivesDownloaded_ = optionalMethod(env, owner.get(), kOnDivesDownloaded,
                                        "(Lbrenquill/main/java/core/Device;Ljava/util/Set;)Z");
    onDiveDetails_ =
        optionalMethod(env, owner.get(), kOnDiveDetails,
                       "(Lbrenquill/main/java/core/Dive;Ldiveconnector/details/DiveDetails;)V");
}

bool JavaDownloadListener::succeeded(const char* method, const char* consequence) noexcept {
    if (!env_->ExceptionCheck()) {
        return true;
    }
    const ScopedLocalRef<jthrowable> thrown(env_, env_->ExceptionOccurred());
    env_->ExceptionClear();
    if (log_.isOpen()) {
        log_.write(DC_LOGLEVEL_ERROR, "The application's %s threw %s; %s.", method,
                   describe(env_, thrown.get()).c_str(), consequence);
    }
    return false;
}

bool JavaDownloadListener::progress(std::uint32_t current, std::uint32_t maximum) noexcept {
    if (onDownloadProgress_ == nullptr) {
        return true;
    }
    env_->CallVoidMethod(connector_, onDownloadProgress_, unsignedValue(current),
                         unsignedValue(maximum));
    return succeeded(kOnDownloadProgress);
}

bool JavaDownloadListener::waiting() noexcept {
    if (onDownloadWaiting_ == nullptr) {
        return true;
    }
    env_->CallVoidMethod(connector_, onDownloadWaiting_);
    return succeeded(kOnDownloadWaiting);
}

bool JavaDownloadListener::deviceInfo(std::uint32_t model, std::uint32_t firmware,
                                      std::uint32_t serial) noexcept {
    if (onDeviceInfo_ == nullptr) {
        return true;
    }
    env_->CallVoidMethod(connector_, onDeviceInfo_, unsignedValue(model), unsignedValue(firmware),
                         unsignedValue(serial));
    return succeeded(kOnDeviceInfo);
}

std::optional<std::string> JavaDownloadListener::pinCode(const std::string& address,
                                                         const std::string& name) noexcept {
    if (onPinCodeRequest_ == nullptr) {
        return std::nullopt;
    }
    try {
        // No memory for a string: no PIN, and the JVM's error is not left to the backend.
        const ScopedLocalRef<jstring> javaAddress(env_, javaString(env_, address));
        if (javaAddress.get() == nullptr) {
            env_->ExceptionClear();
            return std::nullopt;
        }
        const ScopedLocalRef<jstring> javaName(env_, javaString(env_, name));
        if (javaName.get() == nullptr) {
            env_->ExceptionClear();
            return std::nullopt;
        }
        const ScopedLocalRef<jstring> pin(
            env_, static_cast<jstring>(env_->CallObjectMethod(connector_, onPinCodeRequest_,
                                                              javaAddress.get(), javaName.get())));
        if (!succeeded(kOnPinCodeRequest) || pin.get() == nullptr) {
            return std::nullopt;
        }
        return utf8String(env_, pin.get());
    } catch (const std::bad_alloc&) {
        return std::nullopt;
    }
}

bool JavaDownloadListener::diveDetails(jobject dive, jobject details) noexcept {
    env_->CallVoidMethod(connector_, onDiveDetails_, dive, details);
    return succeeded(kOnDiveDetails);
}

JavaDownloadListener::Keeping JavaDownloadListener::keepDives(jobject device,
                                                              jobject dives) noexcept {
    if (onDivesDownloaded_ == nullptr) {
        return Keeping::kKept;
    }
    const jboolean kept = env_->CallBooleanMethod(connector_, onDivesDownloaded_, device, dives);
    if (!succeeded(kOnDivesDownloaded, "the fingerprint cache stays as it was")) {
        return Keeping::kFailed;
    }
    if (kept == JNI_FALSE) {
        log_.write(
            DC_LOGLEVEL_INFO,
            "The application did not keep the dives; the fingerprint cache stays as it was.");
        return Keeping::kNotKept;
    }
    return Keeping::kKept;
}

}  // namespace diveconnector
