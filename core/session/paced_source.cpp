#include "core/session/paced_source.h"

#include <thread>

#include "core/audio/signal_source.h"
#include "core/session/report_values.h"
#include "core/transport/error.h"

namespace kova {
namespace {

constexpr double kStallMs = 100.0;
constexpr uint64_t kRate = 48000;
constexpr uint64_t kNanosPerSecond = 1'000'000'000;

// floor(frames * 1e9 / 48000) without overflowing on sessions that run for days.
std::chrono::nanoseconds due_offset(uint64_t frames) {
    const uint64_t whole = frames / kRate * kNanosPerSecond;
    const uint64_t part = frames % kRate * kNanosPerSecond / kRate;
    return std::chrono::nanoseconds(static_cast<int64_t>(whole + part));
}

}  // namespace

PacedSource PacedSource::wav(const std::string& path, bool loop, nlohmann::json& report) {
    PacedSource source;
    source.wav_ = std::make_unique<WavSource>(path);
    source.loop_ = loop;
    report["wavFrames"] = source.wav_->data_size() / 4;
    return source;
}

PacedSource PacedSource::signal(const std::string& name) {
    (void)signal_block(name, 0);
    PacedSource source;
    source.signal_ = name;
    return source;
}

std::vector<uint8_t> PacedSource::next_block(Clock::time_point stream_start, uint64_t frames_sent,
                                             Clock::time_point pass_start, nlohmann::json& report) {
    // Due times come from the schedule, not from the previous send, so errors never add up.
    const auto due = stream_start + due_offset(frames_sent);
    wait_until_due(due, pass_start, report);
    if (wav_) {
        return wav_->next(loop_);
    }
    return signal_block(signal_, frames_sent);
}

void PacedSource::wait_until_due(Clock::time_point due, Clock::time_point pass_start,
                                 nlohmann::json& report) const {
    if (pass_start < due) {
        std::this_thread::sleep_for(due - Clock::now());
    }
    const double late_ms = milliseconds(Clock::now() - due);
    raise_float(report, "pacingMaxLateMs", late_ms);
    // Catching up with a burst would overflow the phone's buffer: a long stall ends the session.
    if (late_ms >= kStallMs) {
        throw Error("pacing_stalled_no_audio_burst_replay");
    }
}

}  // namespace kova
