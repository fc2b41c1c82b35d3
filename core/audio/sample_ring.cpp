#include "core/audio/sample_ring.h"

#include <algorithm>

namespace kova {
namespace {

constexpr uint64_t kSampleMask = SampleRing::kSamples - 1;

}  // namespace

SampleRing::SampleRing() : samples_(kSamples, 0.0f) {}

size_t SampleRing::write(const float* samples, size_t frames) {
    const uint64_t written = write_count_.load(std::memory_order_relaxed);
    const uint64_t consumed = read_count_.load(std::memory_order_acquire);
    const size_t room = static_cast<size_t>(consumed + kFrames - written);
    const size_t kept = std::min(frames, room);
    const uint64_t first = 2 * written;
    for (size_t i = 0; i < 2 * kept; ++i) {
        samples_[(first + i) & kSampleMask] = samples[i];
    }
    write_count_.store(written + kept, std::memory_order_release);
    return kept;
}

size_t SampleRing::read(float* out, size_t max_frames) {
    const uint64_t consumed = read_count_.load(std::memory_order_relaxed);
    const uint64_t written = write_count_.load(std::memory_order_acquire);
    const size_t count = std::min(static_cast<size_t>(written - consumed), max_frames);
    const uint64_t first = 2 * consumed;
    for (size_t i = 0; i < 2 * count; ++i) {
        out[i] = samples_[(first + i) & kSampleMask];
    }
    read_count_.store(consumed + count, std::memory_order_release);
    return count;
}

void SampleRing::discard(size_t frames) {
    const uint64_t consumed = read_count_.load(std::memory_order_relaxed);
    const uint64_t written = write_count_.load(std::memory_order_acquire);
    const size_t count = std::min(static_cast<size_t>(written - consumed), frames);
    read_count_.store(consumed + count, std::memory_order_release);
}

size_t SampleRing::available() const {
    const uint64_t written = write_count_.load(std::memory_order_acquire);
    return static_cast<size_t>(written - read_count_.load(std::memory_order_relaxed));
}

}  // namespace kova
