#pragma once

#include <chrono>
#include <string>

#include "tools/phone/phone_app.h"

namespace kova::phone::test {

/// What a desktop made of a whole session against the emulator.
struct OracleResult {
    std::string code;        ///< the failure the desktop would end with; empty when none
    PhoneSummary summary;    ///< what the emulator measured
    size_t stale_bytes = 0;  ///< bytes drained before the desktop's hello
};

/// Runs a short session against an emulator with `options` as the desktop does (drain, hello,
/// configuration, start, audio, a ping, stop, "Stopped"), applying the desktop's checks to
/// every message the phone sends. Waits are `limit` long instead of the desktop's seconds.
/// `audio` false runs a link probe (no configuration, start or audio).
OracleResult run_desktop(const PhoneOptions& options, bool audio,
                         std::chrono::milliseconds limit = std::chrono::milliseconds(800));

}  // namespace kova::phone::test
