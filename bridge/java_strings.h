// Java strings as the operating system and the user's settings need them.
//
//     const std::string port = utf8String(env, javaPort);        // real UTF-8, not JNI's modified
//     ScopedLocalRef<jstring> name(env, javaString(env, deviceName));
//     if (name.get() == nullptr) return fail();                  // OutOfMemoryError pending
//     const std::string logPath = systemProperty(env, "diveconnector.log");
//     if (!logPath.empty()) { ... }
//
// JNI's GetStringUTFChars gives modified UTF-8, which writes a character outside the Basic
// Multilingual Plane as two 3-byte surrogates: a file name holding one would name another file.
// Both functions may throw std::bad_alloc; call them inside the export's guarded region.
#pragma once

#include <jni.h>

#include <string>

namespace diveconnector {

// The string in standard UTF-8. An unpaired surrogate, which no UTF-8 text can hold, becomes
// U+FFFD. Leaves no exception pending: a string the JVM cannot hand over (no memory) throws
// std::bad_alloc.
[[nodiscard]] std::string utf8String(JNIEnv* env, jstring string);

// A Java string of UTF-8 text from the operating system, which need not be valid: each byte that
// does not belong to a well-formed sequence becomes U+FFFD. Null with the JVM's exception pending
// when it cannot be created.
[[nodiscard]] jstring javaString(JNIEnv* env, const std::string& text);

// The value of the Java system property `name` in UTF-8, "" when it is unset or empty. A property
// that cannot be read (a security manager refusing it) reads as unset, with no exception left
// pending: a setting the library cannot read is a setting not made.
[[nodiscard]] std::string systemProperty(JNIEnv* env, const char* name);

}  // namespace diveconnector
