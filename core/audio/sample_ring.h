#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace kova {

/// Lock-free single-producer single-consumer ring of interleaved stereo float frames.
/// A full ring drops the newest frames offered; buffered frames are never overwritten.
class SampleRing {
  public:
    /// Capacity in stereo frames; a power of two so positions wrap with a mask.
    static constexpr size_t kFrames = 32768;
    /// Capacity in floats (two per frame).
    static constexpr size_t kSamples = 2 * kFrames;

    /// Allocates the zero-filled ring; nothing is allocated afterwards.
    SampleRing();
    SampleRing(const SampleRing&) = delete;
    SampleRing& operator=(const SampleRing&) = delete;

    /// Producer: copies up to `frames` frames in, returns how many fit (the rest is dropped).
    size_t write(const float* samples, size_t frames);
    /// Consumer: copies up to `max_frames` of the oldest frames out, returns how many.
    size_t read(float* out, size_t max_frames);
    /// Consumer: drops up to `frames` of the oldest frames, never more than are buffered.
    void discard(size_t frames);
    /// Frames buffered now, as seen by the consumer.
    size_t available() const;
    /// Frames ever written.
    uint64_t write_count() const { return write_count_.load(std::memory_order_acquire); }
    /// Frames ever taken out (read or discarded).
    uint64_t read_count() const { return read_count_.load(std::memory_order_acquire); }
    /// The raw storage, for inspecting where a frame landed.
    const std::vector<float>& storage() const { return samples_; }

  private:
    std::vector<float> samples_;
    alignas(64) std::atomic<uint64_t> write_count_{0};
    alignas(64) std::atomic<uint64_t> read_count_{0};
};

}  // namespace kova
