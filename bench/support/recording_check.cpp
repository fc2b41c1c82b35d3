#include "bench/support/recording_check.h"

#include <algorithm>
#include <cmath>

namespace kova::bench {
namespace {

constexpr double kWireRate = 48000.0;
// Resampling moves a click by a fraction of a frame; more than this is lost or added audio.
constexpr double kSpacingTolerance = 2.0;

template <typename Sample>
double left_energy(const Sample* interleaved, uint64_t first, uint64_t end, double full_scale) {
    double sum = 0.0;
    for (uint64_t i = first; i < end; ++i) {
        const double value = static_cast<double>(interleaved[2 * i]) / full_scale;
        sum += value * value;
    }
    return sum;
}

}  // namespace

void measure_gaps(PlayedClicks& played, const std::vector<float>& stream) {
    played.gap_energy.clear();
    const uint64_t frames = stream.size() / 2;
    for (size_t k = 1; k < played.positions.size(); ++k) {
        const uint64_t end = std::min(played.positions[k], frames);
        played.gap_energy.push_back(
            left_energy(stream.data(), std::min(played.positions[k - 1], end), end, 1.0));
    }
}

RecordingCheck check_recording(const PlayedClicks& played, const std::vector<int16_t>& recording,
                               const std::vector<Arrival>& arrivals, float threshold,
                               double window_ms) {
    RecordingCheck check;
    const size_t frames = recording.size() / 2;
    check.frames_recorded = frames;
    ImpulseDetector detector(static_cast<unsigned>(kWireRate), threshold, window_ms / 2.0);
    size_t fed = 0;
    for (const Arrival& arrival : arrivals) {
        const size_t n = std::min(arrival.frames, frames - fed);
        detector.feed(recording.data() + 2 * fed, n, arrival.at);
        fed += n;
    }
    check.clicks_found = detector.positions().size();
    const auto pairs = match_clicks(played.sounded, detector.arrivals(), window_ms);
    std::vector<double> latencies;
    using Ms = std::chrono::duration<double, std::milli>;
    for (const auto& [click, found] : pairs) {
        latencies.push_back(Ms(detector.arrivals()[found] - played.sounded[click]).count());
    }
    check.latency = summarize(latencies, played.sounded.size(), check.clicks_found - pairs.size());

    const double scale = kWireRate / played.rate;
    for (size_t k = 1; k < pairs.size(); ++k) {
        const auto [click_a, found_a] = pairs[k - 1];
        const auto [click_b, found_b] = pairs[k];
        const double expected =
            static_cast<double>(played.positions[click_b] - played.positions[click_a]) * scale;
        const double actual = static_cast<double>(detector.positions()[found_b]) -
                              static_cast<double>(detector.positions()[found_a]);
        if (std::fabs(actual - expected) > kSpacingTolerance) {
            ++check.discontinuities;
            check.frames_missing += std::llround(expected - actual);
        }
    }
    if (pairs.size() >= 2 && played.gap_energy.size() + 1 == played.positions.size()) {
        const auto [click_a, found_a] = pairs.front();
        const auto [click_b, found_b] = pairs.back();
        double played_energy = 0.0;
        for (size_t k = click_a; k < click_b; ++k) {
            played_energy += played.gap_energy[k];
        }
        const auto played_frames =
            static_cast<double>(played.positions[click_b] - played.positions[click_a]);
        const uint64_t first = detector.positions()[found_a];
        const uint64_t last = detector.positions()[found_b];
        const double recorded =
            left_energy(recording.data(), first, last, 32767.0) / static_cast<double>(last - first);
        check.level_db = 10.0 * std::log10(recorded / (played_energy / played_frames));
    }
    return check;
}

}  // namespace kova::bench
