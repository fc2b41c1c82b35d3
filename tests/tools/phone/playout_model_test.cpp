#include <gtest/gtest.h>

#include "tools/phone/playout_model.h"

namespace kova::phone {
namespace {

using namespace std::chrono_literals;
using Clock = PlayoutModel::Clock;

// Feeds 192-frame blocks every `period` from `start`, `count` of them.
void feed(PlayoutModel& model, Clock::time_point start, Clock::duration period, int count) {
    for (int i = 0; i < count; ++i) {
        model.push(192, start + i * period);
    }
}

TEST(PhonePlayout, HoldsAudioUntilThePrefillThenDrainsInRealTime) {
    const Clock::time_point t0{};
    PlayoutModel model(960, t0);
    feed(model, t0, 0ms, 4);  // 768 frames: below the prefill
    model.advance(t0 + 100ms);
    EXPECT_EQ(model.buffered(), 768u);
    model.push(192, t0 + 100ms);  // 960: playing from here
    model.advance(t0 + 110ms);    // 10 ms = 480 frames
    EXPECT_EQ(model.buffered(), 480u);
    EXPECT_EQ(model.underruns(), 0u);
}

TEST(PhonePlayout, ASteadyStreamNeverUnderruns) {
    const Clock::time_point t0{};
    PlayoutModel model(1920, t0);
    feed(model, t0, 4ms, 2500);  // ten seconds
    model.advance(t0 + 10s);
    EXPECT_EQ(model.underruns(), 0u);
    EXPECT_EQ(model.late_blocks(), 0u);
    EXPECT_LE(model.buffered(), 1920u + 192u);
}

TEST(PhonePlayout, AStallRunsTheBufferDryAndTheNextBlockIsLate) {
    const Clock::time_point t0{};
    PlayoutModel model(960, t0);
    feed(model, t0, 4ms, 10);           // playing from the fifth block (16 ms)
    const auto stall_end = t0 + 200ms;  // far longer than the 1152 buffered frames last
    model.push(192, stall_end);
    EXPECT_EQ(model.underruns(), 1u);
    EXPECT_EQ(model.late_blocks(), 1u);
    feed(model, stall_end + 4ms, 4ms, 10);  // refills and plays again
    EXPECT_EQ(model.late_blocks(), 1u);
    EXPECT_EQ(model.underruns(), 1u);
}

TEST(PhonePlayout, DrainingAfterTheStopIsNoUnderrun) {
    const Clock::time_point t0{};
    PlayoutModel model(960, t0);
    feed(model, t0, 4ms, 10);
    model.finish(t0 + 40ms);
    model.advance(t0 + 2s);
    EXPECT_EQ(model.buffered(), 0u);
    EXPECT_EQ(model.underruns(), 0u);
}

TEST(PhonePlayout, TheIntervalMeanIsTheTimeWeightedFill) {
    const Clock::time_point t0{};
    PlayoutModel model(4800, t0);
    model.push(2400, t0);  // held below the prefill: constant fill
    EXPECT_DOUBLE_EQ(model.take_interval_mean(t0 + 100ms), 2400.0);
    model.push(2400, t0 + 100ms);  // 4800: plays, falls linearly from 4800 to 0 in 100 ms
    EXPECT_NEAR(model.take_interval_mean(t0 + 200ms), 2400.0, 1.0);
    EXPECT_NEAR(model.take_interval_mean(t0 + 300ms), 0.0, 1e-9);
    EXPECT_EQ(model.underruns(), 1u);
}

}  // namespace
}  // namespace kova::phone
