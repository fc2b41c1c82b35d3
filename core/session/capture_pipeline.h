#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "core/audio/capture_source.h"
#include "core/audio/resampler.h"

namespace kova {

/// Sends one 768-byte audio payload as the next audio message.
using AudioSender = std::function<void(const std::vector<uint8_t>& payload)>;

/// Live capture of an output device, converted to 48 kHz and cut into audio messages, with
/// the backlog statistics that end up in the report.
class CapturePipeline {
  public:
    using Clock = std::chrono::steady_clock;

    /// Captures the device with `capture_uid`; throws kova::Error when it cannot be captured.
    explicit CapturePipeline(const std::string& capture_uid);
    /// Captures from `source`.
    explicit CapturePipeline(std::unique_ptr<CaptureSource> source);
    /// Starts capturing; called once the phone has accepted the configuration.
    void start();
    /// Builds the converter for the device's current rate when streaming begins.
    void begin_streaming(nlohmann::json& report);
    /// One pass of the streaming loop: converts what was captured and sends every full block.
    /// Throws "kova_device_lost" once the device has gone.
    void produce(Clock::time_point now, Clock::time_point stream_start, nlohmann::json& report,
                 const AudioSender& send_audio);
    /// Writes "capturePeak" and "capturePeakMax" after a phone status.
    void apply_status_peak(nlohmann::json& report);
    /// Writes the end-of-session capture statistics.
    void finish(nlohmann::json& report) const;

  private:
    void rebuild_converter(nlohmann::json& report);
    void record_backlog(uint64_t backlog, bool steady);
    void bound_latency(size_t available, double ratio);
    void convert();
    void send_full_blocks(const AudioSender& send_audio);

    std::unique_ptr<CaptureSource> source_;
    std::unique_ptr<Resampler> resampler_;
    uint64_t converter_rate_changes_ = 0;  ///< the source's rate-change count it was built for
    std::vector<float> pending_;           ///< converted 48 kHz stereo samples not yet sent
    std::array<float, 384> converted_{};
    uint64_t backlog_max_ = 0;
    uint64_t backlog_steady_max_ = 0;
    uint64_t backlog_sum_ = 0;
    uint64_t backlog_samples_ = 0;
    uint64_t dropped_frames_ = 0;
    uint64_t rate_changes_handled_ = 0;
};

}  // namespace kova
