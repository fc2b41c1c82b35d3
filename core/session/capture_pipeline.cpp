#include "core/session/capture_pipeline.h"

#include <algorithm>
#include <cmath>

#include "core/audio/device_capture.h"
#include "core/audio/pcm16.h"
#include "core/audio/signal_source.h"
#include "core/transport/error.h"

namespace kova {
namespace {

using namespace std::chrono_literals;

constexpr size_t kBlockSamples = kFramesPerBlock * 2;
constexpr double kWireRate = 48000.0;
// More than 25 ms waiting in the capture is cut back to the newest 20 ms.
constexpr double kTrimAboveFrames = 1200.0;
constexpr double kKeepFrames = 960.0;
// The first second fills buffers and is left out of the steady statistics.
constexpr auto kSettleTime = 999'999'999ns;

}  // namespace

CapturePipeline::CapturePipeline(const std::string& capture_uid)
    : CapturePipeline(std::make_unique<DeviceCapture>(capture_uid)) {}

CapturePipeline::CapturePipeline(std::unique_ptr<CaptureSource> source)
    : source_(std::move(source)) {
    pending_.reserve(kBlockSamples * 8);
}

void CapturePipeline::start() {
    source_->start();
}

void CapturePipeline::begin_streaming(nlohmann::json& report) {
    rebuild_converter(report);
}

// The count is taken before the rate so that a change racing with the rebuild is seen again.
void CapturePipeline::rebuild_converter(nlohmann::json& report) {
    converter_rate_changes_ = source_->rate_change_count();
    const double rate = source_->current_rate();
    resampler_.reset();
    resampler_ = std::make_unique<Resampler>(rate);
    report["captureSampleRate"] = resampler_->input_rate();
    report["srcActive"] = resampler_->converting();
}

void CapturePipeline::produce(Clock::time_point now, Clock::time_point stream_start,
                              nlohmann::json& report, const AudioSender& send_audio) {
    if (source_->lost()) {
        throw Error("kova_device_lost");
    }
    if (source_->rate_change_count() != converter_rate_changes_) {
        // Audio buffered at the old rate cannot go through the new converter.
        source_->discard(source_->available());
        pending_.clear();
        rebuild_converter(report);
        ++rate_changes_handled_;
    }
    const double ratio = resampler_->input_rate() / kWireRate;
    const size_t available = source_->available();
    const auto backlog = static_cast<uint64_t>(std::floor(static_cast<double>(available) / ratio)) +
                         pending_.size() / 2;
    record_backlog(backlog, now - stream_start > kSettleTime);
    bound_latency(available, ratio);
    convert();
    send_full_blocks(send_audio);
}

void CapturePipeline::record_backlog(uint64_t backlog, bool steady) {
    backlog_max_ = std::max(backlog_max_, backlog);
    if (steady) {
        backlog_steady_max_ = std::max(backlog_steady_max_, backlog);
        backlog_sum_ += backlog;
        ++backlog_samples_;
    }
}

// Old audio is thrown away rather than sent late.
void CapturePipeline::bound_latency(size_t available, double ratio) {
    if (static_cast<double>(available) <= ratio * kTrimAboveFrames) {
        return;
    }
    const auto keep = static_cast<size_t>(std::floor(ratio * kKeepFrames));
    const size_t excess = available - keep;
    source_->discard(excess);
    dropped_frames_ += static_cast<uint64_t>(std::floor(static_cast<double>(excess) / ratio));
}

void CapturePipeline::convert() {
    const Resampler::Pull pull = [this](float* out, size_t frames) {
        return source_->read(out, frames);
    };
    for (;;) {
        const size_t produced = resampler_->process(pull, converted_.data(), kFramesPerBlock);
        if (produced == 0) {
            return;
        }
        pending_.insert(pending_.end(), converted_.begin(),
                        converted_.begin() + static_cast<std::ptrdiff_t>(produced * 2));
    }
}

void CapturePipeline::send_full_blocks(const AudioSender& send_audio) {
    size_t consumed = 0;
    while (pending_.size() - consumed >= kBlockSamples) {
        send_audio(pcm16_bytes(pending_.data() + consumed, kBlockSamples));
        consumed += kBlockSamples;
    }
    pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(consumed));
}

void CapturePipeline::apply_status_peak(nlohmann::json& report) {
    const double peak = source_->take_peak();
    report["capturePeak"] = peak;
    report["capturePeakMax"] = std::max(peak, report.value("capturePeakMax", 0.0));
}

void CapturePipeline::finish(nlohmann::json& report) const {
    report["captureBacklogMaxFrames"] = backlog_max_;
    report["captureBacklogSteadyMaxFrames"] = backlog_steady_max_;
    report["captureQueueMeanFrames"] =
        backlog_samples_ == 0
            ? 0.0
            : static_cast<double>(backlog_sum_) / static_cast<double>(backlog_samples_);
    report["captureDroppedFrames"] = dropped_frames_;
    report["captureOverflowFrames"] = source_->overflow_count();
    report["captureRateChanges"] = rate_changes_handled_;
}

}  // namespace kova
