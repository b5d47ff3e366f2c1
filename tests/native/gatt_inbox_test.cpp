// The BLE inbox across threads, as on Windows, where the system's callback thread pushes the
// device's notifications while the downloading thread reads: every packet whole and in order,
// every credit, the loss after them. Run under ThreadSanitizer by scripts/test.sh.
#include <gtest/gtest.h>

#include <cstddef>
#include <optional>
#include <thread>
#include <vector>

#include "gatt_inbox.h"

namespace diveconnector {
namespace {

TEST(GattInboxTest, PacketsPushedOnAnotherThreadArriveWholeInOrderAndTheLossAfterThem) {
    // Fewer than the flood bound, so that no schedule of the two threads floods the inbox.
    constexpr size_t kPackets = 5000;
    static_assert(kPackets < GattInbox::kMaxQueuedPackets);
    GattInbox inbox("AA:BB:CC:DD:EE:FF");
    std::thread device([&inbox] {
        for (size_t k = 0; k < kPackets; ++k) {
            const std::vector<unsigned char> packet(1 + k % 244, static_cast<unsigned char>(k));
            inbox.pushData(packet.data(), packet.size());
            if (k % 100 == 0) {
                const unsigned char credit = 1;
                inbox.pushCredits(&credit, 1);
            }
        }
        inbox.lose("the device disconnected.");
    });
    size_t received = 0;
    size_t credits = 0;
    while (received < kPackets) {
        unsigned char packet[256];
        size_t actual = 0;
        if (inbox.read(packet, sizeof packet, &actual)) {
            ASSERT_EQ(actual, 1 + received % 244) << "packet " << received;
            EXPECT_EQ(packet[actual - 1], static_cast<unsigned char>(received));
            ++received;
        } else {
            // Lost only after the last push: then nothing may be missing.
            ASSERT_FALSE(inbox.lost() && !inbox.hasInput())
                << received << " packets of " << kPackets;
            inbox.waitForNews(std::nullopt);
        }
        while (inbox.takeDeviceCredit()) {
            ++credits;
        }
    }
    device.join();
    while (inbox.takeDeviceCredit()) {
        ++credits;
    }
    EXPECT_EQ(credits, kPackets / 100);
    EXPECT_FALSE(inbox.hasInput());
    EXPECT_TRUE(inbox.lost());
    const std::vector<GattInbox::LogLine> lines = inbox.takeLogLines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].second, "BLE link to AA:BB:CC:DD:EE:FF lost: the device disconnected.");
}

}  // namespace
}  // namespace diveconnector
