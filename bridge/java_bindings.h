// How the exports meet Java: the classes and members they bind, the one way a failure reaches Java
// (a pending NativeException and a null result), and the region that keeps native exceptions from
// ever reaching the JVM.
//
//     JavaBinding binding(env);
//     const jclass device = binding.findClass(jni::kDeviceClass);
//     const jmethodID init = binding.findMethod(device, "<init>", jni::kDeviceInit);
//     if (!binding.complete()) return nullptr;   // the right exception is pending
//     return guarded(env, binding.nativeException(), [&]() -> jobject { ... });
#pragma once

#include <jni.h>

#include <exception>
#include <utility>

namespace diveconnector {

namespace jni {
inline constexpr char kNativeExceptionClass[] =
    "brenquill/main/java/core/exceptions/NativeException";
inline constexpr char kDeviceClass[] = "brenquill/main/java/core/Device";
inline constexpr char kTreeSetClass[] = "java/util/TreeSet";
inline constexpr char kInit[] = "<init>";
inline constexpr char kDefaultConstructor[] = "()V";
inline constexpr char kAdd[] = "add";
inline constexpr char kAddSignature[] = "(Ljava/lang/Object;)Z";
inline constexpr char kOnSupportedDevice[] = "onSupportedDevice";
inline constexpr char kOnSupportedDeviceSignature[] = "(Ljava/lang/String;Ljava/lang/String;J)V";
inline constexpr char kOnDeviceFound[] = "onDeviceFound";
inline constexpr char kOnDeviceFoundSignature[] =
    "(Ljava/lang/String;Ljava/lang/String;IJ[Lbrenquill/main/java/core/Device;)V";
inline constexpr char kDeviceConstructor[] =
    "(Ljava/lang/String;Ljava/lang/String;Ljava/lang/String;)V";
inline constexpr char kSetClass[] = "java/util/Set";
inline constexpr char kGasClass[] = "brenquill/main/java/core/Gas";
inline constexpr char kDiveClass[] = "brenquill/main/java/core/Dive";
inline constexpr char kBlendGas[] = "blendGas";
inline constexpr char kBlendGasSignature[] = "(II)Lbrenquill/main/java/core/Gas;";
inline constexpr char kDiveConstructor[] =
    "(Lbrenquill/main/java/core/Device;Ljava/lang/String;FFLbrenquill/main/java/core/Site;"
    "Ljava/lang/String;Lbrenquill/main/java/core/Person;Lbrenquill/main/java/core/Gas;"
    "Lbrenquill/main/java/core/Cylinder;)V";
inline constexpr char kSetDiveProfile[] = "setDiveProfileAndUpdate";
inline constexpr char kSetDiveProfileSignature[] =
    "([Ljava/lang/Float;[Ljava/lang/Float;[Ljava/lang/Float;[Ljava/lang/Float;"
    "[Ljava/lang/Integer;)V";
}  // namespace jni

// The texts of NativeException for failures on the Java side.
namespace javamessages {
inline constexpr char kClassesMissing[] = "Could not find the necessary Java classes.";
inline constexpr char kMethodsMissing[] = "Could not find the necessary Java methods.";
inline constexpr char kUnexpectedNativeException[] = "Unexpected native exception.";
inline constexpr char kCreatingContainer[] = "Could not create container.";
inline constexpr char kCreatingDevice[] = "Could not create device.";
inline constexpr char kSavingDevice[] = "Could not save device.";
inline constexpr char kReportingDevice[] = "Could not report device.";
inline constexpr char kNullArgument[] =
    "Device name, vendor, product and the dive set must not be null.";
inline constexpr char kScanTime[] = "The scan time must be 0 to 600 seconds.";
inline constexpr char kNullDumpArgument[] = "Device name, vendor and product must not be null.";
inline constexpr char kCreatingMemoryImage[] = "Could not create the memory image.";
inline constexpr char kCreatingParentDevice[] = "Could not create parent device.";
inline constexpr char kCreatingGas[] = "Could not create gas.";
inline constexpr char kCreatingDive[] = "Could not create dive.";
inline constexpr char kConvertingProfile[] = "Error while converting profile data.";
inline constexpr char kSettingProfile[] = "Could not set dive profile.";
inline constexpr char kSavingDive[] = "Could not save dive.";
inline constexpr char kDetailsClassesMissing[] =
    "Could not find the dive details classes of the library's jar.";
inline constexpr char kConvertingDetails[] = "Could not convert the dive's details.";
inline constexpr char kKeepingDives[] = "The application could not keep the dives.";
}  // namespace javamessages

// Replaces whatever Java exception is pending by a NativeException with `message`. Does nothing
// when the NativeException class itself is unknown. Always returns null, the export's result.
jobject raiseNativeException(JNIEnv* env, jclass nativeException, const char* message) noexcept;

// The instance method `name` of the connector's class (`owner`, may be null), or null when the
// class neither declares nor inherits it: an application's class from before the method is simply
// not called. Leaves no exception pending.
[[nodiscard]] jmethodID optionalMethod(JNIEnv* env, jclass owner, const char* name,
                                       const char* signature) noexcept;

// Class.forName(binaryName, initialize, loader): the class as `loader` sees it (null: the boot
// loader), or null with an exception pending. FindClass would ask the loader of the calling
// class instead, which isolating loaders (OSGi bundles, plugin loaders) keep apart.
[[nodiscard]] jclass classForName(JNIEnv* env, const char* binaryName, bool initialize,
                                  jobject loader) noexcept;

// The class and member lookups of one export call. NativeException is looked up first, since
// every failure needs it. After the first failed lookup nothing more is looked up: JNI allows no
// further call while the lookup's exception is pending. Handles are locals of the call, never
// cached.
class JavaBinding {
  public:
    explicit JavaBinding(JNIEnv* env) noexcept;

    [[nodiscard]] jclass findClass(const char* name) noexcept;
    [[nodiscard]] jmethodID findMethod(jclass owner, const char* name,
                                       const char* signature) noexcept;
    [[nodiscard]] jmethodID findStaticMethod(jclass owner, const char* name,
                                             const char* signature) noexcept;

    // True when every lookup succeeded. Otherwise the caller returns null with the exception this
    // leaves pending: the JVM's own error when NativeException is missing, else a NativeException
    // saying whether a class or a member was missing.
    [[nodiscard]] bool complete() noexcept;
    [[nodiscard]] jclass nativeException() const noexcept { return nativeException_; }

  private:
    enum class Missing { kNothing, kNativeException, kClass, kMember };

    jmethodID findMember(jmethodID (JNIEnv::*lookUp)(jclass, const char*, const char*),
                         jclass owner, const char* name, const char* signature) noexcept;

    JNIEnv* env_;
    jclass nativeException_;
    Missing missing_;
};

// Runs an export's native work. A standard exception becomes a NativeException with its what()
// text, anything else "Unexpected native exception."; either way the result is null. By the time
// a handler runs, unwinding has released everything the work held.
template <typename Work>
jobject guarded(JNIEnv* env, jclass nativeException, Work&& work) noexcept {
    try {
        return std::forward<Work>(work)();
    } catch (const std::exception& error) {
        return raiseNativeException(env, nativeException, error.what());
    } catch (...) {
        return raiseNativeException(env, nativeException, javamessages::kUnexpectedNativeException);
    }
}

}  // namespace diveconnector
