#pragma once

#include <optional>
#include <string>
#include <vector>

#include "app/model/ports/settings.h"

namespace kova::settings_keys {

inline constexpr const char* autoStart = "autoStart";
inline constexpr const char* loginItemConfigured = "loginItemConfigured";
inline constexpr const char* accessoryId = "accessoryId";
inline constexpr const char* pairedPhones = "pairedPhones";
inline constexpr const char* devicePath = "devicePath";

/// The Boolean under `key`; none when absent or of another kind.
std::optional<bool> readBool(const Settings& settings, const char* key);
/// The string under `key`; none when absent or of another kind.
std::optional<std::string> readString(const Settings& settings, const char* key);
/// The strings under `key`; empty when absent or of another kind.
std::vector<std::string> readStrings(const Settings& settings, const char* key);

}  // namespace kova::settings_keys
