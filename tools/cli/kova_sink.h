#pragma once

#include <cstdint>

namespace kova::cli {

/// Rate of a KOVA device created without an explicit rate, in Hz.
inline constexpr unsigned kDefaultSinkRate = 48000;

/// Creates the KOVA device (a null sink named com.brenvale.kova.device, described "KOVA",
/// float stereo at `rate`) on the running audio server and returns the module index. Throws
/// kova::Error: "invalid_rate" (outside 8000..384000), "audio_server_unreachable",
/// "kova_device_already_installed", "kova_device_install_failed".
uint32_t install_kova_sink(unsigned rate = kDefaultSinkRate);

/// Removes the KOVA device from the running audio server by unloading the module that created
/// it. Throws kova::Error: "audio_server_unreachable", "kova_device_not_found",
/// "kova_device_remove_failed".
void remove_kova_sink();

}  // namespace kova::cli
