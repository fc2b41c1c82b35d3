#include "bench/soak/soak_programme.h"

#include <cmath>
#include <random>

namespace kova::bench {

ImpulseSchedule soak_schedule(double minutes) {
    ImpulseSchedule schedule;
    schedule.rate = kSoakRate;
    schedule.lead_in_s = 5.0;
    const double seconds = minutes * 60.0;
    schedule.count = seconds > schedule.lead_in_s
                         ? static_cast<unsigned>((seconds - schedule.lead_in_s) / 5.0) + 1
                         : 1;
    schedule.min_gap_ms = schedule.max_gap_ms = 5000.0;
    schedule.level = 0.9f;
    schedule.tail_s = 60.0;
    return schedule;
}

void programme_bed(uint64_t first, float* interleaved, size_t frames) {
    static thread_local std::minstd_rand noise(7);
    std::uniform_real_distribution<float> spread(-0.2f, 0.2f);
    for (size_t i = 0; i < frames; ++i) {
        const uint64_t frame = first + i;
        const double in_cycle = static_cast<double>(frame % (5 * kSoakRate)) / kSoakRate;
        const double t = static_cast<double>(frame) / kSoakRate;
        float value = 0.0f;
        if (in_cycle < 2.0 || in_cycle >= 3.5) {
            value = static_cast<float>(0.1 * (std::sin(2 * M_PI * 220 * t) +
                                              std::sin(2 * M_PI * 330 * t) +
                                              std::sin(2 * M_PI * 495 * t)));
        } else if (in_cycle < 2.5) {
            value = spread(noise);
        }
        interleaved[2 * i] = interleaved[2 * i + 1] = value;
    }
}

}  // namespace kova::bench
