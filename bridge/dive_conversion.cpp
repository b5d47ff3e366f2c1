#include "dive_conversion.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <new>
#include <optional>

#include "details_conversion.h"
#include "native_exception.h"
#include "profile_boxing.h"
#include "scoped_local_ref.h"

namespace diveconnector {

namespace {

// A fraction as a whole percentage, halves rounded up. A value no int can hold (corrupt data) must
// not reach the conversion, whose result would be undefined: NaN counts as no mix, the rest is held
// to the int range and left for Gas to judge.
jint percentage(double fraction) {
    const double percent = std::floor(fraction * 100.0 + 0.5);
    if (std::isnan(percent)) {
        return 0;
    }
    return static_cast<jint>(
        std::clamp(percent, static_cast<double>(INT32_MIN), static_cast<double>(INT32_MAX)));
}

// "YYYY-MM-DD hh:mm:ss"; a field wider than usual (a five-digit year, a negative value) is written
// in full rather than cut into a wrong date.
void formatDatetime(const dc_datetime_t& datetime, char (&text)[80]) {
    std::snprintf(text, sizeof text, "%04i-%02i-%02i %02i:%02i:%02i", datetime.year, datetime.month,
                  datetime.day, datetime.hour, datetime.minute, datetime.second);
}

class DiveConverter {
  public:
    // `details` is null, or converts for `detailsListener`.
    DiveConverter(JNIEnv* env, const DiveClasses& classes, jclass nativeException,
                  ProfileBoxing& boxing, DetailsConversion* details,
                  JavaDownloadListener* detailsListener)
        : env_(env),
          classes_(classes),
          nativeException_(nativeException),
          boxing_(boxing),
          details_(details),
          detailsListener_(detailsListener) {}

    // Every reference made for one dive is dropped once the dive is in the set, so a download of
    // any size needs only a handful of local references at a time.
    [[nodiscard]] bool addDive(const DiveRecord& record, jobject device, jobject dives) {
        const ScopedLocalRef<jobject> gas(
            env_, env_->CallStaticObjectMethod(classes_.gas, classes_.blendGas,
                                               percentage(record.gasmix.oxygen),
                                               percentage(record.gasmix.helium)));
        if (failed(javamessages::kCreatingGas)) {
            return false;
        }

        char datetimeText[80];
        formatDatetime(record.datetime, datetimeText);
        const ScopedLocalRef<jstring> datetime(env_, env_->NewStringUTF(datetimeText));
        if (failed(javamessages::kCreatingDive)) {
            return false;
        }
        jvalue arguments[9] = {};
        arguments[0].l = device;
        arguments[1].l = datetime.get();
        arguments[2].f = static_cast<jfloat>(record.divetime);
        arguments[3].f = static_cast<jfloat>(record.maxdepth);
        arguments[7].l = gas.get();
        const ScopedLocalRef<jobject> dive(
            env_, env_->NewObjectA(classes_.dive, classes_.diveInit, arguments));
        if (failed(javamessages::kCreatingDive)) {
            return false;
        }

        const DiveProfile& profile = record.profile;
        const auto length = static_cast<jsize>(profile.sampleCount);
        const ScopedLocalRef<jobjectArray> time(env_, boxFloats(profile.timeSeries, length));
        const ScopedLocalRef<jobjectArray> depth(env_, boxFloats(profile.depthSeries, length));
        const ScopedLocalRef<jobjectArray> pressure(env_,
                                                    boxFloats(profile.pressureSeries, length));
        const ScopedLocalRef<jobjectArray> temperature(
            env_, boxFloats(profile.temperatureSeries, length));
        const ScopedLocalRef<jobjectArray> events(
            env_, env_->ExceptionCheck() ? nullptr : boxing_.integers(profile.eventSeries, length));
        if (failed(javamessages::kConvertingProfile)) {
            return false;
        }
        env_->CallVoidMethod(dive.get(), classes_.setDiveProfile, time.get(), depth.get(),
                             pressure.get(), temperature.get(), events.get());
        if (failed(javamessages::kSettingProfile)) {
            return false;
        }
        if (details_ != nullptr && record.details &&
            !handOverDetails(*record.details, dive.get())) {
            return false;
        }
        // A dive the set already holds makes add() answer false; that is no failure.
        static_cast<void>(env_->CallBooleanMethod(dives, classes_.setAdd, dive.get()));
        return !failed(javamessages::kSavingDive);
    }

