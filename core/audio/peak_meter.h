#pragma once

#include <atomic>
#include <cstddef>

namespace kova {

/// The loudest absolute sample value since the last look, shared between the audio
/// thread (which raises it) and the reader (which takes and resets it) without locks.
class PeakMeter {
  public:
    /// Raises the peak to the largest absolute value among `count` samples.
    void raise(const float* samples, size_t count);
    /// Raises the peak to `value` if larger; a concurrent reset is respected.
    void raise_to(float value);
    /// Returns the peak and resets it to 0.
    float take();

  private:
    std::atomic<float> peak_{0.0f};
};

}  // namespace kova
