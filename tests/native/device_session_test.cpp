#include "device_session.h"

#include <dcsim.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>
#include <optional>
#include <sstream>
#include <string>

#include "descriptor_iterator_name.h"
#include "dive_parser.h"
#include "native_exception.h"

namespace diveconnector {
namespace {

class DeviceSessionTest : public testing::Test {
  protected:
    void SetUp() override { dcsim_reset(); }
    void TearDown() override {
        for (int kind = 0; kind < DCSIM_HANDLE_KINDS; ++kind) {
            EXPECT_EQ(dcsim_live(static_cast<dcsim_handle_t>(kind)), 0)
                << dcsim_handle_name(static_cast<dcsim_handle_t>(kind)) << " leaked";
        }
        dcsim_reset();
    }

    struct Outcome {
        std::optional<std::string> error;  // what() of the Exception, if one was thrown
        std::string output;                // what was written to standard output
    };

    // Builds a session and opens a connection on it, then releases both.
    static Outcome openAndClose(const char* port, const char* vendor, const char* product) {
        Outcome outcome;
        testing::internal::CaptureStdout();
        try {
            const DeviceSession session(port, vendor, product, Diagnostics::standard());
            const DeviceConnection connection(session, nullptr);
        } catch (const Exception& error) {
            outcome.error = error.what();
        }
        outcome.output = testing::internal::GetCapturedStdout();
        return outcome;
    }

