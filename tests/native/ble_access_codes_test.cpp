// The access codes of pairing BLE computers: files in the state directory first, the codes handed
// over earlier in this process after them. The process's codes outlive each test, so every test
// uses addresses of its own.
#include "ble_access_codes.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "temporary_directory.h"

namespace diveconnector {
namespace {

namespace fs = std::filesystem;

using Bytes = std::vector<unsigned char>;

Bytes code(unsigned char first, std::size_t size = 16) {
    Bytes bytes(size);
    for (std::size_t i = 0; i < size; ++i) {
        bytes[i] = static_cast<unsigned char>(first + i);
    }
    return bytes;
}

void store(const std::string& directory, const std::string& address, const Bytes& bytes) {
    BleAccessCodes(directory).store(address, bytes.data(), bytes.size());
}

// A fresh state directory, removed afterwards.
class StateDirectory : public TemporaryDirectory {
  public:
    [[nodiscard]] fs::path folder() const { return path() / "ble-access-codes"; }
    [[nodiscard]] fs::path fileOf(const std::string& name) const { return folder() / name; }
    void write(const std::string& name, const Bytes& bytes) const {
        fs::create_directories(folder());
        std::ofstream out(fileOf(name), std::ios::binary);
        out.write(reinterpret_cast<const char*>(bytes.data()),
                  static_cast<std::streamsize>(bytes.size()));
    }
};

TEST(BleAccessCodesTest, WithoutAStateDirectoryACodeLastsForTheProcess) {
    EXPECT_EQ(BleAccessCodes("").load("0A:C0:00:00:00:01"), Bytes()) << "none handed over yet";
    store("", "0A:C0:00:00:00:01", code(0x10));
    EXPECT_EQ(BleAccessCodes("").load("0A:C0:00:00:00:01"), code(0x10));
    EXPECT_EQ(BleAccessCodes("").load("0a:c0:00:00:00:01"), code(0x10)) << "however it is typed";
    EXPECT_EQ(BleAccessCodes("").load("0A:C0:00:00:00:02"), Bytes()) << "another device";
    store("", "0A:C0:00:00:00:01", code(0x20));
    EXPECT_EQ(BleAccessCodes("").load("0A:C0:00:00:00:01"), code(0x20)) << "the newest counts";
}

TEST(BleAccessCodesTest, TheStateDirectoryComesFirstAndTheProcessFillsItsGaps) {
    const StateDirectory state;
    store("", "0A:C1:00:00:00:01", code(0x30));
    EXPECT_EQ(BleAccessCodes(state.str()).load("0A:C1:00:00:00:01"), code(0x30)) << "no file";
    state.write("0A_C1_00_00_00_01", code(0x40));
    EXPECT_EQ(BleAccessCodes(state.str()).load("0A:C1:00:00:00:01"), code(0x40)) << "the file";
    EXPECT_EQ(BleAccessCodes("").load("0A:C1:00:00:00:01"), code(0x30));
    state.write("0A_C1_00_00_00_01", code(0, 257));
    EXPECT_EQ(BleAccessCodes(state.str()).load("0A:C1:00:00:00:01"), code(0x30))
        << "a file too long to be a code is not read";
}

TEST(BleAccessCodesTest, StoringWritesTheFileAndKeepsTheCodeForTheProcess) {
    const StateDirectory state;
    store(state.str(), "0a:c2:00:00:00:01", code(0x50));
    std::ifstream file(state.fileOf("0A_C2_00_00_00_01"), std::ios::binary);
    EXPECT_EQ(Bytes(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()),
              code(0x50));
    EXPECT_EQ(BleAccessCodes("").load("0A:C2:00:00:00:01"), code(0x50));

    // A state directory that cannot be written still leaves the code with the process.
    const StateDirectory blocked;
    std::ofstream(blocked.folder()) << "a file where the folder belongs";
    store(blocked.str(), "0A:C2:00:00:00:02", code(0x60));
    EXPECT_EQ(BleAccessCodes(blocked.str()).load("0A:C2:00:00:00:02"), code(0x60));
}

TEST(BleAccessCodesTest, ACodeLongerThanAnyDeviceHandsOverIsNotKept) {
    const StateDirectory state;
    store(state.str(), "0A:C3:00:00:00:01", code(0, 257));
    EXPECT_EQ(BleAccessCodes("").load("0A:C3:00:00:00:01"), Bytes());
    EXPECT_FALSE(fs::exists(state.fileOf("0A_C3_00_00_00_01")));
}

TEST(BleAccessCodesTest, ForgettingDropsTheFileAndTheProcessCode) {
    const StateDirectory state;
    store(state.str(), "0A:C5:00:00:00:01", code(0x70));
    EXPECT_TRUE(BleAccessCodes(state.str()).forget("0a:c5:00:00:00:01"));
    EXPECT_FALSE(fs::exists(state.fileOf("0A_C5_00_00_00_01")));
    EXPECT_EQ(BleAccessCodes(state.str()).load("0A:C5:00:00:00:01"), Bytes());
    EXPECT_EQ(BleAccessCodes("").load("0A:C5:00:00:00:01"), Bytes()) << "nor in memory";
    EXPECT_TRUE(BleAccessCodes(state.str()).forget("0A:C5:00:00:00:01")) << "nothing to drop";
}

TEST(BleAccessCodesTest, DownloadsOnManyThreadsShareTheCodes) {
    constexpr int kThreads = 4;
    constexpr int kRounds = 200;
    std::vector<std::thread> threads;
    std::atomic<int> wrong{0};
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t, &wrong] {
            const std::string own = "0A:C4:00:00:00:0" + std::to_string(t);
            const std::string next = "0A:C4:00:00:00:0" + std::to_string((t + 1) % kThreads);
            for (int round = 0; round < kRounds; ++round) {
                store("", own, code(static_cast<unsigned char>(t * 16)));
                const Bytes other = BleAccessCodes("").load(next);
                if (!other.empty() &&
                    other != code(static_cast<unsigned char>((t + 1) % kThreads * 16))) {
                    ++wrong;
                }
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(wrong.load(), 0);
    for (int t = 0; t < kThreads; ++t) {
        EXPECT_EQ(BleAccessCodes("").load("0A:C4:00:00:00:0" + std::to_string(t)),
                  code(static_cast<unsigned char>(t * 16)));
    }
}

}  // namespace
}  // namespace diveconnector
