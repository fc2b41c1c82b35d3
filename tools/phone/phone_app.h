#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

namespace kova::phone {

/// How the emulated phone app behaves. `misbehaviour` is empty for a well-behaved phone,
/// otherwise one of the names listed by `misbehaviours()`.
struct PhoneOptions {
    std::string role = "ios";                ///< "ios" or "android", sent in the hello
    std::string misbehaviour;                ///< "" or a misbehaviour name
    std::string record_path;                 ///< WAV file of what would be played; empty: none
    unsigned status_interval_ms = 500;       ///< period of status messages
    unsigned playout_prefill_frames = 1920;  ///< jitter-buffer fill before playout starts
    size_t stale_bytes = 100;                ///< bytes sent before the session by "stale_bytes"
    bool keep_samples = true;                ///< keep every received sample in the summary
    unsigned ping_interval_ms = 0;           ///< period of the phone's own pings; 0: none
    /// Sees every audio message on arrival: when it was read off the link, its interleaved
    /// stereo samples and their count. Runs on the serving thread; empty: none.
    std::function<void(std::chrono::steady_clock::time_point, const int16_t*, size_t)> on_audio;
};

/// What the emulator measured over one session.
struct PhoneSummary {
    uint64_t frames_received = 0;       ///< audio frames received
    uint64_t gaps = 0;                  ///< discontinuities of frame indexes
    uint64_t late_blocks = 0;           ///< blocks that arrived after the playout needed them
    uint64_t underruns = 0;             ///< playout buffer underruns
    uint64_t pings_answered = 0;        ///< pongs sent
    uint64_t pongs_received = 0;        ///< correct answers to the phone's own pings
    std::string first_violation;        ///< first protocol violation seen, empty when none
    bool stopped = false;               ///< a Stop message was received
    std::vector<int16_t> samples;       ///< every received sample, interleaved stereo
    uint64_t audio_messages = 0;        ///< audio messages received
    double occupancy_mean = 0.0;        ///< mean playout-buffer fill over the session, frames
    double inter_arrival_p50_ms = 0.0;  ///< median time between audio messages
    double inter_arrival_p99_ms = 0.0;  ///< 99th percentile of the time between audio messages
    double inter_arrival_max_ms = 0.0;  ///< longest time between audio messages
    /// The summary as a JSON document (without the samples).
    nlohmann::json to_json() const;
};

/// The phone app's side of one session, over any connected byte stream.
class PhoneApp {
  public:
    /// Creates an emulator that behaves as `options` say.
    explicit PhoneApp(PhoneOptions options);
    /// Serves one session on the connected socket `fd` (owned from now on) until the desktop
    /// closes it, the session ends or stop() is called; returns what was measured.
    PhoneSummary serve(int fd);
    /// Makes a running serve() return soon, and any later one at once; callable from any
    /// thread (and from a signal handler: it only stores an atomic flag).
    void stop();
    /// The names accepted as PhoneOptions::misbehaviour.
    static const std::vector<std::string>& misbehaviours();

  private:
    PhoneOptions options_;
    std::atomic<bool> stop_{false};
};

}  // namespace kova::phone
