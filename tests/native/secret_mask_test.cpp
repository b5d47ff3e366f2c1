// The PIN and the access code masked in the lines libdivecomputer 0.9.0 logs during a pairing,
// each written as its iostream.c, context.c (HEXDUMP: the whole buffer in upper-case hexadecimal
// on one line) and the Aqualung i330R's backend produce them.
#include "secret_mask.h"

#include <gtest/gtest.h>

#include <string>

namespace diveconnector {
namespace {

constexpr unsigned char kCode[16] = {0x5A, 0x11, 0xC3, 0x07, 0xE9, 0x42, 0xB8, 0x6D,
                                     0x01, 0xF0, 0x9A, 0x3C, 0x77, 0x24, 0xD5, 0x8E};
constexpr char kCodeHex[] = "5A11C307E942B86D01F09A3C7724D58E";
const std::string kStars(32, '*');

// The bytes of a text as a hexdump shows them.
std::string hexOf(const std::string& text) {
    std::string hex;
    for (const char c : text) {
        char pair[3];
        std::snprintf(pair, sizeof pair, "%02X", static_cast<unsigned char>(c));
        hex += pair;
    }
    return hex;
}

SecretMask pairingMask(const std::string& pin) {
    SecretMask mask;
    mask.addPin(pin);
    mask.addBytes(kCode, sizeof kCode);
    return mask;
}

TEST(SecretMaskTest, EveryFormOfThePinAndTheCodeInLibdivecomputersLines) {
    const std::string code = kCodeHex;
    struct Case {
        std::string line;
        std::string masked;
    };
    const Case cases[] = {
        // DC_IOCTL_BLE_GET_PINCODE: the NUL-terminated digits.
        {"Ioctl read: size=7, data=36353433323100", "Ioctl read: size=7, data=************00"},
        // DC_IOCTL_BLE_GET_ACCESSCODE and DC_IOCTL_BLE_SET_ACCESSCODE.
        {"Ioctl read: size=16, data=" + code, "Ioctl read: size=16, data=" + kStars},
        {"Ioctl write: size=16, data=" + code, "Ioctl write: size=16, data=" + kStars},
        // The i330R's debug dump of the code it received.
        {"Access code: size=16, data=" + code, "Access code: size=16, data=" + kStars},
        // The i330R's packets: the PIN as its digits' values, the code as it is, each after a
        // five-byte header.
        {"Write: size=11, data=CD80FB5E06060504030201",
         "Write: size=11, data=CD80FB5E06************"},
        {"Read: size=21, data=CD80FB9A10" + code, "Read: size=21, data=CD80FB9A10" + kStars},
        {"Write: size=21, data=CD80FA1110" + code, "Write: size=21, data=CD80FA1110" + kStars},
        // A protocol that sends the PIN as ASCII digits, or the code as hexadecimal text of
        // either case.
        {"Write: size=7, data=50363534333231", "Write: size=7, data=50************"},
        {"Read: size=33, data=00" + hexOf(code), "Read: size=33, data=00" + std::string(64, '*')},
        {"Read: size=32, data=" + hexOf("5a11c307e942b86d01f09a3c7724d58e"),
         "Read: size=32, data=" + std::string(64, '*')},
        // Lower-case hexadecimal, and the PIN in a text.
        {"Ioctl read: size=16, data=5a11c307e942b86d01f09a3c7724d58e",
         "Ioctl read: size=16, data=" + kStars},
        {"PIN 654321 given.", "PIN ****** given."},
        // Lines without a secret stay as they are.
        {"Ioctl: request=0x40006201 (dir=1, type=98, nr=1, size=0)",
         "Ioctl: request=0x40006201 (dir=1, type=98, nr=1, size=0)"},
        {"Read: size=7, data=CDC0FB120102", "Read: size=7, data=CDC0FB120102"},
        {"Ioctl read: size=16, data=00000000000000000000000000000000",
         "Ioctl read: size=16, data=00000000000000000000000000000000"},
    };
    const SecretMask mask = pairingMask("654321");
    for (const Case& c : cases) {
        EXPECT_EQ(mask.masked(c.line), c.masked) << c.line;
    }
}

TEST(SecretMaskTest, TheStartOfASecretEndingADumpCutShortIsMasked) {
    // 8300 bytes do not fit libdivecomputer's 16 KiB message: it writes the first 8196.
    const std::string data = std::string(2 * 8192, 'E') + "5A11C307";
    EXPECT_EQ(pairingMask("654321").masked("Read: size=8300, data=" + data + "\n"),
              "Read: size=8300, data=" + std::string(2 * 8192, 'E') + "********\n");
    // Whole, the same bytes end in no secret.
    const std::string whole = "Read: size=8196, data=" + data;
    EXPECT_EQ(pairingMask("654321").masked(whole), whole);
}

TEST(SecretMaskTest, AShortPinIsMaskedInsideItsPadding) {
    // The i330R pads a shorter PIN with zeros to six digits.
    EXPECT_EQ(pairingMask("1234").masked("Write: size=11, data=CD80FB5E06000001020304"),
              "Write: size=11, data=CD80FB5E060000********");
}

TEST(SecretMaskTest, NoSecretsOrANoneCodeMaskNothing) {
    SecretMask mask;
    mask.addPin("");
    const unsigned char none[16] = {};
    mask.addBytes(none, sizeof none);
    const std::string line = "Ioctl read: size=16, data=00000000000000000000000000000000";
    EXPECT_EQ(mask.masked(line), line);
}

}  // namespace
}  // namespace diveconnector
