#pragma once

#include <nlohmann/json.hpp>

namespace kova {

/// Version and build identifier reported and sent in the hello.
inline constexpr const char* kVersion = "1.0.0";
inline constexpr const char* kBuild = "v0.9.75-48-g6b58017-dirty";

/// A new session report holding every initial key with its initial value.
nlohmann::json default_report();

}  // namespace kova
