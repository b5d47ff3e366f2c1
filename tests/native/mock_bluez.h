// A mock BlueZ (tests/ble/bluez_mock.py under python3-dbusmock) on the private bus that
// tests/ble/private_bus.sh provides, for as long as the object lives.
//
//     MockBluez bluez(R"({"devices": [{"address": "00:11:22:33:44:55", "name": "Perdix"}]})");
//     ... open BLE streams ...
//     EXPECT_EQ(bluez.calls("/org/bluez/hci0/dev_00_11_22_33_44_55", "Disconnect"), 1);
//     // A Terminal I/O device's credit flow:
//     const MockBluez::Credits credits = bluez.credits("/org/bluez/hci0/dev_...");
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "sd_bus_handles.h"

extern char** environ;

namespace diveconnector {

class MockBluez {
  public:
    explicit MockBluez(const std::string& parameters) {
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
        std::string arguments[] = {"/usr/bin/python3", "-m", "dbusmock", "--system", "-t",
                                   BLUEZ_MOCK,         "-p", parameters};
        char* argv[] = {arguments[0].data(), arguments[1].data(), arguments[2].data(),
                        arguments[3].data(), arguments[4].data(), arguments[5].data(),
                        arguments[6].data(), arguments[7].data(), nullptr};
        const int failed = posix_spawn(&pid_, argv[0], &actions, nullptr, argv, environ);
        posix_spawn_file_actions_destroy(&actions);
        if (failed != 0) {
            pid_ = -1;
            ADD_FAILURE() << "cannot start the mock BlueZ";
            return;
        }
        // Calls made once the name is owned are answered after the template has loaded.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (!owned()) {
            if (std::chrono::steady_clock::now() > deadline) {
                ADD_FAILURE() << "the mock BlueZ did not appear on the bus";
                return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        static_cast<void>(calls("/", "GetManagedObjects"));
    }
    ~MockBluez() {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            int status = 0;
            waitpid(pid_, &status, 0);
        }
    }
    MockBluez(const MockBluez&) = delete;
    MockBluez& operator=(const MockBluez&) = delete;

    // How often a method of the object at `path` was called.
    int calls(const std::string& path, const char* method) const {
        const Bus bus = systemBus();
        if (!bus) {
            return -1;
        }
        sd_bus_message* rawReply = nullptr;
        BusError error;
        const int r =
            sd_bus_call_method(bus.get(), "org.bluez", path.c_str(), "org.freedesktop.DBus.Mock",
                               "GetMethodCalls", error.get(), &rawReply, "s", method);
        const BusMessage reply(rawReply);
        if (r < 0 || sd_bus_message_enter_container(reply.get(), 'a', "(tav)") < 0) {
            return -1;
        }
        int count = 0;
        while (sd_bus_message_skip(reply.get(), "(tav)") > 0) {
            ++count;
        }
        return count;
    }

    // What a Terminal I/O device counted: the client's credit grants in order, the data
    // notifications it sent and those still waiting for credits.
    struct Credits {
        std::vector<unsigned char> grants;
        unsigned int sent = 0;
        unsigned int waiting = 0;
    };
    Credits credits(const std::string& devicePath) const {
        Credits credits;
        const Bus bus = systemBus();
        if (!bus) {
            ADD_FAILURE() << "no bus";
            return credits;
        }
        sd_bus_message* rawReply = nullptr;
        BusError error;
        const int r =
            sd_bus_call_method(bus.get(), "org.bluez", devicePath.c_str(),
                               "org.bluez.mock.TerminalIo", "Credits", error.get(), &rawReply, "");
        const BusMessage reply(rawReply);
        const void* grants = nullptr;
        size_t size = 0;
        if (r >= 0 && sd_bus_message_read_array(reply.get(), 'y', &grants, &size) >= 0 &&
            sd_bus_message_read(reply.get(), "uu", &credits.sent, &credits.waiting) >= 0) {
            const auto* first = static_cast<const unsigned char*>(grants);
            credits.grants.assign(first, first + size);
        } else {
            ADD_FAILURE() << "the mock's credits cannot be read";
        }
        return credits;
    }

  private:
    // Null when there is no bus.
    static Bus systemBus() {
        sd_bus* raw = nullptr;
        if (sd_bus_open_system(&raw) < 0) {
            return Bus();
        }
        return Bus(raw);
    }

    static bool owned() {
        const Bus bus = systemBus();
        if (!bus) {
            return false;
        }
        sd_bus_message* rawReply = nullptr;
        const int r = sd_bus_call_method(bus.get(), "org.freedesktop.DBus", "/org/freedesktop/DBus",
                                         "org.freedesktop.DBus", "NameHasOwner", nullptr, &rawReply,
                                         "s", "org.bluez");
        const BusMessage reply(rawReply);
        int has = 0;
        if (r >= 0) {
            sd_bus_message_read(reply.get(), "b", &has);
        }
        return has != 0;
    }

    pid_t pid_ = -1;
};

}  // namespace diveconnector
