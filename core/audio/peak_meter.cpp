#include "core/audio/peak_meter.h"

#include <cmath>

namespace kova {

void PeakMeter::raise(const float* samples, size_t count) {
    float largest = 0.0f;
    for (size_t i = 0; i < count; ++i) {
        const float magnitude = std::fabs(samples[i]);
        if (magnitude > largest) {
            largest = magnitude;
        }
    }
    raise_to(largest);
}

void PeakMeter::raise_to(float value) {
    float current = peak_.load(std::memory_order_relaxed);
    while (value > current &&
           !peak_.compare_exchange_weak(current, value, std::memory_order_release,
                                        std::memory_order_relaxed)) {
    }
}

float PeakMeter::take() {
    return peak_.exchange(0.0f, std::memory_order_acq_rel);
}

}  // namespace kova
