// The download events of the application's connector object: the optional instance methods
//
//     void onDownloadProgress(long current, long maximum)
//     void onDownloadWaiting()
//     void onDeviceInfo(long model, long firmware, long serial)
//     String onPinCodeRequest(String address, String name)
//     boolean onDivesDownloaded(Device device, Set<Dive> dives)
//     void onDiveDetails(Dive dive, diveconnector.details.DiveDetails details)
//
// called on the downloading thread when the connector's class declares or inherits them.
//
//     JavaDownloadListener listener(env, connector, log);
//     DeviceConnection connection(session, &listener);
//
// A method the class lacks is not called; looking for it leaves no exception pending. A method
// that throws fails the call: its exception is cleared at once, so no JNI call ever runs with it
// pending, the support log names it, and the download ends with messages::kEventHandlerFailed.
// onDivesDownloaded comes after the device is closed, once every dive is in the set: its answer
// decides whether the fingerprint cache may move on (see keepDives). onDiveDetails comes for each
// dive right before it goes into the set; only a connector that declares it has details parsed.
//
// A new optional method: one more member of the kind below, bound in the constructor by name and
// JNI signature, and the DownloadListener call that invokes it and asks succeeded().
#pragma once

#include <jni.h>

#include <cstdint>
#include <optional>
#include <string>

#include "download_listener.h"
#include "support_log.h"

namespace diveconnector {

class JavaDownloadListener final : public DownloadListener {
  public:
    // Borrows env, connector and log for the whole download, on the calling thread.
    JavaDownloadListener(JNIEnv* env, jobject connector, const SupportLog& log) noexcept;

    [[nodiscard]] bool progress(std::uint32_t current, std::uint32_t maximum) noexcept override;
    [[nodiscard]] bool waiting() noexcept override;
    [[nodiscard]] bool deviceInfo(std::uint32_t model, std::uint32_t firmware,
                                  std::uint32_t serial) noexcept override;
    // A null answer or a throw (cleared) gives none; a throw does not end the download itself.
    [[nodiscard]] std::optional<std::string> pinCode(const std::string& address,
                                                     const std::string& name) noexcept override;

    // Whether the connector takes each dive's details.
    [[nodiscard]] bool wantsDetails() const noexcept { return onDiveDetails_ != nullptr; }
    [[nodiscard]] jobject connector() const noexcept { return connector_; }
    // Hands a dive's details to onDiveDetails; false when it threw (cleared and logged).
    [[nodiscard]] bool diveDetails(jobject dive, jobject details) noexcept;

    // What the application did with the dives of a download that handed them all over.
    enum class Keeping { kKept, kNotKept, kFailed };
    // Asks onDivesDownloaded to save `dives`; a class without it has kept them (today's rule).
    // kFailed: it threw, and its exception is cleared and logged.
    [[nodiscard]] Keeping keepDives(jobject device, jobject dives) noexcept;

  private:
    // True when the call of `method` just made returned normally; otherwise logs, with what
    // follows from it, and clears the exception it threw.
    [[nodiscard]] bool succeeded(const char* method,
                                 const char* consequence = "the download ends") noexcept;

    JNIEnv* env_;
    jobject connector_;
    const SupportLog& log_;
    jmethodID onDownloadProgress_;
    jmethodID onDownloadWaiting_;
    jmethodID onDeviceInfo_;
    jmethodID onPinCodeRequest_;
    jmethodID onDivesDownloaded_;
    jmethodID onDiveDetails_;
};

}  // namespace diveconnector
