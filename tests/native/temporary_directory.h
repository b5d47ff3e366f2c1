// A fresh directory under the system's temporary directory for one test, removed with all it
// holds when the object goes, even after the test took its permissions away.
//
//     const TemporaryDirectory directory;
//     FingerprintCache cache(directory.str(), FingerprintCache::Stored::kUse);
#pragma once

#include <atomic>
#include <chrono>
#include <filesystem>
#include <string>
#include <system_error>

namespace diveconnector {

class TemporaryDirectory {
  public:
    TemporaryDirectory() {
        static std::atomic<unsigned int> count{0};
        const auto now = std::chrono::steady_clock::now().time_since_epoch().count();
        path_ = std::filesystem::temp_directory_path() /
                ("diveconnector-" + std::to_string(now) + "-" + std::to_string(count++));
        std::filesystem::create_directories(path_);
    }
    ~TemporaryDirectory() {
        std::error_code ignored;
        std::filesystem::permissions(path_, std::filesystem::perms::owner_all, ignored);
        std::filesystem::remove_all(path_, ignored);
    }
    TemporaryDirectory(const TemporaryDirectory&) = delete;
    TemporaryDirectory& operator=(const TemporaryDirectory&) = delete;

    [[nodiscard]] const std::filesystem::path& path() const { return path_; }
    [[nodiscard]] std::string str() const { return path_.string(); }

  private:
    std::filesystem::path path_;
};

}  // namespace diveconnector
