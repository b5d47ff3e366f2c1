#include "native_exception.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <string>

#include "diagnostics.h"

namespace diveconnector {
namespace {

TEST(ExceptionTest, DescribesStatusBetweenBrackets) {
    EXPECT_STREQ(Exception(messages::kOpeningDevice, -6).what(), "[-6]: Error opening device.");
    EXPECT_STREQ(Exception(messages::kParsingMaxdepth, -1).what(),
                 "[-1]: Error parsing the maxdepth.");
    EXPECT_STREQ(Exception(messages::kDownloadingDives, 1).what(),
                 "[1]: Error downloading the dives.");
    EXPECT_STREQ(Exception(messages::kDownloadingDives, INT32_MIN).what(),
                 "[-2147483648]: Error downloading the dives.");
}

TEST(ExceptionTest, WithoutStatusShowsHyphen) {
    const Exception error(messages::kNoMatchingDevice);
    EXPECT_STREQ(error.what(), "[-]: No matching device found.");
    EXPECT_FALSE(error.status().has_value());
    EXPECT_EQ(error.message(), "No matching device found.");
}

TEST(ExceptionTest, DescriptionStableAcrossCopiesAndCalls) {
    const Exception original(messages::kCreatingContext, -3);
    const char* first = original.what();
    const std::string expected = first;
    Exception copy = original;
    EXPECT_EQ(copy.what(), expected);
    EXPECT_EQ(copy.status(), original.status());
    EXPECT_EQ(original.what(), first);
    EXPECT_EQ(std::string(first), expected);

    copy = Exception(messages::kOpeningDevice, -6);
    EXPECT_STREQ(original.what(), expected.c_str());
}

TEST(ExceptionTest, CaughtAsStandardException) {
    try {
        throw Exception(messages::kParsingSamples, -9);
    } catch (const std::exception& error) {
        EXPECT_STREQ(error.what(), "[-9]: Error parsing the sample data.");
    }
}

void writeEveryKind(const Diagnostics& diagnostics) {
    diagnostics.statusLine(lines::kClosingDevice, -6);
    diagnostics.statusLine(lines::kDestroyingParser, 3);
    diagnostics.line(lines::kParsingMaxdepth);
    diagnostics.formattedLine("Event: progress %3.2f%% (%u/%u)\n", 50.0, 1u, 2u);
}

TEST(DiagnosticLineTest, StatusLinesKeepTheSign) {
    testing::internal::CaptureStdout();
    writeEveryKind(Diagnostics::standard());
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "Error closing the device (-6).\n"
              "Error destroying the parser (3).\n"
              "Parsing the maxdepth.\n"
              "Event: progress 50.00% (1/2)\n");
}

TEST(DiagnosticLineTest, QuietWritesNoLineOfAnyKind) {
    const SupportLog noLog;
    testing::internal::CaptureStdout();
    writeEveryKind(Diagnostics(true, noLog));
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
}

}  // namespace
}  // namespace diveconnector
