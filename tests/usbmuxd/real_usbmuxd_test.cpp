// Checks the client against the system's own usbmuxd (started by scripts/test.sh) with no
// device attached. Skipped, saying so, when no daemon answers on the default socket.
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <functional>
#include <initializer_list>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <thread>

#include "core/api/kova.h"
#include "core/transport/error.h"
#include "core/transport/ios_id.h"
#include "core/transport/usbmux_client.h"
#include "core/transport/usbmux_transport.h"

extern char** environ;

namespace kova {
namespace {

class RealUsbmuxd : public ::testing::Test {
  protected:
    void SetUp() override {
        // The real daemon is reached on its default socket, whatever the caller's environment.
        if (const char* value = ::getenv("USBMUXD_SOCKET_ADDRESS")) {
            previous_ = value;
        }
        ::unsetenv("USBMUXD_SOCKET_ADDRESS");
        try {
            usbmux::DaemonConnection probe;
        } catch (const Error& error) {
            GTEST_SKIP() << "no usbmuxd answers on /var/run/usbmuxd (" << error.what()
                         << "); start it as root with `usbmuxd -f -U root`";
        }
    }
    void TearDown() override {
        if (previous_) {
            ::setenv("USBMUXD_SOCKET_ADDRESS", previous_->c_str(), 1);
        }
    }
    // One request with its own keys (name, value pairs) on a fresh daemon connection.
    static usbmux::Plist ask(const char* message_type,
                             std::initializer_list<std::pair<const char*, plist_t>> own_keys = {}) {
        usbmux::DaemonConnection daemon;
        usbmux::Plist request = usbmux::new_request(message_type);
        for (const auto& [key, value] : own_keys) {
            plist_dict_set_item(request.get(), key, value);
        }
        return daemon.exchange(request.get());
    }
    std::optional<std::string> previous_;
};

TEST_F(RealUsbmuxd, UnderstandsOurRequestsAndListsNothing) {
    const usbmux::Plist reply = ask("ListDevices");
    const plist_t list = plist_dict_get_item(reply.get(), "DeviceList");
    ASSERT_NE(list, nullptr);
    ASSERT_EQ(plist_get_node_type(list), PLIST_ARRAY);
    EXPECT_EQ(plist_array_get_size(list), 0u);
    EXPECT_TRUE(UsbmuxTransport::list().empty());
}

TEST_F(RealUsbmuxd, ConnectToAnUnknownDeviceAnswersNotFound) {
    const usbmux::Plist reply =
        ask("Connect",
            {{"DeviceID", plist_new_uint(1)}, {"PortNumber", plist_new_uint(swapped_port(48000))}});
    EXPECT_EQ(connect_result_code(usbmux::read_number(reply.get(), "Number")),
              "ios_device_not_found");
    try {
        UsbmuxTransport link;
        link.connect(ios_id("00008101-000A1B2C3D4E5F60"), 48000);
        FAIL() << "connected to a device that is not attached";
    } catch (const Error& error) {
        EXPECT_STREQ(error.what(), "ios_device_not_found");
    }
    EXPECT_EQ(kova_ios_probe(ios_id("00008101-000A1B2C3D4E5F60").c_str()), -1);
}

TEST_F(RealUsbmuxd, HoldsNoPairRecordForAnUnknownSerial) {
    const usbmux::Plist reply =
        ask("ReadPairRecord", {{"PairRecordID", plist_new_string("00008101-000A1B2C3D4E5F60")}});
    EXPECT_EQ(plist_dict_get_item(reply.get(), "PairRecordData"), nullptr);
}

// Whether a connection to the daemon's socket succeeds.
bool daemon_answers() {
    try {
        usbmux::DaemonConnection probe;
        return true;
    } catch (const Error&) {
        return false;
    }
}

// Polls `condition` for up to 10 s.
bool within_bound(const std::function<bool()>& condition) {
    for (int attempt = 0; attempt < 200; ++attempt) {
        if (condition()) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
}

// Starts the system daemon the way an init script would: it detaches and writes its pid file.
bool start_daemon() {
    char program[] = "usbmuxd";
    char user_flag[] = "--user";
    char user[] = "root";
    char* argv[] = {program, user_flag, user, nullptr};
    pid_t launcher = -1;
    if (::posix_spawnp(&launcher, program, nullptr, nullptr, argv, environ) != 0) {
        return false;
    }
    ::waitpid(launcher, nullptr, 0);
    return within_bound(daemon_answers);
}

// Restarting the system's daemon is left to CI, which started it for the tests (set
// KOVA_TEST_RESTART_USBMUXD=1 to allow it elsewhere).
TEST_F(RealUsbmuxd, ClientFindsTheDaemonAgainAfterItRestarts) {
    if (::getenv("KOVA_TEST_RESTART_USBMUXD") == nullptr || ::geteuid() != 0) {
        GTEST_SKIP()
            << "restarting the system's usbmuxd needs root and KOVA_TEST_RESTART_USBMUXD=1";
    }
    pid_t daemon = 0;
    std::ifstream("/var/run/usbmuxd.pid") >> daemon;
    ASSERT_GT(daemon, 0) << "no pid in /var/run/usbmuxd.pid";
    ASSERT_EQ(::kill(daemon, SIGTERM), 0);
    ASSERT_TRUE(within_bound([] { return !daemon_answers(); }));
    struct Restart {  // whatever fails below, the other tests find a daemon afterwards
        ~Restart() {
            if (!daemon_answers()) {
                start_daemon();
            }
        }
    } restart;

    // Gone: nothing is listed, a connection is refused as such, and the iPhone is not found.
    try {
        usbmux::DaemonConnection refused;
        FAIL() << "connected to a daemon that was stopped";
    } catch (const Error& error) {
        EXPECT_STREQ(error.what(), "usbmuxd_unavailable");
    }
    EXPECT_TRUE(UsbmuxTransport::list().empty());
    char* listing = kova_list_devices();
    ASSERT_NE(listing, nullptr);
    EXPECT_EQ(nlohmann::json::parse(listing).dump().find("ios:"), std::string::npos) << listing;
    kova_free(listing);
    try {
        UsbmuxTransport link;
        link.connect(ios_id("00008101-000A1B2C3D4E5F60"), 48000);
        FAIL() << "connected without a daemon";
    } catch (const Error& error) {
        EXPECT_STREQ(error.what(), "ios_device_not_found");
    }

    // Back: the same process talks to the new daemon without any reset of its own.
    ASSERT_TRUE(start_daemon());
    const usbmux::Plist reply = ask("ListDevices");
    EXPECT_NE(plist_dict_get_item(reply.get(), "DeviceList"), nullptr);
    EXPECT_TRUE(UsbmuxTransport::list().empty());
}

}  // namespace
}  // namespace kova
