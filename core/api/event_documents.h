#pragma once

#include <nlohmann/json.hpp>
#include <string>

namespace kova {

/// {"event":"state","state":...}
std::string state_event(const std::string& state);
/// {"event":"report","report":...}
std::string report_event(const nlohmann::json& report);
/// The digest of the report sent after each phone status.
std::string status_event(const nlohmann::json& report);
/// {"code":...,"event":"ended","report":...}
std::string ended_event(int code, const nlohmann::json& report);

}  // namespace kova
