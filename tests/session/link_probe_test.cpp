#include <gtest/gtest.h>

#include <atomic>
#include <numeric>
#include <string>
#include <vector>

#include "core/protocol/codec.h"
#include "core/protocol/json_payload.h"
#include "core/session/report.h"
#include "tests/support/fake_phone.h"
#include "tests/support/session_runner.h"

namespace kova::test {
namespace {

uint64_t encoded_size(const std::vector<Message>& messages) {
    return std::accumulate(messages.begin(), messages.end(), uint64_t{0},
                           [](uint64_t sum, const Message& message) {
                               return sum + kHeaderSize + message.payload.size();
                           });
}

TEST(LinkProbeTest, ThreeSecondProbePingsThreeTimesAndPasses) {
    SessionSetup setup = test::phone_setup();
    setup.options.seconds = 3;
    const auto outcome = test::run_against_peer(setup);

    EXPECT_EQ(outcome.peer_error, "");
    EXPECT_EQ(outcome.code, 0) << outcome.error();
    const auto& report = outcome.report;
    EXPECT_EQ(report["result"], "ping_passed");
    EXPECT_EQ(report["pingCount"], 3);
    EXPECT_EQ(report["transportProbePassed"], true);
    EXPECT_EQ(report["audioProbePassed"], false);
    // Running as root or without a verified accessory never passes the hardware gate.
    EXPECT_EQ(report["hardwareGatePassed"], false);
    EXPECT_EQ(report["phase"], "gate1");
    EXPECT_EQ(report["source"], "ping");
    EXPECT_EQ(report["transport"], "socket");
    EXPECT_EQ(report["platform"], "ios");
    EXPECT_EQ(report["selectedUsbPath"], "ios:00008030001a");
    EXPECT_EQ(report["requestedSeconds"], 3);
    EXPECT_EQ(report["helloTimeoutMs"], 5000);
    EXPECT_EQ(report["preSessionBytesDiscarded"], 0u);
    EXPECT_EQ(report["phoneHello"], test::phone_hello());
    EXPECT_FALSE(report.contains("realtimeThreads"));
    EXPECT_FALSE(report.contains("error"));
    EXPECT_GE(report["elapsedSeconds"].get<double>(), 3.0);
    EXPECT_EQ(outcome.states,
              (std::vector<std::string>{"Connecting", "Negotiating", "Ready", "Stopping"}));
    // Published once when the loop starts and once at the end.
    EXPECT_EQ(outcome.reports_published, 2);

    const auto& sent = outcome.peer_received;
    ASSERT_EQ(sent.size(), 5u);
    EXPECT_EQ(sent.front().type, Type::Hello);
    EXPECT_EQ(outcome.received_of(Type::Ping).size(), 3u);
    EXPECT_EQ(sent.back().type, Type::Stop);
    EXPECT_TRUE(outcome.received_of(Type::Config).empty());
    for (size_t i = 0; i < sent.size(); ++i) {
        EXPECT_EQ(sent[i].sequence, i);
        EXPECT_EQ(sent[i].session, sent.front().session);
    }
    EXPECT_EQ(report["usbBytesSent"], encoded_size(sent));
}

TEST(LinkProbeTest, DesktopHelloCarriesRoleBuildAndCapabilities) {
    SessionSetup setup = test::phone_setup();
    setup.options.seconds = 1;
    const auto outcome = test::run_against_peer(setup);

    ASSERT_FALSE(outcome.peer_received.empty());
    const Message& hello = outcome.peer_received.front();
    EXPECT_EQ(hello.sequence, 0u);
    EXPECT_NE(hello.session, 0u);
    EXPECT_EQ(std::string(hello.payload.begin(), hello.payload.end()),
              std::string(R"({"build":")") + kBuild +
                  R"(","capabilities":["ping","status","pcm_s16le_48000_stereo"],)"
                  R"("protocolMinor":0,"role":"mac"})");
    EXPECT_EQ(outcome.code, 0);
    EXPECT_EQ(outcome.report["pingCount"], 1);
}

TEST(LinkProbeTest, StopWithAPingInFlightWaitsForThePong) {
    std::atomic<bool> ping_seen{false};
    PhoneBehaviour phone;
    phone.pong_delay_ms = 400;
    phone.on_message = [&](ScriptedPeer&, const Message& message) {
        if (message.type == Type::Ping) {
            ping_seen = true;
        }
    };
    SessionSetup setup = test::phone_setup(phone);
    setup.stop_requested = [&] { return ping_seen.load(); };
    const auto outcome = test::run_against_peer(setup);

    EXPECT_EQ(outcome.code, 0) << outcome.error();
    EXPECT_EQ(outcome.report["result"], "ping_passed");
    // The pong was answered after the stop was asked for, and still counted.
    EXPECT_EQ(outcome.report["pingCount"], 1);
    EXPECT_EQ(outcome.report["transportProbePassed"], true);
    ASSERT_EQ(outcome.peer_received.size(), 3u);
    EXPECT_EQ(outcome.peer_received[1].type, Type::Ping);
    EXPECT_EQ(outcome.peer_received[2].type, Type::Stop);
}

TEST(LinkProbeTest, StopBeforeTheFirstPassSendsNoPing) {
    std::atomic<bool> ready{false};
    std::atomic<int> calls_after_ready{0};
    SessionSetup setup = test::phone_setup();
    setup.on_state = [&](const std::string& state) { ready = ready || state == "Ready"; };
    // The hello wait asks once more after the hello; the loop's first pass asks next.
    setup.stop_requested = [&] { return ready && ++calls_after_ready > 1; };
    const auto outcome = test::run_against_peer(setup);

    EXPECT_EQ(outcome.code, 0) << outcome.error();
    EXPECT_EQ(outcome.report["result"], "ping_passed");
    EXPECT_EQ(outcome.report["pingCount"], 0);
    EXPECT_EQ(outcome.report["transportProbePassed"], false);
    EXPECT_TRUE(outcome.received_of(Type::Ping).empty());
    EXPECT_EQ(outcome.received_of(Type::Stop).size(), 1u);
}

TEST(LinkProbeTest, ProbeAcceptsAPhoneWithoutAudioCapability) {
    PhoneBehaviour phone;
    phone.hello["capabilities"] = {"ping"};
    SessionSetup setup = test::phone_setup(phone);
    setup.options.seconds = 1;
    const auto outcome = test::run_against_peer(setup);
    EXPECT_EQ(outcome.code, 0) << outcome.error();
    EXPECT_EQ(outcome.report["phoneHello"]["capabilities"], nlohmann::json({"ping"}));
}

TEST(LinkProbeTest, ReceivedBytesCountOnlyWhatFollowsTheDrain) {
    PhoneBehaviour phone;
    phone.status_interval_ms = 100000;  // one status, right after the hello
    phone.send_stopped = false;
    SessionSetup setup = test::phone_setup(phone);
    setup.options.seconds = 1;
    setup.stale_bytes.assign(100, 0x5A);
    const auto outcome = test::run_against_peer(setup);

    EXPECT_EQ(outcome.code, 0) << outcome.error();
    EXPECT_EQ(outcome.report["preSessionBytesDiscarded"], 100u);
    EXPECT_EQ(outcome.report["usbBytesReceived"], outcome.peer_bytes_sent);
    EXPECT_EQ(outcome.report["usbErrors"], 0);
    EXPECT_EQ(outcome.statuses, 1);
    EXPECT_EQ(outcome.report["lastPhoneStatus"]["state"], "Idle");
}

TEST(LinkProbeTest, TooManyStaleBytesMeanAnotherSessionIsStillRunning) {
    SessionSetup setup;
    setup.options = test::link_options();
    setup.stale_bytes.assign(70000, 0x5A);
    setup.script = [](ScriptedPeer&) {};
    const auto outcome = test::run_against_peer(setup);

    EXPECT_EQ(outcome.code, 1);
    EXPECT_EQ(outcome.error(), "previous_session_still_active_reconnect_phone");
    EXPECT_FALSE(outcome.report.contains("preSessionBytesDiscarded"));
    // Nothing was said to a phone that is still busy with another session.
    EXPECT_TRUE(outcome.peer_received.empty());
    EXPECT_EQ(outcome.report["usbErrors"], 0);
    EXPECT_EQ(outcome.states, (std::vector<std::string>{"Connecting", "Negotiating"}));
}

TEST(LinkProbeTest, HelloThatCannotBeWrittenCountsOneError) {
    SessionSetup setup;
    setup.options = test::link_options();
    setup.options.hello_timeout_ms = 1000;
    setup.fill_desktop_send_buffer = true;
    setup.script = [](ScriptedPeer&) {};
    const auto outcome = test::run_against_peer(setup);

    EXPECT_EQ(outcome.code, 1);
    EXPECT_EQ(outcome.error(), "write_timeout");
    EXPECT_EQ(outcome.report["usbErrors"], 1);
    EXPECT_EQ(outcome.report["usbBytesSent"], 0u);
}

}  // namespace
}  // namespace kova::test
