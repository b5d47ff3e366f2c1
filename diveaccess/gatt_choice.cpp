#include "gatt_choice.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <iterator>

namespace diveconnector {

namespace {

constexpr char kTerminalIo[] = "0000fefb-0000-1000-8000-00805f9b34fb";
constexpr char kUblox[] = "2456e1b9-26e2-8f83-e744-f34f01e9d701";

// Known serial services, best first.
constexpr const char* kKnownServices[] = {
    kTerminalIo,                             // Heinrichs Weikamp, Telit/Stollmann Terminal I/O
    kUblox,                                  // Heinrichs Weikamp, u-blox
    "544e326b-5b72-c6b0-1c46-41c1bc448118",  // Mares BlueLink Pro
    "98ae7120-e62e-11e3-badd-0002a5d5c51b",  // Suunto
    "cb3c4555-d670-4670-bc20-b61dbc851e9a",  // Pelagic
    "ca7b0001-f785-4c38-b599-c7c5fbadb034",  // Pelagic i330R, Apeks DSX
    "fdcdeaaa-295d-470e-bf15-04217b7aa0a0",  // Scubapro G2, G3
    "fe25c237-0ece-443c-b0aa-e02033e7029d",  // Shearwater
    "1aa44039-1667-4b29-87cc-dfecaaf31d97",  // Shearwater Perdix 3
    "0000fcef-0000-1000-8000-00805f9b34fb",  // Divesoft
    "6e400001-b5a3-f393-e0a9-e50e24dc10b8",  // Cressi
    "6e400001-b5a3-f393-e0a9-e50e24dcca9e",  // Nordic UART
    "00000001-8c3b-4f2c-a59e-8c08224f3253",  // Halcyon Symbios
    "84968ffe-d26d-478a-b953-5010bcf58bca",  // Seac
    "49535343-fe7d-4ae5-8fa9-9fafd205e455",  // Microchip (McLean Extreme)
};

constexpr const char* kFirmwareServices[] = {
    "00001530-1212-efde-1523-785feabcd123",
    "9e5d1e47-5c13-43a0-8635-82ad38a1386f",
    "a86abc2d-d44c-442e-99f7-80059a873e36",
};

// Characteristics a role must never take: Halcyon's that are never read or never written, and
// the Microchip ones beside its data pair.
constexpr const char* kNeverNotify[] = {
    "00000101-8c3b-4f2c-a59e-8c08224f3253", "49535343-6daa-4d02-abf6-19569aca69fe",
    "49535343-aca3-481c-91ec-d85e28a60318", "49535343-026e-3a9b-954c-97daef17e26e",
    "49535343-4c8a-39b3-2f49-511cff073b7e", "49535343-8841-43f4-a8d4-ecbe34729bb3",
};
constexpr const char* kNeverWrite[] = {
    "00000201-8c3b-4f2c-a59e-8c08224f3253", "49535343-6daa-4d02-abf6-19569aca69fe",
    "49535343-aca3-481c-91ec-d85e28a60318", "49535343-026e-3a9b-954c-97daef17e26e",
    "49535343-4c8a-39b3-2f49-511cff073b7e", "49535343-1e4d-4bd9-ba61-23c647249616",
};

template <size_t N>
bool listed(const char* const (&list)[N], const std::string& uuid) {
    return std::any_of(std::begin(list), std::end(list),
                       [&uuid](const char* item) { return uuid == item; });
}

bool isStandardBase(const std::string& uuid) {
    return uuid.size() == 36 && uuid.compare(0, 4, "0000") == 0 &&
           uuid.compare(8, 28, "-0000-1000-8000-00805f9b34fb") == 0;
}

int rankOf(const std::string& uuid) {
    const auto found = std::find_if(std::begin(kKnownServices), std::end(kKnownServices),
                                    [&uuid](const char* item) { return uuid == item; });
    return found == std::end(kKnownServices)
               ? -1
               : static_cast<int>(std::distance(std::begin(kKnownServices), found));
}

const GattCharacteristic* byUuid(const GattService& service, const char* uuid) {
    for (const GattCharacteristic& characteristic : service.characteristics) {
        if (characteristic.uuid == uuid) {
            return &characteristic;
        }
    }
    return nullptr;
}

std::optional<GattChoice> choose(const GattService& service) {
    GattChoice choice;
    if (service.uuid == kTerminalIo) {
        const auto* rx = byUuid(service, "00000001-0000-1000-8000-008025000000");
        const auto* tx = byUuid(service, "00000002-0000-1000-8000-008025000000");
        const auto* creditsRx = byUuid(service, "00000003-0000-1000-8000-008025000000");
        const auto* creditsTx = byUuid(service, "00000004-0000-1000-8000-008025000000");
        if (rx == nullptr || tx == nullptr || creditsRx == nullptr || creditsTx == nullptr) {
            return std::nullopt;
        }
        return GattChoice{*rx, *tx, *creditsRx, *creditsTx};
    }
    if (service.uuid == kUblox) {
        const auto* fifo = byUuid(service, "2456e1b9-26e2-8f83-e744-f34f01e9d703");
        const auto* credits = byUuid(service, "2456e1b9-26e2-8f83-e744-f34f01e9d704");
        if (fifo == nullptr || credits == nullptr) {
            return std::nullopt;
        }
        return GattChoice{*fifo, *fifo, *credits, *credits};
    }
    const GattCharacteristic* write = nullptr;
    const GattCharacteristic* notify = nullptr;
    for (const GattCharacteristic& characteristic : service.characteristics) {
        if (write == nullptr && characteristic.writable() &&
            !listed(kNeverWrite, characteristic.uuid)) {
            write = &characteristic;
        }
        if (notify == nullptr && characteristic.notifies() &&
            !listed(kNeverNotify, characteristic.uuid)) {
            notify = &characteristic;
        }
    }
    if (write == nullptr || notify == nullptr) {
        return std::nullopt;
    }
    choice.write = *write;
    choice.notify = *notify;
    return choice;
}

}  // namespace

bool GattCharacteristic::has(const char* flag) const {
    return std::any_of(flags.begin(), flags.end(),
                       [flag](const std::string& item) { return item == flag; });
}

std::optional<GattChoice> chooseGattService(const std::vector<GattService>& services) {
    const GattService* best = nullptr;
    int bestRank = -1;
    for (const GattService& service : services) {
        const int rank = rankOf(service.uuid);
        if (rank >= 0 && (best == nullptr || rank < bestRank)) {
            best = &service;
            bestRank = rank;
        }
    }
    if (best != nullptr) {
        return choose(*best);
    }
    for (const GattService& service : services) {
        if (listed(kFirmwareServices, service.uuid) || isStandardBase(service.uuid)) {
            continue;
        }
        if (auto choice = choose(service)) {
            return choice;
        }
    }
    return std::nullopt;
}

std::string upperCaseAddress(std::string address) {
    std::transform(address.begin(), address.end(), address.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return address;
}

std::string lowerCaseUuid(std::string uuid) {
    std::transform(uuid.begin(), uuid.end(), uuid.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return uuid;
}

}  // namespace diveconnector
