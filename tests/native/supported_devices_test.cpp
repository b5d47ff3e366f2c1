#include "supported_devices.h"

#include <dcsim.h>
#include <gtest/gtest.h>

#include "dcsim_fixture.h"
#include "descriptor_iterator_name.h"

#include <fstream>
#include <string>
#include <vector>

namespace diveconnector {
namespace {

class SupportedDevicesTest : public DcsimFixture {};

// The (vendor, product, transports) rows of a fixture table, in file order.
std::vector<SupportedDevice> readFixture(const std::string& name) {
    std::ifstream in(std::string(FIXTURES_DIR) + "/" + name);
    std::vector<SupportedDevice> rows;
    std::string line;
    std::getline(in, line);  // header
    while (std::getline(in, line)) {
        const auto tab1 = line.find('\t');
        const auto tab2 = line.find('\t', tab1 + 1);
        const auto transports = line.rfind('\t') + 1;
        rows.push_back(
            {line.substr(0, tab1), line.substr(tab1 + 1, tab2 - tab1 - 1),
             static_cast<unsigned int>(std::stoul(line.substr(transports), nullptr, 16))});
    }
    return rows;
}

void expectSame(const std::vector<SupportedDevice>& actual,
                const std::vector<SupportedDevice>& expected) {
    ASSERT_EQ(actual.size(), expected.size());
    for (size_t i = 0; i < actual.size(); ++i) {
        EXPECT_EQ(actual[i].vendor, expected[i].vendor) << "row " << i;
        EXPECT_EQ(actual[i].product, expected[i].product) << "row " << i;
        EXPECT_EQ(actual[i].transports, expected[i].transports) << "row " << i;
    }
}

TEST_F(SupportedDevicesTest, ListsTheBuiltInTableInOrder) {
    const auto devices = listSupportedDevices();
    ASSERT_GE(devices.size(), 10u);
    bool builtinFound = false;
    for (const auto& device : devices) {
        builtinFound |=
            device.vendor == DCSIM_BUILTIN_VENDOR && device.product == DCSIM_BUILTIN_PRODUCT;
    }
    EXPECT_TRUE(builtinFound);
}

TEST_F(SupportedDevicesTest, ListsRealTablesWithDuplicatesKept) {
    for (const char* table :
         {"libdivecomputer-0.9.0-descriptors.tsv", "libdivecomputer-0.8.0-descriptors.tsv"}) {
        SCOPED_TRACE(table);
        const auto expected = readFixture(table);
        ASSERT_EQ(dcsim_descriptors_load_tsv((std::string(FIXTURES_DIR) + "/" + table).c_str()),
                  static_cast<int>(expected.size()));
        expectSame(listSupportedDevices(), expected);
    }
}

TEST_F(SupportedDevicesTest, EmptyTableGivesEmptyList) {
    dcsim_descriptors_clear();
    EXPECT_TRUE(listSupportedDevices().empty());
}

TEST_F(SupportedDevicesTest, IteratorThatCannotStartGivesEmptyList) {
    ASSERT_EQ(dcsim_fault(kDescriptorIteratorFunction, 1, DC_STATUS_NOMEMORY), 0);
    EXPECT_TRUE(listSupportedDevices().empty());
}

TEST_F(SupportedDevicesTest, WalkFailingPartWayKeepsWhatWasRead) {
    dcsim_descriptors_clear();
    dcsim_descriptors_add("Vendor A", "One", 0x10000, 0, 0x01);
    dcsim_descriptors_add("Vendor A", "Two", 0x10000, 1, 0x01);
    dcsim_descriptors_add("Vendor B", "Three", 0x20000, 0, 0x02);
    ASSERT_EQ(dcsim_fault("dc_iterator_next", 3, DC_STATUS_IO), 0);
    expectSame(listSupportedDevices(), {{"Vendor A", "One", 0x01}, {"Vendor A", "Two", 0x01}});
}

TEST_F(SupportedDevicesTest, EqualPairsAreBothListed) {
    dcsim_descriptors_clear();
    dcsim_descriptors_add("Heinrichs Weikamp", "OSTC 2", 0x60000, 0x11, 0x01);
    dcsim_descriptors_add("Heinrichs Weikamp", "OSTC 2", 0x60000, 0x12, 0x31);
    expectSame(listSupportedDevices(),
               {{"Heinrichs Weikamp", "OSTC 2", 0x01}, {"Heinrichs Weikamp", "OSTC 2", 0x31}});
}

}  // namespace
}  // namespace diveconnector
