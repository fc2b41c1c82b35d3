#include <gtest/gtest.h>

#include <future>
#include <string>
#include <vector>

#include "tests/support/fake_phone.h"
#include "tests/support/session_runner.h"

namespace kova::test {
namespace {

SessionSetup with_phone(PhoneBehaviour behaviour, bool audio) {
    SessionSetup setup = test::phone_setup(std::move(behaviour));
    if (audio) {
        setup.options.signal = "silence";
    }
    return setup;
}

SessionSetup silent_phone() {
    SessionSetup setup;
    setup.options = test::link_options();
    setup.options.hello_timeout_ms = 1000;
    setup.script = test::ignore_desktop;
    return setup;
}

SessionSetup phone_without_ack() {
    PhoneBehaviour behaviour;
    behaviour.ack.reset();
    return with_phone(behaviour, true);
}

SessionSetup phone_without_stopped() {
    PhoneBehaviour behaviour;
    behaviour.send_stopped = false;
    SessionSetup setup = with_phone(behaviour, true);
    setup.options.seconds = 1;
    return setup;
}

SessionSetup phone_without_pongs() {
    PhoneBehaviour behaviour;
    behaviour.answer_pings = false;
    return with_phone(behaviour, false);
}

SessionSetup phone_falling_silent() {
    SessionSetup setup;
    setup.options = test::link_options();
    setup.script = [](ScriptedPeer& peer) {
        peer.expect(Type::Hello);
        peer.send_json(Type::Hello, test::phone_hello());
        test::ignore_desktop(peer);
    };
    return setup;
}

// Every limit here is seconds long, so the sessions run side by side.
TEST(SessionTimeoutTest, EachTimeLimitEndsItsSessionWithItsCode) {
    const std::vector<SessionSetup> setups = {silent_phone(), phone_without_ack(),
                                              phone_without_stopped(), phone_without_pongs(),
                                              phone_falling_silent()};
    std::vector<std::future<SessionOutcome>> running;
    for (const auto& setup : setups) {
        running.push_back(
            std::async(std::launch::async, [&setup] { return test::run_against_peer(setup); }));
    }
    std::vector<SessionOutcome> outcomes;
    for (auto& future : running) {
        outcomes.push_back(future.get());
    }

    const auto& no_hello = outcomes[0];
    EXPECT_EQ(no_hello.error(), "control_timeout_check_phone");
    EXPECT_GE(no_hello.seconds, 1.0);
    EXPECT_EQ(no_hello.states, (std::vector<std::string>{"Connecting", "Negotiating"}));

    const auto& no_ack = outcomes[1];
    EXPECT_EQ(no_ack.error(), "control_timeout_check_phone");
    EXPECT_GE(no_ack.seconds, 5.0);
    EXPECT_TRUE(no_ack.received_of(Type::Start).empty());

    // All audio went out and the stop was sent, but the phone never confirmed it.
    const auto& no_stopped = outcomes[2];
    EXPECT_EQ(no_stopped.error(), "control_timeout_check_phone");
    EXPECT_GE(no_stopped.seconds, 6.0);
    EXPECT_EQ(no_stopped.received_of(Type::Stop).size(), 1u);
    EXPECT_GT(no_stopped.report["framesSent"].get<uint64_t>(), 0u);
    EXPECT_FALSE(no_stopped.report.contains("audioProbePassed"));

    const auto& no_pongs = outcomes[3];
    EXPECT_EQ(no_pongs.error(), "pong_timeout");
    EXPECT_GE(no_pongs.seconds, 5.0);
    EXPECT_EQ(no_pongs.received_of(Type::Ping).size(), 1u);

    const auto& silent = outcomes[4];
    EXPECT_EQ(silent.error(), "link_timeout");
    EXPECT_GE(silent.seconds, 5.0);

    for (const auto& outcome : outcomes) {
        EXPECT_EQ(outcome.code, 1);
        EXPECT_EQ(outcome.report["result"], "error");
        EXPECT_EQ(outcome.peer_error, "");
    }
}

}  // namespace
}  // namespace kova::test
