// kova-phone --usbmux as a separate process: the emulated iPhone a person runs for the demo.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>
#include <vector>

#include "core/api/kova.h"
#include "core/transport/ios_id.h"
#include "tests/support/event_log.h"
#include "tests/support/phone_child.h"
#include "tests/support/usbmux_socket_dir.h"

namespace {

using nlohmann::json;
using namespace std::chrono_literals;
using kova::test::EventLog;
using kova::test::PhoneChild;

TEST(PhoneUsbmuxMode, PresentsAnIphoneThatProbesAndStreams) {
    kova::test::UsbmuxSocketDir socket;
    PhoneChild phone({"--usbmux", socket.path(), "--serial", "demo-serial", "--sessions", "2",
                      "--status-interval-ms", "100"});
    const std::string path = phone.line();
    ASSERT_EQ(path, kova::ios_id("demo-serial"));

    EXPECT_EQ(kova_ios_probe(path.c_str()), 1);  // the probe's connection is a session too
    EventLog events;
    const json options = {
        {"device", path}, {"signal", "sine"}, {"seconds", 1}, {"helloTimeoutMs", 5000}};
    KovaSession* session = events.start(options.dump());
    ASSERT_NE(session, nullptr);
    const json report = events.ended()["report"];
    kova_session_free(session);
    EXPECT_EQ(report["result"], "audio_probe_completed") << report.dump();
    EXPECT_EQ(report["transport"], "usbmux / usbmuxd");

    phone.line();  // the probe's summary
    const json summary = json::parse(phone.line());
    EXPECT_EQ(summary["framesReceived"], report["framesSent"]) << summary.dump();
    EXPECT_EQ(phone.exit_status(), 0);
}

TEST(PhoneUsbmuxMode, ClosedAppAnswersTheProbeWithZero) {
    kova::test::UsbmuxSocketDir socket;
    PhoneChild phone({"--usbmux", socket.path(), "--serial", "closed", "--app-closed"});
    const std::string path = phone.line();
    ASSERT_EQ(path, kova::ios_id("closed"));
    EXPECT_EQ(kova_ios_probe(path.c_str()), 0);
    EXPECT_EQ(kova_ios_probe(kova::ios_id("other").c_str()), -1);
}

// Polls the probe until it gives `expected`, bounded so a hang fails.
bool probe_becomes(const std::string& path, int expected) {
    for (int attempt = 0; attempt < 500; ++attempt) {
        if (kova_ios_probe(path.c_str()) == expected) {
            return true;
        }
        std::this_thread::sleep_for(20ms);
    }
    return false;
}

TEST(PhoneUsbmuxMode, Sigusr1ClosesTheAppMidStreamAndSigusr2OpensItAgain) {
    kova::test::UsbmuxSocketDir socket;
    PhoneChild phone({"--usbmux", socket.path(), "--serial", "switch"});
    const std::string path = phone.line();
    ASSERT_EQ(path, kova::ios_id("switch"));
    EventLog events;
    const json options = {
        {"device", path}, {"signal", "sine"}, {"seconds", 0}, {"helloTimeoutMs", 5000}};
    KovaSession* session = events.start(options.dump());
    ASSERT_NE(session, nullptr);
    ASSERT_TRUE(events.wait_for_state("Streaming"));

    phone.signal(SIGUSR1);
    const json closed = events.ended();
    kova_session_free(session);
    EXPECT_EQ(closed["code"], 1) << closed.dump();
    EXPECT_TRUE(json::parse(phone.line(), nullptr, false).is_object());  // its summary
    // The iPhone stays listed while nothing listens on the app's port.
    EXPECT_EQ(kova_ios_probe(path.c_str()), 0);

    phone.signal(SIGUSR2);
    EXPECT_TRUE(probe_becomes(path, 1));
    phone.signal(SIGTERM);
    EXPECT_EQ(phone.exit_status(), 0);
}

}  // namespace
