// Which service and characteristics carry a dive computer's data.
#include "gatt_choice.h"

#include <gtest/gtest.h>

namespace diveconnector {
namespace {

GattCharacteristic characteristic(const std::string& path, const std::string& uuid,
                                  std::vector<std::string> flags) {
    return GattCharacteristic{path, uuid, std::move(flags)};
}

const GattService kDeviceInformation{
    "/s1",
    "0000180a-0000-1000-8000-00805f9b34fb",
    {characteristic("/s1/c1", "00002a29-0000-1000-8000-00805f9b34fb",
                    {"read", "write", "notify"})}};
const GattService kFirmware{
    "/s2",
    "00001530-1212-efde-1523-785feabcd123",
    {characteristic("/s2/c1", "00001531-1212-efde-1523-785feabcd123", {"write", "notify"})}};
const GattService kUnknownSerial{
    "/s3",
    "11111111-2222-3333-4444-555555555555",
    {characteristic("/s3/c1", "a", {"read"}), characteristic("/s3/c2", "b", {"indicate"}),
     characteristic("/s3/c3", "c", {"write-without-response"})}};
const GattService kShearwater{"/s4",
                              "fe25c237-0ece-443c-b0aa-e02033e7029d",
                              {characteristic("/s4/c1", "27b7570b-359e-45a3-91bb-cf7e70049bd2",
                                              {"write", "write-without-response", "notify"})}};

TEST(GattChoiceTest, AKnownServiceWinsByRankOverUnknownOnes) {
    const auto choice = chooseGattService({kDeviceInformation, kUnknownSerial, kShearwater});
    ASSERT_TRUE(choice);
    EXPECT_EQ(choice->write.path, "/s4/c1");
    EXPECT_EQ(choice->notify.path, "/s4/c1");
    EXPECT_FALSE(choice->creditsWrite);
}

TEST(GattChoiceTest, OtherwiseTheFirstServiceThatCanCarryData) {
    const auto choice = chooseGattService({kDeviceInformation, kFirmware, kUnknownSerial});
    ASSERT_TRUE(choice);
    EXPECT_EQ(choice->write.path, "/s3/c3");
    EXPECT_EQ(choice->notify.path, "/s3/c2");
    EXPECT_FALSE(chooseGattService({kDeviceInformation, kFirmware}))
        << "standard and firmware-upgrade services never carry data";
    EXPECT_FALSE(chooseGattService({}));
}

TEST(GattChoiceTest, TerminalIoBringsItsCreditCharacteristics) {
    const std::string base = "-0000-1000-8000-008025000000";
    const GattService terminal{"/t",
                               "0000fefb-0000-1000-8000-00805f9b34fb",
                               {characteristic("/t/4", "00000004" + base, {"indicate"}),
                                characteristic("/t/3", "00000003" + base, {"write"}),
                                characteristic("/t/2", "00000002" + base, {"notify"}),
                                characteristic("/t/1", "00000001" + base, {"write"})}};
    const auto choice = chooseGattService({kShearwater, terminal});
    ASSERT_TRUE(choice);
    EXPECT_EQ(choice->write.path, "/t/1");
    EXPECT_EQ(choice->notify.path, "/t/2");
    ASSERT_TRUE(choice->creditsWrite);
    EXPECT_EQ(choice->creditsWrite->path, "/t/3");
    EXPECT_EQ(choice->creditsNotify->path, "/t/4");
    GattService incomplete = terminal;
    incomplete.characteristics.pop_back();
    EXPECT_FALSE(chooseGattService({incomplete}));
}

TEST(GattChoiceTest, HalcyonsSideCharacteristicsAreNeverUsed) {
    const GattService halcyon{
        "/h",
        "00000001-8c3b-4f2c-a59e-8c08224f3253",
        {characteristic("/h/1", "00000101-8c3b-4f2c-a59e-8c08224f3253", {"notify"}),
         characteristic("/h/2", "00000201-8c3b-4f2c-a59e-8c08224f3253", {"write"}),
         characteristic("/h/3", "00000002-8c3b-4f2c-a59e-8c08224f3253", {"notify"}),
         characteristic("/h/4", "00000003-8c3b-4f2c-a59e-8c08224f3253", {"write"})}};
    const auto choice = chooseGattService({halcyon});
    ASSERT_TRUE(choice);
    EXPECT_EQ(choice->notify.path, "/h/3");
    EXPECT_EQ(choice->write.path, "/h/4");
}

}  // namespace
}  // namespace diveconnector
