// The built-in descriptor table, loading the real tables from TSV, and
// dc_descriptor_filter.
#include <cstring>
#include <map>
#include <set>
#include <sstream>
#include <tuple>

#include "dcsim_test.h"

namespace dcsimtest {
namespace {

struct Row {
    std::string vendor, product;
    unsigned int family, model, transports;
};

std::vector<Row> table() {
    std::vector<Row> rows;
    dc_iterator_t* raw = nullptr;
    EXPECT_EQ(dc_descriptor_iterator(&raw), DC_STATUS_SUCCESS);
    Iterator iterator(raw);
    dc_descriptor_t* descriptor = nullptr;
    while (dc_iterator_next(iterator.get(), &descriptor) == DC_STATUS_SUCCESS) {
        Descriptor owned(descriptor);
        rows.push_back({dc_descriptor_get_vendor(descriptor), dc_descriptor_get_product(descriptor),
                        static_cast<unsigned int>(dc_descriptor_get_type(descriptor)),
                        dc_descriptor_get_model(descriptor),
                        dc_descriptor_get_transports(descriptor)});
    }
    return rows;
}

// The fixture table read independently of dcsim.
std::vector<Row> fixture(const std::string& name) {
    std::vector<Row> rows;
    std::ifstream file(std::string(DCSIM_FIXTURE_DIR) + "/" + name);
    std::string line;
    std::getline(file, line);
    while (std::getline(file, line)) {
        std::istringstream fields(line);
        std::string vendor, product, family, modelHex, modelDec, transports;
        std::getline(fields, vendor, '\t');
        std::getline(fields, product, '\t');
        std::getline(fields, family, '\t');
        std::getline(fields, modelHex, '\t');
        std::getline(fields, modelDec, '\t');
        std::getline(fields, transports, '\t');
        rows.push_back({vendor, product, static_cast<unsigned int>(std::stoul(family, nullptr, 16)),
                        static_cast<unsigned int>(std::stoul(modelDec)),
                        static_cast<unsigned int>(std::stoul(transports, nullptr, 16))});
    }
    return rows;
}

using DescriptorTableTest = DcsimTest;

TEST_F(DescriptorTableTest, BuiltinTableCoversFamiliesModelsAndTransports) {
    const std::vector<Row> rows = table();
    EXPECT_GE(rows.size(), 10u);
    std::map<unsigned int, int> modelsPerFamily;
    unsigned int transports = 0;
    bool bleOnly = false;
    for (const Row& row : rows) {
        modelsPerFamily[row.family]++;
        transports |= row.transports;
        bleOnly = bleOnly || row.transports == DC_TRANSPORT_BLE;
        EXPECT_NE(row.family, unsigned{DC_FAMILY_NULL});
    }
    EXPECT_GE(modelsPerFamily.size(), 4u);
    EXPECT_GE(std::max_element(modelsPerFamily.begin(), modelsPerFamily.end(),
                               [](auto& a, auto& b) { return a.second < b.second; })
                  ->second,
              3);
    EXPECT_EQ(transports, unsigned{DC_TRANSPORT_SERIAL | DC_TRANSPORT_USB | DC_TRANSPORT_USBHID |
                                   DC_TRANSPORT_IRDA | DC_TRANSPORT_BLUETOOTH | DC_TRANSPORT_BLE});
    EXPECT_TRUE(bleOnly);
    EXPECT_EQ(rows[0].vendor, DCSIM_BUILTIN_VENDOR);
    EXPECT_EQ(rows[0].product, DCSIM_BUILTIN_PRODUCT);
    EXPECT_EQ(rows[0].transports, unsigned{DC_TRANSPORT_SERIAL});
}

class FixtureTableTest : public DcsimTest,
                         public ::testing::WithParamInterface<std::pair<const char*, int>> {};

TEST_P(FixtureTableTest, LoadsEveryRowInOrderWithDuplicates) {
    const std::string name = GetParam().first;
    const std::string path = std::string(DCSIM_FIXTURE_DIR) + "/" + name;
    ASSERT_EQ(dcsim_descriptors_load_tsv(path.c_str()), GetParam().second) << dcsim_last_error();
    const std::vector<Row> loaded = table();
    const std::vector<Row> expected = fixture(name);
    ASSERT_EQ(loaded.size(), expected.size());
    std::multiset<std::pair<std::string, std::string>> names;
    for (size_t i = 0; i < loaded.size(); ++i) {
        EXPECT_EQ(std::tie(loaded[i].vendor, loaded[i].product, loaded[i].family, loaded[i].model,
                           loaded[i].transports),
                  std::tie(expected[i].vendor, expected[i].product, expected[i].family,
                           expected[i].model, expected[i].transports))
            << "row " << i + 1;
        names.emplace(loaded[i].vendor, loaded[i].product);
    }
    EXPECT_EQ(names.count({"Heinrichs Weikamp", "OSTC 2"}), 3u);
}

INSTANTIATE_TEST_SUITE_P(RealTables, FixtureTableTest,
                         ::testing::Values(std::pair{"libdivecomputer-0.8.0-descriptors.tsv", 320},
                                           std::pair{"libdivecomputer-0.9.0-descriptors.tsv",
                                                     356}));

struct BadTable {
    const char* contents;
    const char* reason;
};

class MalformedTableTest : public DcsimTest, public ::testing::WithParamInterface<BadTable> {};

TEST_P(MalformedTableTest, IsRejectedWithItsLineAndTheTableKept) {
    TempFile file("bad.tsv", GetParam().contents);
    EXPECT_EQ(dcsim_descriptors_load_tsv(file.path().c_str()), -1);
    EXPECT_NE(std::strstr(dcsim_last_error(), GetParam().reason), nullptr) << dcsim_last_error();
    EXPECT_EQ(table().size(), 12u);
}

#define HEADER "vendor\tproduct\tfamily\tmodel_hex\tmodel_dec\ttransports\n"

INSTANTIATE_TEST_SUITE_P(
    Cases, MalformedTableTest,
    ::testing::Values(BadTable{"", "empty"},
                      BadTable{"vendor\tproduct\n", ":1: expected the header"},
                      BadTable{HEADER "A\tB\t0x10000\t0x0\t0\t0x1\nA\tB\t0x10000\t0x0\t0\n",
                               ":3: expected 6 tab-separated columns, found 5"},
                      BadTable{HEADER "A\tB\t65536\t0x0\t0\t0x1\n", ":2: family '65536'"},
                      BadTable{HEADER "A\tB\t0x10000\t0x1\t2\t0x1\n",
                               ":2: model_hex 0x1 and model_dec 2"},
                      BadTable{HEADER "A\tB\t0x10000\t0x0\t0\t0x40\n", ":2: transports 0x40"},
                      BadTable{HEADER "A\tB\t0x10000\t0x0\t0\t0x1\t\n", ":2: expected 6"},
                      BadTable{HEADER "\tB\t0x10000\t0x0\t0\t0x1\n", ":2: empty vendor"},
                      BadTable{HEADER "A\tB\t0x10000\t0x0\t-1\t0x1\n", ":2: model_dec '-1'"},
                      BadTable{HEADER "A\tB\t0x100000000\t0x0\t0\t0x1\n", ":2: family"}));

TEST_F(DescriptorTableTest, MissingFileIsReported) {
    EXPECT_EQ(dcsim_descriptors_load_tsv("/nonexistent/table.tsv"), -1);
    EXPECT_NE(std::strstr(dcsim_last_error(), "/nonexistent/table.tsv"), nullptr);
    EXPECT_EQ(dcsim_descriptors_load_tsv(nullptr), -1);
}

TEST_F(DescriptorTableTest, WindowsLineEndsAndNoFinalNewlineAreRead) {
    TempFile file("crlf.tsv",
                  HEADER "A\tB\t0x10000\t0x0\t0\t0x1\r\nC\tD E\t0x20000\t0x11\t17\t0x3");
    ASSERT_EQ(dcsim_descriptors_load_tsv(file.path().c_str()), 2) << dcsim_last_error();
    const std::vector<Row> rows = table();
    EXPECT_EQ(rows[0].transports, 1u);
    EXPECT_EQ(rows[1].product, "D E");
    EXPECT_EQ(rows[1].model, 17u);
}

TEST_F(DescriptorTableTest, ClearAddAndBuiltin) {
    dcsim_descriptors_clear();
    EXPECT_TRUE(table().empty());
    dc_iterator_t* raw = nullptr;
    ASSERT_EQ(dc_descriptor_iterator(&raw), DC_STATUS_SUCCESS);
    Iterator iterator(raw);
    dc_descriptor_t* descriptor = nullptr;
    EXPECT_EQ(dc_iterator_next(iterator.get(), &descriptor), DC_STATUS_DONE);

    dcsim_descriptors_add("Twin", "Model", DC_FAMILY_SUUNTO_D9, 5, DC_TRANSPORT_SERIAL);
    dcsim_descriptors_add("Twin", "Model", DC_FAMILY_SUUNTO_D9, 0, DC_TRANSPORT_BLE);
    const std::vector<Row> rows = table();
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[1].model, 0u);
    EXPECT_EQ(rows[1].transports, unsigned{DC_TRANSPORT_BLE});
    dcsim_descriptors_builtin();
    EXPECT_EQ(table().size(), 12u);
}

TEST_F(DescriptorTableTest, IteratorKeepsWalkingTheTableItStartedOn) {
    dc_iterator_t* raw = nullptr;
    ASSERT_EQ(dc_descriptor_iterator(&raw), DC_STATUS_SUCCESS);
    Iterator iterator(raw);
    const std::string path =
        std::string(DCSIM_FIXTURE_DIR) + "/libdivecomputer-0.9.0-descriptors.tsv";
    ASSERT_EQ(dcsim_descriptors_load_tsv(path.c_str()), 356);
    dcsim_descriptors_clear();
    int count = 0;
    dc_descriptor_t* descriptor = nullptr;
    while (dc_iterator_next(iterator.get(), &descriptor) == DC_STATUS_SUCCESS) {
        Descriptor owned(descriptor);
        ++count;
    }
    EXPECT_EQ(count, 12);
}

#if DC_VERSION_CHECK(0, 9, 0)
// dc_descriptor_filter of 0.9.0 with its real table: per-family tables of USB
// ids and device names, whatever computers are attached.
class DescriptorFilterTest : public DescriptorTableTest {
  protected:
    void SetUp() override {
        DescriptorTableTest::SetUp();
        const std::string path =
            std::string(DCSIM_FIXTURE_DIR) + "/libdivecomputer-0.9.0-descriptors.tsv";
        ASSERT_EQ(dcsim_descriptors_load_tsv(path.c_str()), 356) << dcsim_last_error();
    }
    // How many descriptors of the table the filter lets through.
    static int matches(dc_transport_t transport, const void* userdata) {
        dc_iterator_t* raw = nullptr;
        EXPECT_EQ(dc_descriptor_iterator(&raw), DC_STATUS_SUCCESS);
        Iterator iterator(raw);
        int count = 0;
        dc_descriptor_t* descriptor = nullptr;
        while (dc_iterator_next(iterator.get(), &descriptor) == DC_STATUS_SUCCESS) {
            Descriptor owned(descriptor);
            count += dc_descriptor_filter(descriptor, transport, userdata) != 0;
        }
        return count;
    }
};

TEST_F(DescriptorFilterTest, UsbIdsFollowTheFamilyTables) {
    Descriptor steel = findDescriptor("Suunto", "EON Steel");
    Descriptor g2 = findDescriptor("Scubapro", "G2");
    Descriptor cobalt = findDescriptor("Atomic Aquatics", "Cobalt");
    const dc_usbhid_desc_t suunto{0x1493, 0x0030}, scubapro{0x2e6c, 0x3201}, other{0x1493, 0x0031};
    EXPECT_TRUE(dc_descriptor_filter(steel.get(), DC_TRANSPORT_USBHID, &suunto));
    EXPECT_FALSE(dc_descriptor_filter(steel.get(), DC_TRANSPORT_USBHID, &scubapro));
    EXPECT_FALSE(dc_descriptor_filter(steel.get(), DC_TRANSPORT_USBHID, &other));
    EXPECT_TRUE(dc_descriptor_filter(g2.get(), DC_TRANSPORT_USBHID, &scubapro));
    EXPECT_FALSE(dc_descriptor_filter(g2.get(), DC_TRANSPORT_USBHID, &suunto));
    const dc_usb_desc_t atomic{0x0471, 0x0888}, unknown{0x0471, 0x0889};
    EXPECT_TRUE(dc_descriptor_filter(cobalt.get(), DC_TRANSPORT_USB, &atomic));
    EXPECT_FALSE(dc_descriptor_filter(cobalt.get(), DC_TRANSPORT_USB, &unknown));
    // The four Suunto models take any of the family's ids.
    EXPECT_EQ(matches(DC_TRANSPORT_USBHID, &suunto), 4);
    EXPECT_EQ(matches(DC_TRANSPORT_USBHID, &other), 0);
}

TEST_F(DescriptorFilterTest, NamesFollowTheFamilyTables) {
    Descriptor petrel2 = findDescriptor("Shearwater", "Petrel 2");
    Descriptor ostc = findDescriptor("Heinrichs Weikamp", "OSTC 4");
    Descriptor sol = findDescriptor("Uwatec", "Galileo Sol");
    EXPECT_TRUE(dc_descriptor_filter(petrel2.get(), DC_TRANSPORT_BLUETOOTH, "Perdix"));
    EXPECT_TRUE(dc_descriptor_filter(petrel2.get(), DC_TRANSPORT_BLE, "perdix")) << "case";
    EXPECT_FALSE(dc_descriptor_filter(petrel2.get(), DC_TRANSPORT_BLE, "Perdix 3"))
        << "an exact name";
    EXPECT_TRUE(dc_descriptor_filter(ostc.get(), DC_TRANSPORT_BLUETOOTH, "OSTC4-12345"))
        << "a prefix";
    EXPECT_FALSE(dc_descriptor_filter(ostc.get(), DC_TRANSPORT_BLUETOOTH, "Perdix"));
    EXPECT_TRUE(dc_descriptor_filter(sol.get(), DC_TRANSPORT_IRDA, "UWATEC Galileo Sol"));
    EXPECT_FALSE(dc_descriptor_filter(sol.get(), DC_TRANSPORT_IRDA, "Galileo Sol"));

    // Per family, not per model.
    EXPECT_EQ(matches(DC_TRANSPORT_BLE, "Perdix"), 11);
    EXPECT_EQ(matches(DC_TRANSPORT_BLE, "Sirius"), 13);
    EXPECT_EQ(matches(DC_TRANSPORT_BLE, "FQ001124"), 18) << "atom2 and i330R share one";
    EXPECT_EQ(matches(DC_TRANSPORT_BLE, "FQ00112A"), 0) << "digits only after the model";
    EXPECT_EQ(matches(DC_TRANSPORT_BLE, "EON Steel 1234"), 4);
    EXPECT_EQ(matches(DC_TRANSPORT_BLE, "DS1234"), 25);
    EXPECT_EQ(matches(DC_TRANSPORT_BLE, "2_0a1B"), 7) << "Cressi: hex model, '_', hex";
    EXPECT_EQ(matches(DC_TRANSPORT_BLE, "2_0g"), 0);
    EXPECT_EQ(matches(DC_TRANSPORT_BLE, "H07 Handset"), 2);
    EXPECT_EQ(matches(DC_TRANSPORT_BLE, "1234015678"), 2);
    EXPECT_EQ(matches(DC_TRANSPORT_BLE, "123401567"), 0);
    // Every BLE model has a filter: an unknown name matches none.
    EXPECT_EQ(matches(DC_TRANSPORT_BLE, "Unknown 42"), 0);
}

TEST_F(DescriptorFilterTest, NullDescriptorOrNameAndMissingTransport) {
    Descriptor steel = findDescriptor("Suunto", "EON Steel");
    const dc_usbhid_desc_t unknown{0x1234, 0x5678};
    EXPECT_TRUE(dc_descriptor_filter(nullptr, DC_TRANSPORT_USBHID, &unknown));
    EXPECT_TRUE(dc_descriptor_filter(steel.get(), DC_TRANSPORT_USBHID, nullptr));
    EXPECT_FALSE(dc_descriptor_filter(steel.get(), DC_TRANSPORT_SERIAL, nullptr));
    EXPECT_FALSE(dc_descriptor_filter(steel.get(), DC_TRANSPORT_BLUETOOTH, "EON Steel"));
    Descriptor solution = findDescriptor("Suunto", "Solution");
    EXPECT_TRUE(dc_descriptor_filter(solution.get(), DC_TRANSPORT_SERIAL, "/dev/ttyUSB0"));
    EXPECT_EQ(matches(DC_TRANSPORT_BLE, nullptr), 110);
}
#endif

}  // namespace
}  // namespace dcsimtest
