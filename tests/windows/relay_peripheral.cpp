#include "relay_peripheral.h"

#include <ws2tcpip.h>

namespace diveconnector {

namespace {

bool sendAll(SOCKET socket, const unsigned char* data, size_t size) {
    while (size > 0) {
        const int sent =
            send(socket, reinterpret_cast<const char*>(data), static_cast<int>(size), 0);
        if (sent <= 0) {
            return false;
        }
        data += sent;
        size -= static_cast<size_t>(sent);
    }
    return true;
}

bool receiveAll(SOCKET socket, unsigned char* data, size_t size) {
    while (size > 0) {
        const int got = recv(socket, reinterpret_cast<char*>(data), static_cast<int>(size), 0);
        if (got <= 0) {
            return false;
        }
        data += got;
        size -= static_cast<size_t>(got);
    }
    return true;
}

// A size as the relay writes it: 2 bytes, little-endian.
bool receiveSize(SOCKET socket, size_t& size) {
    unsigned char bytes[2];
    if (!receiveAll(socket, bytes, sizeof bytes)) {
        return false;
    }
    size = static_cast<size_t>(bytes[0] | bytes[1] << 8);
    return true;
}

}  // namespace

RelayPeripheral::RelayPeripheral(unsigned short port) {
    WSADATA data;
    started_ = WSAStartup(MAKEWORD(2, 2), &data) == 0;
    if (!started_) {
        return;
    }
    socket_ = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in relay{};
    relay.sin_family = AF_INET;
    relay.sin_port = htons(port);
    relay.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (socket_ != INVALID_SOCKET &&
        connect(socket_, reinterpret_cast<const sockaddr*>(&relay), sizeof relay) != 0) {
        closesocket(socket_);
        socket_ = INVALID_SOCKET;
    }
}

RelayPeripheral::~RelayPeripheral() {
    if (socket_ != INVALID_SOCKET) {
        closesocket(socket_);
    }
    if (started_) {
        WSACleanup();
    }
}

std::optional<SimulatedPeripheral::Packets> RelayPeripheral::answer(const unsigned char* data,
                                                                    size_t size) {
    // One send: a second small one would wait for the acknowledgement of the first (Nagle).
    std::vector<unsigned char> request{static_cast<unsigned char>(size & 0xFF),
                                       static_cast<unsigned char>(size >> 8)};
    request.insert(request.end(), data, data + size);
    size_t count = 0;
    if (socket_ == INVALID_SOCKET || !sendAll(socket_, request.data(), request.size()) ||
        !receiveSize(socket_, count)) {
        return std::nullopt;
    }
    Packets packets(count);
    for (std::vector<unsigned char>& packet : packets) {
        size_t length = 0;
        if (!receiveSize(socket_, length)) {
            return std::nullopt;
        }
        packet.resize(length);
        if (length > 0 && !receiveAll(socket_, packet.data(), length)) {
            return std::nullopt;
        }
    }
    return packets;
}

}  // namespace diveconnector
