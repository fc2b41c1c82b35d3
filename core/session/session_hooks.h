#pragma once

#include <functional>
#include <nlohmann/json.hpp>
#include <string>

namespace kova {

/// The four callbacks through which a session tells its caller what happens. Each may be
/// empty; all run synchronously on the session's thread.
struct SessionHooks {
    std::function<void(nlohmann::json& report)> on_report;        ///< publishes the report
    std::function<void(const std::string& state)> on_state;       ///< announces a state
    std::function<void(const nlohmann::json& report)> on_status;  ///< after a phone status
    std::function<bool()> stop_requested;                         ///< true asks for a stop
};

}  // namespace kova
