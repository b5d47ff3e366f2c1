#include "profile_boxing.h"

#include <algorithm>

#include "java_bindings.h"
#include "profile_boxing_class.h"
#include "scoped_local_ref.h"

namespace diveconnector {

namespace {

constexpr char kHelperClass[] = "diveconnector/internal/ProfileBoxing";
constexpr char kHelperBinaryName[] = "diveconnector.internal.ProfileBoxing";

// The helper as the boot loader knows it, or null with an exception pending: isolating loaders
// (OSGi bundles, JBoss Modules, plugin loaders) do not pass an unknown package on to it.
jclass findInBootLoader(JNIEnv* env) {
    return classForName(env, kHelperBinaryName, false, nullptr);
}

jclass findOrDefineHelper(JNIEnv* env) {
    if (const jclass found = findInBootLoader(env)) {
        return found;
    }
    env->ExceptionClear();
    // The boot loader: defined once per JVM, whichever loader loaded the application's classes.
    if (const jclass defined = env->DefineClass(kHelperClass, nullptr,
                                                reinterpret_cast<const jbyte*>(kProfileBoxingClass),
                                                static_cast<jsize>(sizeof kProfileBoxingClass))) {
        return defined;
    }
    // Another download may have defined it in the meantime.
    env->ExceptionClear();
    return findInBootLoader(env);
}

// Copies a series into a primitive array and its presence mask, a stack-sized chunk at a time,
// then lets the helper box it.
template <typename Value, typename Element, typename PrimitiveArray>
jobjectArray box(JNIEnv* env, const std::vector<std::optional<Value>>& series, jsize length,
                 PrimitiveArray (JNIEnv::*newArray)(jsize),
                 void (JNIEnv::*setRegion)(PrimitiveArray, jsize, jsize, const Element*),
                 jclass helper, jmethodID method) {
    const ScopedLocalRef<PrimitiveArray> values(env, (env->*newArray)(length));
    if (values.get() == nullptr) {
        return nullptr;
    }
    const ScopedLocalRef<jbooleanArray> present(env, env->NewBooleanArray(length));
    if (present.get() == nullptr) {
        return nullptr;
    }
    constexpr jsize kChunk = 512;
    Element chunkValues[kChunk];
    jboolean chunkPresent[kChunk];
    for (jsize start = 0; start < length; start += kChunk) {
        const jsize count = std::min(kChunk, length - start);
        for (jsize i = 0; i < count; ++i) {
            const std::optional<Value>& entry = series[static_cast<std::size_t>(start + i)];
            chunkPresent[i] = entry ? JNI_TRUE : JNI_FALSE;
            chunkValues[i] = entry ? static_cast<Element>(*entry) : Element{};
        }
        (env->*setRegion)(values.get(), start, count, chunkValues);
        env->SetBooleanArrayRegion(present.get(), start, count, chunkPresent);
    }
    return static_cast<jobjectArray>(
        env->CallStaticObjectMethod(helper, method, values.get(), present.get()));
}

}  // namespace

ProfileBoxing::ProfileBoxing(JNIEnv* env) noexcept : env_(env), helper_(findOrDefineHelper(env)) {
    if (helper_ == nullptr) {
        return;
    }
    floats_ = env->GetStaticMethodID(helper_, "floats", "([F[Z)[Ljava/lang/Float;");
    if (floats_ != nullptr) {
        integers_ = env->GetStaticMethodID(helper_, "integers", "([I[Z)[Ljava/lang/Integer;");
    }
}

jobjectArray ProfileBoxing::floats(const std::vector<std::optional<float>>& series,
                                   jsize length) noexcept {
    return box<float, jfloat>(env_, series, length, &JNIEnv::NewFloatArray,
                              &JNIEnv::SetFloatArrayRegion, helper_, floats_);
}

jobjectArray ProfileBoxing::integers(const std::vector<std::optional<std::int32_t>>& series,
                                     jsize length) noexcept {
    return box<std::int32_t, jint>(env_, series, length, &JNIEnv::NewIntArray,
                                   &JNIEnv::SetIntArrayRegion, helper_, integers_);
}

}  // namespace diveconnector
