#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "core/session/session_options.h"
#include "tests/support/pulse_server.h"
#include "tests/support/session_runner.h"

namespace kova::test {
namespace {

std::vector<double> left_channel(const test::SessionOutcome& outcome) {
    std::vector<double> left;
    for (const auto& message : outcome.received_of(Type::Audio)) {
        for (size_t i = 0; i + 3 < message.payload.size(); i += 4) {
            const auto sample =
                static_cast<int16_t>(message.payload[i] | message.payload[i + 1] << 8);
            left.push_back(sample / 32767.0);
        }
    }
    return left;
}

// From the first sounding sample on: the RMS, and the frequency from the median period between
// rising zero crossings, so that a block the loaded audio server skipped cannot bend it.
struct Tone {
    double rms = 0.0;
    double hz = 0.0;
};

Tone tone_of(const std::vector<double>& samples) {
    size_t first = 0;
    while (first < samples.size() && samples[first] == 0.0) {
        ++first;
    }
    Tone tone;
    if (samples.size() - first < 4800) {
        return tone;
    }
    double sum = 0.0;
    std::vector<double> crossings;
    for (size_t i = first + 1; i < samples.size(); ++i) {
        sum += samples[i] * samples[i];
        if (samples[i - 1] < 0.0 && samples[i] >= 0.0) {
            const double fraction = -samples[i - 1] / (samples[i] - samples[i - 1]);
            crossings.push_back(static_cast<double>(i - 1) + fraction);
        }
    }
    tone.rms = std::sqrt(sum / static_cast<double>(samples.size() - first - 1));
    std::vector<double> periods;
    for (size_t i = 1; i < crossings.size(); ++i) {
        periods.push_back(crossings[i] - crossings[i - 1]);
    }
    if (!periods.empty()) {
        std::nth_element(periods.begin(), periods.begin() + periods.size() / 2, periods.end());
        tone.hz = 48000.0 / periods[periods.size() / 2];
    }
    return tone;
}

// A whole session from a real audio server's sink, at a rate that needs converting.
TEST(CaptureSessionTest, WhatIsPlayedIntoTheDeviceReachesThePhoneAt48000) {
    PulseServer server(44100);
    ASSERT_TRUE(server.ready()) << server.log();
    SinePlayer player(44100);

    test::SessionSetup setup = test::phone_setup();
    setup.options.capture_uid = kKovaDeviceUid;
    setup.options.seconds = 3;
    const auto outcome = test::run_against_peer(setup);

    ASSERT_EQ(outcome.code, 0) << outcome.error();
    const auto& report = outcome.report;
    EXPECT_EQ(report["source"], "kova_device");
    EXPECT_EQ(report["srcActive"], true);
    EXPECT_EQ(report["captureSampleRate"], 44100.0);
    EXPECT_EQ(report["audioProbePassed"], true);
    EXPECT_EQ(report["captureRateChanges"], 0u);
    // The server may take up to two seconds to hand a new monitor stream its first frames.
    const auto frames = report["framesSent"].get<uint64_t>();
    EXPECT_GT(frames, 48000u);
    EXPECT_LE(frames, 3u * 48000u + 4800u);
    EXPECT_GT(report["capturePeakMax"].get<double>(), 0.45);
    const Tone tone = tone_of(left_channel(outcome));
    EXPECT_NEAR(tone.hz, 1000.0, 5.0);
    EXPECT_NEAR(tone.rms, 0.5 / std::sqrt(2.0), 0.01);
    EXPECT_LT(report["captureBacklogSteadyMaxFrames"].get<uint64_t>(), 1200u);
}

}  // namespace
}  // namespace kova::test
