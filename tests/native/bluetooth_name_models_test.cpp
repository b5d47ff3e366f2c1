#include "bluetooth_name_models.h"

#include <gtest/gtest.h>
#include <libdivecomputer/version.h>

#include <fstream>
#include <string>
#include <vector>

namespace diveconnector {
namespace {

constexpr unsigned int kBle = 0x20;

struct Row {
    ModelFacts facts;
    unsigned int transports;
};

std::vector<Row> realTable() {
    std::ifstream in(std::string(FIXTURES_DIR) + "/libdivecomputer-0.9.0-descriptors.tsv");
    std::vector<Row> rows;
    std::string line;
    std::getline(in, line);  // header
    while (std::getline(in, line)) {
        std::vector<std::string> cells;
        size_t start = 0;
        for (size_t tab; (tab = line.find('\t', start)) != std::string::npos; start = tab + 1) {
            cells.push_back(line.substr(start, tab - start));
        }
        cells.push_back(line.substr(start));
        rows.push_back(
            {{cells[0], cells[1], static_cast<unsigned int>(std::stoul(cells[2], nullptr, 16)),
              static_cast<unsigned int>(std::stoul(cells[3], nullptr, 16))},
             static_cast<unsigned int>(std::stoul(cells[5], nullptr, 16))});
    }
    return rows;
}

// What libdivecomputer 0.9's filter passes for a name of these families: their BLE models.
std::vector<ModelFacts> bleModelsOf(std::initializer_list<unsigned int> families) {
    std::vector<ModelFacts> models;
    for (const Row& row : realTable()) {
        for (const unsigned int family : families) {
            if (row.facts.family == family && (row.transports & kBle) != 0) {
                models.push_back(row.facts);
            }
        }
    }
    return models;
}

// Every BLE model of the table, as a release without the filter leaves them.
std::vector<ModelFacts> everyBleModel() {
    std::vector<ModelFacts> models;
    for (const Row& row : realTable()) {
        if ((row.transports & kBle) != 0) {
            models.push_back(row.facts);
        }
    }
    return models;
}

std::vector<std::string> products(const std::vector<ModelFacts>& models) {
    std::vector<std::string> names;
    for (const ModelFacts& model : models) {
        names.push_back(model.vendor + " " + model.product);
    }
    return names;
}

using Names = std::vector<std::string>;

constexpr unsigned int kShearwater = 0xa0001;
constexpr unsigned int kUwatecSmart = 0x30002;
constexpr unsigned int kSuuntoEonSteel = 0x10005;
constexpr unsigned int kMaresIconHd = 0x50003;
constexpr unsigned int kHwOstc3 = 0x60002;
constexpr unsigned int kAtom2 = 0x40002;
constexpr unsigned int kI330r = 0x40003;
constexpr unsigned int kCressiGoa = 0x70002;
constexpr unsigned int kHalcyon = 0x180000;
constexpr unsigned int kDivesystem = 0xd0000;

TEST(BluetoothNameModelsTest, ProductNamesPickTheLongestMatch) {
    const auto shearwater = bleModelsOf({kShearwater});
    ASSERT_EQ(shearwater.size(), 11u);
    EXPECT_EQ(products(modelsTheNameTells(shearwater, "Perdix 2")), Names{"Shearwater Perdix 2"});
    EXPECT_EQ(products(modelsTheNameTells(shearwater, "Perdix")), Names{"Shearwater Perdix"});
    EXPECT_EQ(products(modelsTheNameTells(shearwater, "Peregrine TX")),
              Names{"Shearwater Peregrine TX"});
    EXPECT_EQ(products(modelsTheNameTells(shearwater, "Tern")), Names{"Shearwater Tern"});

    const auto suunto = bleModelsOf({kSuuntoEonSteel});
    EXPECT_EQ(products(modelsTheNameTells(suunto, "EON Steel Black 2219001234")),
              Names{"Suunto EON Steel Black"});
    EXPECT_EQ(products(modelsTheNameTells(suunto, "Suunto D5 1234")), Names{"Suunto D5"});

    // Spelling aside: the Puck 4 advertises "Puck4", the OSTC 4 "OSTC4-12345".
    EXPECT_EQ(products(modelsTheNameTells(bleModelsOf({kMaresIconHd}), "Puck4 1234")),
              Names{"Mares Puck 4"});
    EXPECT_EQ(products(modelsTheNameTells(bleModelsOf({kHwOstc3}), "OSTC4-12345")),
              Names{"Heinrichs Weikamp OSTC 4"});
    // "+" is part of the name: the OSTC Plus is no OSTC 2.
    EXPECT_TRUE(modelsTheNameTells(bleModelsOf({kHwOstc3}), "OSTC+ 23456").empty());
}

TEST(BluetoothNameModelsTest, PartsOfProductNamesWithinOneFamily) {
    const auto scubapro = bleModelsOf({kUwatecSmart});
    EXPECT_EQ(products(modelsTheNameTells(scubapro, "Aladin")),
              (Names{"Scubapro Aladin Sport Matrix", "Scubapro Aladin H Matrix",
                     "Scubapro Aladin A1", "Scubapro Aladin A2"}));
    EXPECT_EQ(products(modelsTheNameTells(scubapro, "A2")), Names{"Scubapro Aladin A2"});
    EXPECT_EQ(products(modelsTheNameTells(scubapro, "HUD")), Names{"Scubapro G2 HUD"});
    EXPECT_EQ(products(modelsTheNameTells(scubapro, "G2")), Names{"Scubapro G2"});
    // A Ratio name carries no model: the family stands.
    EXPECT_TRUE(modelsTheNameTells(bleModelsOf({kDivesystem}), "IX5M012345").empty());
}

TEST(BluetoothNameModelsTest, ModelNumbersInNames) {
    const auto pelagic = bleModelsOf({kAtom2, kI330r});
    ASSERT_EQ(pelagic.size(), 18u);
    EXPECT_EQ(products(modelsTheNameTells(pelagic, "FQ001124")), Names{"Aqualung i770R"});
#if DC_VERSION_CHECK(0, 9, 0)
    // Families a build for 0.8 does not know.
    EXPECT_EQ(products(modelsTheNameTells(pelagic, "GD123456")), Names{"Aqualung i330R"});
    EXPECT_EQ(products(modelsTheNameTells(pelagic, "GA123456")), Names{"Apeks DSX"});
#endif
    // Two letters of no listed model, or letters not followed by digits only.
    EXPECT_TRUE(modelsTheNameTells(pelagic, "ZZ001124").empty());
    EXPECT_TRUE(modelsTheNameTells(pelagic, "FQ00x124").empty());

    const auto cressi = bleModelsOf({kCressiGoa});
    EXPECT_EQ(products(modelsTheNameTells(cressi, "2_1a2b3c")), Names{"Cressi Goa"});
    EXPECT_EQ(products(modelsTheNameTells(cressi, "a_0001")), Names{"Cressi Nepto"});
    EXPECT_TRUE(modelsTheNameTells(cressi, "2_xyz").empty());
    EXPECT_TRUE(modelsTheNameTells(cressi, "2_").empty());

#if DC_VERSION_CHECK(0, 9, 0)
    const auto halcyon = bleModelsOf({kHalcyon});
    EXPECT_EQ(products(modelsTheNameTells(halcyon, "H01-4711")), Names{"Halcyon Symbios HUD"});
    EXPECT_EQ(products(modelsTheNameTells(halcyon, "1234071234")),
              Names{"Halcyon Symbios Handset"});
#endif
}

TEST(BluetoothNameModelsTest, WithoutTheFilterOnlyAProductNameTells) {
    const auto all = everyBleModel();
    EXPECT_EQ(products(modelsTheNameTells(all, "Teric")), Names{"Shearwater Teric"});
    EXPECT_EQ(products(modelsTheNameTells(all, "FQ001124")), Names{"Aqualung i770R"});
    // Across families a part of a name proves nothing.
    EXPECT_TRUE(modelsTheNameTells(all, "Aladin").empty());
    EXPECT_TRUE(modelsTheNameTells(all, "Living room TV").empty());
    EXPECT_TRUE(modelsTheNameTells(all, "").empty());
}

}  // namespace
}  // namespace diveconnector
