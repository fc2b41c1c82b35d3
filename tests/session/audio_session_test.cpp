#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "core/audio/signal_source.h"
#include "core/protocol/json_payload.h"
#include "tests/support/fake_phone.h"
#include "tests/support/session_runner.h"
#include "tests/support/temp_dir.h"
#include "tests/support/wav_builder.h"

namespace kova::test {
namespace {

std::vector<uint8_t> audio_bytes(const std::vector<Message>& audio) {
    std::vector<uint8_t> bytes;
    for (const auto& message : audio) {
        bytes.insert(bytes.end(), message.payload.begin(), message.payload.end());
    }
    return bytes;
}

TEST(AudioSessionTest, SineForTwoSecondsStreamsTheSignalOnSchedule) {
    SessionSetup setup = test::phone_setup();
    setup.options.signal = "sine";
    setup.options.seconds = 2;
    const auto outcome = test::run_against_peer(setup);

    EXPECT_EQ(outcome.peer_error, "");
    ASSERT_EQ(outcome.code, 0) << outcome.error();
    const auto& report = outcome.report;
    EXPECT_EQ(report["result"], "audio_probe_completed");
    EXPECT_EQ(report["phase"], "gate2");
    EXPECT_EQ(report["source"], "sine");
    EXPECT_EQ(report["speakerVerified"], true);
    EXPECT_EQ(report["audioProbePassed"], true);
    EXPECT_EQ(report["transportProbePassed"], true);
    EXPECT_EQ(report["hardwareGatePassed"], false);
    EXPECT_EQ(report["configAck"], nlohmann::json({{"accepted", true}}));
    // The session thread itself; the peer's thread existed before the snapshot.
    const int realtime_threads = report["realtimeThreads"].get<int>();
    EXPECT_LE(realtime_threads, 1);
    if (geteuid() == 0) {
        EXPECT_EQ(realtime_threads, 1);
    }
    EXPECT_LT(report["pacingMaxLateMs"].get<double>(), 100.0);
    EXPECT_GT(report["maxWriteMs"].get<double>(), 0.0);
    EXPECT_GT(report["maxReadMs"].get<double>(), 0.0);
    EXPECT_EQ(outcome.states, (std::vector<std::string>{"Connecting", "Negotiating", "Ready",
                                                        "Streaming", "Stopping"}));

    const auto audio = outcome.received_of(Type::Audio);
    ASSERT_FALSE(audio.empty());
    for (size_t i = 0; i < audio.size(); ++i) {
        ASSERT_EQ(audio[i].frame_index, i * 192) << i;
        ASSERT_EQ(audio[i].payload, signal_block("sine", i * 192)) << i;
    }
    EXPECT_EQ(report["framesSent"], audio.size() * 192);
    // Never ahead of the real-time schedule: at most the blocks due within two seconds.
    EXPECT_LE(audio.size(), 2u * 48000 / 192 + 1);
    EXPECT_GT(report["pingCount"].get<int>(), 0);

    const auto& messages = outcome.peer_received;
    EXPECT_EQ(messages[1].type, Type::Config);
    EXPECT_EQ(parse_json(messages[1].payload), nlohmann::json({{"sampleRate", 48000},
                                                               {"channels", 2},
                                                               {"sampleFormat", "s16le"},
                                                               {"framesPerMessage", 192}}));
    EXPECT_EQ(messages[2].type, Type::Start);
    EXPECT_TRUE(messages[2].payload.empty());
    EXPECT_EQ(messages.back().type, Type::Stop);
    for (size_t i = 0; i < messages.size(); ++i) {
        ASSERT_EQ(messages[i].sequence, i);
    }
}

TEST(AudioSessionTest, ShortWavFileSendsItsTwoBlocksAndEndsNormally) {
    test::TempDir dir;
    SessionSetup setup = test::phone_setup();
    setup.options.wav = dir.write("short.wav", test::simple_wav(1000));
    const auto outcome = test::run_against_peer(setup);

    ASSERT_EQ(outcome.code, 0) << outcome.error();
    const auto audio = outcome.received_of(Type::Audio);
    ASSERT_EQ(audio.size(), 2u);
    EXPECT_EQ(audio[0].payload.size(), 768u);
    EXPECT_EQ(audio[0].frame_index, 0u);
    EXPECT_EQ(audio[1].payload.size(), 232u);
    EXPECT_EQ(audio[1].frame_index, 192u);
    EXPECT_EQ(audio[1].payload[0], static_cast<uint8_t>(768));
    EXPECT_EQ(outcome.report["framesSent"], 250u);
    EXPECT_EQ(outcome.report["wavFrames"], 250u);
    EXPECT_EQ(outcome.report["source"], "wav");
    EXPECT_EQ(outcome.report["result"], "audio_probe_completed");
    EXPECT_EQ(outcome.report["audioProbePassed"], true);
    EXPECT_EQ(outcome.peer_received.back().type, Type::Stop);
}

TEST(AudioSessionTest, LoopedWavRepeatsUntilTheTimeIsUp) {
    test::TempDir dir;
    SessionSetup setup = test::phone_setup();
    setup.options.wav = dir.write("loop.wav", test::simple_wav(1000));
    setup.options.loop = true;
    setup.options.seconds = 1;
    const auto outcome = test::run_against_peer(setup);

    ASSERT_EQ(outcome.code, 0) << outcome.error();
    const auto audio = outcome.received_of(Type::Audio);
    ASSERT_GT(audio.size(), 4u);
    uint64_t frame = 0;
    for (size_t i = 0; i < audio.size(); ++i) {
        EXPECT_EQ(audio[i].frame_index, frame) << i;
        EXPECT_EQ(audio[i].payload.size(), i % 2 == 0 ? 768u : 232u) << i;
        EXPECT_EQ(audio[i].payload, audio[i % 2].payload) << i;
        frame += audio[i].payload.size() / 4;
    }
    EXPECT_EQ(outcome.report["framesSent"], frame);
    const auto all = audio_bytes(audio);
    EXPECT_EQ(all.size(), frame * 4);
}

TEST(AudioSessionTest, PhonePingDuringNegotiationIsAnsweredInSequence) {
    const std::vector<uint8_t> token = {1, 2, 3, 4, 5, 6, 7, 8};
    test::PhoneBehaviour phone;
    phone.ack.reset();
    phone.on_message = [&](ScriptedPeer& peer, const Message& message) {
        if (message.type == Type::Config) {
            peer.send(Type::Ping, token);
            peer.send_json(Type::ConfigAck, {{"accepted", true}});
        }
    };
    SessionSetup setup = test::phone_setup(phone);
    setup.options.signal = "silence";
    setup.options.seconds = 1;
    const auto outcome = test::run_against_peer(setup);

    ASSERT_EQ(outcome.code, 0) << outcome.error();
    const auto& messages = outcome.peer_received;
    ASSERT_GT(messages.size(), 3u);
    EXPECT_EQ(messages[2].type, Type::Pong);
    EXPECT_EQ(messages[2].sequence, 2u);
    EXPECT_EQ(messages[2].payload, token);
    EXPECT_EQ(messages[3].type, Type::Start);
}

TEST(AudioSessionTest, StatusesReachTheReportAndTheStatusHook) {
    SessionSetup setup = test::phone_setup();
    setup.options.signal = "impulse";
    setup.options.seconds = 1;
    const auto outcome = test::run_against_peer(setup);

    ASSERT_EQ(outcome.code, 0) << outcome.error();
    EXPECT_GE(outcome.statuses, 3);
    const auto& last = outcome.report["lastPhoneStatus"];
    EXPECT_EQ(last["state"], "Stopped");
    EXPECT_EQ(last["occupancyMean"], 960);
    EXPECT_FALSE(outcome.report.contains("capturePeak"));
}

TEST(AudioSessionTest, AStalledScheduleEndsTheSessionInsteadOfBursting) {
    SessionSetup setup = test::phone_setup();
    setup.options.signal = "sine";
    setup.on_report = [](nlohmann::json& report) {
        if (report["result"] == "running") {
            std::this_thread::sleep_for(std::chrono::milliseconds(150));
        }
    };
    const auto outcome = test::run_against_peer(setup);

    EXPECT_EQ(outcome.code, 1);
    EXPECT_EQ(outcome.error(), "pacing_stalled_no_audio_burst_replay");
    EXPECT_GE(outcome.report["pacingMaxLateMs"].get<double>(), 100.0);
    EXPECT_TRUE(outcome.received_of(Type::Audio).empty());
}

TEST(AudioSessionTest, SourcesAreCheckedBeforeTheLinkIsTouched) {
    test::TempDir dir;
    SessionSetup setup = test::phone_setup();
    setup.options.signal = "Sine";
    auto outcome = test::run_against_peer(setup);
    EXPECT_EQ(outcome.error(), "unknown_signal");
    EXPECT_TRUE(outcome.states.empty());
    EXPECT_TRUE(outcome.peer_received.empty());

    setup.options.signal.clear();
    setup.options.wav = dir.write("bad.wav", test::WavBuilder().format().data(6).bytes());
    outcome = test::run_against_peer(setup);
    EXPECT_EQ(outcome.error(), "wav_data_chunk");
    EXPECT_EQ(outcome.report["phase"], "gate1");

    setup.options.wav.clear();
    setup.options.capture_uid = kKovaDeviceUid;
    outcome = test::run_against_peer(setup);
    EXPECT_EQ(outcome.code, 1);
    EXPECT_EQ(outcome.error(), "kova_device_not_found");
    EXPECT_TRUE(outcome.peer_received.empty());
}

}  // namespace
}  // namespace kova::test
