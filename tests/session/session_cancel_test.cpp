#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <vector>

#include "core/transport/interrupt.h"
#include "tests/support/fake_phone.h"
#include "tests/support/session_runner.h"

namespace kova::test {
namespace {

class SessionCancelTest : public ::testing::Test {
  protected:
    void TearDown() override { interrupted.store(0); }
};

SessionSetup hello_never_comes() {
    SessionSetup setup;
    setup.options = test::link_options();
    setup.options.hello_timeout_ms = 10000;
    setup.script = test::ignore_desktop;
    return setup;
}

TEST_F(SessionCancelTest, InterruptDuringStreamingCancelsWithoutAStop) {
    PhoneBehaviour phone;
    int audio_seen = 0;
    phone.on_message = [&](ScriptedPeer&, const Message& message) {
        if (message.type == Type::Audio && ++audio_seen == 10) {
            interrupted.store(1);
        }
    };
    SessionSetup setup = test::phone_setup(phone);
    setup.options.signal = "sine";
    setup.options.seconds = 30;
    const auto outcome = test::run_against_peer(setup);

    EXPECT_EQ(outcome.code, 130);
    EXPECT_EQ(outcome.report["result"], "cancelled");
    EXPECT_FALSE(outcome.report.contains("error"));
    EXPECT_TRUE(outcome.received_of(Type::Stop).empty());
    EXPECT_GE(outcome.received_of(Type::Audio).size(), 10u);
    for (const auto& state : outcome.states) {
        EXPECT_NE(state, "Stopping");
    }
}

TEST_F(SessionCancelTest, StopRequestDuringTheHelloWaitCancels) {
    const auto asked = std::chrono::steady_clock::now() + std::chrono::milliseconds(300);
    SessionSetup setup = hello_never_comes();
    setup.stop_requested = [asked] { return std::chrono::steady_clock::now() >= asked; };
    const auto outcome = test::run_against_peer(setup);

    EXPECT_EQ(outcome.code, 130);
    EXPECT_EQ(outcome.report["result"], "cancelled");
    EXPECT_FALSE(outcome.report.contains("error"));
    EXPECT_EQ(outcome.reports_published, 1);
}

TEST_F(SessionCancelTest, InterruptDuringTheHelloWaitCancels) {
    SessionSetup setup = hello_never_comes();
    setup.script = [](ScriptedPeer& peer) {
        peer.expect(Type::Hello);
        interrupted.store(1);
        test::ignore_desktop(peer);
    };
    const auto outcome = test::run_against_peer(setup);
    EXPECT_EQ(outcome.code, 130);
    EXPECT_EQ(outcome.report["result"], "cancelled");
}

TEST_F(SessionCancelTest, StopRequestCannotCutTheWaitForStopped) {
    // The phone takes a while to confirm; a stop request that stays raised must not end the
    // wait early, so the session still completes and passes.
    std::atomic<bool> streaming{false};
    PhoneBehaviour phone;
    phone.send_stopped = false;
    phone.on_message = [&](ScriptedPeer& peer, const Message& message) {
        if (message.type == Type::Audio) {
            streaming = true;
        }
        if (message.type == Type::Stop) {
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            peer.send_json(Type::Status, {{"state", "Stopped"}, {"route", "built_in_speaker"}});
        }
    };
    SessionSetup setup = test::phone_setup(phone);
    setup.options.signal = "sine";
    setup.stop_requested = [&] { return streaming.load(); };
    const auto outcome = test::run_against_peer(setup);

    EXPECT_EQ(outcome.code, 0) << outcome.error();
    EXPECT_EQ(outcome.report["result"], "audio_probe_completed");
    EXPECT_EQ(outcome.report["audioProbePassed"], true);
}

}  // namespace
}  // namespace kova::test
