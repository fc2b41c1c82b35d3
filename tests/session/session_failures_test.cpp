#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <iostream>
#include <string>
#include <vector>

#include "core/protocol/codec.h"
#include "core/protocol/json_payload.h"
#include "tests/support/fake_phone.h"
#include "tests/support/session_runner.h"

namespace kova::test {
namespace {

// One misbehaving phone and the exact code the session must end with.
struct Misbehaviour {
    const char* name;
    bool audio;
    std::function<void(ScriptedPeer&)> script;
    std::string expected;
};

SessionSetup setup_for(const Misbehaviour& phone) {
    SessionSetup setup;
    setup.options = test::link_options();
    setup.options.seconds = 3;
    if (phone.audio) {
        setup.options.signal = "silence";
    }
    setup.script = phone.script;
    return setup;
}

std::function<void(ScriptedPeer&)> hello_with(const char* key, nlohmann::json value) {
    PhoneBehaviour behaviour;
    behaviour.hello[key] = std::move(value);
    return test::phone_script(behaviour);
}

std::function<void(ScriptedPeer&)> acknowledging(nlohmann::json ack) {
    PhoneBehaviour behaviour;
    behaviour.ack = std::move(ack);
    return test::phone_script(behaviour);
}

// Plays a good phone and does `extra` once the first audio message has arrived.
std::function<void(ScriptedPeer&)> once_streaming(std::function<void(ScriptedPeer&)> extra) {
    PhoneBehaviour behaviour;
    auto done = std::make_shared<bool>(false);
    behaviour.on_message = [extra, done](ScriptedPeer& peer, const Message& message) {
        if (message.type == Type::Audio && !*done) {
            *done = true;
            extra(peer);
        }
    };
    return test::phone_script(behaviour);
}

// A valid status frame with one header field overwritten.
std::function<void(ScriptedPeer&)> status_header_with(size_t offset, std::vector<uint8_t> bytes) {
    return once_streaming([offset, bytes](ScriptedPeer& peer) {
        auto frame = encode(Message{Type::Status, peer.session(), peer.next_sequence++, 0,
                                    json_bytes({{"state", "Streaming"}})});
        std::memcpy(frame.data() + offset, bytes.data(), bytes.size());
        peer.send_raw(frame);
    });
}

std::function<void(ScriptedPeer&)> hello_then(std::function<void(ScriptedPeer&)> after) {
    return [after](ScriptedPeer& peer) {
        peer.expect(Type::Hello);
        after(peer);
        test::ignore_desktop(peer);
    };
}

std::vector<Misbehaviour> negotiation_failures() {
    PhoneBehaviour android;
    android.hello = test::phone_hello("android");
    PhoneBehaviour no_audio;
    no_audio.hello = test::phone_hello("ios", false);
    PhoneBehaviour only_status;
    only_status.hello["capabilities"] = {"status", "pcm_s16le_48000_stereo"};
    return {
        {"wrong role", false, test::phone_script(android), "bad_hello"},
        {"role not a string", false, hello_with("role", 1), "bad_hello"},
        {"minor as float", false, hello_with("protocolMinor", 0.0), "bad_hello"},
        {"minor as text", false, hello_with("protocolMinor", "1"), "bad_hello"},
        {"minor 1", false, hello_with("protocolMinor", 1), "bad_hello"},
        {"build not a string", false, hello_with("build", 7), "bad_hello"},
        {"capabilities not an array", false, hello_with("capabilities", "ping"), "bad_hello"},
        {"no ping", false, test::phone_script(only_status), "ping_not_supported"},
        {"no audio capability", true, test::phone_script(no_audio), "install_gate2_android_build"},
        {"status before hello", false, hello_then([](ScriptedPeer& peer) {
             peer.send_json(Type::Status, {{"state", "Idle"}});
         }),
         "hello_required"},
        {"hello twice", false, hello_then([](ScriptedPeer& peer) {
             peer.send_json(Type::Hello, test::phone_hello());
             peer.send_json(Type::Hello, test::phone_hello());
         }),
         "duplicate_hello"},
        {"hello from another session", false, hello_then([](ScriptedPeer& peer) {
             peer.send_message(
                 Message{Type::Hello, peer.session() + 1, 0, 0, json_bytes(test::phone_hello())});
         }),
         "stale_session"},
        {"hello numbered 1", false, hello_then([](ScriptedPeer& peer) {
             peer.next_sequence = 1;
             peer.send_json(Type::Hello, test::phone_hello());
         }),
         "sequence_discontinuity"},
        {"refused without reason", true, acknowledging({{"accepted", false}}), "config_rejected"},
        {"refused with empty reason", true, acknowledging({{"accepted", false}, {"reason", ""}}),
         "config_rejected"},
        {"refused with reason", true,
         acknowledging({{"accepted", false}, {"reason", "speaker_busy"}}),
         "phone_error: speaker_busy"},
        {"accepted as text", true, acknowledging({{"accepted", "yes"}}), "bad_config_ack"},
        {"ack in a probe", false, hello_then([](ScriptedPeer& peer) {
             peer.send_json(Type::Hello, test::phone_hello());
             peer.send_json(Type::ConfigAck, {{"accepted", true}});
         }),
         "unexpected_config_ack"},
        {"phone error", false, hello_then([](ScriptedPeer& peer) {
             peer.send_json(Type::Hello, test::phone_hello());
             peer.send_json(Type::Error, {{"code", "audio_focus_lost"}});
         }),
         "phone_error: audio_focus_lost"},
        {"phone sends a configuration", false, hello_then([](ScriptedPeer& peer) {
             peer.send_json(Type::Hello, test::phone_hello());
             peer.send_json(Type::Config, {{"sampleRate", 48000}});
         }),
         "unexpected_message"},
    };
}

std::vector<Misbehaviour> streaming_failures() {
    PhoneBehaviour bluetooth;
    bluetooth.route = "bluetooth_a2dp";
    PhoneBehaviour no_route;
    no_route.route.reset();
    PhoneBehaviour wrong_token;
    wrong_token.wrong_pong_token = true;
    PhoneBehaviour second_ack;
    second_ack.on_message = [](ScriptedPeer& peer, const Message& message) {
        if (message.type == Type::Config) {
            peer.send_json(Type::ConfigAck, {{"accepted", true}});
        }
    };
    return {
        {"other route", true, test::phone_script(bluetooth), "unexpected_audio_route"},
        {"no route", true, test::phone_script(no_route), "unexpected_audio_route"},
        {"second acknowledgement", true, test::phone_script(second_ack), "unexpected_config_ack"},
        {"wrong pong token", true, test::phone_script(wrong_token), "unexpected_pong"},
        {"pong without ping", true, once_streaming([](ScriptedPeer& peer) {
             peer.send(Type::Pong, {9, 9, 9, 9, 9, 9, 9, 9});
         }),
         "unexpected_pong"},
        {"status from another session", true, once_streaming([](ScriptedPeer& peer) {
             peer.send_message(Message{Type::Status, peer.session() ^ 1, peer.next_sequence++, 0,
                                       json_bytes({{"state", "Streaming"}})});
         }),
         "stale_session"},
        {"sequence gap", true, once_streaming([](ScriptedPeer& peer) {
             ++peer.next_sequence;
             peer.send_json(Type::Status, {{"state", "Streaming"}, {"route", "built_in_speaker"}});
         }),
         "sequence_discontinuity"},
        {"bad magic", true, status_header_with(0, {'K', 'O', 'V', 'B'}), "bad_magic"},
        {"bad major", true, status_header_with(4, {2, 0}), "bad_major"},
        {"bad header length", true, status_header_with(8, {48, 0}), "bad_header"},
        {"bad flags", true, status_header_with(10, {1, 0}), "bad_flags"},
        {"unknown type", true, status_header_with(6, {11, 0}), "unknown_type"},
        {"payload too large", true, status_header_with(12, {0x01, 0x24, 0, 0}), "payload_limit"},
        {"phone error while streaming", true, once_streaming([](ScriptedPeer& peer) {
             peer.send_json(Type::Error, {{"code", "built_in_speaker_unavailable"}});
         }),
         "phone_error: built_in_speaker_unavailable"},
        {"audio from the phone", true, once_streaming([](ScriptedPeer& peer) {
             peer.send(Type::Audio, {0, 0, 0, 0}, 0);
         }),
         "unexpected_message"},
    };
}

void expect_failures(const std::vector<Misbehaviour>& phones) {
    for (const auto& phone : phones) {
        SCOPED_TRACE(phone.name);
        const auto outcome = test::run_against_peer(setup_for(phone));
        EXPECT_EQ(outcome.peer_error, "");
        EXPECT_EQ(outcome.code, 1);
        EXPECT_EQ(outcome.report["result"], "error");
        EXPECT_EQ(outcome.error(), phone.expected);
        EXPECT_TRUE(outcome.received_of(Type::Stop).empty());
        EXPECT_FALSE(outcome.report.contains("transportProbePassed") &&
                     outcome.report["transportProbePassed"] == true);
    }
}

TEST(SessionFailureTest, NegotiationMisbehaviourEndsWithItsCode) {
    expect_failures(negotiation_failures());
}

TEST(SessionFailureTest, StreamingMisbehaviourEndsWithItsCode) {
    expect_failures(streaming_failures());
}

TEST(SessionFailureTest, FailedHelloChecksNeverAnnounceReady) {
    SessionSetup setup = setup_for({"", false, hello_with("protocolMinor", 0.0), ""});
    const auto outcome = test::run_against_peer(setup);
    EXPECT_EQ(outcome.error(), "bad_hello");
    EXPECT_EQ(outcome.states, (std::vector<std::string>{"Connecting", "Negotiating"}));
    EXPECT_FALSE(outcome.report.contains("phoneHello"));
}

TEST(SessionFailureTest, PhoneErrorAndRefusalPayloadsAreKept) {
    auto outcome = test::run_against_peer(setup_for(negotiation_failures()[18]));
    EXPECT_EQ(outcome.report["phoneError"], nlohmann::json({{"code", "audio_focus_lost"}}));
    outcome = test::run_against_peer(
        setup_for({"", true, acknowledging({{"accepted", false}, {"reason", "busy"}}), ""}));
    EXPECT_EQ(outcome.report["configAck"],
              nlohmann::json({{"accepted", false}, {"reason", "busy"}}));
    EXPECT_FALSE(outcome.report.contains("speakerVerified"));
}

TEST(SessionFailureTest, MissingRequiredMembersFailWithTheJsonLibrarysText) {
    PhoneBehaviour no_role;
    no_role.hello.erase("role");
    auto outcome = test::run_against_peer(setup_for({"", false, test::phone_script(no_role), ""}));
    EXPECT_NE(outcome.error().find("'role' not found"), std::string::npos) << outcome.error();

    outcome = test::run_against_peer(setup_for({"", true, acknowledging({{"reason", "x"}}), ""}));
    EXPECT_NE(outcome.error().find("'accepted' not found"), std::string::npos) << outcome.error();

    outcome = test::run_against_peer(
        setup_for({"", true, acknowledging({{"accepted", false}, {"reason", 3}}), ""}));
    EXPECT_NE(outcome.error().find("must be string"), std::string::npos) << outcome.error();
}

TEST(SessionFailureTest, PartialFrameLeftAtTheEndIsTruncated) {
    PhoneBehaviour phone;
    phone.status_interval_ms = 100000;
    phone.on_message = [](ScriptedPeer& peer, const Message& message) {
        if (message.type == Type::Ping) {
            const auto frame = encode(Message{Type::Status, peer.session(), peer.next_sequence++, 0,
                                              json_bytes({{"state", "Idle"}})});
            peer.send_raw({frame.begin(), frame.begin() + 10});
        }
    };
    SessionSetup setup = setup_for({"", false, test::phone_script(phone), ""});
    setup.options.seconds = 1;
    const auto outcome = test::run_against_peer(setup);
    EXPECT_EQ(outcome.code, 1);
    EXPECT_EQ(outcome.error(), "truncated_message");
    EXPECT_EQ(outcome.report["pingCount"], 1);
}

}  // namespace
}  // namespace kova::test
