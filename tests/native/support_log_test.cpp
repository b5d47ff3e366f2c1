#include "support_log.h"

#include <libdivecomputer/bluetooth.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>

#include "dc_handles.h"
#include "dcsim.h"

namespace diveconnector {
namespace {

std::string temporaryPath(const char* name) {
    return ::testing::TempDir() + name;
}

std::string contents(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

// std::regex rather than gMock's MatchesRegex, which a GoogleTest built without POSIX regular
// expressions (as for the clang build) reads as its simple syntax, without classes or counts.
testing::AssertionResult matchesWhole(const std::string& text, const char* pattern) {
    if (std::regex_match(text, std::regex(pattern))) {
        return testing::AssertionSuccess();
    }
    return testing::AssertionFailure() << "\"" << text << "\" does not match " << pattern;
}

TEST(SupportLogTest, LevelNamesInAnyCase) {
    EXPECT_EQ(logLevelNamed("error"), DC_LOGLEVEL_ERROR);
    EXPECT_EQ(logLevelNamed("Warning"), DC_LOGLEVEL_WARNING);
    EXPECT_EQ(logLevelNamed("INFO"), DC_LOGLEVEL_INFO);
    EXPECT_EQ(logLevelNamed("debug"), DC_LOGLEVEL_DEBUG);
    EXPECT_EQ(logLevelNamed("all"), DC_LOGLEVEL_ALL);
    for (const char* other : {"", "none", "info ", "inf", "debugging", "3"}) {
        EXPECT_EQ(logLevelNamed(other), std::nullopt) << other;
    }
}

TEST(SupportLogTest, NoPathOrAnUnopenableFileLogsNothingAnywhere) {
    const std::string unopenable = temporaryPath("missing-directory/support.log");
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    for (const SupportLog& log :
         {SupportLog(), SupportLog::open("", "debug"), SupportLog::open(unopenable, "nonsense")}) {
        EXPECT_FALSE(log.isOpen());
        log.write(DC_LOGLEVEL_ERROR, "lost %d", 1);
    }
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_FALSE(std::ifstream(unopenable).good());
}

TEST(SupportLogTest, OneLinePerMessageWithinTheLevel) {
    const std::string path = temporaryPath("one-line.log");
    std::remove(path.c_str());
    {
        const SupportLog log = SupportLog::open(path, "warning");
        log.write(DC_LOGLEVEL_WARNING, "two\nlines\rin one %s", "message");
        log.write(DC_LOGLEVEL_INFO, "too detailed");
        log.write(DC_LOGLEVEL_ERROR, "%s", "");
    }
    EXPECT_TRUE(matchesWhole(contents(path),
                             "[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9]{2}:[0-9]{2}:[0-9]{2}"
                             "\\.[0-9]{3}Z WARNING diveconnector: two lines in one message\n"
                             "[^\n]*Z ERROR diveconnector: \n"));
}

// libdivecomputer's log goes to the file with where an error was raised, never to stderr; with no
// log, libdivecomputer's stderr handler is silenced.
TEST(SupportLogTest, AttachedContextsLogToTheFileOrNowhere) {
    dcsim_reset();
    const std::string path = temporaryPath("attached.log");
    std::remove(path.c_str());
    const SupportLog log = SupportLog::open(path, "error");
    const SupportLog none;
    testing::internal::CaptureStderr();
    for (const SupportLog* target : {&log, &none}) {
        dc_context_t* raw = nullptr;
        ASSERT_EQ(dc_context_new(&raw), DC_STATUS_SUCCESS);
        const ContextHandle context(raw);
        target->attach(context.get());
        // A Bluetooth address that nothing answers: dcsim logs an error, as libdivecomputer does.
        dc_iostream_t* stream = nullptr;
        EXPECT_NE(dc_bluetooth_open(&stream, context.get(), 0x0000AABBCCDDEEFFULL, 0),
                  DC_STATUS_SUCCESS);
        const IostreamHandle owner(stream);
    }
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_TRUE(matchesWhole(contents(path),
                             "[^\n]*Z ERROR libdivecomputer: Failed to connect to the "
                             "Bluetooth device [^\n]* \\[in [^\n]*:[0-9]+ \\([a-z_]+\\)\\]\n"));
    EXPECT_EQ(dcsim_live_total(), 0);
}

// A handler libdivecomputer refuses leaves the context silent rather than on stderr.
TEST(SupportLogTest, ARefusedHandlerSilencesTheContext) {
    dcsim_reset();
    const std::string path = temporaryPath("refused.log");
    const SupportLog log = SupportLog::open(path, "all");
    dc_context_t* raw = nullptr;
    ASSERT_EQ(dc_context_new(&raw), DC_STATUS_SUCCESS);
    const ContextHandle context(raw);
    ASSERT_EQ(dcsim_fault("dc_context_set_logfunc", 1, DC_STATUS_NOMEMORY), 0);
    testing::internal::CaptureStderr();
    log.attach(context.get());
    dc_iostream_t* stream = nullptr;
    EXPECT_NE(dc_bluetooth_open(&stream, context.get(), 0x0000AABBCCDDEEFFULL, 0),
              DC_STATUS_SUCCESS);
    const IostreamHandle owner(stream);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

}  // namespace
}  // namespace diveconnector
