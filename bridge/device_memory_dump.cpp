#include "device_memory_dump.h"

#include <cstddef>
#include <exception>
#include <string>
#include <vector>

#include "application_settings.h"
#include "device_session.h"
#include "diagnostics.h"
#include "fingerprint_cache.h"
#include "java_bindings.h"
#include "java_download_listener.h"
#include "java_strings.h"
#include "library_version.h"
#include "memory_dump.h"
#include "native_exception.h"
#include "scoped_utf_chars.h"
#include "support_log.h"

namespace diveconnector {

namespace {

// A new Java byte array holding `bytes`; throws when the JVM cannot make it.
jbyteArray toJavaBytes(JNIEnv* env, const std::vector<unsigned char>& bytes) {
    const auto size = static_cast<jsize>(bytes.size());
    if (bytes.size() > static_cast<std::size_t>(size)) {
        throw Exception(javamessages::kCreatingMemoryImage);
    }
    const jbyteArray array = env->NewByteArray(size);
    if (array == nullptr) {
        throw Exception(javamessages::kCreatingMemoryImage);
    }
    env->SetByteArrayRegion(array, 0, size, reinterpret_cast<const jbyte*>(bytes.data()));
    return array;
}

}  // namespace

jbyteArray dumpDeviceMemory(JNIEnv* env, jobject connector, jstring deviceName, jstring vendor,
                            jstring product) noexcept {
    JavaBinding binding(env);
    const jclass nativeException = binding.nativeException();
    if (!binding.complete()) {
        return nullptr;
    }
    if (const auto mismatch = libraryVersionMismatch()) {
        raiseNativeException(env, nativeException, mismatch->message);
        return nullptr;
    }
    if (deviceName == nullptr || vendor == nullptr || product == nullptr) {
        raiseNativeException(env, nativeException, javamessages::kNullDumpArgument);
        return nullptr;
    }
    ScopedUtfChars vendorChars(env, vendor);
    if (!vendorChars) {
        return nullptr;
    }
    ScopedUtfChars productChars(env, product);
    if (!productChars) {
        return nullptr;
    }

    return static_cast<jbyteArray>(guarded(env, nativeException, [&]() -> jobject {
        const std::string name = utf8String(env, deviceName);
        const std::string logPath = systemProperty(env, properties::kLog);
        const SupportLog log =
            SupportLog::open(logPath, systemProperty(env, properties::kLogLevel));
        const Diagnostics diagnostics(systemProperty(env, properties::kQuiet) == "true", log);
        diagnostics.unopenedLog(logPath);
        log.write(DC_LOGLEVEL_INFO, "Dumping the memory of \"%s\": %s %s.", name.c_str(),
                  vendorChars.c_str(), productChars.c_str());
        try {
            JavaDownloadListener listener(env, connector, log);
            const DeviceSession session(name.c_str(), vendorChars.c_str(), productChars.c_str(),
                                        diagnostics);
            // The state directory of downloads, for a BLE computer's access code; no fingerprint
            // is registered or stored, as a dump reads the whole memory.
            FingerprintCache state(systemProperty(env, properties::kStateDirectory),
                                   FingerprintCache::Stored::kIgnore);
            const DeviceConnection connection(session, &listener, &state);
            const std::vector<unsigned char> image = dumpMemory(connection);
            log.write(DC_LOGLEVEL_INFO, "Dumped %u bytes.",
                      static_cast<unsigned int>(image.size()));
            return toJavaBytes(env, image);
        } catch (const std::exception& error) {
            log.write(DC_LOGLEVEL_ERROR, "The dump failed: %s", error.what());
            throw;
        }
    }));
}

}  // namespace diveconnector
