#include "core/audio/pcm16.h"

#include <cmath>

namespace kova {

int16_t float_to_pcm16(float sample) {
    // A NaN from a misbehaving audio source would otherwise come out as a full-scale click.
    if (std::isnan(sample)) {
        return 0;
    }
    const double limited = std::fmin(std::fmax(static_cast<double>(sample), -1.0), 1.0);
    return static_cast<int16_t>(std::nearbyint(limited * 32767.0));
}

std::vector<uint8_t> pcm16_bytes(const float* samples, size_t count) {
    std::vector<uint8_t> bytes;
    bytes.reserve(count * 2);
    for (size_t i = 0; i < count; ++i) {
        const auto bits = static_cast<uint16_t>(float_to_pcm16(samples[i]));
        bytes.push_back(static_cast<uint8_t>(bits));
        bytes.push_back(static_cast<uint8_t>(bits >> 8));
    }
    return bytes;
}

}  // namespace kova
