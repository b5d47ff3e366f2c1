#include "memory_dump.h"

#include <dcsim.h>
#include <gtest/gtest.h>

#include <string>

#include "dcsim_fixture.h"
#include "native_exception.h"

namespace diveconnector {
namespace {

class MemoryDumpTest : public DcsimFixture {};

std::vector<unsigned char> dump(const char* port, const char* vendor, const char* product) {
    const DeviceSession session(port, vendor, product, Diagnostics::standard());
    const DeviceConnection connection(session, nullptr);
    return dumpMemory(connection);
}

TEST_F(MemoryDumpTest, TheImageHoldsEveryDiveOldestFirst) {
    ASSERT_EQ(dcsim_attach("serial sim:dump\ndive\nraw 0102\ndive\nraw 030405\n"), 0)
        << dcsim_last_error();
    EXPECT_EQ(dump("sim:dump", DCSIM_BUILTIN_VENDOR, DCSIM_BUILTIN_PRODUCT),
              (std::vector<unsigned char>{1, 2, 3, 4, 5}));
}

TEST_F(MemoryDumpTest, FailuresThrowTheirStatusAndReleaseEverything) {
    ASSERT_EQ(dcsim_attach("serial sim:dump\nfail-after 1 IO\ndive\nraw 0102\ndive\nraw 03\n"), 0)
        << dcsim_last_error();
    auto failure = [](const char* product) -> std::string {
        try {
            (void)dump("sim:dump", DCSIM_BUILTIN_VENDOR, product);
        } catch (const Exception& error) {
            return error.what();
        }
        return "no failure";
    };
    EXPECT_EQ(failure(DCSIM_BUILTIN_PRODUCT), "[-6]: Error dumping the memory.");
    ASSERT_EQ(dcsim_fault("dc_buffer_new", 1, DC_STATUS_NOMEMORY), 0);
    EXPECT_EQ(failure(DCSIM_BUILTIN_PRODUCT), "[-3]: Error dumping the memory.");
    dcsim_descriptors_add(DCSIM_BUILTIN_VENDOR, "No Dump", DC_FAMILY_SHEARWATER_PETREL, 0,
                          DC_TRANSPORT_SERIAL);
    EXPECT_EQ(failure("No Dump"), "[-1]: This dive computer cannot dump its memory.");
}

}  // namespace
}  // namespace diveconnector
