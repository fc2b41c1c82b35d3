// The emulator against the desktop's own session engine, over a socket pair.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <future>
#include <map>
#include <thread>

#include "core/audio/signal_source.h"
#include "core/session/report.h"
#include "core/session/run_session.h"
#include "core/transport/socket_transport.h"
#include "tools/phone/phone_app.h"

namespace kova::phone::test {
namespace {

struct RealOutcome {
    int code = -1;
    nlohmann::json report;
    PhoneSummary summary;
    std::string error() const { return report.value("error", std::string()); }
};

SessionOptions session_options(bool audio) {
    SessionOptions options;
    options.device = "ios:00008030001a";
    options.hello_timeout_ms = 5000;
    options.seconds = audio ? 1 : 2;
    if (audio) {
        options.signal = "sine";
    }
    return options;
}

RealOutcome run_real(const PhoneOptions& phone, SessionOptions options) {
    int fds[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, fds) != 0) {
        throw std::runtime_error("socketpair failed");
    }
    PhoneApp app(phone);
    RealOutcome outcome;
    std::thread server([&app, &outcome, fd = fds[1]] { outcome.summary = app.serve(fd); });
    {
        SocketTransport transport;
        transport.adopt(fds[0]);
        options.transport = &transport;
        outcome.report = default_report();
        outcome.code = run_session(options, outcome.report, SessionHooks{});
    }  // closing the link ends the emulator's session
    server.join();
    return outcome;
}

PhoneOptions misbehaving(const std::string& name) {
    PhoneOptions options;
    options.misbehaviour = name;
    return options;
}

TEST(PhoneAgainstSession, AnAudioSessionCompletesAndThePhoneReceivesEverySample) {
    PhoneOptions phone;
    phone.status_interval_ms = 100;
    const RealOutcome outcome = run_real(phone, session_options(true));
    ASSERT_EQ(outcome.code, 0) << outcome.error();
    EXPECT_EQ(outcome.report["result"], "audio_probe_completed");
    EXPECT_EQ(outcome.report["audioProbePassed"], true);
    EXPECT_EQ(outcome.report["speakerVerified"], true);
    EXPECT_EQ(outcome.report["framesSent"], outcome.summary.frames_received);
    EXPECT_EQ(outcome.report["pingCount"], outcome.summary.pings_answered);
    EXPECT_EQ(outcome.report["lastPhoneStatus"]["state"], "Stopped");
    EXPECT_TRUE(outcome.summary.stopped);
    EXPECT_EQ(outcome.summary.gaps, 0u);
    EXPECT_EQ(outcome.summary.first_violation, "");

    std::vector<int16_t> expected;
    for (uint64_t frame = 0; frame < outcome.summary.frames_received; frame += 192) {
        const std::vector<uint8_t> block = signal_block("sine", frame);
        for (size_t i = 0; i + 1 < block.size(); i += 2) {
            expected.push_back(static_cast<int16_t>(block[i] | block[i + 1] << 8));
        }
    }
    EXPECT_GT(expected.size(), 0u);
    EXPECT_EQ(outcome.summary.samples, expected);
}

TEST(PhoneAgainstSession, ALinkProbePassesWithEveryPingAnswered) {
    const RealOutcome outcome = run_real(PhoneOptions{}, session_options(false));
    ASSERT_EQ(outcome.code, 0) << outcome.error();
    EXPECT_EQ(outcome.report["result"], "ping_passed");
    EXPECT_EQ(outcome.report["transportProbePassed"], true);
    EXPECT_EQ(outcome.report["pingCount"], outcome.summary.pings_answered);
    EXPECT_GE(outcome.summary.pings_answered, 2u);
    EXPECT_EQ(outcome.summary.frames_received, 0u);
    EXPECT_EQ(outcome.summary.first_violation, "");
}

TEST(PhoneAgainstSession, TheDesktopAnswersThePhonesOwnPings) {
    PhoneOptions phone;
    phone.ping_interval_ms = 300;
    const RealOutcome outcome = run_real(phone, session_options(false));
    ASSERT_EQ(outcome.code, 0) << outcome.error();
    EXPECT_GE(outcome.summary.pongs_received, 2u);
    EXPECT_EQ(outcome.summary.first_violation, "");
}

TEST(PhoneAgainstSession, QuickMisbehavioursEndTheSessionWithTheirCodes) {
    const std::map<std::string, std::string> expected = {
        {"wrong_role", "bad_hello"},
        {"protocol_minor_float", "bad_hello"},
        {"protocol_minor_string", "bad_hello"},
        {"missing_ping_capability", "ping_not_supported"},
        {"no_pcm_capability", "install_gate2_android_build"},
        {"status_before_hello", "hello_required"},
        {"duplicate_hello", "duplicate_hello"},
        {"config_refused", "phone_error: sample_rate_unsupported"},
        {"config_refused_no_reason", "config_rejected"},
        {"config_accepted_not_boolean", "bad_config_ack"},
        {"wrong_route", "unexpected_audio_route"},
        {"error_message", "phone_error: audio_focus_lost"},
        {"wrong_pong_token", "unexpected_pong"},
        {"wrong_session", "stale_session"},
        {"sequence_gap", "sequence_discontinuity"},
        {"bad_header", "bad_header"},
        {"close_mid_stream", "ios_connection_closed"},
        {"garbage", "bad_magic"},
        {"unexpected_message", "unexpected_message"},
    };
    for (const auto& [name, code] : expected) {
        const RealOutcome outcome = run_real(misbehaving(name), session_options(true));
        EXPECT_EQ(outcome.code, 1) << name;
        EXPECT_EQ(outcome.error(), code) << name;
    }
}

TEST(PhoneAgainstSession, LinkProbesMeetOnlyTheMisbehavioursThatConcernThem) {
    const RealOutcome without_pcm =
        run_real(misbehaving("no_pcm_capability"), session_options(false));
    EXPECT_EQ(without_pcm.code, 0) << without_pcm.error();
    EXPECT_EQ(run_real(misbehaving("error_message"), session_options(false)).error(),
              "phone_error: audio_focus_lost");
    EXPECT_EQ(run_real(misbehaving("close_mid_stream"), session_options(false)).error(),
              "ios_connection_closed");
}

TEST(PhoneAgainstSession, UnknownMisbehaviourIsRefusedAndTheSocketClosed) {
    PhoneApp app(misbehaving("teleport"));
    int fds[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
    EXPECT_THROW(app.serve(fds[1]), std::runtime_error);
    char byte;
    EXPECT_EQ(::recv(fds[0], &byte, 1, 0), 0);
    ::close(fds[0]);
}

TEST(PhoneAgainstSession, StaleBytesAreDrainedOrRefused) {
    PhoneOptions phone = misbehaving("stale_bytes");
    phone.stale_bytes = 100;
    const RealOutcome few = run_real(phone, session_options(false));
    EXPECT_EQ(few.code, 0) << few.error();
    EXPECT_EQ(few.report["preSessionBytesDiscarded"], 100);
    phone.stale_bytes = 70000;
    const RealOutcome many = run_real(phone, session_options(false));
    EXPECT_EQ(many.error(), "previous_session_still_active_reconnect_phone");
}

TEST(PhoneAgainstSession, SilentPhonesRunIntoTheSessionsTimeLimits) {
    SessionOptions short_hello = session_options(true);
    short_hello.hello_timeout_ms = 1000;
    SessionOptions probe = session_options(false);
    probe.seconds = 0;  // until a failure ends it
    struct Case {
        std::string name;
        const SessionOptions& options;
        std::string code;
    };
    const std::vector<Case> cases = {
        {"no_hello", short_hello, "control_timeout_check_phone"},
        {"no_config_ack", short_hello, "control_timeout_check_phone"},
        {"silence", short_hello, "control_timeout_check_phone"},
        {"silence", probe, "link_timeout"},
        {"no_pongs", short_hello, "pong_timeout"},
        {"no_pongs", probe, "pong_timeout"},
        {"no_stopped", short_hello, "control_timeout_check_phone"},
    };
    // Each waits out a limit of several seconds; waiting for all at once keeps the test short.
    std::vector<std::future<RealOutcome>> outcomes;
    for (const Case& entry : cases) {
        outcomes.push_back(std::async(std::launch::async, [&entry] {
            return run_real(misbehaving(entry.name), entry.options);
        }));
    }
    for (size_t i = 0; i < cases.size(); ++i) {
        EXPECT_EQ(outcomes[i].get().error(), cases[i].code) << cases[i].name;
    }
}

}  // namespace
}  // namespace kova::phone::test
