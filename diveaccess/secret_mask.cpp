#include "secret_mask.h"

#include <algorithm>

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
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (secret[i]) {
            text[i] = '*';
        }
    }
    return text;
}

}  // namespace diveconnector
