#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "core/audio/capture_source.h"
#include "core/audio/peak_meter.h"
#include "core/audio/pulse_connection.h"
#include "core/audio/pulse_record_stream.h"
#include "core/audio/sample_ring.h"

namespace kova {

/// Records the monitor of the KOVA sink at the sink's own rate into a lock-free ring that the
/// session worker drains. Frames arrive on the audio client library's thread.
class DeviceCapture : public CaptureSource, private SinkWatcher, private FrameConsumer {
  public:
    /// Frames per fragment asked of the server (one audio message).
    static constexpr size_t kFragmentFrames = 192;

    /// The device id of the sink named `uid` (its index + 1), 0 when absent or unreachable.
    static uint32_t find(const std::string& uid);
    /// The sample rate of device `device` in Hz; 0.0 for device 0 or when unreadable.
    static double nominal_rate(uint32_t device);

    /// Finds the device and prepares the stream without starting it. Throws
    /// "kova_device_not_found", "kova_device_rate_unknown", "kova_device_ioproc_failed".
    explicit DeviceCapture(const std::string& uid);
    /// Stops recording and disconnects; never throws.
    ~DeviceCapture() override;
    DeviceCapture(const DeviceCapture&) = delete;
    DeviceCapture& operator=(const DeviceCapture&) = delete;

    /// Starts recording; throws "kova_device_start_failed".
    void start() override;
    /// Frames buffered now, at the capture's rate.
    size_t available() const override { return ring_.available(); }
    /// Copies up to `max_frames` interleaved stereo frames into `out`; returns how many.
    size_t read(float* out, size_t max_frames) override { return ring_.read(out, max_frames); }
    /// Drops up to `frames` of the oldest buffered frames.
    void discard(size_t frames) override { ring_.discard(frames); }
    /// The largest absolute sample since the previous call; resets it.
    float take_peak() override { return peak_.take(); }
    /// True once the sink or the server went away: no more audio will come.
    bool lost() const override { return lost_.load(std::memory_order_acquire); }
    /// `rate_changes`, read with acquire.
    uint64_t rate_change_count() const override {
        return rate_changes.load(std::memory_order_acquire);
    }
    /// `rate`, read with acquire.
    double current_rate() const override { return rate.load(std::memory_order_acquire); }
    /// `overflow_frames`, read with acquire.
    uint64_t overflow_count() const override {
        return overflow_frames.load(std::memory_order_acquire);
    }
    /// The ring, for inspecting positions.
    const SampleRing& ring() const { return ring_; }
    /// The device id found at construction (never 0).
    uint32_t device() const { return device_; }

    /// Frames dropped because the ring was full.
    std::atomic<uint64_t> overflow_frames{0};
    /// Sample-rate changes of the sink seen since construction.
    std::atomic<uint64_t> rate_changes{0};
    /// The sink's current sample rate in Hz; the recorded frames have this rate.
    std::atomic<double> rate{0.0};

  private:
    void frames(const float* samples, size_t frames) override;
    void stream_ended() override;
    void sink_rate(uint32_t new_rate) override;
    void sink_gone() override;
    std::unique_ptr<PulseRecordStream> new_stream(uint32_t stream_rate);

    SampleRing ring_;
    PeakMeter peak_;
    std::atomic<bool> lost_{false};
    uint32_t device_ = 0;
    bool started_ = false;
    std::string monitor_;
    std::unique_ptr<PulseConnection> connection_;
    std::unique_ptr<PulseRecordStream> stream_;  // guarded by the connection's loop lock
};

}  // namespace kova
