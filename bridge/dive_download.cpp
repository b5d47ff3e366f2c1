#include "dive_download.h"

#include <string>
#include <vector>

#include "device_events.h"
#include "device_session.h"
#include "dive_conversion.h"
#include "dive_parser.h"
#include "fingerprint_cache.h"
#include "java_bindings.h"
#include "java_download_listener.h"
#include "java_strings.h"
#include "library_version.h"
#include "scoped_utf_chars.h"
#include "state_directory.h"

namespace diveconnector {

jobject loadUserDivesFromDevice(JNIEnv* env, jobject connector, jstring deviceName, jstring vendor,
                                jstring product, jobject dives) noexcept {
    JavaBinding binding(env);
    const DiveClasses classes = bindDiveClasses(binding);
    if (!binding.complete()) {
        return nullptr;
    }
    const jclass nativeException = binding.nativeException();
    if (const auto mismatch = libraryVersionMismatch()) {
        return raiseNativeException(env, nativeException, mismatch->message);
    }
    if (deviceName == nullptr || vendor == nullptr || product == nullptr || dives == nullptr) {
        return raiseNativeException(env, nativeException, javamessages::kNullArgument);
    }

    // A failed conversion leaves the JVM's OutOfMemoryError pending. Vendor and product are
    // compared with libdivecomputer's ASCII table, where modified UTF-8 changes nothing.
    ScopedUtfChars vendorChars(env, vendor);
    if (!vendorChars) {
        return nullptr;
    }
    ScopedUtfChars productChars(env, product);
    if (!productChars) {
        return nullptr;
    }

    JavaDownloadListener listener(env, connector);
    return guarded(env, nativeException, [&]() -> jobject {
        // The operating system takes port names in real UTF-8.
        const std::string name = utf8String(env, deviceName);
        FingerprintCache fingerprints(systemProperty(env, kStateDirectoryProperty),
                                      systemProperty(env, kRefreshFingerprintsProperty) == "true"
                                          ? FingerprintCache::Stored::kIgnore
                                          : FingerprintCache::Stored::kUse);
        const DeviceSession session(name.c_str(), vendorChars.c_str(), productChars.c_str());
        const DownloadInterruption interruption;
        const DeviceConnection connection(session, &listener, &fingerprints);
        const std::vector<DiveRecord> records = downloadDives(connection, interruption);
        productChars.reset();
        vendorChars.reset();
        const jobject device = convertDives(env, classes, nativeException, vendor, product,
                                            connection.info(), records, dives);
        // Only a download that ran to its end and handed every dive over moves the cache on: the
        // dives it did not fetch or the caller did not take must be offered again.
        if (device != nullptr && !records.empty() && !interruption.requested() &&
            !session.signalScope().signalled()) {
            fingerprints.store(records.front().fingerprint);
        }
        return device;
    });
}

}  // namespace diveconnector
