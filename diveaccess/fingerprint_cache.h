// Only new dives: the fingerprint of the newest dive downloaded, kept per computer in the state
// directory as `<dir>/<backend>-<SERIAL>.bin` (8 upper-case hex digits, the raw fingerprint bytes),
// the files libdivecomputer's example tool reads and writes. Registered before the dives are
// enumerated, it makes the backend stop at that dive.
//
//     FingerprintCache fingerprints(directory, FingerprintCache::Stored::kUse);
//     DeviceConnection connection(session, listener, &fingerprints);   // DEVINFO: registerStored
//     records = downloadDives(connection, interruption);
//     ... every dive handed over and kept, nothing interrupted ...
//     fingerprints.store(records.front().fingerprint);
//
// An empty directory is no cache: nothing is read, registered or written.
#pragma once

#include <libdivecomputer/device.h>

#include <cstdint>
#include <string>
#include <vector>

namespace diveconnector {

// The cache file of a computer, or "" when it has none: no directory, a family without a backend
// name, or a path beyond the state directory's limit.
[[nodiscard]] std::string fingerprintFilePath(const std::string& directory, dc_family_t family,
                                              std::uint32_t serial);

class FingerprintCache {
  public:
    // kIgnore downloads every dive but still stores the newest one's fingerprint.
    enum class Stored { kUse, kIgnore };

    FingerprintCache(std::string directory, Stored stored);

    // For the device-information event: finds the device's file and registers the fingerprint it
    // holds with the device. A missing, unreadable or malformed file registers nothing, so every
    // dive is downloaded.
    void registerStored(dc_device_t* device, std::uint32_t serial) noexcept;

    // Replaces the device's file with the fingerprint. Does nothing before the device identified
    // itself or for an empty fingerprint; a failed write leaves the old file and returns false.
    [[nodiscard]] bool store(const std::vector<unsigned char>& fingerprint) const noexcept;

    // The library's state directory, "" when none is configured.
    [[nodiscard]] const std::string& directory() const noexcept { return directory_; }

  private:
    std::string directory_;
    Stored stored_;
    std::string file_;
};

}  // namespace diveconnector
