// Boxes profile series into the Float[] and Integer[] arrays a Dive takes.
//
// Boxing value by value through JNI costs several JVM transitions and a constructor call per
// value; a full dive computer holds millions. So the library defines a small helper class in the
// JVM (once per JVM, bytes embedded at build time) and hands it each series as a primitive array
// with a presence mask: a few JNI calls per series.
//
//     ProfileBoxing boxing(env);
//     if (!boxing) return fail();                          // an exception is pending
//     ScopedLocalRef<jobjectArray> depths(env, boxing.floats(profile.depthSeries, n));
//     if (env->ExceptionCheck()) return fail();
#pragma once

#include <jni.h>

#include <cstdint>
#include <optional>
#include <vector>

namespace diveconnector {

class ProfileBoxing {
  public:
    // Finds the helper class, defining it first if this JVM has not seen it yet.
    explicit ProfileBoxing(JNIEnv* env) noexcept;
    explicit operator bool() const noexcept { return floats_ != nullptr && integers_ != nullptr; }

    // The first `length` entries of the series, boxed; null with an exception pending on failure.
    [[nodiscard]] jobjectArray floats(const std::vector<std::optional<float>>& series,
                                      jsize length) noexcept;
    [[nodiscard]] jobjectArray integers(const std::vector<std::optional<std::int32_t>>& series,
                                        jsize length) noexcept;

  private:
    JNIEnv* env_;
    jclass helper_;
    jmethodID floats_ = nullptr;
    jmethodID integers_ = nullptr;
};

}  // namespace diveconnector
