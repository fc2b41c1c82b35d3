#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <future>
#include <string>
#include <vector>

#include "core/audio/signal_source.h"
#include "core/transport/interrupt.h"
#include "tests/session/emulator_runner.h"
#include "tests/support/session_runner.h"
#include "tests/support/temp_dir.h"
#include "tests/support/wav_builder.h"

namespace kova {
namespace {

using test::EmulatedSession;

phone::PhoneOptions well_behaved() {
    return phone::PhoneOptions{};
}

phone::PhoneOptions misbehaving(const std::string& name) {
    phone::PhoneOptions options;
    options.misbehaviour = name;
    return options;
}

SessionOptions audio_options(const std::string& signal, int seconds) {
    SessionOptions options = test::link_options();
    options.signal = signal;
    options.seconds = seconds;
    return options;
}

std::vector<int16_t> samples_of(const std::vector<uint8_t>& bytes) {
    std::vector<int16_t> samples;
    for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
        samples.push_back(static_cast<int16_t>(bytes[i] | (bytes[i + 1] << 8)));
    }
    return samples;
}

TEST(EmulatorSessionTest, LinkProbeOfThreeSecondsPasses) {
    SessionOptions options = test::link_options();
    options.seconds = 3;
    const EmulatedSession session = test::run_against_emulator(options, well_behaved());

    EXPECT_EQ(session.code, 0) << session.error();
    EXPECT_EQ(session.report["result"], "ping_passed");
    EXPECT_EQ(session.report["pingCount"], 3);
    EXPECT_EQ(session.report["transportProbePassed"], true);
    EXPECT_EQ(std::count(session.states.begin(), session.states.end(), "Streaming"), 0);
    EXPECT_EQ(session.phone.pings_answered, 3u);
    EXPECT_EQ(session.phone.first_violation, "");
    EXPECT_TRUE(session.phone.stopped);
    EXPECT_EQ(session.phone.frames_received, 0u);
}

TEST(EmulatorSessionTest, SineForTwoSecondsArrivesSampleForSample) {
    const EmulatedSession session =
        test::run_against_emulator(audio_options("sine", 2), well_behaved());

    ASSERT_EQ(session.code, 0) << session.error();
    EXPECT_EQ(session.report["result"], "audio_probe_completed");
    EXPECT_EQ(session.report["speakerVerified"], true);
    EXPECT_EQ(session.report["audioProbePassed"], true);
    const auto& phone = session.phone;
    EXPECT_EQ(phone.first_violation, "");
    EXPECT_EQ(phone.gaps, 0u);
    EXPECT_TRUE(phone.stopped);
    EXPECT_EQ(session.report["framesSent"], phone.frames_received);
    EXPECT_EQ(phone.audio_messages * 192, phone.frames_received);
    ASSERT_EQ(phone.samples.size(), phone.frames_received * 2);
    ASSERT_GE(phone.samples.size(), 2u);
    EXPECT_EQ(phone.samples[0], 0);
    EXPECT_EQ(phone.samples[1], 0);
    int peak = 0;
    for (const int16_t sample : phone.samples) {
        peak = std::max(peak, std::abs(static_cast<int>(sample)));
    }
    EXPECT_EQ(peak, 2067);
    for (uint64_t frame = 0; frame < phone.frames_received; frame += 192) {
        const auto expected = samples_of(signal_block("sine", frame));
        ASSERT_TRUE(std::equal(expected.begin(), expected.end(), phone.samples.begin() + frame * 2))
            << "block at frame " << frame;
    }
    // The phone's status figures reach the report unchanged.
    EXPECT_TRUE(session.report["lastPhoneStatus"].contains("occupancyMean"));
    EXPECT_EQ(session.report["lastPhoneStatus"]["state"], "Stopped");
}

TEST(EmulatorSessionTest, ShortWavArrivesWhole) {
    test::TempDir dir;
    SessionOptions options = test::link_options();
    const auto file = test::simple_wav(1000);
    options.wav = dir.write("short.wav", file);
    const EmulatedSession session = test::run_against_emulator(options, well_behaved());

    ASSERT_EQ(session.code, 0) << session.error();
    EXPECT_EQ(session.report["framesSent"], 250u);
    EXPECT_EQ(session.phone.frames_received, 250u);
    EXPECT_EQ(session.phone.audio_messages, 2u);
    const auto expected = samples_of({file.end() - 1000, file.end()});
    EXPECT_EQ(session.phone.samples, expected);
    EXPECT_EQ(session.report["audioProbePassed"], true);
}

TEST(EmulatorSessionTest, StaleBytesFromAnEarlierSessionAreDrained) {
    SessionOptions options = test::link_options();
    options.seconds = 1;
    const EmulatedSession few = test::run_against_emulator(options, misbehaving("stale_bytes"));
    EXPECT_EQ(few.code, 0) << few.error();
    EXPECT_EQ(few.report["preSessionBytesDiscarded"], 100u);

    phone::PhoneOptions many = misbehaving("stale_bytes");
    many.stale_bytes = 70000;
    const EmulatedSession busy = test::run_against_emulator(options, many);
    EXPECT_EQ(busy.code, 1);
    EXPECT_EQ(busy.error(), "previous_session_still_active_reconnect_phone");
}

TEST(EmulatorSessionTest, InterruptWhileStreamingCancelsWithoutStop) {
    SessionHooks hooks;
    hooks.on_status = [](const nlohmann::json& report) {
        if (report["lastPhoneStatus"].value("state", "") == "Streaming") {
            interrupted.store(1);
        }
    };
    const EmulatedSession session =
        test::run_against_emulator(audio_options("sine", 30), well_behaved(), hooks);
    interrupted.store(0);

    EXPECT_EQ(session.code, 130);
    EXPECT_EQ(session.report["result"], "cancelled");
    EXPECT_FALSE(session.phone.stopped);
}

// The emulator's misbehaviours that end a session quickly, with the code each must produce.
TEST(EmulatorSessionTest, QuickMisbehavioursEndWithTheirCodes) {
    const std::vector<std::pair<std::string, std::string>> expected = {
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
        SCOPED_TRACE(name);
        const EmulatedSession session =
            test::run_against_emulator(audio_options("sine", 3), misbehaving(name));
        EXPECT_EQ(session.code, 1);
        EXPECT_EQ(session.error(), code);
    }
}

// Misbehaviours that only show when a time limit runs out, run side by side.
TEST(EmulatorSessionTest, SlowMisbehavioursEndWithTheirCodes) {
    const std::vector<std::pair<std::string, std::string>> expected = {
        {"no_hello", "control_timeout_check_phone"},
        {"no_config_ack", "control_timeout_check_phone"},
        {"no_stopped", "control_timeout_check_phone"},
        {"no_pongs", "pong_timeout"},
        {"silence", "link_timeout"},
    };
    std::vector<std::future<EmulatedSession>> running;
    for (const auto& entry : expected) {
        SessionOptions options = audio_options("silence", 1);
        options.hello_timeout_ms = 1000;
        if (entry.first == "no_pongs") {
            options.seconds = 0;
        }
        if (entry.first == "silence") {
            options.signal.clear();  // in a probe nothing else is awaited from a silent phone
        }
        running.push_back(std::async(std::launch::async, [options, name = entry.first] {
            return test::run_against_emulator(options, misbehaving(name));
        }));
    }
    for (size_t i = 0; i < expected.size(); ++i) {
        SCOPED_TRACE(expected[i].first);
        const EmulatedSession session = running[i].get();
        EXPECT_EQ(session.code, 1);
        EXPECT_EQ(session.error(), expected[i].second);
        EXPECT_GE(session.seconds, 1.0);
    }
}

}  // namespace
}  // namespace kova
