#include "core/session/capture_pipeline.h"

#include <algorithm>

#include "core/audio/pcm16.h"
#include "core/audio/signal_source.h"
#include "core/transport/error.h"

namespace kova {
namespace {

constexpr size_t kBlockSamples = kFramesPerBlock * 2;

}  // namespace

// Device capture is not part of this build yet: a session asking for it fails cleanly.
CapturePipeline::CapturePipeline(const std::string& capture_uid) {
    (void)capture_uid;
    throw Error("kova_device_not_found");
}

void CapturePipeline::start() {}

void CapturePipeline::begin_streaming(nlohmann::json& report) {
    (void)report;
}

void CapturePipeline::produce(Clock::time_point now, Clock::time_point stream_start,
                              nlohmann::json& report, const AudioSender& send_audio) {
    (void)now;
    (void)stream_start;
    (void)report;
    send_full_blocks(send_audio);
}

void CapturePipeline::apply_status_peak(nlohmann::json& report) {
    const double peak = 0.0;
    report["capturePeak"] = peak;
    report["capturePeakMax"] = std::max(peak, report.value("capturePeakMax", 0.0));
}

void CapturePipeline::send_full_blocks(const AudioSender& send_audio) {
    size_t consumed = 0;
    while (pending_.size() - consumed >= kBlockSamples) {
        send_audio(pcm16_bytes(pending_.data() + consumed, kBlockSamples));
        consumed += kBlockSamples;
    }
    pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(consumed));
}

void CapturePipeline::finish(nlohmann::json& report) const {
    report["captureBacklogMaxFrames"] = backlog_max_;
    report["captureBacklogSteadyMaxFrames"] = backlog_steady_max_;
    report["captureQueueMeanFrames"] =
        backlog_samples_ == 0
            ? 0.0
            : static_cast<double>(backlog_sum_) / static_cast<double>(backlog_samples_);
    report["captureDroppedFrames"] = dropped_frames_;
    report["captureOverflowFrames"] = overflow_frames_;
    report["captureRateChanges"] = rate_changes_handled_;
}

}  // namespace kova
