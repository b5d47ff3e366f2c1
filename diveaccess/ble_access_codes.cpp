#include "ble_access_codes.h"

#include <algorithm>
#include <cctype>
#include <exception>
#include <map>
#include <mutex>

#include "platform_files.h"
#include "state_directory.h"

namespace diveconnector {

namespace {

constexpr char kSubfolder[] = "ble-access-codes";
// Far more than the 16 bytes of today's codes, still a bound on what is kept.
constexpr std::size_t kLongestCode = 256;

// One name per device however the address was typed, and no ':' that some file systems refuse.
std::string nameOf(const std::string& address) {
    std::string name = address;
    std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) {
        return c == ':' ? '_' : static_cast<char>(std::toupper(c));
    });
    return name;
}

// The codes handed over in this process, by device name. Besides the stop state, the one piece
// of process-wide state, and deliberately so: a code must outlive the download that received it
// even when the application keeps no state directory, and downloads run on any thread.
class ProcessCodes {
  public:
    static ProcessCodes& instance() {
        static ProcessCodes codes;
        return codes;
    }

    std::vector<unsigned char> find(const std::string& name) {
        const std::lock_guard<std::mutex> lock(mutex_);
        const auto found = codes_.find(name);
        return found != codes_.end() ? found->second : std::vector<unsigned char>();
    }

    void keep(const std::string& name, const unsigned char* code, std::size_t size) {
        const std::lock_guard<std::mutex> lock(mutex_);
        codes_[name].assign(code, code + size);
    }

    void drop(const std::string& name) {
        const std::lock_guard<std::mutex> lock(mutex_);
        codes_.erase(name);
    }

  private:
    std::mutex mutex_;
    std::map<std::string, std::vector<unsigned char>> codes_;
};

}  // namespace

std::vector<unsigned char> BleAccessCodes::load(const std::string& address) const noexcept {
    try {
        const std::string name = nameOf(address);
        const std::string path = statePath(directory_, kSubfolder, name);
        if (!path.empty()) {
            std::optional<std::vector<unsigned char>> stored = readStateFile(path, kLongestCode);
            if (stored) {
                return std::move(*stored);
            }
        }
        return ProcessCodes::instance().find(name);
    } catch (const std::exception&) {
        return {};
    }
}

void BleAccessCodes::store(const std::string& address, const unsigned char* code,
                           std::size_t size) const noexcept {
    if (size > kLongestCode) {
        return;
    }
    try {
        const std::string name = nameOf(address);
        ProcessCodes::instance().keep(name, code, size);
        const std::string path = statePath(directory_, kSubfolder, name);
        if (!path.empty()) {
            static_cast<void>(writeStateFile(path, code, size));
        }
    } catch (const std::exception&) {
        // Memory ran out: the code is not kept.
    }
}

bool BleAccessCodes::forget(const std::string& address) const noexcept {
    try {
        const std::string name = nameOf(address);
        ProcessCodes::instance().drop(name);
        const std::string path = statePath(directory_, kSubfolder, name);
        return path.empty() || removeFile(path);
    } catch (const std::exception&) {
        return false;
    }
}

}  // namespace diveconnector
