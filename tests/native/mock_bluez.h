// A mock BlueZ (tests/ble/bluez_mock.py under python3-dbusmock) on the private bus that
// tests/ble/private_bus.sh provides, for as long as the object lives.
//
//     MockBluez bluez(R"({"devices": [{"address": "00:11:22:33:44:55", "name": "Perdix"}]})");
//     ... open BLE streams ...
//     EXPECT_EQ(bluez.calls("/org/bluez/hci0/dev_00_11_22_33_44_55", "Disconnect"), 1);
//     // A Terminal I/O device's credit flow:
//     const MockBluez::Credits credits = bluez.credits("/org/bluez/hci0/dev_...");
//     // A signal as BlueZ emits it, or forged by another client of the bus:
//     bluez.emit(MockBluez::kAsBluez, path, interface, member, appendArguments);
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <chrono>
#include <functional>
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
        unsigned int overruns = 0;  // the client's writes beyond the credits it was granted
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
            sd_bus_message_read(reply.get(), "uuu", &credits.sent, &credits.waiting,
                                &credits.overruns) >= 0) {
            const auto* first = static_cast<const unsigned char*>(grants);
            credits.grants.assign(first, first + size);
        } else {
            ADD_FAILURE() << "the mock's credits cannot be read";
        }
        return credits;
    }

    // Who emits a signal: the mock, which owns org.bluez, or another client of the bus.
    enum Sender { kAsBluez, kForged };
    // Appends a signal's arguments.
    using Arguments = std::function<int(sd_bus_message*)>;

    // Emits the signal from `path` and waits until it is on the bus; false on failure.
    bool emit(Sender sender, const std::string& path, const char* interface, const char* member,
              const Arguments& append) const {
        const Bus bus = systemBus();
        sd_bus_message* rawSignal = nullptr;
        int r =
            bus ? sd_bus_message_new_signal(bus.get(), &rawSignal, path.c_str(), interface, member)
                : -ENOTCONN;
        const BusMessage signal(rawSignal);
        if (r >= 0) {
            r = append(signal.get());
        }
        if (r >= 0 && sender == kForged) {
            r = sd_bus_send(bus.get(), signal.get(), nullptr);
            return r >= 0 && sd_bus_flush(bus.get()) >= 0;
        }
        // The mock's EmitSignal takes the signature and each argument in a variant.
        if (r >= 0) {
            r = sd_bus_message_seal(signal.get(), 1, 0);
        }
        if (r >= 0) {
            r = sd_bus_message_rewind(signal.get(), 1);
        }
        sd_bus_message* rawCall = nullptr;
        if (r >= 0) {
            r = sd_bus_message_new_method_call(bus.get(), &rawCall, "org.bluez", path.c_str(),
                                               "org.freedesktop.DBus.Mock", "EmitSignal");
        }
        const BusMessage call(rawCall);
        if (r >= 0) {
            r = sd_bus_message_append(call.get(), "sss", interface, member,
                                      sd_bus_message_get_signature(signal.get(), 1));
        }
        if (r >= 0) {
            r = sd_bus_message_open_container(call.get(), 'a', "v");
        }
        char type = 0;
        const char* contents = nullptr;
        while (r >= 0 && (r = sd_bus_message_peek_type(signal.get(), &type, &contents)) > 0) {
            const std::string complete = contents == nullptr ? std::string(1, type)
                                         : type == 'a'       ? "a" + std::string(contents)
                                         : type == 'v'       ? std::string("v")
                                                             : "(" + std::string(contents) + ")";
            r = sd_bus_message_open_container(call.get(), 'v', complete.c_str());
            if (r >= 0) {
                r = sd_bus_message_copy(call.get(), signal.get(), 0);
            }
            if (r >= 0) {
                r = sd_bus_message_close_container(call.get());
            }
        }
        if (r >= 0) {
            r = sd_bus_message_close_container(call.get());
        }
        sd_bus_message* rawReply = nullptr;
        BusError error;
        if (r >= 0) {
            r = sd_bus_call(bus.get(), call.get(), 5000000, error.get(), &rawReply);
        }
        const BusMessage reply(rawReply);
        return r >= 0;
    }

    // Takes org.bluez from the mock, as a BlueZ that restarts does; the name stays with the
    // returned bus. Null on failure.
    static Bus takeOverBluez() {
        Bus bus = systemBus();
        if (!bus || sd_bus_request_name(bus.get(), "org.bluez", SD_BUS_NAME_REPLACE_EXISTING) < 0) {
            return Bus();
        }
        return bus;
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
