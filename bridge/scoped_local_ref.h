// Owner of one JNI local reference: deletes it when the scope ends, so loops over thousands of
// models or samples keep the number of live local references bounded.
//
//     ScopedLocalRef<jstring> vendor(env, env->NewStringUTF(text));
//     if (env->ExceptionCheck()) return fail();
//     env->CallBooleanMethod(set, add, vendor.get());
//     return result.release();   // hand a reference to Java instead of deleting it
//
// DeleteLocalRef may be called with an exception pending, so unwinding after a failed check is
// safe.
#pragma once

#include <jni.h>

#include <utility>

namespace diveconnector {

template <typename T>
class ScopedLocalRef {
  public:
    ScopedLocalRef(JNIEnv* env, T ref) noexcept : env_(env), ref_(ref) {}
    ~ScopedLocalRef() { reset(); }

    ScopedLocalRef(ScopedLocalRef&& other) noexcept
        : env_(other.env_), ref_(std::exchange(other.ref_, nullptr)) {}
    ScopedLocalRef& operator=(ScopedLocalRef&& other) noexcept {
        if (this != &other) {
            reset(std::exchange(other.ref_, nullptr));
            env_ = other.env_;
        }
        return *this;
    }
    ScopedLocalRef(const ScopedLocalRef&) = delete;
    ScopedLocalRef& operator=(const ScopedLocalRef&) = delete;

    [[nodiscard]] T get() const noexcept { return ref_; }
    [[nodiscard]] T release() noexcept { return std::exchange(ref_, nullptr); }
    void reset(T ref = nullptr) noexcept {
        if (ref_ != nullptr) {
            env_->DeleteLocalRef(ref_);
        }
        ref_ = ref;
    }

  private:
    JNIEnv* env_;
    T ref_;
};

}  // namespace diveconnector
