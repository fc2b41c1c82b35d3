#include <gtest/gtest.h>

#include <thread>

#include "core/protocol/codec.h"
#include "core/protocol/json_payload.h"
#include "tests/tools/phone/scripted_desktop.h"

namespace kova::phone::test {
namespace {

using namespace std::chrono_literals;
using nlohmann::json;

const json kConfig = {
    {"sampleRate", 48000}, {"channels", 2}, {"sampleFormat", "s16le"}, {"framesPerMessage", 192}};

PhoneOptions fast_status() {
    PhoneOptions options;
    options.status_interval_ms = 50;
    return options;
}

json body(const Message& message) {
    return parse_json(message.payload);
}

TEST(PhoneProtocol, AnswersTheHelloInTheDesktopsSessionWithItsOwnSequence) {
    PhoneOptions options;
    options.role = "android";
    ScriptedDesktop desktop(options);
    desktop.send_hello();
    const auto hello = desktop.next();
    ASSERT_TRUE(hello);
    EXPECT_EQ(hello->type, Type::Hello);
    EXPECT_EQ(hello->session, desktop.session());
    EXPECT_EQ(hello->sequence, 0u);
    const json payload = body(*hello);
    EXPECT_EQ(payload["role"], "android");
    EXPECT_TRUE(payload["protocolMinor"].is_number_integer());
    EXPECT_EQ(payload["protocolMinor"], 0);
    EXPECT_TRUE(payload["build"].is_string());
    EXPECT_EQ(payload["capabilities"], json({"ping", "status", "pcm_s16le_48000_stereo"}));
    desktop.send_json(Type::Config, kConfig);
    const auto ack = desktop.next_of(Type::ConfigAck);
    ASSERT_TRUE(ack);
    EXPECT_EQ(ack->sequence, 1u);
    EXPECT_EQ(body(*ack), json({{"accepted", true}}));
    EXPECT_TRUE(desktop.finish().first_violation.empty());
}

TEST(PhoneProtocol, RefusesAConfigurationItCannotPlay) {
    ScriptedDesktop desktop;
    ASSERT_TRUE(desktop.greet());
    json config = kConfig;
    config["sampleRate"] = 44100;
    desktop.send_json(Type::Config, config);
    const auto ack = desktop.next_of(Type::ConfigAck);
    ASSERT_TRUE(ack);
    EXPECT_EQ(body(*ack)["accepted"], false);
    EXPECT_FALSE(body(*ack)["reason"].get<std::string>().empty());
}

TEST(PhoneProtocol, EchoesPingTokensAndCountsThem) {
    ScriptedDesktop desktop;
    ASSERT_TRUE(desktop.greet());
    for (uint64_t token : {0x0102030405060708ULL, 0xFFFFFFFFFFFFFFFEULL, 42ULL}) {
        desktop.send_ping(token);
        const auto pong = desktop.next_of(Type::Pong);
        ASSERT_TRUE(pong);
        EXPECT_EQ(get_u64le(pong->payload.data()), token);
    }
    EXPECT_EQ(desktop.finish().pings_answered, 3u);
}

TEST(PhoneProtocol, PingsTheDesktopWhenAskedAndChecksItsPongs) {
    PhoneOptions options;
    options.ping_interval_ms = 20;
    ScriptedDesktop desktop(options);
    ASSERT_TRUE(desktop.greet());
    const auto first = desktop.next_of(Type::Ping);
    ASSERT_TRUE(first);
    EXPECT_EQ(first->session, desktop.session());
    desktop.send(Type::Pong, first->payload);
    const auto second = desktop.next_of(Type::Ping);
    ASSERT_TRUE(second);
    EXPECT_NE(second->payload, first->payload);
    desktop.send(Type::Pong, first->payload);  // an old token
    const PhoneSummary summary = desktop.finish();
    EXPECT_EQ(summary.pongs_received, 1u);
    EXPECT_EQ(summary.first_violation, "unexpected_pong");
}

TEST(PhoneProtocol, AnUnaskedPongIsAViolation) {
    ScriptedDesktop desktop;
    ASSERT_TRUE(desktop.greet());
    desktop.send(Type::Pong, std::vector<uint8_t>(8, 1));
    EXPECT_EQ(desktop.finish().first_violation, "unexpected_pong");
}

TEST(PhoneProtocol, ReportsStreamingOnTheSpeakerThenStoppedAfterTheStop) {
    ScriptedDesktop desktop(fast_status());
    ASSERT_TRUE(desktop.open_stream());
    const auto streaming = desktop.next_of(Type::Status);
    ASSERT_TRUE(streaming);
    EXPECT_EQ(body(*streaming)["state"], "Streaming");
    EXPECT_EQ(body(*streaming)["route"], "built_in_speaker");
    EXPECT_TRUE(body(*streaming)["occupancyMean"].is_number());
    EXPECT_TRUE(body(*streaming)["underruns"].is_number_integer());
    desktop.send(Type::Stop);
    std::optional<Message> status;
    do {
        status = desktop.next_of(Type::Status);
        ASSERT_TRUE(status);
    } while (body(*status)["state"] != "Stopped");
    const PhoneSummary summary = desktop.finish();
    EXPECT_TRUE(summary.stopped);
    EXPECT_TRUE(summary.first_violation.empty());
}

TEST(PhoneProtocol, SendsStatusPeriodicallyWithRunningSequenceNumbers) {
    ScriptedDesktop desktop(fast_status());
    ASSERT_TRUE(desktop.greet());
    uint64_t previous = 0;
    for (int i = 0; i < 4; ++i) {
        const auto status = desktop.next_of(Type::Status, 2s);
        ASSERT_TRUE(status);
        EXPECT_EQ(status->sequence, previous + 1);
        EXPECT_EQ(status->session, desktop.session());
        previous = status->sequence;
    }
}

TEST(PhoneProtocol, CountsAndKeepsTheAudioItReceives) {
    ScriptedDesktop desktop(fast_status());
    ASSERT_TRUE(desktop.open_stream());
    std::vector<int16_t> sent;
    for (uint64_t frame = 0; frame < 192 * 20; frame += 192) {
        const std::vector<int16_t> block = test_samples(frame, 192);
        desktop.send_audio(block, frame);
        sent.insert(sent.end(), block.begin(), block.end());
    }
    const std::vector<int16_t> tail = test_samples(192 * 20, 58);
    desktop.send_audio(tail, 192 * 20);
    sent.insert(sent.end(), tail.begin(), tail.end());
    desktop.send(Type::Stop);
    ASSERT_TRUE(desktop.next_of(Type::Status));
    const PhoneSummary summary = desktop.finish();
    EXPECT_EQ(summary.frames_received, 192u * 20 + 58);
    EXPECT_EQ(summary.audio_messages, 21u);
    EXPECT_EQ(summary.gaps, 0u);
    EXPECT_EQ(summary.samples, sent);
    EXPECT_TRUE(summary.first_violation.empty());
}

TEST(PhoneProtocol, StatusReportsTheFillOfTheBufferBeforePlayoutStarts) {
    ScriptedDesktop desktop(fast_status());
    ASSERT_TRUE(desktop.open_stream());
    std::vector<uint8_t> burst;  // below the prefill of 1920, in one write so it arrives at once
    for (uint64_t frame = 0; frame < 192 * 8; frame += 192) {
        const std::vector<uint8_t> bytes = desktop.audio_frame(test_samples(frame, 192), frame);
        burst.insert(burst.end(), bytes.begin(), bytes.end());
    }
    desktop.send_raw(burst);
    std::optional<Message> status;
    do {  // the interval in which the burst arrived
        status = desktop.next_of(Type::Status);
        ASSERT_TRUE(status);
    } while (body(*status)["occupancyMean"] == 0.0);
    const auto held = desktop.next_of(Type::Status);  // a whole interval of it held
    ASSERT_TRUE(held);
    EXPECT_DOUBLE_EQ(body(*held)["occupancyMean"].get<double>(), 1536.0);
    EXPECT_EQ(body(*held)["underruns"], 0);
}

TEST(PhoneProtocol, AStallUnderrunsThePlayoutAndTheNextBlockIsLate) {
    ScriptedDesktop desktop(fast_status());
    ASSERT_TRUE(desktop.open_stream());
    for (uint64_t frame = 0; frame < 192 * 20; frame += 192) {  // 80 ms of audio at once
        desktop.send_audio(test_samples(frame, 192), frame);
    }
    std::this_thread::sleep_for(300ms);
    desktop.send_audio(test_samples(192 * 20, 192), 192 * 20);
    std::optional<Message> status;
    do {
        status = desktop.next_of(Type::Status);
        ASSERT_TRUE(status);
    } while (body(*status)["underruns"] == 0);
    desktop.send(Type::Stop);
    const PhoneSummary summary = desktop.finish();
    EXPECT_GE(summary.underruns, 1u);
    EXPECT_GE(summary.late_blocks, 1u);
}

}  // namespace
}  // namespace kova::phone::test
