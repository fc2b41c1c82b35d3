#include <gtest/gtest.h>

#include <cmath>

#include "bench/support/recording_check.h"

namespace kova::bench {
namespace {

using namespace std::chrono_literals;

// A 48 kHz played stream of a quiet sine with five clicks, and a recording of it at 0.8 times
// the level that lost 100 frames between the third and the fourth click.
class RecordingCheckTest : public ::testing::Test {
  protected:
    void SetUp() override {
        played.rate = 48000;
        played.positions = {1000, 5000, 9000, 13000, 17000};
        std::vector<float> stream(2 * 20000);
        for (size_t f = 0; f < 20000; ++f) {
            stream[2 * f] = stream[2 * f + 1] = static_cast<float>(0.2 * std::sin(0.05 * f));
        }
        ImpulseSchedule clicks;
        clicks.level = 0.7f;
        add_clicks(clicks, played.positions, 0, stream.data(), 20000);
        measure_gaps(played, stream);
        for (const uint64_t position : played.positions) {
            played.sounded.push_back(t0 + std::chrono::microseconds(position * 1000 / 48));
        }
        for (size_t f = 0; f < 20000; ++f) {
            if (f >= 11000 && f < 11100) {
                continue;
            }
            for (int channel = 0; channel < 2; ++channel) {
                recording.push_back(
                    static_cast<int16_t>(std::lround(0.8 * stream[2 * f + channel] * 32767.0)));
            }
        }
        // Messages of 192 frames, each arriving 3 ms after its last frame was due.
        for (size_t m = 0; m * 192 < recording.size() / 2; ++m) {
            arrivals.push_back({t0 + (m + 1) * 4ms + 3ms, 192});
        }
    }

    Clock::time_point t0{};
    PlayedClicks played;
    std::vector<int16_t> recording;
    std::vector<Arrival> arrivals;
};

TEST_F(RecordingCheckTest, FindsLatencyLevelAndTheLostFrames) {
    const RecordingCheck check = check_recording(played, recording, arrivals, 0.5f, 60.0);
    EXPECT_EQ(check.frames_recorded, 19900u);
    EXPECT_EQ(check.clicks_found, 5u);
    EXPECT_EQ(check.latency.matched, 5u);
    EXPECT_EQ(check.latency.spurious, 0u);
    // Click 0 sits in the message of frames 960..1151 (arrives at 27 ms, sounded at 20.83 ms);
    // click 2 in 8832..9023 (191 ms, 187.5 ms); click 1 in 4992..5183 (111 ms, 104.17 ms).
    EXPECT_NEAR(check.latency.min_ms, 3.5, 0.01);
    EXPECT_NEAR(check.latency.max_ms, 6.83, 0.01);
    EXPECT_NEAR(check.level_db, 20.0 * std::log10(0.8), 0.01);
    EXPECT_EQ(check.discontinuities, 1u);
    EXPECT_EQ(check.frames_missing, 100);
}

TEST_F(RecordingCheckTest, AClickTheRecordingLacksIsMissedNotMispaired) {
    for (size_t f = 9000; f < 9008; ++f) {
        recording[2 * f] = 0;
    }
    const RecordingCheck check = check_recording(played, recording, arrivals, 0.5f, 60.0);
    EXPECT_EQ(check.clicks_found, 4u);
    EXPECT_EQ(check.latency.matched, 4u);
    EXPECT_EQ(check.latency.played, 5u);
    // The lost frames now lie between clicks 1 and 3, still found once.
    EXPECT_EQ(check.discontinuities, 1u);
    EXPECT_EQ(check.frames_missing, 100);
    EXPECT_NEAR(check.level_db, 20.0 * std::log10(0.8), 0.1);
}

}  // namespace
}  // namespace kova::bench
