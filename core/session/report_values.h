#pragma once

#include <chrono>
#include <cstdint>
#include <nlohmann/json.hpp>

namespace kova {

/// Adds `amount` to the unsigned count under `key` (0 when absent).
void add_count(nlohmann::json& report, const char* key, uint64_t amount);
/// Adds `amount` to the signed integer under `key` (0 when absent).
void add_integer(nlohmann::json& report, const char* key, int64_t amount);
/// Raises the float under `key` to `value` when `value` is larger (or the key is absent).
void raise_float(nlohmann::json& report, const char* key, double value);
/// A steady-clock duration in milliseconds, fractional.
double milliseconds(std::chrono::steady_clock::duration duration);
/// A steady-clock duration in seconds, fractional.
double seconds(std::chrono::steady_clock::duration duration);

}  // namespace kova
