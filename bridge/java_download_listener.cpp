#include "java_download_listener.h"

#include <new>
#include <string>

#include "java_strings.h"
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

constexpr char kOnDownloadProgress[] = "onDownloadProgress";
constexpr char kOnDownloadWaiting[] = "onDownloadWaiting";
constexpr char kOnDeviceInfo[] = "onDeviceInfo";
constexpr char kOnPinCodeRequest[] = "onPinCodeRequest";

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

// A Java string from UTF-8 text (a device name may hold any bytes; malformed ones become U+FFFD),
// or null when the JVM has no memory for it (its exception is cleared).
jstring javaString(JNIEnv* env, const std::string& text) {
    std::u16string units;
    for (size_t i = 0; i < text.size();) {
        const unsigned char lead = static_cast<unsigned char>(text[i]);
        const int length = lead < 0x80         ? 1
                           : (lead >> 5) == 6  ? 2
                           : (lead >> 4) == 14 ? 3
                           : (lead >> 3) == 30 ? 4
                                               : 0;
        char32_t code = length == 1   ? lead
                        : length == 2 ? lead & 0x1F
                        : length == 3 ? lead & 0x0F
                                      : lead & 0x07;
        bool valid = length != 0 && i + length <= text.size();
        for (int k = 1; valid && k < length; ++k) {
            const unsigned char next = static_cast<unsigned char>(text[i + k]);
            valid = (next >> 6) == 2;
            code = code << 6 | (next & 0x3F);
        }
        constexpr char32_t kMinimum[] = {0, 0, 0x80, 0x800, 0x10000};
        valid = valid && code >= kMinimum[length] && code <= 0x10FFFF &&
                (code < 0xD800 || code > 0xDFFF);
        if (!valid) {
            units.push_back(u'\uFFFD');
            ++i;
            continue;
        }
        if (code >= 0x10000) {
            units.push_back(static_cast<char16_t>(0xD800 + ((code - 0x10000) >> 10)));
            units.push_back(static_cast<char16_t>(0xDC00 + ((code - 0x10000) & 0x3FF)));
        } else {
            units.push_back(static_cast<char16_t>(code));
        }
        i += static_cast<size_t>(length);
    }
    const jstring string = env->NewString(reinterpret_cast<const jchar*>(units.data()),
                                          static_cast<jsize>(units.size()));
    if (string == nullptr) {
        env->ExceptionClear();
    }
    return string;
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
}

bool JavaDownloadListener::succeeded(const char* method) noexcept {
    if (!env_->ExceptionCheck()) {
        return true;
    }
    const ScopedLocalRef<jthrowable> thrown(env_, env_->ExceptionOccurred());
    env_->ExceptionClear();
    if (log_.isOpen()) {
        log_.write(DC_LOGLEVEL_ERROR, "The application's %s threw %s; the download ends.", method,
                   describe(env_, thrown.get()).c_str());
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
        const ScopedLocalRef<jstring> javaAddress(env_, javaString(env_, address));
        const ScopedLocalRef<jstring> javaName(env_, javaString(env_, name));
        if (javaAddress.get() == nullptr || javaName.get() == nullptr) {
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

}  // namespace diveconnector
