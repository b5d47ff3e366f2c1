#include "secret_mask.h"

#include <algorithm>
#include <cstring>

namespace diveconnector {

namespace {

// ASCII only: a byte of a binary secret is never taken for a letter of some locale.
char lower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

std::string lowered(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), lower);
    return text;
}

std::string hex(const std::string& bytes) {
    constexpr char kDigits[] = "0123456789abcdef";
    std::string text;
    text.reserve(bytes.size() * 2);
    for (const char byte : bytes) {
        const auto value = static_cast<unsigned char>(byte);
        text += kDigits[value >> 4];
        text += kDigits[value & 0x0F];
    }
    return text;
}

// Where the data of a hexdump that libdivecomputer cut short ends ("...: size=N, data=HEX" with
// fewer than 2N digits, maybe followed by the line's end); 0 for any other line.
std::size_t cutHexdumpEnd(const std::string& line) {
    const std::size_t end = line.find_last_not_of('\n') + 1;
    const std::size_t data = line.rfind(", data=");
    const std::size_t size = line.rfind("size=", data);
    if (data == std::string::npos || size == std::string::npos) {
        return 0;
    }
    const std::size_t digits = data + std::strlen(", data=");
    const std::string declared = line.substr(size + 5, data - size - 5);
    if (declared.empty() || declared.size() > 9 ||
        declared.find_first_not_of("0123456789") != std::string::npos ||
        line.find_first_not_of("0123456789abcdef", digits) < end) {
        return 0;
    }
    return end - digits < 2 * std::stoull(declared) ? end : 0;
}

}  // namespace

void SecretMask::addPin(const std::string& pin) {
    if (pin.empty()) {
        return;
    }
    addForm(pin);
    if (std::all_of(pin.begin(), pin.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        std::string values = pin;
        std::transform(values.begin(), values.end(), values.begin(),
                       [](char c) { return static_cast<char>(c - '0'); });
        addForm(values);
    }
}

void SecretMask::addBytes(const unsigned char* data, std::size_t size) {
    if (std::all_of(data, data + size, [](unsigned char byte) { return byte == 0; })) {
        return;
    }
    addForm(std::string(reinterpret_cast<const char*>(data), size));
}

void SecretMask::addForm(const std::string& form) {
    // A packet may carry the secret as hexadecimal text in either case.
    const std::string asHex = hex(form);
    std::string asUpperHex = asHex;
    std::transform(asUpperHex.begin(), asUpperHex.end(), asUpperHex.begin(), [](char c) {
        return c >= 'a' && c <= 'f' ? static_cast<char>(c - 'a' + 'A') : c;
    });
    for (const std::string& pattern : {form, asHex, hex(asHex), hex(asUpperHex)}) {
        std::string entry = lowered(pattern);
        if (std::find(patterns_.begin(), patterns_.end(), entry) == patterns_.end()) {
            patterns_.push_back(std::move(entry));
        }
    }
}

std::string SecretMask::masked(std::string text) const {
    if (patterns_.empty()) {
        return text;
    }
    const std::string folded = lowered(text);
    // Marked first, replaced after: overlapping matches of different forms are all found.
    std::vector<bool> secret(text.size(), false);
    for (const std::string& pattern : patterns_) {
        for (std::size_t at = folded.find(pattern); at != std::string::npos;
             at = folded.find(pattern, at + 1)) {
            std::fill_n(secret.begin() + static_cast<std::ptrdiff_t>(at), pattern.size(), true);
        }
    }
    // libdivecomputer cuts a dump that does not fit its message buffer (some 8 KiB of data): the
    // start of a secret may end the line.
    const std::size_t end = cutHexdumpEnd(folded);
    for (const std::string& pattern : patterns_) {
        for (std::size_t length = std::min(pattern.size() - 1, end); length > 0; --length) {
            if (folded.compare(end - length, length, pattern, 0, length) == 0) {
                std::fill_n(secret.begin() + static_cast<std::ptrdiff_t>(end - length), length,
                            true);
                break;
            }
        }
    }
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (secret[i]) {
            text[i] = '*';
        }
    }
    return text;
}

}  // namespace diveconnector
