#include "core/session/session_options.h"

#include <cstdint>

#include "core/transport/error.h"

namespace kova {

void validate_options(const SessionOptions& options) {
    if (static_cast<uint32_t>(options.seconds) > 7200) {
        throw Error("invalid_timeout");
    }
    if (options.hello_timeout_ms < 1000 || options.hello_timeout_ms > 120000) {
        throw Error("invalid_timeout");
    }
    if (!options.wav.empty() && !options.signal.empty()) {
        throw Error("choose_wav_or_signal");
    }
    if (options.wav.empty() && options.loop) {
        throw Error("loop_requires_wav");
    }
    if (!options.capture_uid.empty() && (!options.wav.empty() || !options.signal.empty())) {
        throw Error("choose_one_source");
    }
    if (options.device.empty() || (!options.treated_as_ios() && options.accessory_id.empty())) {
        throw Error("explicit_device_and_accessory_id_required_use_--list");
    }
}

}  // namespace kova
