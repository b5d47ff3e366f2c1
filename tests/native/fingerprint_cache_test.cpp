// Only new dives: the backend names, the state directory's files and the fingerprint cache over
// dcsim's computers, which stop at the registered fingerprint as the real backends do.
#include "fingerprint_cache.h"

#include <dcsim.h>
#include <gtest/gtest.h>
#include <libdivecomputer/version.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "backend_names.h"
#include "dcsim_fixture.h"
#include "device_session.h"
#include "dive_parser.h"
#include "native_exception.h"
#include "state_directory.h"
#include "temporary_directory.h"

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace diveconnector {
namespace {

namespace fs = std::filesystem;

using Bytes = std::vector<unsigned char>;

Bytes fileBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void writeBytes(const fs::path& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

std::vector<std::string> entries(const fs::path& directory) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(directory)) {
        names.push_back(entry.path().filename().string());
    }
    return names;
}

TEST(BackendNamesTest, NameEveryFamilyOfTheReleaseAsTheExampleToolDoes) {
    std::ifstream fixture(FIXTURES_DIR "/libdivecomputer-backend-names.tsv");
    ASSERT_TRUE(fixture) << "fixture missing";
    std::string line;
    std::getline(fixture, line);
    unsigned int expected = 0;
    while (std::getline(fixture, line)) {
        std::istringstream fields(line);
        std::string name, family, constant, since;
        ASSERT_TRUE(std::getline(fields, name, '\t') && std::getline(fields, family, '\t') &&
                    std::getline(fields, constant, '\t') && std::getline(fields, since));
        const auto value = static_cast<dc_family_t>(std::stoul(family, nullptr, 16));
        if (since == "0.9.0" && !DC_VERSION_CHECK(0, 9, 0)) {
            EXPECT_EQ(backendName(value), nullptr) << constant << " is not in this release";
            continue;
        }
        ++expected;
        ASSERT_NE(backendName(value), nullptr) << constant;
        EXPECT_EQ(std::string(backendName(value)), name) << constant;
    }
    EXPECT_EQ(expected, DC_VERSION_CHECK(0, 9, 0) ? 44u : 42u);

    // Every family value libdivecomputer can have: none beyond the fixture has a name. The highest
    // vendor number is below 32, so the enum holds no value from vendor 32 on.
    unsigned int named = 0;
    for (unsigned int vendor = 0; vendor < 32; ++vendor) {
        for (unsigned int member = 0; member < 64; ++member) {
            named += backendName(static_cast<dc_family_t>((vendor << 16) | member)) != nullptr;
        }
    }
    EXPECT_EQ(named, expected);
    EXPECT_EQ(backendName(DC_FAMILY_UWATEC_MERIDIAN), nullptr);
    EXPECT_EQ(backendName(DC_FAMILY_NULL), nullptr);
}

TEST(FingerprintFilePathTest, IsTheExampleToolsNameOrNone) {
    EXPECT_EQ(fingerprintFilePath("/cache", DC_FAMILY_SUUNTO_D9, 0x1e240),
              "/cache/d9-0001E240.bin");
    EXPECT_EQ(fingerprintFilePath("c", DC_FAMILY_SHEARWATER_PETREL, 0xFFFFFFFFu),
              "c/petrel-FFFFFFFF.bin");
    EXPECT_EQ(fingerprintFilePath("c", DC_FAMILY_HW_OSTC3, 0), "c/ostc3-00000000.bin");
    EXPECT_EQ(fingerprintFilePath("", DC_FAMILY_SUUNTO_D9, 1), "");
    EXPECT_EQ(fingerprintFilePath("c", DC_FAMILY_UWATEC_G2, 1), "");

    // The limit counts the terminator: 1023 bytes fit, 1024 do not, and nothing is cut short.
    const std::string fileName = "/d9-00000001.bin";
    const std::string fits(kStatePathLimit - 1 - fileName.size(), 'a');
    EXPECT_EQ(fingerprintFilePath(fits, DC_FAMILY_SUUNTO_D9, 1), fits + fileName);
    EXPECT_EQ(fingerprintFilePath(fits + "a", DC_FAMILY_SUUNTO_D9, 1), "");
}

TEST(StateDirectoryTest, PathsNameOnlyPlainFilesInsideTheDirectory) {
    EXPECT_EQ(statePath("/s", "ble", "00:11:22:AA:BB:CC"), "/s/ble/00:11:22:AA:BB:CC");
    EXPECT_EQ(statePath("/s", "name"), "/s/name");
    for (const std::string& bad :
         std::vector<std::string>{"", ".", "..", "a/b", "a\\b", std::string("a\0b", 3)}) {
        EXPECT_EQ(statePath("/s", bad), "") << bad;
        EXPECT_EQ(statePath("/s", bad, "name"), "") << bad;
        EXPECT_EQ(statePath("/s", "ble", bad), "") << bad;
    }
    EXPECT_EQ(statePath("", "name"), "");
    EXPECT_EQ(statePath(std::string("/s\0/t", 5), "name"), "");
}

#ifndef _WIN32
TEST(StateDirectoryTest, WritesCreateMissingDirectoriesForTheUserOnly) {
    const TemporaryDirectory temporary;
    const std::string path = statePath(temporary.str() + "/state/nested", "ble", "address");
    const Bytes code{1, 2, 3};
    ASSERT_TRUE(writeStateFile(path, code.data(), code.size()));
    EXPECT_EQ(fileBytes(path), code);
    for (const fs::path& directory : {temporary.path() / "state", temporary.path() / "state/nested",
                                      temporary.path() / "state/nested/ble"}) {
        struct stat status {};
        ASSERT_EQ(::stat(directory.c_str(), &status), 0) << directory;
        EXPECT_EQ(status.st_mode & 0777, 0700u) << directory;
    }
    struct stat status {};
    ASSERT_EQ(::stat(path.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0077, 0u) << "the file is the user's alone";

    const Bytes replacement{9};
    ASSERT_TRUE(writeStateFile(path, replacement.data(), replacement.size()));
    EXPECT_EQ(readStateFile(path, 16), replacement);
    EXPECT_EQ(entries(temporary.path() / "state/nested/ble"), std::vector<std::string>{"address"})
        << "no temporary file stays behind";
}
#endif  // _WIN32

TEST(StateDirectoryTest, ReadsWholeSmallFilesOnly) {
    const TemporaryDirectory temporary;
    const std::string path = statePath(temporary.str(), "file");
    EXPECT_EQ(readStateFile(path, 16), std::nullopt) << "missing";
    writeBytes(path, Bytes(3000, 7));
    EXPECT_EQ(readStateFile(path, 3000), Bytes(3000, 7));
    EXPECT_EQ(readStateFile(path, 2999), std::nullopt) << "too long";
    writeBytes(path, {});
    EXPECT_EQ(readStateFile(path, 16), Bytes{});
    EXPECT_EQ(readStateFile(temporary.str(), 16), std::nullopt) << "a directory";
}

TEST(StateDirectoryTest, FailedWritesLeaveTheOldFileAndNoOther) {
    const TemporaryDirectory temporary;
    const std::string path = statePath(temporary.str(), "file");
    const Bytes old{1, 2, 3, 4};
    ASSERT_TRUE(writeStateFile(path, old.data(), old.size()));
    const Bytes update{5, 6, 7, 8};

    // A file where a directory should be; a directory in use where the file should be.
    EXPECT_FALSE(writeStateFile(statePath(path, "file"), update.data(), update.size()));
    EXPECT_FALSE(writeStateFile(statePath(path, "sub", "file"), update.data(), update.size()));
    fs::create_directories(temporary.path() / "taken" / "inside");
    EXPECT_FALSE(writeStateFile(statePath(temporary.str(), "taken"), update.data(), update.size()));
    EXPECT_EQ(fileBytes(path), old);
    auto names = entries(temporary.path());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"file", "taken"})) << "no temporary file stays";

