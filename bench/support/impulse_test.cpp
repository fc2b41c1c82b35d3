#include <gtest/gtest.h>
#include <pulse/simple.h>

#include <thread>

#include "bench/support/impulse.h"
#include "tests/support/pulse_server.h"
#include "tests/support/temp_dir.h"

namespace kova::bench {
namespace {

using namespace std::chrono_literals;

TEST(ImpulseScheduleTest, ClicksAreIrregularWithinTheirGapsAndLandAcrossBlocks) {
    ImpulseSchedule schedule;
    schedule.rate = 48000;
    schedule.count = 50;
    schedule.lead_in_s = 0.5;
    const auto positions = schedule.positions();
    ASSERT_EQ(positions.size(), 50u);
    EXPECT_EQ(positions.front(), 24000u);
    bool irregular = false;
    for (size_t i = 1; i < positions.size(); ++i) {
        const uint64_t gap = positions[i] - positions[i - 1];
        EXPECT_GE(gap, 80u * 48u - 1u);
        EXPECT_LE(gap, 120u * 48u + 1u);
        irregular = irregular || gap != positions[1] - positions[0];
    }
    EXPECT_TRUE(irregular);
    EXPECT_EQ(schedule.total_frames(), positions.back() + schedule.click_frames + 14400u);

    // A click straddling two blocks is written half into each, on both channels.
    const std::vector<uint64_t> one = {100};
    std::vector<float> first(2 * 104, 0.0f);
    std::vector<float> second(2 * 104, 0.0f);
    add_clicks(schedule, one, 0, first.data(), 104);
    add_clicks(schedule, one, 104, second.data(), 104);
    for (size_t f = 0; f < 104; ++f) {
        EXPECT_EQ(first[2 * f], f >= 100 ? schedule.level : 0.0f) << f;
        EXPECT_EQ(first[2 * f + 1], first[2 * f]);
        EXPECT_EQ(second[2 * f], f < 4 ? schedule.level : 0.0f) << f;
    }
}

TEST(ImpulseDetectorTest, FindsEachClickOnceWithTheArrivalOfItsPiece) {
    ImpulseDetector detector(1000, 0.4f, 20.0);  // hold-off: 20 frames
    const Clock::time_point t0{};
    std::vector<int16_t> piece(2 * 50, 0);
    piece[2 * 10] = 20000;  // a click with ringing above the threshold right after it
    piece[2 * 12] = -20000;
    piece[2 * 45] = -16000;
    piece[2 * 46 + 1] = 30000;  // the right channel is not looked at
    detector.feed(piece.data(), 50, t0);
    std::vector<float> later(2 * 40, 0.0f);
    later[2 * 10] = 0.5f;  // still within the hold-off of the click at 45
    later[2 * 19] = 0.39f;
    later[2 * 20] = 0.5f;
    detector.feed(later.data(), 40, t0 + 7ms);
    ASSERT_EQ(detector.positions(), (std::vector<uint64_t>{10, 45, 70}));
    EXPECT_EQ(detector.arrivals(), (std::vector<Clock::time_point>{t0, t0, t0 + 7ms}));
    EXPECT_EQ(detector.frames(), 90u);
}

TEST(ImpulseDetectorTest, ArrivalsLogGivesTheMessagesHoldingClicks) {
    test::TempDir directory;
    const std::string log =
        "1000000 192 20000\n"  // a click
        "5000000 192 30000\n"  // its ringing, within the hold-off
        "50000000 192 16383\n"
        "not a line\n"
        "60000000 192\n"  // a log without peaks has no clicks
        "90000000 192 -1\n"
        "120000000 192 16384\n";
    const std::string path = directory.write("arrivals.txt", {log.begin(), log.end()});
    const Clock::time_point t0{};
    EXPECT_EQ(clicks_in_arrivals(path, 16384, 30.0),
              (std::vector<Clock::time_point>{t0 + 1ms, t0 + 120ms}));
    EXPECT_TRUE(clicks_in_arrivals(directory.path() + "/missing", 1, 30.0).empty());
}

TEST(LatencyMatchTest, PairsInOrderAndCountsMissedAndSpuriousArrivals) {
    const Clock::time_point t0{};
    const std::vector<Clock::time_point> sounded = {t0, t0 + 100ms, t0 + 200ms, t0 + 300ms};
    // Click 2 is never seen; one arrival comes long before any click, one long after.
    const std::vector<Clock::time_point> arrivals = {t0 - 50ms, t0 + 5ms, t0 + 98ms, t0 + 312ms,
                                                     t0 + 900ms};
    size_t spurious = 0;
    const auto latencies = match_latencies(sounded, arrivals, 70.0, 10.0, &spurious);
    ASSERT_EQ(latencies.size(), 3u);
    EXPECT_NEAR(latencies[0], 5.0, 1e-9);
    EXPECT_NEAR(latencies[1], -2.0, 1e-9);
    EXPECT_NEAR(latencies[2], 12.0, 1e-9);
    EXPECT_EQ(spurious, 2u);

    std::vector<double> many;
    for (int i = 100; i >= 1; --i) {
        many.push_back(i);
    }
    const LatencyStats stats = summarize(many, 120, 3);
    EXPECT_EQ(stats.matched, 100u);
    EXPECT_EQ(stats.played, 120u);
    EXPECT_EQ(stats.p50_ms, 50.0);
    EXPECT_EQ(stats.p99_ms, 99.0);
    EXPECT_EQ(stats.max_ms, 100.0);
    EXPECT_EQ(stats.min_ms, 1.0);
    EXPECT_DOUBLE_EQ(stats.mean_ms, 50.5);
    EXPECT_EQ(summarize({}, 5, 0).matched, 0u);
}

// The clicks really reach the sink, and the times noted for them are those a monitor reader
// sees them at, give or take its own buffering.
TEST(ImpulsePlayerTest, ClicksSoundWhenTheSinkMonitorSeesThem) {
    test::PulseServer server(48000);
    ASSERT_TRUE(server.ready()) << server.log();
    const pa_sample_spec spec{PA_SAMPLE_FLOAT32LE, 48000, 2};
    pa_buffer_attr attributes{static_cast<uint32_t>(-1), static_cast<uint32_t>(-1),
                              static_cast<uint32_t>(-1), static_cast<uint32_t>(-1), 96 * 8};
    int status = 0;
    pa_simple* monitor =
        pa_simple_new(nullptr, "test", PA_STREAM_RECORD, "com.brenvale.kova.device.monitor",
                      "monitor", &spec, nullptr, &attributes, &status);
    ASSERT_NE(monitor, nullptr);
    ImpulseSchedule schedule;
    schedule.count = 10;
    schedule.lead_in_s = 2.5;  // the monitor of an idle sink may start up to 2 s late
    ImpulsePlayer player(schedule);
    ImpulseDetector detector(48000);
    player.start();
    std::vector<float> block(2 * 96);
    while (!player.finished()) {
        ASSERT_EQ(pa_simple_read(monitor, block.data(), block.size() * sizeof(float), &status), 0);
        detector.feed(block.data(), 96, Clock::now());
    }
    player.wait();
    pa_simple_free(monitor);
    ASSERT_EQ(player.error(), "");
    ASSERT_EQ(player.sounded().size(), 10u);
    size_t spurious = 0;
    const auto latencies =
        match_latencies(player.sounded(), detector.arrivals(), 70.0, 10.0, &spurious);
    EXPECT_EQ(latencies.size(), 10u);
    EXPECT_EQ(spurious, 0u);
    for (const double latency : latencies) {
        EXPECT_GT(latency, -10.0);
        EXPECT_LT(latency, 50.0);
    }
}

}  // namespace
}  // namespace kova::bench
