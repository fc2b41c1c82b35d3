#include "core/session/capture_pipeline.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <utility>

#include "tests/support/error_code.h"

namespace kova {
namespace {

using namespace std::chrono_literals;
using Clock = CapturePipeline::Clock;

// A capture whose buffer, rate and peak the test sets by hand.
class FakeCapture : public CaptureSource {
  public:
    void start() override { started = true; }
    size_t available() const override { return samples.size() / 2; }
    size_t read(float* out, size_t max_frames) override {
        const size_t frames = std::min(max_frames, available());
        std::copy_n(samples.begin(), frames * 2, out);
        samples.erase(samples.begin(), samples.begin() + static_cast<std::ptrdiff_t>(frames * 2));
        return frames;
    }
    void discard(size_t frames) override {
        frames = std::min(frames, available());
        samples.erase(samples.begin(), samples.begin() + static_cast<std::ptrdiff_t>(frames * 2));
    }
    float take_peak() override { return std::exchange(peak, 0.0f); }
    uint64_t rate_change_count() const override { return rate_changes; }
    double current_rate() const override { return rate; }
    uint64_t overflow_count() const override { return overflow; }
    bool lost() const override { return gone; }

    // Appends `frames` frames whose left sample is `first`, `first`+1/32768, ... and right 0.
    void push_ramp(size_t frames, float first = 0.0f) {
        for (size_t i = 0; i < frames; ++i) {
            samples.push_back(first + static_cast<float>(i) / 32768.0f);
            samples.push_back(0.0f);
        }
    }

    std::deque<float> samples;
    double rate = 48000.0;
    uint64_t rate_changes = 0;
    uint64_t overflow = 0;
    float peak = 0.0f;
    bool gone = false;
    bool started = false;
};

int16_t sample_at(const std::vector<uint8_t>& payload, size_t index) {
    return static_cast<int16_t>(payload[2 * index] | (payload[2 * index + 1] << 8));
}

// The pipeline under test with its fake capture and everything it has sent.
struct Rig {
    Rig() {
        auto owned = std::make_unique<FakeCapture>();
        capture = owned.get();
        pipeline = std::make_unique<CapturePipeline>(std::move(owned));
    }
    void produce(std::chrono::milliseconds since_start) {
        pipeline->produce(start + since_start, start, report,
                          [this](const std::vector<uint8_t>& payload) { sent.push_back(payload); });
    }
    size_t frames_sent() const { return sent.size() * 192; }

