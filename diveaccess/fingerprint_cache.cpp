#include "fingerprint_cache.h"

#include <cstdio>

#include "backend_names.h"
#include "state_directory.h"

namespace diveconnector {

namespace {

// No backend's fingerprint comes near this; a longer file is not one.
constexpr std::size_t kMaxFingerprintSize = 1024;

}  // namespace

std::string fingerprintFilePath(const std::string& directory, dc_family_t family,
                                std::uint32_t serial) {
    const char* const backend = backendName(family);
    if (backend == nullptr) {
        return {};
    }
    char serialText[9];
    std::snprintf(serialText, sizeof serialText, "%08X", static_cast<unsigned int>(serial));
    return statePath(directory, std::string(backend) + '-' + serialText + ".bin");
}

FingerprintCache::FingerprintCache(std::string directory, Stored stored)
    : directory_(std::move(directory)), stored_(stored) {}

void FingerprintCache::registerStored(dc_device_t* device, std::uint32_t serial) noexcept {
    try {
        file_.clear();
        if (directory_.empty()) {
            return;
        }
        file_ = fingerprintFilePath(directory_, dc_device_get_type(device), serial);
        if (file_.empty() || stored_ == Stored::kIgnore) {
            return;
        }
        const auto fingerprint = readStateFile(file_, kMaxFingerprintSize);
        if (fingerprint && !fingerprint->empty()) {
            // A fingerprint of the wrong size is refused by the backend: every dive comes.
            static_cast<void>(dc_device_set_fingerprint(
                device, fingerprint->data(), static_cast<unsigned int>(fingerprint->size())));
        }
    } catch (...) {
        file_.clear();
    }
}

bool FingerprintCache::store(const std::vector<unsigned char>& fingerprint) const noexcept {
    return file_.empty() || fingerprint.empty() ||
           writeStateFile(file_, fingerprint.data(), fingerprint.size());
}

}  // namespace diveconnector
