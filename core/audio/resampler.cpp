#include "core/audio/resampler.h"

#include <soxr.h>

#include <cmath>

#include "core/transport/error.h"

namespace kova {
namespace {

constexpr double kOutputRate = 48000.0;
constexpr double kLowestRate = 8000.0;
constexpr double kHighestRate = 384000.0;
// The default very-high passband (0.913 of the input's Nyquist) makes the converter hold about
// 20 ms; at 0.83 it keeps its precision and stopband but holds half that. Still flat to 18 kHz
// at 44.1 kHz, far beyond what a phone speaker plays.
constexpr double kPassbandEnd = 0.83;

bool supported(double rate) {
    return rate >= kLowestRate && rate <= kHighestRate;  // false for NaN too
}

soxr* create_converter(double input_rate) {
    const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_I, SOXR_FLOAT32_I);
    soxr_quality_spec_t quality = soxr_quality_spec(SOXR_VHQ, 0);
    quality.passband_end = kPassbandEnd;
    const soxr_runtime_spec_t runtime = soxr_runtime_spec(1);
    soxr_error_t error = nullptr;
    soxr* converter = soxr_create(input_rate, kOutputRate, 2, &error, &io, &quality, &runtime);
    if (error != nullptr || converter == nullptr) {
        soxr_delete(converter);
        throw Error("src_create_failed");
    }
    return converter;
}

}  // namespace

Resampler::Resampler(double input_rate) : input_rate_(input_rate) {
    if (!supported(input_rate)) {
        throw Error("src_unsupported_rate");
    }
    if (input_rate == kOutputRate) {
        return;
    }
    converter_ = create_converter(input_rate);
    // Never empty, so the converter is never handed a null input (which means end of input).
    scratch_.resize(2 * 256);
}

Resampler::~Resampler() {
    soxr_delete(converter_);
}

size_t Resampler::supply(Resampler& self, size_t requested) {
    if (self.scratch_.size() < 2 * requested) {
        self.scratch_.resize(2 * requested);
    }
    self.scratch_offset_ = 0;
    self.scratch_frames_ = (*self.pull_)(self.scratch_.data(), requested);
    return self.scratch_frames_;
}

// The converter's callback interface takes an empty pull for the end of the stream and
// flushes for good, while a live capture is empty every few milliseconds. So input is
// pulled here and pushed with soxr_process, which treats an empty input as "nothing yet"
// and keeps its history; unconsumed input stays in scratch_ for the next call.
size_t Resampler::process(const Pull& pull, float* out, size_t frames) {
    if (converter_ == nullptr) {
        return pull(out, frames);
    }
    pull_ = &pull;
    size_t produced = 0;
    while (produced < frames) {
        if (scratch_frames_ == 0) {
            const double wanted =
                std::ceil(static_cast<double>(frames - produced) * input_rate_ / kOutputRate);
            supply(*this, static_cast<size_t>(wanted));
        }
        size_t consumed = 0;
        size_t made = 0;
        const soxr_error_t error =
            soxr_process(converter_, scratch_.data() + 2 * scratch_offset_, scratch_frames_,
                         &consumed, out + 2 * produced, frames - produced, &made);
        if (error != nullptr) {
            pull_ = nullptr;
            throw Error("src_failed");
        }
        scratch_offset_ += consumed;
        scratch_frames_ -= consumed;
        produced += made;
        if (consumed == 0 && made == 0) {
            break;
        }
    }
    pull_ = nullptr;
    return produced;
}

}  // namespace kova