#ifndef _WIN32
    if (::geteuid() != 0) {
        fs::permissions(temporary.path(), fs::perms::owner_read | fs::perms::owner_exec);
        EXPECT_FALSE(writeStateFile(path, update.data(), update.size()));
        fs::permissions(temporary.path(), fs::perms::owner_all);
        EXPECT_EQ(fileBytes(path), old);
    }
#endif
}

// Downloads from dcsim computers of a Suunto D9 family model, as the bridge does: the stored
// fingerprint registered when the device identifies itself, the newest one stored afterwards.
class FingerprintDownloadTest : public DcsimFixture {
  protected:
    void SetUp() override {
        DcsimFixture::SetUp();
        dcsim_descriptors_add("Test", "Computer", DC_FAMILY_SUUNTO_D9, 0, DC_TRANSPORT_SERIAL);
    }

    static void attach(const char* port, unsigned int serial, unsigned int dives,
                       const std::string& extra = "") {
        const std::string scenario = std::string("serial ") + port + "\ndevinfo 1 2 " +
                                     std::to_string(serial) + "\n" + extra + "generate " +
                                     std::to_string(dives) + " samples=5\n";
        ASSERT_EQ(dcsim_attach(scenario.c_str()), 0) << dcsim_last_error();
    }

    // The dives downloaded, newest first; stores the newest fingerprint, noting whether it could.
    std::vector<DiveRecord> download(
        const char* port, FingerprintCache::Stored stored = FingerprintCache::Stored::kUse) {
        FingerprintCache fingerprints(cacheDirectory_, stored);
        const DeviceSession session(port, "Test", "Computer", Diagnostics::standard());
        const DownloadInterruption interruption;
        const DeviceConnection connection(session, nullptr, &fingerprints);
        std::vector<DiveRecord> records = downloadDives(connection, interruption);
        if (!records.empty()) {
            stored_ = fingerprints.store(records.front().fingerprint);
        }
        return records;
    }

