#pragma once

#include <cstdint>
#include <nlohmann/json.hpp>
#include <vector>

namespace kova {

/// Parses a control payload strictly: size, depth and duplicate-key limits, object only.
nlohmann::json parse_json(const std::vector<uint8_t>& payload);

/// The compact serialization of `value` (sorted keys, raw UTF-8) as payload bytes.
std::vector<uint8_t> json_bytes(const nlohmann::json& value);

/// The compact serialization of `value` as text; the form of every event and report.
std::string json_text(const nlohmann::json& value);

}  // namespace kova
