#include "tools/phone/playout_model.h"

#include <algorithm>

namespace kova::phone {
namespace {

constexpr int64_t kRate = 48000;

double seconds_between(PlayoutModel::Clock::time_point from, PlayoutModel::Clock::time_point to) {
    return std::chrono::duration<double>(to - from).count();
}

}  // namespace

PlayoutModel::PlayoutModel(uint64_t prefill_frames, Clock::time_point now)
    : prefill_(std::max<uint64_t>(prefill_frames, 1)),
      last_update_(now),
      created_(now),
      interval_start_(now) {}

void PlayoutModel::push(uint64_t frames, Clock::time_point now) {
    advance(now);
    if (starved_) {
        ++late_blocks_;
        starved_ = false;
    }
    buffered_ += frames;
    if (!playing_ && buffered_ >= prefill_) {
        playing_ = true;
        origin_ = now;
        played_in_run_ = 0;
    }
}

void PlayoutModel::advance(Clock::time_point now) {
    if (now <= last_update_) {
        return;
    }
    const double elapsed = seconds_between(last_update_, now);
    last_update_ = now;
    if (!playing_) {
        accumulate(static_cast<double>(buffered_) * elapsed);
        return;
    }
    const int64_t since_origin_ns =
        std::chrono::duration_cast<std::chrono::nanoseconds>(now - origin_).count();
    const uint64_t due_total = static_cast<uint64_t>(since_origin_ns / 1000 * kRate / 1'000'000);
    const uint64_t due = due_total - played_in_run_;
    if (due <= buffered_) {
        // The fill falls linearly over the interval: its mean is the midpoint.
        accumulate((static_cast<double>(buffered_) - static_cast<double>(due) / 2.0) * elapsed);
        buffered_ -= due;
        played_in_run_ += due;
        return;
    }
    const double drain_seconds = static_cast<double>(buffered_) / kRate;
    accumulate(static_cast<double>(buffered_) / 2.0 * drain_seconds);
    buffered_ = 0;
    playing_ = false;
    if (!finishing_) {
        ++underruns_;
        starved_ = true;
    }
}

void PlayoutModel::finish(Clock::time_point now) {
    advance(now);
    finishing_ = true;
    starved_ = false;
    if (!playing_ && buffered_ > 0) {
        playing_ = true;
        origin_ = now;
        played_in_run_ = 0;
    }
}

double PlayoutModel::take_interval_mean(Clock::time_point now) {
    advance(now);
    const double seconds = seconds_between(interval_start_, now);
    const double mean = seconds > 0.0 ? interval_area_ / seconds : static_cast<double>(buffered_);
    interval_start_ = now;
    interval_area_ = 0.0;
    return mean;
}

double PlayoutModel::overall_mean() const {
    const double seconds = seconds_between(created_, last_update_);
    return seconds > 0.0 ? total_area_ / seconds : 0.0;
}

void PlayoutModel::accumulate(double frame_seconds) {
    interval_area_ += frame_seconds;
    total_area_ += frame_seconds;
}

}  // namespace kova::phone