    FakeCapture* capture = nullptr;
    std::unique_ptr<CapturePipeline> pipeline;
    nlohmann::json report = nlohmann::json::object();
    std::vector<std::vector<uint8_t>> sent;
    Clock::time_point start = Clock::now();
};

TEST(CapturePipelineTest, AtTheWireRateATooLongBacklogKeepsItsNewest20Ms) {
    Rig rig;
    rig.pipeline->begin_streaming(rig.report);
    EXPECT_EQ(rig.report["srcActive"], false);
    EXPECT_EQ(rig.report["captureSampleRate"], 48000.0);

    rig.capture->push_ramp(1300);
    rig.produce(2s);
    ASSERT_EQ(rig.sent.size(), 5u);  // 960 frames
    for (const auto& payload : rig.sent) {
        EXPECT_EQ(payload.size(), 768u);
    }
    // The oldest 340 frames went; frame 340 leads the first block, unchanged in value.
    EXPECT_EQ(sample_at(rig.sent[0], 0), 340);
    EXPECT_EQ(sample_at(rig.sent[4], 2 * 191), 1299);
    EXPECT_EQ(sample_at(rig.sent[4], 2 * 191 + 1), 0);

    rig.pipeline->finish(rig.report);
    EXPECT_EQ(rig.report["captureDroppedFrames"], 340u);
    EXPECT_EQ(rig.report["captureBacklogMaxFrames"], 1300u);
}

TEST(CapturePipelineTest, SamplesAreLimitedRoundedAndARemainderWaitsForItsBlock) {
    Rig rig;
    rig.pipeline->begin_streaming(rig.report);
    for (const float value : {1.5f, -1.5f, 0.5f, 0.25f}) {
        rig.capture->samples.push_back(value);
    }
    rig.capture->push_ramp(190 + 100);
    rig.produce(10ms);
    ASSERT_EQ(rig.sent.size(), 1u);
    EXPECT_EQ(sample_at(rig.sent[0], 0), 32767);
    EXPECT_EQ(sample_at(rig.sent[0], 1), -32767);
    EXPECT_EQ(sample_at(rig.sent[0], 2), 16384);  // 16383.5, ties to even
    EXPECT_EQ(sample_at(rig.sent[0], 3), 8192);

    rig.capture->push_ramp(92, 0.5f);
    rig.produce(20ms);
    ASSERT_EQ(rig.sent.size(), 2u);
    EXPECT_EQ(sample_at(rig.sent[1], 2 * 99), 289);     // the remainder came first
    EXPECT_EQ(sample_at(rig.sent[1], 2 * 100), 16384);  // then the new frames
}

TEST(CapturePipelineTest, TheFirstSecondIsLeftOutOfTheSteadyBacklog) {
    Rig rig;
    rig.pipeline->begin_streaming(rig.report);
    rig.capture->push_ramp(1000);
    rig.produce(500ms);
    rig.capture->push_ramp(100);
    rig.produce(1001ms);
    rig.capture->push_ramp(300);
    rig.produce(1500ms);
    rig.pipeline->finish(rig.report);
    EXPECT_EQ(rig.report["captureBacklogMaxFrames"], 1000u);
    // 100 new frames behind the 40 left from the first pass; then 300 behind those 140.
    EXPECT_EQ(rig.report["captureBacklogSteadyMaxFrames"], 440u);
    EXPECT_DOUBLE_EQ(rig.report["captureQueueMeanFrames"].get<double>(), (140.0 + 440.0) / 2.0);
    EXPECT_EQ(rig.report["captureDroppedFrames"], 0u);
}

TEST(CapturePipelineTest, ConvertingASecondAt44100GivesASecondAt48000) {
    Rig rig;
    rig.capture->rate = 44100.0;
    rig.pipeline->begin_streaming(rig.report);
    EXPECT_EQ(rig.report["srcActive"], true);
    EXPECT_EQ(rig.report["captureSampleRate"], 44100.0);
    for (int pass = 0; pass < 200; ++pass) {
        rig.capture->push_ramp(441);
        rig.produce(std::chrono::milliseconds(10 * pass));
    }
    // Two seconds of input; the converter holds back only its own short delay.
    EXPECT_GT(rig.frames_sent(), 96000u - 2000u);
    EXPECT_LE(rig.frames_sent(), 96000u);
    rig.pipeline->finish(rig.report);
    EXPECT_EQ(rig.report["captureDroppedFrames"], 0u);
}

TEST(CapturePipelineTest, ARateChangeDropsWhatWasBufferedAndRebuildsTheConverter) {
    Rig rig;
    rig.pipeline->begin_streaming(rig.report);
    rig.capture->push_ramp(300);
    rig.produce(10ms);
    ASSERT_EQ(rig.sent.size(), 1u);  // 108 frames wait

    rig.capture->rate = 96000.0;
    rig.capture->rate_changes = 1;
    rig.capture->push_ramp(500);
    rig.produce(20ms);
    EXPECT_EQ(rig.sent.size(), 1u);
    EXPECT_EQ(rig.capture->available(), 0u);
    EXPECT_EQ(rig.report["captureSampleRate"], 96000.0);
    EXPECT_EQ(rig.report["srcActive"], true);

    for (int pass = 0; pass < 50; ++pass) {
        rig.capture->push_ramp(960);
        rig.produce(std::chrono::milliseconds(30 + 10 * pass));
    }
    EXPECT_GT(rig.frames_sent(), 192u + 24000u - 2000u);
    rig.capture->overflow = 7;
    rig.pipeline->finish(rig.report);
    EXPECT_EQ(rig.report["captureRateChanges"], 1u);
    EXPECT_EQ(rig.report["captureOverflowFrames"], 7u);
}

TEST(CapturePipelineTest, AnUnsupportedRateOrALostDeviceEndsTheSession) {
    Rig rig;
    rig.capture->rate = 7999.0;
    EXPECT_EQ(test::code_of([&] { rig.pipeline->begin_streaming(rig.report); }),
              "src_unsupported_rate");

    Rig lost;
    lost.pipeline->begin_streaming(lost.report);
    lost.capture->gone = true;
    EXPECT_EQ(test::code_of([&] { lost.produce(10ms); }), "kova_device_lost");
}

TEST(CapturePipelineTest, EachStatusTakesThePeakAndKeepsTheLoudest) {
    Rig rig;
    rig.capture->peak = 0.5f;
    rig.pipeline->apply_status_peak(rig.report);
    rig.capture->peak = 0.25f;
    rig.pipeline->apply_status_peak(rig.report);
    EXPECT_EQ(rig.report["capturePeak"], 0.25);
    EXPECT_EQ(rig.report["capturePeakMax"], 0.5);
    rig.pipeline->apply_status_peak(rig.report);
    EXPECT_EQ(rig.report["capturePeak"], 0.0);
}

}  // namespace
}  // namespace kova
