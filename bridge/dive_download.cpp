#include "dive_download.h"

#include <libdivecomputer/version.h>

#include <exception>
#include <string>
#include <vector>

#include "application_settings.h"
#include "device_events.h"
#include "device_session.h"
#include "diagnostics.h"
#include "dive_conversion.h"
#include "dive_parser.h"
#include "fingerprint_cache.h"
#include "java_bindings.h"
#include "java_download_listener.h"
#include "java_strings.h"
#include "library_version.h"
#include "scoped_utf_chars.h"
#include "support_log.h"

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

    return guarded(env, nativeException, [&]() -> jobject {
        // The operating system takes port names in real UTF-8.
        const std::string name = utf8String(env, deviceName);
        FingerprintCache fingerprints(
            systemProperty(env, properties::kStateDirectory),
            systemProperty(env, properties::kRefreshFingerprints) == "true"
                ? FingerprintCache::Stored::kIgnore
                : FingerprintCache::Stored::kUse);
        // Read at every download, so a changed setting counts from the next one.
        const std::string logPath = systemProperty(env, properties::kLog);
        const SupportLog log =
            SupportLog::open(logPath, systemProperty(env, properties::kLogLevel));
        const Diagnostics diagnostics(systemProperty(env, properties::kQuiet) == "true", log);
        diagnostics.unopenedLog(logPath);
        if (log.isOpen()) {
            const char* version = dc_version(nullptr);
            log.write(DC_LOGLEVEL_INFO, "Downloading from \"%s\": %s %s, libdivecomputer %s.",
                      name.c_str(), vendorChars.c_str(), productChars.c_str(),
                      version != nullptr ? version : "of unknown version");
        }
        try {
            JavaDownloadListener listener(env, connector, log);
            jobject device = nullptr;
            std::vector<unsigned char> newest;
            {
                const DeviceSession session(name.c_str(), vendorChars.c_str(), productChars.c_str(),
                                            diagnostics);
                const DownloadInterruption interruption;
                const DeviceConnection connection(session, &listener, &fingerprints);
                const std::vector<DiveRecord> records = downloadDives(
                    connection, interruption,
                    listener.wantsDetails() ? DetailRequest::kParse : DetailRequest::kSkip);
                log.write(DC_LOGLEVEL_INFO, "Downloaded %u dives.",
                          static_cast<unsigned int>(records.size()));
                productChars.reset();
                vendorChars.reset();
                device =
                    convertDives(env, classes, nativeException, vendor, product, connection.info(),
                                 records, dives, listener.wantsDetails() ? &listener : nullptr);
                // Only a download that ran to its end moves the cache on: the dives it did not
                // fetch must be offered again.
                if (device != nullptr && !records.empty() && !interruption.requested() &&
                    !session.signalScope().signalled()) {
                    newest = records.front().fingerprint;
                }
            }
            if (device == nullptr) {
                return nullptr;
            }
            // The device is closed and Ctrl-C is the JVM's again while the application saves the
            // dives; the cache moves on only once it says it has kept them.
            switch (listener.keepDives(device, dives)) {
                case JavaDownloadListener::Keeping::kKept:
                    // A cache that cannot be written never fails the download, but is said.
                    if (!fingerprints.store(newest)) {
                        log.write(DC_LOGLEVEL_ERROR,
                                  "Could not write the fingerprint cache in \"%s\".",
                                  fingerprints.directory().c_str());
                        diagnostics.formattedLine(
                            "Cannot write the fingerprint cache in \"%s\"; the next download "
                            "brings these dives again.\n",
                            fingerprints.directory().c_str());
                    }
                    return device;
                case JavaDownloadListener::Keeping::kNotKept:
                    return device;
                case JavaDownloadListener::Keeping::kFailed:
                    break;
            }
            return raiseNativeException(env, nativeException, javamessages::kKeepingDives);
        } catch (const std::exception& error) {
            log.write(DC_LOGLEVEL_ERROR, "The download failed: %s", error.what());
            throw;
        }
    });
}

}  // namespace diveconnector