    [[nodiscard]] fs::path file(unsigned int serial) const {
        char name[32];
        std::snprintf(name, sizeof name, "d9-%08X.bin", serial);
        return directory_.path() / name;
    }

    TemporaryDirectory directory_;
    std::string cacheDirectory_ = directory_.str();
    bool stored_ = true;

  private:
    const SilencedStandardOutput silenced_;
};

TEST_F(FingerprintDownloadTest, RepeatBringsNothingAndANewDiveAlone) {
    attach("sim:a", 0xBEEF, 6);
    const auto first = download("sim:a");
    ASSERT_EQ(first.size(), 6u);
    // The D9 backend's 7 bytes; dcsim's are the dive's number in the logbook, zero-filled.
    EXPECT_EQ(fileBytes(file(0xBEEF)), (Bytes{6, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(first.front().fingerprint, (Bytes{6, 0, 0, 0, 0, 0, 0}));

    EXPECT_TRUE(download("sim:a").empty());
    EXPECT_EQ(fileBytes(file(0xBEEF)), (Bytes{6, 0, 0, 0, 0, 0, 0})) << "no dive leaves the file";

    dcsim_detach_all();
    attach("sim:a", 0xBEEF, 7);
    const auto next = download("sim:a");
    ASSERT_EQ(next.size(), 1u);
    EXPECT_EQ(next.front().fingerprint, (Bytes{7, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(fileBytes(file(0xBEEF)), (Bytes{7, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(entries(directory_.path()), std::vector<std::string>{"d9-0000BEEF.bin"});
}

TEST_F(FingerprintDownloadTest, IgnoringTheStoredFingerprintDownloadsAllAndStores) {
    attach("sim:a", 1, 3);
    ASSERT_EQ(download("sim:a").size(), 3u);
    EXPECT_EQ(download("sim:a", FingerprintCache::Stored::kIgnore).size(), 3u);
    EXPECT_EQ(fileBytes(file(1)), (Bytes{3, 0, 0, 0, 0, 0, 0}));
}

TEST_F(FingerprintDownloadTest, ComputersOfOneModelKeepFilesOfTheirOwn) {
    attach("sim:a", 100, 4);
    attach("sim:b", 200, 2);
    ASSERT_EQ(download("sim:a").size(), 4u);
    ASSERT_EQ(download("sim:b").size(), 2u);
    EXPECT_EQ(fileBytes(file(100)), (Bytes{4, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(fileBytes(file(200)), (Bytes{2, 0, 0, 0, 0, 0, 0}));
    EXPECT_TRUE(download("sim:a").empty());
    EXPECT_TRUE(download("sim:b").empty());
}

TEST_F(FingerprintDownloadTest, AMalformedFileMeansAFullDownloadAndIsRepaired) {
    attach("sim:a", 5, 3);
    for (const Bytes& malformed : {Bytes{3, 0, 0}, Bytes{3, 0, 0, 0, 0},
                                   Bytes{0xde, 0xad, 0xbe, 0xef}, Bytes(5000, 3), Bytes{}}) {
        writeBytes(file(5), malformed);
        EXPECT_EQ(download("sim:a").size(), 3u) << malformed.size() << " bytes";
        EXPECT_EQ(fileBytes(file(5)), (Bytes{3, 0, 0, 0, 0, 0, 0}));
    }
}

TEST_F(FingerprintDownloadTest, NoSerialOrNoBackendNameReadsAndWritesNothing) {
    ASSERT_EQ(dcsim_attach("serial sim:quiet\nevents progress\ngenerate 2 samples=5\n"), 0);
    EXPECT_EQ(download("sim:quiet").size(), 2u);
    EXPECT_EQ(download("sim:quiet").size(), 2u);
    EXPECT_TRUE(entries(directory_.path()).empty());

    // A file named after serial 0 is not this computer's.
    writeBytes(file(0), {2, 0, 0, 0, 0, 0, 0});
    EXPECT_EQ(download("sim:quiet").size(), 2u);

    dcsim_descriptors_add("Test", "Nameless", DC_FAMILY_UWATEC_G2, 0, DC_TRANSPORT_SERIAL);
    attach("sim:g2", 0, 2);
    FingerprintCache fingerprints(directory_.str(), FingerprintCache::Stored::kUse);
    const DeviceSession session("sim:g2", "Test", "Nameless", Diagnostics::standard());
    const DownloadInterruption interruption;
    const DeviceConnection connection(session, nullptr, &fingerprints);
    const auto records = downloadDives(connection, interruption);
    ASSERT_EQ(records.size(), 2u);
    EXPECT_TRUE(fingerprints.store(records.front().fingerprint));
    EXPECT_EQ(entries(directory_.path()), std::vector<std::string>{"d9-00000000.bin"});
}

TEST_F(FingerprintDownloadTest, OverlappingDownloadsAlwaysLeaveAWholeFile) {
    attach("sim:a", 9, 2, "transfer 2 1\n");
    std::atomic<bool> done{false};
    std::atomic<int> torn{0};
    std::thread reader([&] {
        while (!done) {
            const Bytes bytes = fileBytes(file(9));
            torn += !bytes.empty() && bytes != Bytes{2, 0, 0, 0, 0, 0, 0};
        }
    });
    std::vector<std::thread> downloads;
    for (int i = 0; i < 4; ++i) {
        downloads.emplace_back([&] {
            for (int run = 0; run < 10; ++run) {
                static_cast<void>(download("sim:a", FingerprintCache::Stored::kIgnore));
            }
        });
    }
    for (auto& thread : downloads) {
        thread.join();
    }
    done = true;
    reader.join();
    EXPECT_EQ(torn, 0);
    EXPECT_EQ(entries(directory_.path()), std::vector<std::string>{"d9-00000009.bin"});
}

TEST_F(FingerprintDownloadTest, AnUnwritableDirectoryFailsNothing) {
    attach("sim:a", 3, 2);
    // A file where the directory should be stops every user, root too.
    writeBytes(directory_.path() / "blocked", {});
    cacheDirectory_ = (directory_.path() / "blocked").string();
    EXPECT_EQ(download("sim:a").size(), 2u);
    EXPECT_FALSE(stored_) << "the bridge says so";
    cacheDirectory_ = (directory_.path() / "blocked" / "below").string();
    EXPECT_EQ(download("sim:a").size(), 2u);
    EXPECT_FALSE(stored_);
    EXPECT_EQ(entries(directory_.path()), std::vector<std::string>{"blocked"});
    EXPECT_TRUE(fileBytes(directory_.path() / "blocked").empty());
#ifndef _WIN32
    if (::geteuid() != 0) {
        cacheDirectory_ = directory_.str();
        fs::permissions(directory_.path(), fs::perms::owner_read | fs::perms::owner_exec);
        EXPECT_EQ(download("sim:a").size(), 2u);
        EXPECT_EQ(download("sim:a").size(), 2u);
        fs::permissions(directory_.path(), fs::perms::owner_all);
        EXPECT_EQ(entries(directory_.path()), std::vector<std::string>{"blocked"});
    }
#endif
}

}  // namespace
}  // namespace diveconnector
