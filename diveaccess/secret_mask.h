// The secrets of a BLE computer that pairs (the PIN the diver reads off its screen, the access
// code it hands over) blanked out of text, in every form libdivecomputer writes them to its log:
// as they are (debug lines), and as the hexadecimal of any case that its "Read:", "Write:" and
// "Ioctl ...:" lines give of a packet or an ioctl buffer, whether the packet carries the secret
// as it is or as hexadecimal text. The PIN also travels as its digits' values (the Aqualung i330R
// sends 654321 as 06 05 04 03 02 01). Each character of a match becomes '*', so a line keeps its
// shape and support still sees the exchange:
//
//     SecretMask mask;
//     mask.addPin("654321");
//     mask.addBytes(code.data(), code.size());
//     const std::string line = mask.masked("Ioctl read: size=7, data=36353433323100");
//     // "Ioctl read: size=7, data=************00"
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace diveconnector {

class SecretMask {
  public:
    void addPin(const std::string& pin);
    // Any byte string; an empty or all-zero one (no code) is not a secret.
    void addBytes(const unsigned char* data, std::size_t size);

    [[nodiscard]] std::string masked(std::string text) const;

  private:
    // Adds the form, its hexadecimal, and the hexadecimal of that in either case.
    void addForm(const std::string& form);

    // In lower case: matches ignore the case.
    std::vector<std::string> patterns_;
};

}  // namespace diveconnector
