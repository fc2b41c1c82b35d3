#pragma once

#include <cstddef>
#include <functional>
#include <vector>

struct soxr;

namespace kova {

/// Converts interleaved stereo float audio from a device rate to 48000 Hz, pulling its input
/// on demand. At exactly 48000 Hz it passes the pull straight through.
class Resampler {
  public:
    /// Writes up to n interleaved stereo frames into the buffer, returns how many (0 = none now).
    using Pull = std::function<size_t(float*, size_t)>;

    /// Throws "src_unsupported_rate" outside 8000..384000 Hz and "src_create_failed".
    explicit Resampler(double input_rate);
    /// Releases the converter, if any.
    ~Resampler();
    Resampler(const Resampler&) = delete;
    Resampler& operator=(const Resampler&) = delete;

    /// Produces up to `frames` frames at 48000 Hz into `out`; throws "src_failed".
    size_t process(const Pull& pull, float* out, size_t frames);
    /// The source rate this converter was built for, in Hz.
    double input_rate() const { return input_rate_; }
    /// Whether a conversion happens (false in pass-through at 48000 Hz).
    bool converting() const { return converter_ != nullptr; }

    /// Pulls up to `requested` input frames into the resampler's scratch; returns how many.
    static size_t supply(Resampler& self, size_t requested);

  private:
    double input_rate_;
    soxr* converter_ = nullptr;
    const Pull* pull_ = nullptr;
    std::vector<float> scratch_;
    size_t scratch_offset_ = 0;  // first unconsumed frame in scratch_
    size_t scratch_frames_ = 0;  // pulled frames the converter has not taken yet
};

}  // namespace kova
