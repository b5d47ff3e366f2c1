#include "java_bindings.h"

#include "scoped_local_ref.h"

namespace diveconnector {

jclass classForName(JNIEnv* env, const char* binaryName, bool initialize, jobject loader) noexcept {
    const ScopedLocalRef<jclass> classClass(env, env->FindClass("java/lang/Class"));
    if (classClass.get() == nullptr) {
        return nullptr;
    }
    const jmethodID forName =
        env->GetStaticMethodID(classClass.get(), "forName",
                               "(Ljava/lang/String;ZLjava/lang/ClassLoader;)Ljava/lang/Class;");
    if (forName == nullptr) {
        return nullptr;
    }
    const ScopedLocalRef<jstring> name(env, env->NewStringUTF(binaryName));
    if (name.get() == nullptr) {
        return nullptr;
    }
    const auto found = static_cast<jclass>(env->CallStaticObjectMethod(
        classClass.get(), forName, name.get(), initialize ? JNI_TRUE : JNI_FALSE, loader));
    return env->ExceptionCheck() ? nullptr : found;
}

jobject raiseNativeException(JNIEnv* env, jclass nativeException, const char* message) noexcept {
    if (nativeException != nullptr) {
        env->ExceptionClear();
        env->ThrowNew(nativeException, message);
    }
    return nullptr;
}

jmethodID optionalMethod(JNIEnv* env, jclass owner, const char* name,
                         const char* signature) noexcept {
    if (owner == nullptr) {
        return nullptr;
    }
    const jmethodID method = env->GetMethodID(owner, name, signature);
    if (method == nullptr) {
        // NoSuchMethodError: the application does not listen for this.
        env->ExceptionClear();
    }
    return method;
}

JavaBinding::JavaBinding(JNIEnv* env) noexcept
    : env_(env),
      nativeException_(env->FindClass(jni::kNativeExceptionClass)),
      missing_(nativeException_ != nullptr ? Missing::kNothing : Missing::kNativeException) {}

jclass JavaBinding::findClass(const char* name) noexcept {
    if (missing_ != Missing::kNothing) {
        return nullptr;
    }
    const jclass found = env_->FindClass(name);
    if (found == nullptr) {
        missing_ = Missing::kClass;
    }
    return found;
}

jmethodID JavaBinding::findMethod(jclass owner, const char* name, const char* signature) noexcept {
    return findMember(&JNIEnv::GetMethodID, owner, name, signature);
}

jmethodID JavaBinding::findStaticMethod(jclass owner, const char* name,
                                        const char* signature) noexcept {
    return findMember(&JNIEnv::GetStaticMethodID, owner, name, signature);
}

jmethodID JavaBinding::findMember(jmethodID (JNIEnv::*lookUp)(jclass, const char*, const char*),
                                  jclass owner, const char* name, const char* signature) noexcept {
    if (missing_ != Missing::kNothing) {
        return nullptr;
    }
    const jmethodID found = (env_->*lookUp)(owner, name, signature);
    if (found == nullptr) {
        missing_ = Missing::kMember;
    }
    return found;
}

bool JavaBinding::complete() noexcept {
    switch (missing_) {
        case Missing::kNothing:
            return true;
        case Missing::kNativeException:
            // The JVM's own lookup error is left pending: there is no NativeException to replace
            // it.
            return false;
        case Missing::kClass:
            raiseNativeException(env_, nativeException_, javamessages::kClassesMissing);
            return false;
        case Missing::kMember:
            raiseNativeException(env_, nativeException_, javamessages::kMethodsMissing);
            return false;
    }
    return false;
}

}  // namespace diveconnector
