#pragma once

#include <cstddef>
#include <cstdint>

namespace kova {

/// Live stereo float audio at a device rate that may change, buffered until the session worker
/// takes it. The session's view of a capture, so the pipeline can be driven without a server.
class CaptureSource {
  public:
    virtual ~CaptureSource() = default;

    /// Starts delivering audio; throws kova::Error when the device cannot start.
    virtual void start() = 0;
    /// Frames buffered now, at the source's rate.
    virtual size_t available() const = 0;
    /// Copies up to `max_frames` interleaved stereo frames into `out`; returns how many.
    virtual size_t read(float* out, size_t max_frames) = 0;
    /// Drops up to `frames` of the oldest buffered frames.
    virtual void discard(size_t frames) = 0;
    /// The largest absolute sample since the previous call; resets it.
    virtual float take_peak() = 0;
    /// How many times the device's rate has changed.
    virtual uint64_t rate_change_count() const = 0;
    /// The device's current rate in Hz, the rate of frames buffered from now on.
    virtual double current_rate() const = 0;
    /// Frames dropped because the buffer was full.
    virtual uint64_t overflow_count() const = 0;
    /// True once the device or its server went away: no more audio will come.
    virtual bool lost() const = 0;
};

}  // namespace kova