    static Outcome openBuiltin() {
        return openAndClose(DCSIM_BUILTIN_PORT, DCSIM_BUILTIN_VENDOR, DCSIM_BUILTIN_PRODUCT);
    }
};

TEST_F(DeviceSessionTest, OpensAndClosesTheChosenModel) {
    const Outcome outcome = openBuiltin();
    EXPECT_EQ(outcome.error, std::nullopt);
    EXPECT_EQ(outcome.output, "") << "opening and closing write no line";
    char vendor[64], product[64];
    unsigned int model = 0, transport = 0;
    ASSERT_EQ(dcsim_last_open(vendor, sizeof vendor, product, sizeof product, &model, &transport),
              0);
    EXPECT_STREQ(vendor, DCSIM_BUILTIN_VENDOR);
    EXPECT_STREQ(product, DCSIM_BUILTIN_PRODUCT);
    EXPECT_EQ(transport, static_cast<unsigned int>(DC_TRANSPORT_SERIAL));
}

TEST_F(DeviceSessionTest, ContextFailure) {
    dcsim_fault("dc_context_new", 1, DC_STATUS_NOMEMORY);
    const Outcome outcome = openBuiltin();
    EXPECT_EQ(outcome.error, "[-3]: Could not create the context.");
    EXPECT_EQ(outcome.output, "");
}

TEST_F(DeviceSessionTest, DescriptorWalkThatCannotStart) {
    dcsim_fault(kDescriptorIteratorFunction, 1, DC_STATUS_NOMEMORY);
    const Outcome outcome = openBuiltin();
    EXPECT_EQ(outcome.error, "[-3]: No matching device descriptor found.");
    EXPECT_EQ(outcome.output, "Error creating the device descriptor iterator.\n");
}

TEST_F(DeviceSessionTest, DescriptorWalkFailingPartWay) {
    dcsim_fault("dc_iterator_next", 2, DC_STATUS_IO);
    const Outcome outcome = openAndClose(DCSIM_BUILTIN_PORT, "No Such Vendor", "Nothing");
    EXPECT_EQ(outcome.error, "[-6]: No matching device descriptor found.");
    EXPECT_EQ(outcome.output, "Error iterating the device descriptors.\n");
}

TEST_F(DeviceSessionTest, ModelNamesMustMatchExactly) {
    for (const auto& [vendor, product] :
         {std::pair{"dcsim", DCSIM_BUILTIN_PRODUCT},
          std::pair{DCSIM_BUILTIN_VENDOR, "Reef explorer"},
          std::pair{DCSIM_BUILTIN_VENDOR, "Reef Explorer "},
          std::pair{"Dcsim ", DCSIM_BUILTIN_PRODUCT}, std::pair{"", ""}}) {
        SCOPED_TRACE(std::string(vendor) + "/" + product);
        const Outcome outcome = openAndClose(DCSIM_BUILTIN_PORT, vendor, product);
        EXPECT_EQ(outcome.error, "[-]: No matching device found.");
        EXPECT_EQ(outcome.output, "");
    }
    EXPECT_EQ(dcsim_calls("dc_device_open"), 0u);
}

TEST_F(DeviceSessionTest, EmptyTableFindsNothing) {
    dcsim_descriptors_clear();
    EXPECT_EQ(openBuiltin().error, "[-]: No matching device found.");
}

TEST_F(DeviceSessionTest, DeviceOpenFailure) {
    dcsim_fault("dc_device_open", 1, DC_STATUS_IO);
    const Outcome outcome = openBuiltin();
    EXPECT_EQ(outcome.error, "[-6]: Error opening device.");
    EXPECT_EQ(outcome.output, "");
}

TEST_F(DeviceSessionTest, PortThatDoesNotExist) {
    testing::internal::CaptureStderr();
    const Outcome outcome =
        openAndClose("/dev/no-such-port", DCSIM_BUILTIN_VENDOR, DCSIM_BUILTIN_PRODUCT);
    const std::string errors = testing::internal::GetCapturedStderr();
    EXPECT_EQ(outcome.error, "[-4]: Error opening device.");
    EXPECT_EQ(outcome.output, "");
    EXPECT_EQ(errors, "") << "libdivecomputer's own log would name the port";
}

TEST_F(DeviceSessionTest, RegistrationFailuresCloseTheDevice) {
    const std::pair<const char*, const char*> cases[] = {
        {"dc_device_set_events", "[-2]: Error registering the event handler."},
        {"dc_device_set_cancel", "[-2]: Error registering the cancellation handler."},
    };
    for (const auto& [function, expected] : cases) {
        SCOPED_TRACE(function);
        dcsim_reset();
        dcsim_fault(function, 1, DC_STATUS_INVALIDARGS);
        const Outcome outcome = openBuiltin();
        EXPECT_EQ(outcome.error, expected);
        EXPECT_EQ(outcome.output, "");
        EXPECT_EQ(dcsim_calls("dc_device_close"), 1u);
        EXPECT_EQ(dcsim_live(DCSIM_DEVICE), 0);
        EXPECT_EQ(dcsim_live(DCSIM_IOSTREAM), 0);
    }
    EXPECT_EQ(dcsim_calls("dc_device_set_fingerprint"), 0u) << "no fingerprint is ever registered";
}

TEST_F(DeviceSessionTest, FailingCloseIsReportedAndReleaseGoesOn) {
    dcsim_fault("dc_device_close", 1, DC_STATUS_IO);
    const Outcome outcome = openBuiltin();
    EXPECT_EQ(outcome.error, std::nullopt);
    EXPECT_EQ(outcome.output, "Error closing the device (-6).\n");
    EXPECT_EQ(dcsim_calls("dc_iostream_close"), 1u);
}

TEST_F(DeviceSessionTest, FailingCloseAfterFailedRegistration) {
    dcsim_fault("dc_device_set_cancel", 1, DC_STATUS_IO);
    dcsim_fault("dc_device_close", 1, DC_STATUS_TIMEOUT);
    const Outcome outcome = openBuiltin();
    EXPECT_EQ(outcome.error, "[-6]: Error registering the cancellation handler.");
    EXPECT_EQ(outcome.output, "Error closing the device (-7).\n");
}

// The descriptor opened is the user's own model, not the first of its family: from
// libdivecomputer 0.7 on the backend is told the model, and the transport must be the model's.
TEST_F(DeviceSessionTest, OpensTheExactModelOfTheRealTable) {
    const std::string table = std::string(FIXTURES_DIR) + "/libdivecomputer-0.9.0-descriptors.tsv";
    ASSERT_EQ(dcsim_descriptors_load_tsv(table.c_str()), 356);

    // The first serial model of the Oceanic Atom2 family (0x40002) that is not the family's first.
    std::ifstream in(table);
    std::string line, vendor, product;
    unsigned int model = 0;
    bool familySeen = false;
    std::getline(in, line);
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::string v, p, family, modelHex, modelDec, transports;
        std::getline(fields, v, '\t');
        std::getline(fields, p, '\t');
        std::getline(fields, family, '\t');
        std::getline(fields, modelHex, '\t');
        std::getline(fields, modelDec, '\t');
        std::getline(fields, transports, '\t');
        if (family != "0x40002") {
            continue;
        }
        if (familySeen && (std::stoul(transports, nullptr, 16) & DC_TRANSPORT_SERIAL) != 0) {
            vendor = v;
            product = p;
            model = static_cast<unsigned int>(std::stoul(modelDec));
            break;
        }
        familySeen = true;
    }
    ASSERT_FALSE(product.empty());

