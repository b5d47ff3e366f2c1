#include "support_log.h"

#include <libdivecomputer/ble.h>
#include <libdivecomputer/bluetooth.h>
#include <libdivecomputer/custom.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>
// After windows.h, which it needs.
#include <aclapi.h>
#else
#include <sys/stat.h>
#endif

#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
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

#ifdef _WIN32
// Access for the process's user alone (wine, which ignores a new file's security, adds the
// system's).
TEST(SupportLogTest, ANewFileIsTheUsersAlone) {
    const std::string path = temporaryPath("private.log");
    std::remove(path.c_str());
    const SupportLog log = SupportLog::open(path, "info");
    ASSERT_TRUE(log.isOpen());
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    ASSERT_EQ(GetNamedSecurityInfoA(path.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION,
                                    nullptr, nullptr, &dacl, nullptr, &descriptor),
              ERROR_SUCCESS);
    const std::unique_ptr<void, decltype(&LocalFree)> owner(descriptor, &LocalFree);
    ASSERT_NE(dacl, nullptr) << "a null DACL lets everyone in";
    HANDLE token = nullptr;
    ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token));
    unsigned char user[256];
    DWORD size = 0;
    EXPECT_TRUE(GetTokenInformation(token, TokenUser, user, sizeof user, &size));
    CloseHandle(token);
    unsigned char system[SECURITY_MAX_SID_SIZE];
    DWORD systemSize = sizeof system;
    ASSERT_TRUE(CreateWellKnownSid(WinLocalSystemSid, nullptr, system, &systemSize));
    for (DWORD i = 0; i < dacl->AceCount; ++i) {
        void* entry = nullptr;
        ASSERT_TRUE(GetAce(dacl, i, &entry));
        const auto* allowed = static_cast<const ACCESS_ALLOWED_ACE*>(entry);
        PSID sid = const_cast<DWORD*>(&allowed->SidStart);
        EXPECT_TRUE(EqualSid(sid, reinterpret_cast<TOKEN_USER*>(user)->User.Sid) ||
                    EqualSid(sid, system))
            << "entry " << i << " lets someone else in";
    }
}
#else
TEST(SupportLogTest, ANewFileIsTheUsersAlone) {
    const std::string path = temporaryPath("private.log");
    std::remove(path.c_str());
    const mode_t umask = ::umask(022);
    const SupportLog log = SupportLog::open(path, "info");
    ::umask(umask);
    ASSERT_TRUE(log.isOpen());
    struct stat status {};
    ASSERT_EQ(::stat(path.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0600u);
}
#endif

#ifdef DC_IOCTL_BLE_GET_PINCODE  // 0.9 on: the PIN and access-code requests
// A pairing as the i330R's backend runs it over the application's stream, with libdivecomputer
// logging every buffer: the computer's answer to the PIN carries the new access code, logged
// before the stream is handed it to store.
struct PairingStream {
    const SupportLog& log;
    static constexpr unsigned char kCode[16] = {0x5A, 0x11, 0xC3, 0x07, 0xE9, 0x42, 0xB8, 0x6D,
                                                0x01, 0xF0, 0x9A, 0x3C, 0x77, 0x24, 0xD5, 0x8E};

    static dc_status_t read(void*, void* data, size_t size, size_t* actual) {
        unsigned char packet[21] = {0xCD, 0x80, 0xFB, 0x9A, 0x10};
        std::memcpy(packet + 5, kCode, sizeof kCode);
        *actual = std::min(size, sizeof packet);
        std::memcpy(data, packet, *actual);
        return DC_STATUS_SUCCESS;
    }
    static dc_status_t ioctl(void* self, unsigned int request, void* data, size_t size) {
        const SupportLog& log = static_cast<PairingStream*>(self)->log;
        if (request == DC_IOCTL_BLE_GET_PINCODE) {
            log.maskPin("654321");
            std::memcpy(data, "654321", std::min(size, sizeof "654321"));
        } else if (request == DC_IOCTL_BLE_SET_ACCESSCODE) {
            log.maskAccessCode(static_cast<const unsigned char*>(data), size);
        }
        return DC_STATUS_SUCCESS;
    }
};

TEST(SupportLogTest, ThePairingsLinesWaitForTheCodeAndHoldNoSecret) {
    dcsim_reset();
    const std::string path = temporaryPath("pairing.log");
    std::remove(path.c_str());
    {
        const SupportLog log = SupportLog::open(path, "info");
        dc_context_t* raw = nullptr;
        ASSERT_EQ(dc_context_new(&raw), DC_STATUS_SUCCESS);
        const ContextHandle context(raw);
        log.attach(context.get());
        PairingStream pairing{log};
        dc_custom_cbs_t callbacks{};
        callbacks.read = PairingStream::read;
        callbacks.ioctl = PairingStream::ioctl;
        dc_iostream_t* rawStream = nullptr;
        ASSERT_EQ(dc_custom_open(&rawStream, context.get(), DC_TRANSPORT_BLE, &callbacks, &pairing),
                  DC_STATUS_SUCCESS);
        const IostreamHandle stream(rawStream);

        char pin[7] = {};
        ASSERT_EQ(dc_iostream_ioctl(stream.get(), DC_IOCTL_BLE_GET_PINCODE, pin, sizeof pin),
                  DC_STATUS_SUCCESS);
        unsigned char answer[64];
        size_t actual = 0;
        ASSERT_EQ(dc_iostream_read(stream.get(), answer, sizeof answer, &actual),
                  DC_STATUS_SUCCESS);
        EXPECT_EQ(contents(path).find("Read:"), std::string::npos) << "the code is not known yet";
        ASSERT_EQ(dc_iostream_ioctl(stream.get(), DC_IOCTL_BLE_SET_ACCESSCODE, answer + 5, 16),
                  DC_STATUS_SUCCESS);
        EXPECT_NE(contents(path).find("Read:"), std::string::npos)
            << "known, the code lets the lines go";
        log.write(DC_LOGLEVEL_INFO, "Later: %s.", "5A11C307E942B86D01F09A3C7724D58E");
    }
    const std::string text = contents(path);
    for (const char* exchange : {"Ioctl read: size=7, data=************00",
                                 "Read: size=21, data=CD80FB9A10********************************",
                                 "Ioctl write: size=16, data=********************************",
                                 "Later: ********************************."}) {
        EXPECT_NE(text.find(exchange), std::string::npos) << exchange << " in\n" << text;
    }
    for (const char* secret : {"654321", "363534333231", "5A11C307E942B86D01F09A3C7724D58E"}) {
        EXPECT_EQ(text.find(secret), std::string::npos) << secret << " in\n" << text;
    }
    EXPECT_EQ(dcsim_live_total(), 0);
}
#endif

// The computer's answer carried a new code, but the pairing failed before it was stored.
TEST(SupportLogTest, APairingThatNeverEndsLetsItsLinesGoMaskedAndBlankedAtTheClose) {
    const std::string path = temporaryPath("unfinished.log");
    std::remove(path.c_str());
    {
        const SupportLog log = SupportLog::open(path, "info");
        log.maskPin("654321");
        log.write(DC_LOGLEVEL_INFO, "Read: size=21, data=%s",
                  "CD80FB9A105A11C307E942B86D01F09A3C7724D58E");
        log.write(DC_LOGLEVEL_ERROR, "Wrong PIN %s.", "654321");
        EXPECT_EQ(contents(path), "");
    }
    EXPECT_TRUE(matchesWhole(contents(path),
                             "[^\n]*Z INFO diveconnector: Read: size=21, data=\\*{42}\n"
                             "[^\n]*Z ERROR diveconnector: Wrong PIN \\*{6}\\.\n"))
        << contents(path);
}

}  // namespace
}  // namespace diveconnector
