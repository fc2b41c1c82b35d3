#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kova {

/// Frames in one audio message, and so in every test-source block.
inline constexpr uint64_t kFramesPerBlock = 192;

/// The 192 frames of the named test signal ("sine", "silence", "impulse", "lr", "sweep") that
/// start at `first_frame`, as 768 bytes of stereo s16le at -24 dBFS; throws "unknown_signal".
std::vector<uint8_t> signal_block(const std::string& name, uint64_t first_frame);

}  // namespace kova
