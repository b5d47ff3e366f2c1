// The application's ear on a running download, beside the standard-output lines. diveaccess
// knows no Java: the bridge implements this for the application's connector object.
//
//     JavaDownloadListener listener(env, connector);       // any DownloadListener
//     DeviceConnection connection(session, &listener);     // nullptr: nobody listens
//
// Every call runs on the downloading thread, inside a libdivecomputer callback, so none may throw.
// Each answers whether the download may go on: false ends it the way a cancellation does (no
// dive is handed over, the download throws messages::kEventHandlerFailed), and after a false the
// listener hears nothing more of that download.
//
// Adding a call (a PIN request, say): declare it below as a pure virtual noexcept function that
// reports failure in its result (bool, or std::optional for a call that answers something); call
// it through the connection's DeviceEvents from the place that needs it, which turns a failure
// into the end of the download; implement it in the bridge's JavaDownloadListener, whose
// constructor looks the Java method up by name and signature and leaves it unbound when the
// application's class lacks it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace diveconnector {

class DownloadListener {
  public:
    virtual ~DownloadListener() = default;

    // DC_EVENT_PROGRESS: `current` of `maximum` units transferred.
    [[nodiscard]] virtual bool progress(std::uint32_t current, std::uint32_t maximum) noexcept = 0;
    // DC_EVENT_WAITING: the computer waits for the diver to act.
    [[nodiscard]] virtual bool waiting() noexcept = 0;
    // DC_EVENT_DEVINFO: what the computer says it is.
    [[nodiscard]] virtual bool deviceInfo(std::uint32_t model, std::uint32_t firmware,
                                          std::uint32_t serial) noexcept = 0;
    // A BLE computer that pairs asks for the PIN it shows on its screen, while it is being
    // opened; nullopt when the application gives none (the open then fails).
    [[nodiscard]] virtual std::optional<std::string> pinCode(const std::string& address,
                                                             const std::string& name) noexcept = 0;

  protected:
    DownloadListener() = default;
    DownloadListener(const DownloadListener&) = default;
    DownloadListener& operator=(const DownloadListener&) = default;
};

}  // namespace diveconnector
