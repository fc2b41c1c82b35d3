#pragma once

#include <cstddef>
#include <cstdint>

#include "bench/support/impulse.h"

namespace kova::bench {

/// The soak's programme rate: a 44.1 kHz project, so the converter is in the path.
inline constexpr unsigned kSoakRate = 44100;

/// An impulse every 5 s over `minutes` of programme, with a tail long enough that the
/// player keeps going until the session is stopped.
ImpulseSchedule soak_schedule(double minutes);

/// Music-like bed under the impulses: three tones, then a noise burst, then silence, in every
/// 5 s. Kept below a third of full scale so that only the impulses reach the detector's level.
void programme_bed(uint64_t first, float* interleaved, size_t frames);

}  // namespace kova::bench
