// The BLE stream's own cost: reading bursts of notifications through BlueZ's D-Bus API (a mock
// BlueZ on a private bus; run through tests/ble/private_bus.sh), beside the same reads from a
// custom stream that hands over packets already in memory. The CPU time of the reading thread is
// what the stream adds per packet; real BLE moves 5-20 KB/s.
#include <benchmark/benchmark.h>
#include <libdivecomputer/custom.h>
#include <libdivecomputer/iostream.h>

#include <deque>
#include <string>
#include <vector>

#include "ble_stream.h"
#include "dc_handles.h"
#include "mock_bluez.h"

namespace diveconnector {
namespace {

constexpr unsigned int kBurst = 500;

void BM_BleStreamOverMockBluez(benchmark::State& state) {
    const auto size = static_cast<unsigned int>(state.range(0));
    MockBluez bluez(R"({"devices": [{"address": "00:11:22:33:44:55", "name": "Bench"}]})");
    dc_iostream_t* raw = nullptr;
    if (openBleStream(nullptr, "00:11:22:33:44:55", BleHooks{}, &raw) != DC_STATUS_SUCCESS) {
        state.SkipWithError("cannot open the BLE stream");
        return;
    }
    const IostreamHandle stream(raw);
    dc_iostream_set_timeout(stream.get(), 10000);
    const unsigned char request[] = {'S', kBurst & 0xFF, kBurst >> 8,
                                     static_cast<unsigned char>(size)};
    for (auto _ : state) {
        size_t actual = 0;
        dc_iostream_write(stream.get(), request, sizeof request, &actual);
        unsigned char packet[256];
        for (unsigned int k = 0; k < kBurst; ++k) {
            if (dc_iostream_read(stream.get(), packet, sizeof packet, &actual) !=
                DC_STATUS_SUCCESS) {
                state.SkipWithError("a read failed");
                return;
            }
        }
    }
    state.SetItemsProcessed(state.iterations() * kBurst);
    state.SetBytesProcessed(state.iterations() * kBurst * size);
}

struct MemoryLink {
    std::deque<std::vector<unsigned char>> packets;
};

dc_status_t memoryRead(void* userdata, void* data, size_t size, size_t* actual) {
    auto& link = *static_cast<MemoryLink*>(userdata);
    const std::vector<unsigned char>& packet = link.packets.front();
    *actual = std::min(size, packet.size());
    std::copy_n(packet.begin(), *actual, static_cast<unsigned char*>(data));
    link.packets.pop_front();
    return DC_STATUS_SUCCESS;
}

void BM_InMemoryStream(benchmark::State& state) {
    const auto size = static_cast<size_t>(state.range(0));
    MemoryLink link;
    dc_custom_cbs_t callbacks{};
    callbacks.read = memoryRead;
    dc_iostream_t* raw = nullptr;
    dc_custom_open(&raw, nullptr, DC_TRANSPORT_BLE, &callbacks, &link);
    const IostreamHandle stream(raw);
    for (auto _ : state) {
        state.PauseTiming();
        for (unsigned int k = 0; k < kBurst; ++k) {
            link.packets.emplace_back(size, static_cast<unsigned char>(k));
        }
        state.ResumeTiming();
        unsigned char packet[256];
        size_t actual = 0;
        for (unsigned int k = 0; k < kBurst; ++k) {
            dc_iostream_read(stream.get(), packet, sizeof packet, &actual);
        }
    }
    state.SetItemsProcessed(state.iterations() * kBurst);
    state.SetBytesProcessed(state.iterations() * kBurst * static_cast<int64_t>(size));
}

BENCHMARK(BM_BleStreamOverMockBluez)->Arg(20)->Arg(244)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_InMemoryStream)->Arg(20)->Arg(244)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace diveconnector

BENCHMARK_MAIN();
