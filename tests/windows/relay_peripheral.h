// The computer at the other end of a TCP connection to 127.0.0.1 (tests/windows/ble_relay.py,
// an emulated real computer): each data write of a simulated link goes there and its
// notifications come back. One per BLE connection, as SimulatedComputer::peripheral makes them:
//
//     computer.peripheral = [port] { return std::make_unique<RelayPeripheral>(port); };
//
// A relay that cannot be reached, or goes away, answers as a computer that disconnects.
#pragma once

#include <winsock2.h>

#include "simulated_bluetooth_api.h"

namespace diveconnector {

class RelayPeripheral final : public SimulatedPeripheral {
  public:
    explicit RelayPeripheral(unsigned short port);
    ~RelayPeripheral() override;
    RelayPeripheral(const RelayPeripheral&) = delete;
    RelayPeripheral& operator=(const RelayPeripheral&) = delete;

    std::optional<Packets> answer(const unsigned char* data, size_t size) override;

  private:
    bool started_;  // WSAStartup, undone by WSACleanup
    SOCKET socket_ = INVALID_SOCKET;
};

}  // namespace diveconnector