  private:
    [[nodiscard]] bool handOverDetails(const DiveDetails& details, jobject dive) {
        const ScopedLocalRef<jobject> javaDetails(env_, details_->convert(details));
        if (failed(javamessages::kConvertingDetails)) {
            return false;
        }
        if (!detailsListener_->diveDetails(dive, javaDetails.get())) {
            // In the words of a download whose other event handlers fail.
            try {
                raiseNativeException(env_, nativeException_,
                                     Exception(messages::kEventHandlerFailed).what());
            } catch (const std::bad_alloc&) {
                raiseNativeException(env_, nativeException_, messages::kEventHandlerFailed);
            }
            return false;
        }
        return true;
    }

    // True (and NativeException with `message` raised in its place) when a Java exception is
    // pending.
    [[nodiscard]] bool failed(const char* message) {
        if (!env_->ExceptionCheck()) {
            return false;
        }
        raiseNativeException(env_, nativeException_, message);
        return true;
    }

    // Null while an earlier series of the same dive failed: JNI allows no call with an exception
    // pending, and the check after the five series reports it.
    jobjectArray boxFloats(const std::vector<std::optional<float>>& series, jsize length) {
        return env_->ExceptionCheck() ? nullptr : boxing_.floats(series, length);
    }

    JNIEnv* env_;
    const DiveClasses& classes_;
    jclass nativeException_;
    ProfileBoxing& boxing_;
    DetailsConversion* details_;
    JavaDownloadListener* detailsListener_;
};

}  // namespace

DiveClasses bindDiveClasses(JavaBinding& binding) noexcept {
    DiveClasses c{};
    c.set = binding.findClass(jni::kSetClass);
    c.device = binding.findClass(jni::kDeviceClass);
    c.gas = binding.findClass(jni::kGasClass);
    c.dive = binding.findClass(jni::kDiveClass);
    c.setAdd = binding.findMethod(c.set, jni::kAdd, jni::kAddSignature);
    c.deviceInit = binding.findMethod(c.device, jni::kInit, jni::kDeviceConstructor);
    c.blendGas = binding.findStaticMethod(c.gas, jni::kBlendGas, jni::kBlendGasSignature);
    c.diveInit = binding.findMethod(c.dive, jni::kInit, jni::kDiveConstructor);
    c.setDiveProfile =
        binding.findMethod(c.dive, jni::kSetDiveProfile, jni::kSetDiveProfileSignature);
    return c;
}

jobject convertDives(JNIEnv* env, const DiveClasses& classes, jclass nativeException,
                     jstring vendor, jstring product, const DeviceInfo& info,
                     const std::vector<DiveRecord>& records, jobject dives,
                     JavaDownloadListener* detailsListener) noexcept {
    char serialText[16] = "";
    if (info.identified) {
        std::snprintf(serialText, sizeof serialText, "%u", info.serial);
    }
    const ScopedLocalRef<jstring> serial(env, env->NewStringUTF(serialText));
    if (env->ExceptionCheck()) {
        return raiseNativeException(env, nativeException, javamessages::kCreatingParentDevice);
    }
    ScopedLocalRef<jobject> device(
        env, env->NewObject(classes.device, classes.deviceInit, vendor, product, serial.get()));
    if (env->ExceptionCheck()) {
        return raiseNativeException(env, nativeException, javamessages::kCreatingParentDevice);
    }
    if (records.empty()) {
        return device.release();
    }

    ProfileBoxing boxing(env);
    if (!boxing) {
        return raiseNativeException(env, nativeException, javamessages::kConvertingProfile);
    }
    std::optional<DetailsConversion> details;
    if (detailsListener != nullptr) {
        details.emplace(env, detailsListener->connector());
        if (!*details) {
            return raiseNativeException(env, nativeException, javamessages::kDetailsClassesMissing);
        }
    }
    DiveConverter converter(env, classes, nativeException, boxing, details ? &*details : nullptr,
                            detailsListener);
    for (const DiveRecord& record : records) {
        if (!converter.addDive(record, device.get(), dives)) {
            return nullptr;
        }
    }
    return device.release();
}

}  // namespace diveconnector
