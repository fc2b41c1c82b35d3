#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace kova {

/// One float sample as signed 16-bit: limited to -1..1, scaled by 32767, rounded to nearest
/// with ties to even. NaN becomes 0 (silence), never full scale.
int16_t float_to_pcm16(float sample);

/// `count` float samples as s16le bytes, in order.
std::vector<uint8_t> pcm16_bytes(const float* samples, size_t count);

}  // namespace kova