    const DeviceSession session(DCSIM_BUILTIN_PORT, vendor.c_str(), product.c_str(),
                                Diagnostics::standard());
    EXPECT_STREQ(dc_descriptor_get_vendor(session.descriptor()), vendor.c_str());
    EXPECT_STREQ(dc_descriptor_get_product(session.descriptor()), product.c_str());
    EXPECT_EQ(dc_descriptor_get_model(session.descriptor()), model);
}

// A computer answers only its own protocol, so only the exact model downloads. The wrong model of
// the family meets silence: at opening for backends that talk while opening (Atom 2), at the
// first command of the download for the others (Shearwater).
TEST_F(DeviceSessionTest, OnlyTheExactModelDownloads) {
    const std::string table = std::string(FIXTURES_DIR) + "/libdivecomputer-0.9.0-descriptors.tsv";
    ASSERT_EQ(dcsim_descriptors_load_tsv(table.c_str()), 356);
    ASSERT_EQ(dcsim_attach("serial sim:perdix\ndescriptor Shearwater Perdix\ndive\ndive\n"), 0)
        << dcsim_last_error();
    ASSERT_EQ(dcsim_attach("serial sim:geo\ndescriptor Oceanic \"Geo 4.0\"\ndive\n"), 0)
        << dcsim_last_error();
    auto download = [](const char* port, const char* vendor, const char* product) {
        testing::internal::CaptureStdout();
        std::string outcome;
        try {
            const DeviceSession session(port, vendor, product, Diagnostics::standard());
            const DownloadInterruption interruption;
            const DeviceConnection connection(session, nullptr);
            outcome = std::to_string(downloadDives(connection, interruption).size()) + " dives";
        } catch (const Exception& error) {
            outcome = error.what();
        }
        testing::internal::GetCapturedStdout();
        return outcome;
    };
    EXPECT_EQ(download("sim:perdix", "Shearwater", "Perdix"), "2 dives");
    EXPECT_EQ(download("sim:perdix", "Shearwater", "Petrel 2"),
              "[-7]: Error downloading the dives.");
    EXPECT_EQ(download("sim:geo", "Oceanic", "Geo 4.0"), "1 dives");
    EXPECT_EQ(download("sim:geo", "Oceanic", "Veo 4.0"), "[-7]: Error opening device.");
}

TEST_F(DeviceSessionTest, DuplicatePairsChooseTheFirst) {
    dcsim_descriptors_clear();
    dcsim_descriptors_add("Twin", "Model", 0x10004, 5, DC_TRANSPORT_SERIAL);
    dcsim_descriptors_add("Twin", "Model", 0x10004, 0, DC_TRANSPORT_SERIAL);
    const DeviceSession session(DCSIM_BUILTIN_PORT, "Twin", "Model", Diagnostics::standard());
    EXPECT_EQ(dc_descriptor_get_model(session.descriptor()), 5u);
}

}  // namespace
}  // namespace diveconnector
