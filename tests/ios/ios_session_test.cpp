// Whole sessions through the C interface to an emulated iPhone behind the usbmux stand-in:
// the same path a real iPhone takes (usbmuxd "Connect" to port 48000, then the tunnel).
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "core/api/kova.h"
#include "core/transport/ios_id.h"
#include "tests/support/event_log.h"
#include "tests/support/usbmux_socket_dir.h"
#include "tools/phone/phone_app.h"
#include "tools/phone/usbmux_server.h"

namespace {

using nlohmann::json;
using namespace kova::phone;

constexpr const char* kSerial = "00008101-000A1B2C3D4E5F60";

using Events = kova::test::EventLog;

class IosSession : public ::testing::Test {
  protected:
    void SetUp() override {
        UsbmuxServerOptions options;
        options.devices.front().serial = kSerial;
        PhoneOptions phone;
        phone.status_interval_ms = 100;
        server_ = std::make_unique<UsbmuxServer>(socket_.path(), options, [this, phone](int fd) {
            PhoneApp app(phone);
            const PhoneSummary summary = app.serve(fd);
            std::lock_guard lock(mutex_);
            summaries_.push_back(summary);
        });
    }
    json run(json options, Events& events) {
        options["device"] = kova::ios_id(kSerial);
        options["helloTimeoutMs"] = 5000;
        KovaSession* session = events.start(options.dump());
        EXPECT_NE(session, nullptr);
        const json ended = events.ended();
        kova_session_free(session);
        if (server_) {
            server_->stop();  // waits for the emulated phone to finish its side
        }
        return ended;
    }

    kova::test::UsbmuxSocketDir socket_;
    std::unique_ptr<UsbmuxServer> server_;
    std::mutex mutex_;
    std::vector<PhoneSummary> summaries_;
};

TEST_F(IosSession, LinkProbeReachesTheEmulatedIphone) {
    Events events;
    const json ended = run({{"seconds", 1}}, events);
    ASSERT_EQ(ended["code"], 0) << ended.dump();
    const json& report = ended["report"];
    EXPECT_EQ(report["result"], "ping_passed");
    EXPECT_EQ(report["platform"], "ios");
    EXPECT_EQ(report["transport"], "usbmux / usbmuxd");
    EXPECT_EQ(report["selectedUsbPath"], kova::ios_id(kSerial));
    EXPECT_EQ(report["phoneHello"]["role"], "ios");
    const std::vector<std::string> states = events.states();
    ASSERT_GE(states.size(), 3u);
    EXPECT_EQ(states[0], "Connecting");
    EXPECT_EQ(states[1], "Negotiating");
    EXPECT_EQ(states[2], "Ready");
    std::lock_guard lock(mutex_);
    ASSERT_EQ(summaries_.size(), 1u);
    EXPECT_EQ(summaries_[0].first_violation, "");
    EXPECT_EQ(report["pingCount"], summaries_[0].pings_answered);
}

TEST_F(IosSession, AudioSessionStreamsASineToTheEmulatedIphone) {
    Events events;
    const json ended = run({{"seconds", 1}, {"signal", "sine"}}, events);
    ASSERT_EQ(ended["code"], 0) << ended.dump();
    const json& report = ended["report"];
    EXPECT_EQ(report["result"], "audio_probe_completed");
    EXPECT_EQ(report["platform"], "ios");
    EXPECT_EQ(report["transport"], "usbmux / usbmuxd");
    std::lock_guard lock(mutex_);
    ASSERT_EQ(summaries_.size(), 1u);
    EXPECT_GT(summaries_[0].frames_received, 0u);
    EXPECT_EQ(report["framesSent"], summaries_[0].frames_received);
    EXPECT_EQ(summaries_[0].gaps, 0u);
    EXPECT_TRUE(summaries_[0].stopped);
    EXPECT_EQ(summaries_[0].first_violation, "");
}

TEST_F(IosSession, ClosedAppEndsTheSessionWhileConnecting) {
    server_.reset();
    UsbmuxServerOptions options;
    options.devices.front().serial = kSerial;
    options.app_open = false;
    server_ = std::make_unique<UsbmuxServer>(socket_.path(), options, nullptr);
    Events events;
    const json ended = run({{"seconds", 1}}, events);
    EXPECT_EQ(ended["code"], 1);
    EXPECT_EQ(ended["report"]["error"], "ios_app_not_listening");
    EXPECT_EQ(events.states(), std::vector<std::string>{"Connecting"});
}

TEST_F(IosSession, UnknownIphoneIsNotFound) {
    Events events;
    json options = {{"seconds", 1}};
    options["device"] = "ios:0123456789ab";
    KovaSession* session = events.start(options.dump());
    ASSERT_NE(session, nullptr);
    const json ended = events.ended();
    kova_session_free(session);
    EXPECT_EQ(ended["report"]["error"], "ios_device_not_found");
}

// The daemon dies while a session streams (its tunnels die with it), stays down for one
// attempt, and serves the next session once it is back.
TEST_F(IosSession, DyingUsbmuxDaemonEndsTheSessionAndARestartedOneServesTheNext) {
    server_.reset();
    auto app = std::make_shared<PhoneApp>(PhoneOptions{});
    UsbmuxServerOptions options;
    options.devices.front().serial = kSerial;
    server_ = std::make_unique<UsbmuxServer>(socket_.path(), options,
                                             [app](int fd) { (void)app->serve(fd); });
    Events events;
    const json streaming = {
        {"device", kova::ios_id(kSerial)}, {"signal", "sine"}, {"helloTimeoutMs", 5000}};
    KovaSession* session = events.start(streaming.dump());
    ASSERT_NE(session, nullptr);
    ASSERT_TRUE(events.wait_for_state("Streaming"));
    app->stop();
    server_.reset();
    const json ended = events.ended();
    kova_session_free(session);
    EXPECT_EQ(ended["report"]["error"], "ios_connection_closed");

    Events down;
    EXPECT_EQ(run({{"seconds", 1}}, down)["report"]["error"], "ios_device_not_found");

    SetUp();
    Events again;
    EXPECT_EQ(run({{"seconds", 1}}, again)["code"], 0);
}

}  // namespace
