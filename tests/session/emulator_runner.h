#pragma once

#include <functional>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "core/session/session_hooks.h"
#include "core/session/session_options.h"
#include "tools/phone/phone_app.h"

namespace kova::test {

/// A whole session against the phone emulator, seen from both ends.
struct EmulatedSession {
    int code = -1;                    ///< run_session's exit code
    nlohmann::json report;            ///< the final report
    std::vector<std::string> states;  ///< states announced, in order
    phone::PhoneSummary phone;        ///< what the emulator measured
    double seconds = 0.0;             ///< how long run_session took

    /// The report's "error", empty when absent.
    std::string error() const { return report.value("error", std::string()); }
};

/// Runs kova::run_session over a socket pair served by a PhoneApp with `phone_options`.
/// `extra` may add a stop hook or a status observer; its on_state is wrapped, not replaced.
EmulatedSession run_against_emulator(SessionOptions options, phone::PhoneOptions phone_options,
                                     SessionHooks extra = {});

}  // namespace kova::test
