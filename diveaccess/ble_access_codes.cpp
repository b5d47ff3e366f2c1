#include "ble_access_codes.h"

#include <algorithm>
#include <cctype>

#include "state_directory.h"

namespace diveconnector {

namespace {

constexpr char kSubfolder[] = "ble-access-codes";
// Far more than the 16 bytes of today's codes, still a bound on what is read.
constexpr std::size_t kLongestCode = 256;

}  // namespace

std::string BleAccessCodes::pathOf(const std::string& address) const {
    // One name per device however the address was typed, and no ':' that some file systems refuse.
    std::string name = address;
    std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) {
        return c == ':' ? '_' : static_cast<char>(std::toupper(c));
    });
    return statePath(directory_, kSubfolder, name);
}

std::vector<unsigned char> BleAccessCodes::load(const std::string& address) const {
    const std::string path = pathOf(address);
    if (path.empty()) {
        return {};
    }
    return readStateFile(path, kLongestCode).value_or(std::vector<unsigned char>());
}

void BleAccessCodes::store(const std::string& address, const unsigned char* code,
                           std::size_t size) const {
    const std::string path = pathOf(address);
    if (!path.empty() && size <= kLongestCode) {
        static_cast<void>(writeStateFile(path, code, size));
    }
}

}  // namespace diveconnector
