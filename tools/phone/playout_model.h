#pragma once

#include <chrono>
#include <cstdint>

namespace kova::phone {

/// A phone's jitter buffer: received frames wait in it until playout, which starts once
/// `prefill` frames are buffered and then drains 48000 frames per second of the emulator's own
/// steady clock. Running dry is an underrun; playout then waits for the prefill again.
class PlayoutModel {
  public:
    using Clock = std::chrono::steady_clock;

    /// A model that starts playing once `prefill_frames` are buffered.
    PlayoutModel(uint64_t prefill_frames, Clock::time_point now);
    /// Adds `frames` that arrived at `now`.
    void push(uint64_t frames, Clock::time_point now);
    /// Plays what is due at `now`.
    void advance(Clock::time_point now);
    /// Lets the buffer drain to its end without counting that as an underrun.
    void finish(Clock::time_point now);
    /// Mean fill in frames since the previous call (or the start), then starts a new interval.
    double take_interval_mean(Clock::time_point now);

    /// Frames waiting to be played.
    uint64_t buffered() const { return buffered_; }
    /// Times the buffer ran dry while playing.
    uint64_t underruns() const { return underruns_; }
    /// Blocks that arrived after playout had already needed them.
    uint64_t late_blocks() const { return late_blocks_; }
    /// Mean fill in frames over the whole life of the model.
    double overall_mean() const;

  private:
    void accumulate(double frame_seconds);

    uint64_t prefill_;
    uint64_t buffered_ = 0;
    bool playing_ = false;
    bool starved_ = false;
    bool finishing_ = false;
    Clock::time_point origin_;    // when the current playout run started
    uint64_t played_in_run_ = 0;  // frames played since origin_
    Clock::time_point last_update_;
    Clock::time_point created_;
    Clock::time_point interval_start_;
    double interval_area_ = 0.0;  // frame-seconds since interval_start_
    double total_area_ = 0.0;     // frame-seconds since created_
    uint64_t underruns_ = 0;
    uint64_t late_blocks_ = 0;
};

}  // namespace kova::phone
