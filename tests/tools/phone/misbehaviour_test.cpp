#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <map>
#include <set>

#include "tests/tools/phone/desktop_oracle.h"

namespace kova::phone::test {
namespace {

PhoneOptions misbehaving(const std::string& name) {
    PhoneOptions options;
    options.misbehaviour = name;
    options.status_interval_ms = 100;
    return options;
}

TEST(PhoneBehaviour, AWellBehavedPhoneCompletesAnAudioSessionAndALinkProbe) {
    for (const std::string role : {"ios", "android"}) {
        PhoneOptions options;
        options.role = role;
        const OracleResult audio = run_desktop(options, true);
        EXPECT_EQ(audio.code, "") << role;
        EXPECT_EQ(audio.summary.frames_received, 50u * 192);
        EXPECT_EQ(audio.summary.pings_answered, 1u);
        EXPECT_TRUE(audio.summary.stopped);
        EXPECT_EQ(audio.summary.first_violation, "");
        const OracleResult probe = run_desktop(options, false);
        EXPECT_EQ(probe.code, "") << role;
        EXPECT_EQ(probe.summary.frames_received, 0u);
    }
}

// Each misbehaviour must end an audio session with the desktop's code for it.
TEST(PhoneBehaviour, EachMisbehaviourEndsAnAudioSessionWithItsCode) {
    const std::map<std::string, std::string> expected = {
        {"wrong_role", "bad_hello"},
        {"protocol_minor_float", "bad_hello"},
        {"protocol_minor_string", "bad_hello"},
        {"missing_ping_capability", "ping_not_supported"},
        {"no_pcm_capability", "install_gate2_android_build"},
        {"no_hello", "control_timeout_check_phone"},
        {"status_before_hello", "hello_required"},
        {"duplicate_hello", "duplicate_hello"},
        {"config_refused", "phone_error: sample_rate_unsupported"},
        {"config_refused_no_reason", "config_rejected"},
        {"config_accepted_not_boolean", "bad_config_ack"},
        {"no_config_ack", "control_timeout_check_phone"},
        {"wrong_route", "unexpected_audio_route"},
        {"error_message", "phone_error: audio_focus_lost"},
        {"no_pongs", "pong_timeout"},
        {"wrong_pong_token", "unexpected_pong"},
        {"no_stopped", "control_timeout_check_phone"},
        {"stale_bytes", ""},
        {"wrong_session", "stale_session"},
        {"sequence_gap", "sequence_discontinuity"},
        {"bad_header", "bad_header"},
        {"close_mid_stream", "ios_connection_closed"},
        {"silence", "control_timeout_check_phone"},
        {"garbage", "bad_magic"},
        {"unexpected_message", "unexpected_message"},
    };
    std::set<std::string> covered;
    for (const std::string& name : PhoneApp::misbehaviours()) {
        ASSERT_TRUE(expected.count(name)) << name << " has no expected outcome";
        const OracleResult result = run_desktop(misbehaving(name), true);
        EXPECT_EQ(result.code, expected.at(name)) << name;
        covered.insert(name);
    }
    EXPECT_EQ(covered.size(), expected.size());
}

TEST(PhoneBehaviour, LinkProbesMeetTheMisbehavioursThatDoNotNeedAudio) {
    EXPECT_EQ(run_desktop(misbehaving("no_pcm_capability"), false).code, "");
    EXPECT_EQ(run_desktop(misbehaving("error_message"), false).code,
              "phone_error: audio_focus_lost");
    EXPECT_EQ(run_desktop(misbehaving("close_mid_stream"), false).code, "ios_connection_closed");
    EXPECT_EQ(run_desktop(misbehaving("no_pongs"), false).code, "pong_timeout");
}

TEST(PhoneBehaviour, WrongRoleAnnouncesTheOtherPlatform) {
    PhoneOptions options = misbehaving("wrong_role");
    options.role = "android";
    EXPECT_EQ(run_desktop(options, true).code, "bad_hello");
    options.misbehaviour.clear();
    EXPECT_EQ(run_desktop(options, true).code, "");
}

TEST(PhoneBehaviour, StaleBytesAreSentBeforeTheSessionInTheRequestedAmount) {
    PhoneOptions options = misbehaving("stale_bytes");
    options.stale_bytes = 100;
    const OracleResult few = run_desktop(options, true);
    EXPECT_EQ(few.stale_bytes, 100u);
    EXPECT_EQ(few.code, "");
    options.stale_bytes = 70000;
    EXPECT_EQ(run_desktop(options, true).code, "previous_session_still_active_reconnect_phone");
}

TEST(PhoneBehaviour, UnknownMisbehaviourIsRefusedAndTheSocketClosed) {
    PhoneOptions options;
    options.misbehaviour = "teleport";
    PhoneApp app(options);
    int fds[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
    EXPECT_THROW(app.serve(fds[1]), std::runtime_error);
    char byte;
    EXPECT_EQ(::recv(fds[0], &byte, 1, 0), 0);  // the emulator's end is closed
    ::close(fds[0]);
}

}  // namespace
}  // namespace kova::phone::test
