// Turns a dive's details into the diveconnector.details.DiveDetails of the library's own jar.
//
// The classes are found through the loader of the application's connector class: an application
// that takes the details compiled its connector against them, so that loader sees them, even
// when it passes nothing on to its parent (OSGi bundles, plugin loaders).
//
//     DetailsConversion conversion(env, connector);
//     if (!conversion) return fail();                           // an exception is pending
//     ScopedLocalRef<jobject> details(env, conversion.convert(record.details));
//     if (env->ExceptionCheck()) return fail();
#pragma once

#include <jni.h>

#include "dive_details.h"
#include "scoped_local_ref.h"

namespace diveconnector {

class DetailsConversion {
  public:
    DetailsConversion(JNIEnv* env, jobject connector) noexcept;
    explicit operator bool() const noexcept { return samplesInit_ != nullptr; }

    // A new local reference, or null with an exception pending.
    [[nodiscard]] jobject convert(const DiveDetails& details) noexcept;

  private:
    [[nodiscard]] jobject convertSamples(const DetailSamples& samples) noexcept;

    JNIEnv* env_;
    ScopedLocalRef<jclass> detailsClass_;
    ScopedLocalRef<jclass> samplesClass_;
    ScopedLocalRef<jclass> doubleArrayClass_;
    ScopedLocalRef<jclass> intArrayClass_;
    jmethodID detailsInit_ = nullptr;
    jmethodID samplesInit_ = nullptr;
};

}  // namespace diveconnector
