#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <random>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace kova::bench {

using Clock = std::chrono::steady_clock;

/// Where the clicks of a played stream go: irregular gaps, so that clicks never lock onto the
/// block boundaries of any stage they pass through.
struct ImpulseSchedule {
    unsigned rate = 48000;      ///< frames per second of the played stream
    double lead_in_s = 3.0;     ///< silence before the first click (the sink's warm-up)
    unsigned count = 200;       ///< clicks
    double min_gap_ms = 80.0;   ///< shortest time between two clicks
    double max_gap_ms = 120.0;  ///< longest time between two clicks
    double tail_s = 0.3;        ///< silence after the last click
    uint32_t seed = 1;          ///< makes the gaps reproducible
    float level = 0.8f;         ///< click amplitude
    unsigned click_frames = 8;  ///< click length; a few frames survive any resampling

    /// Frame positions of the clicks in the played stream, ascending.
    std::vector<uint64_t> positions() const;
    /// Frames the whole stream lasts.
    uint64_t total_frames() const;
};

/// Writes the clicks of `schedule` whose frames fall in [first, first + frames) into the
/// interleaved stereo `block` (both channels), which the caller has filled already.
void add_clicks(const ImpulseSchedule& schedule, const std::vector<uint64_t>& positions,
                uint64_t first, float* block, size_t frames);

/// Plays a schedule's clicks into the KOVA sink of the current sound server on a thread of its
/// own, and notes when each click sounds.
///
/// Time base: a click sounds when the sink plays it on its own clock. That moment is the time
/// the block holding it was written plus the latency the server reports for the stream right
/// after the write (what is queued for the stream plus what the sink has rendered ahead), less
/// the frames that follow the click in that block. The sink's clock is the monotonic clock,
/// so this needs no reader at all and is the same base for every capture path measured.
/// A null sink renders a few milliseconds ahead of its clock, so a fast reader can see a
/// click slightly before it "sounds"; small negative latencies are real, not errors.
class ImpulsePlayer {
  public:
    /// Fills `frames` interleaved stereo frames of what plays under the clicks, from frame
    /// `first` of the stream on.
    using Bed = std::function<void(uint64_t first, float* block, size_t frames)>;

    /// `buffer_ms` is the stream's target buffer: small keeps the latency estimate tight.
    /// Without a bed the clicks play over silence.
    explicit ImpulsePlayer(ImpulseSchedule schedule, double buffer_ms = 20.0, Bed bed = {});
    /// Stops playing and waits for the thread.
    ~ImpulsePlayer();
    ImpulsePlayer(const ImpulsePlayer&) = delete;
    ImpulsePlayer& operator=(const ImpulsePlayer&) = delete;

    /// Starts the playing thread.
    void start();
    /// True once the whole schedule was written (or playing failed).
    bool finished() const { return finished_.load(std::memory_order_acquire); }
    /// Waits until finished.
    void wait();
    /// Stops playing early and waits for the thread; sounded() is valid afterwards.
    void stop();
    /// When each click sounds; valid once finished.
    const std::vector<Clock::time_point>& sounded() const { return sounded_; }
    /// Why playing failed; empty when it did not.
    const std::string& error() const { return error_; }

  private:
    void run();

    ImpulseSchedule schedule_;
    double buffer_ms_;
    Bed bed_;
    std::vector<Clock::time_point> sounded_;
    std::string error_;
    std::atomic<bool> stop_{false};
    std::atomic<bool> finished_{false};
    std::thread thread_;
};

/// Finds clicks in a received stream (left channel) and notes when the piece of the stream
/// holding each one arrived.
class ImpulseDetector {
  public:
    /// A click is a sample whose magnitude reaches `threshold`; after one, `hold_off_ms` of the
    /// stream is skipped so that a click's ringing is not found again.
    explicit ImpulseDetector(unsigned rate, float threshold = 0.4f, double hold_off_ms = 30.0);

    /// Interleaved stereo float frames that arrived at `arrival`.
    void feed(const float* interleaved, size_t frames, Clock::time_point arrival);
    /// Interleaved stereo 16-bit frames that arrived at `arrival`.
    void feed(const int16_t* interleaved, size_t frames, Clock::time_point arrival);

    /// Arrival times of the clicks found, in order.
    const std::vector<Clock::time_point>& arrivals() const { return arrivals_; }
    /// Frame positions of the clicks found in the received stream.
    const std::vector<uint64_t>& positions() const { return positions_; }
    /// Frames fed so far.
    uint64_t frames() const { return position_; }

  private:
    void sample(float left, Clock::time_point arrival);

    float threshold_;
    uint64_t hold_off_frames_;
    uint64_t position_ = 0;
    uint64_t quiet_until_ = 0;
    std::vector<Clock::time_point> arrivals_;
    std::vector<uint64_t> positions_;
};

/// Latency figures in milliseconds.
struct LatencyStats {
    size_t played = 0;    ///< clicks that sounded
    size_t matched = 0;   ///< clicks paired with an arrival
    size_t spurious = 0;  ///< arrivals paired with no click
    double min_ms = 0.0;
    double p50_ms = 0.0;
    double p99_ms = 0.0;
    double max_ms = 0.0;
    double mean_ms = 0.0;
};

/// Pairs every sounded click with the first unpaired arrival from `early_ms` before it to
/// `window_ms` after it (keep the window below the shortest gap between clicks); returns the
/// pairs as (click index, arrival index), in click order.
std::vector<std::pair<size_t, size_t>> match_clicks(const std::vector<Clock::time_point>& sounded,
                                                    const std::vector<Clock::time_point>& arrivals,
                                                    double window_ms, double early_ms = 10.0);

/// The latencies of match_clicks()'s pairs in ms; `spurious` gets the unpaired arrivals.
std::vector<double> match_latencies(const std::vector<Clock::time_point>& sounded,
                                    const std::vector<Clock::time_point>& arrivals,
                                    double window_ms, double early_ms = 10.0,
                                    size_t* spurious = nullptr);

/// Percentiles (nearest rank) and extremes of `latencies_ms`.
LatencyStats summarize(std::vector<double> latencies_ms, size_t played, size_t spurious);

/// One line: "p50 … p99 … max … ms (n of m, k spurious)".
std::string describe(const LatencyStats& stats);

/// Impulses in an arrivals log of kova-phone ("ns frames peak" per message): the messages
/// whose peak reaches `threshold` (16-bit), each at least `hold_off_ms` after the one before.
std::vector<Clock::time_point> clicks_in_arrivals(const std::string& path, int threshold,
                                                  double hold_off_ms);

}  // namespace kova::bench
