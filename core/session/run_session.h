#pragma once

#include <nlohmann/json.hpp>

#include "core/session/session_hooks.h"
#include "core/session/session_options.h"

namespace kova {

/// Runs one whole session on the calling thread, filling `report`; returns 0, 1 or 130.
/// Never throws for a failure derived from std::exception.
int run_session(const SessionOptions& options, nlohmann::json& report, const SessionHooks& hooks);

}  // namespace kova
