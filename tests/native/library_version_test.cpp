#include "library_version.h"

#include <dcsim.h>
#include <gtest/gtest.h>
#include <libdivecomputer/version.h>

#include <string>

namespace diveconnector {
namespace {

class LibraryVersionTest : public testing::Test {
  protected:
    void TearDown() override { dcsim_reset(); }
};

TEST_F(LibraryVersionTest, SameMajorAndMinorIsAccepted) {
    EXPECT_FALSE(libraryVersionMismatch());
    dcsim_set_version(DC_VERSION_MAJOR, DC_VERSION_MINOR, DC_VERSION_MICRO + 3);
    EXPECT_FALSE(libraryVersionMismatch()) << "a bug-fix release keeps the ABI";
}

TEST_F(LibraryVersionTest, OtherReleaseIsRefusedByName) {
    dcsim_set_version(DC_VERSION_MAJOR, DC_VERSION_MINOR - 1, 0);
    const auto mismatch = libraryVersionMismatch();
    ASSERT_TRUE(mismatch);
    const std::string loaded =
        std::to_string(DC_VERSION_MAJOR) + "." + std::to_string(DC_VERSION_MINOR - 1) + ".0";
    EXPECT_EQ(std::string(mismatch->message),
              "Incompatible libdivecomputer " + loaded + " (built for " DC_VERSION ").");

    dcsim_set_version(DC_VERSION_MAJOR + 1, DC_VERSION_MINOR, 0);
    EXPECT_TRUE(libraryVersionMismatch());
}

}  // namespace
}  // namespace diveconnector
