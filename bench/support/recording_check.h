#pragma once

#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

#include "bench/support/impulse.h"

namespace kova::bench {

/// What was played: the clicks of a schedule, when each sounded, and the energy of the
/// stream between them.
struct PlayedClicks {
    unsigned rate = 48000;                   ///< frames per second of the played stream
    std::vector<uint64_t> positions;         ///< click frames in the played stream
    std::vector<Clock::time_point> sounded;  ///< when each click sounded
    /// Sum of squares of the left channel from each click up to the next (one fewer than
    /// the clicks).
    std::vector<double> gap_energy;
};

/// Fills `played.gap_energy` from the played stream (interleaved stereo, from frame 0).
void measure_gaps(PlayedClicks& played, const std::vector<float>& stream);

/// One received audio message: when it arrived and how many frames it held.
struct Arrival {
    Clock::time_point at;
    size_t frames = 0;
};

/// How well a 48 kHz recording matches what was played.
struct RecordingCheck {
    uint64_t frames_recorded = 0;
    size_t clicks_found = 0;       ///< clicks found in the recording (paired or not)
    LatencyStats latency;          ///< sounded to arrival of the message holding the click
    double level_db = 0.0;         ///< recorded minus played level over the same span
    uint64_t discontinuities = 0;  ///< click spacings that differ from the played ones
    int64_t frames_missing = 0;    ///< frames lost (negative: frames added) at those spots
};

/// Compares `recording` (interleaved stereo 16-bit at 48 kHz, the messages of `arrivals`
/// one after the other) with what was played. `window_ms` must stay below the shortest gap
/// between clicks.
RecordingCheck check_recording(const PlayedClicks& played, const std::vector<int16_t>& recording,
                               const std::vector<Arrival>& arrivals, float threshold,
                               double window_ms);

}  // namespace kova::bench
