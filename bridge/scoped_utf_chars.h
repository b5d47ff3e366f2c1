// Owner of the modified-UTF-8 characters of a Java string.
//
//     ScopedUtfChars name(env, javaName);
//     if (!name) return nullptr;        // the JVM's OutOfMemoryError is pending
//     use(name.c_str());
//     name.reset();                     // give them back early; otherwise the scope does
#pragma once

#include <jni.h>

#include <utility>

namespace diveconnector {

class ScopedUtfChars {
  public:
    ScopedUtfChars(JNIEnv* env, jstring string) noexcept
        : env_(env), string_(string), chars_(env->GetStringUTFChars(string, nullptr)) {}
    ~ScopedUtfChars() { reset(); }

    ScopedUtfChars(ScopedUtfChars&& other) noexcept
        : env_(other.env_), string_(other.string_), chars_(std::exchange(other.chars_, nullptr)) {}
    ScopedUtfChars& operator=(ScopedUtfChars&&) = delete;
    ScopedUtfChars(const ScopedUtfChars&) = delete;
    ScopedUtfChars& operator=(const ScopedUtfChars&) = delete;

    [[nodiscard]] const char* c_str() const noexcept { return chars_; }
    explicit operator bool() const noexcept { return chars_ != nullptr; }

    void reset() noexcept {
        if (chars_ != nullptr) {
            env_->ReleaseStringUTFChars(string_, chars_);
            chars_ = nullptr;
        }
    }

  private:
    JNIEnv* env_;
    jstring string_;
    const char* chars_;
};

}  // namespace diveconnector
