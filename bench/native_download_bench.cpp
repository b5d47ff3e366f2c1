// The native half of a download: enumerating and parsing a large logbook from a dcsim computer
// with no transfer delay, without Java. Prints time per dive and per sample value, and what
// parsing the dive details adds, as a ratio measured interleaved with the plain download. Then a
// repeat
// download from a computer that transfers at a USB-serial cable's rate, with and without the
// fingerprint cache.
#include <benchmark/benchmark.h>
#include <dcsim.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <iostream>
#include <stdexcept>
#include <string>

#include "device_session.h"
#include "dive_parser.h"
#include "fingerprint_cache.h"
#include "supported_devices.h"

namespace diveconnector {
namespace {

constexpr int kSamplesPerDive = 3600;

void attachLogbook(int dives) {
    dcsim_reset();
    dcsim_descriptors_add("Bench", "Computer", 0x10004, 0, DC_TRANSPORT_SERIAL);
    const std::string scenario = "serial bench\nevents none\ngenerate " + std::to_string(dives) +
                                 " samples=" + std::to_string(kSamplesPerDive) + " tanks=1\n";
    if (dcsim_attach(scenario.c_str()) != 0) {
        std::fprintf(stderr, "%s\n", dcsim_last_error());
        std::abort();
    }
}

void BM_DownloadAndParse(benchmark::State& state) {
    const int dives = static_cast<int>(state.range(0));
    attachLogbook(dives);
    // The parsing lines would swamp the report; the reporter writes only after this returns.
    std::streambuf* const output = std::cout.rdbuf(nullptr);
    for (auto _ : state) {
        const DeviceSession session("bench", "Bench", "Computer", Diagnostics::standard());
        const DownloadInterruption interruption;
        const DeviceConnection connection(session, nullptr);
        auto records = downloadDives(connection, interruption);
        benchmark::DoNotOptimize(records.data());
    }
    std::cout.rdbuf(output);
    std::cout.clear();
    // Depth, temperature and one pressure per time sample, besides the time itself.
    const double values = static_cast<double>(dives) * kSamplesPerDive * 4;
    state.counters["per_dive"] = benchmark::Counter(
        static_cast<double>(dives),
        benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
    state.counters["per_value"] = benchmark::Counter(
        values, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_DownloadAndParse)->Arg(400)->Arg(1600)->Arg(6400)->Unit(benchmark::kMillisecond);

// The same logbook with and without the details, one download of each per iteration, their order
// swapped every iteration, so that a machine's changing load falls on both alike. Timed in the
// process's CPU time (the download runs on this one thread), which other processes on a shared
// machine disturb far less than the wall time.
void BM_DetailsCost(benchmark::State& state) {
    const int dives = static_cast<int>(state.range(0));
    attachLogbook(dives);
    std::streambuf* const output = std::cout.rdbuf(nullptr);
    std::clock_t spent[2] = {};
    bool detailsFirst = false;
    for (auto _ : state) {
        for (int i = 0; i < 2; ++i) {
            const bool details = (i == 0) == detailsFirst;
            const std::clock_t start = std::clock();
            {
                const DeviceSession session("bench", "Bench", "Computer", Diagnostics::standard());
                const DownloadInterruption interruption;
                const DeviceConnection connection(session, nullptr);
                auto records =
                    downloadDives(connection, interruption,
                                  details ? DetailRequest::kParse : DetailRequest::kSkip);
                benchmark::DoNotOptimize(records.data());
            }
            spent[details ? 1 : 0] += std::clock() - start;
        }
        detailsFirst = !detailsFirst;
    }
    std::cout.rdbuf(output);
    std::cout.clear();
    const auto iterations = static_cast<double>(state.iterations());
    const double plain = static_cast<double>(spent[0]) / CLOCKS_PER_SEC / iterations;
    const double detailed = static_cast<double>(spent[1]) / CLOCKS_PER_SEC / iterations;
    // The details repeat the four values of each time sample, with their sample indices.
    const double values = static_cast<double>(dives) * kSamplesPerDive * 4;
    state.counters["plain_us_per_dive"] = plain * 1e6 / dives;
    state.counters["details_us_per_dive"] = detailed * 1e6 / dives;
    state.counters["details_ratio"] = detailed / plain;
    state.counters["extra_ns_per_value"] = (detailed - plain) * 1e9 / values;
}
BENCHMARK(BM_DetailsCost)->Arg(400)->Arg(1600)->Unit(benchmark::kMillisecond);

// A 400-dive logbook of one-hour dives at 10 s. A real computer stores such a dive in about 1 KiB,
// which a USB-serial cable at 115200 baud (11.5 KB/s) carries in about 88 ms: 8 chunks of 11 ms.
constexpr int kLogbookDives = 400;
constexpr const char* kSerialRateLogbook =
    "serial bench-serial\nevents devinfo\ndevinfo 1 2 4242\ntransfer 8 11\n"
    "generate 400 samples=360 tanks=1\n";

std::size_t downloadOnce(const std::string& cacheDirectory) {
    FingerprintCache fingerprints(cacheDirectory, FingerprintCache::Stored::kUse);
    const DeviceSession session("bench-serial", "Bench", "Computer", Diagnostics::standard());
    const DownloadInterruption interruption;
    const DeviceConnection connection(session, nullptr, &fingerprints);
    const auto records = downloadDives(connection, interruption);
    // A cache that is not written would measure full downloads as cached ones.
    if (!records.empty() && !fingerprints.store(records.front().fingerprint)) {
        throw std::runtime_error("cannot write the fingerprint cache in " + cacheDirectory);
    }
    return records.size();
}

// Argument 0: every download reads the whole logbook. Argument 1: the fingerprint cache holds the
// newest dive, as after any complete download; nothing is new.
void BM_RepeatDownloadAtSerialRate(benchmark::State& state) {
    const bool cached = state.range(0) != 0;
    dcsim_reset();
    dcsim_descriptors_add("Bench", "Computer", 0x10004, 0, DC_TRANSPORT_SERIAL);
    if (dcsim_attach(kSerialRateLogbook) != 0) {
        state.SkipWithError(dcsim_last_error());
        return;
    }
    const std::filesystem::path cache =
        std::filesystem::temp_directory_path() / "diveconnector-bench-fingerprints";
    std::filesystem::remove_all(cache);
    std::streambuf* const output = std::cout.rdbuf(nullptr);
    const std::string directory = cached ? cache.string() : std::string();
    if (cached) {
        static_cast<void>(downloadOnce(directory));
    }
    std::size_t dives = 0;
    for (auto _ : state) {
        dives = downloadOnce(directory);
    }
    std::cout.rdbuf(output);
    std::cout.clear();
    std::filesystem::remove_all(cache);
    state.counters["dives"] = static_cast<double>(dives);
    state.counters["logbook"] = kLogbookDives;
}
BENCHMARK(BM_RepeatDownloadAtSerialRate)
    ->Arg(0)
    ->Arg(1)
    ->Iterations(1)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

void BM_ListRealTable(benchmark::State& state) {
    dcsim_reset();
    const std::string table = std::string(FIXTURES_DIR) + "/libdivecomputer-0.9.0-descriptors.tsv";
    if (dcsim_descriptors_load_tsv(table.c_str()) != 356) {
        state.SkipWithError("cannot load the real descriptor table");
        return;
    }
    for (auto _ : state) {
        auto devices = listSupportedDevices();
        benchmark::DoNotOptimize(devices.data());
    }
    state.counters["calls"] = benchmark::Counter(1, benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_ListRealTable);

}  // namespace
}  // namespace diveconnector

BENCHMARK_MAIN();
