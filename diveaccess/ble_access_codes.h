// The access codes BLE computers that pair (Aqualung i330R, Apeks DSX) hand over after the PIN,
// to be given back on every later connection: one file per device address in the state
// directory's "ble-access-codes" folder, written whole, readable by the user only. Every code is
// also kept in memory for the life of the process, so that the PIN is asked once per process
// while no state directory is configured, or its file cannot be read.
//
//     const BleAccessCodes codes(stateDirectory);   // "": kept in memory only
//     const std::vector<unsigned char> code = codes.load("AA:BB:CC:DD:EE:FF");   // empty: none
//     codes.store("AA:BB:CC:DD:EE:FF", bytes, size);
//     static_cast<void>(codes.forget("AA:BB:CC:DD:EE:FF"));   // the computer refused it
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace diveconnector {

class BleAccessCodes {
  public:
    explicit BleAccessCodes(std::string directory) : directory_(std::move(directory)) {}

    // The code in the state directory, else the one handed over earlier in this process; empty
    // when there is none.
    [[nodiscard]] std::vector<unsigned char> load(const std::string& address) const noexcept;
    // A code that cannot be kept is not an error: the diver is asked for the PIN again.
    void store(const std::string& address, const unsigned char* code,
               std::size_t size) const noexcept;
    // Drops the code from the state directory and from memory, so that the next opening asks for
    // the PIN; false when its file stays.
    [[nodiscard]] bool forget(const std::string& address) const noexcept;

  private:
    std::string directory_;
};

}  // namespace diveconnector
