#pragma once

#include <string_view>

#include "core/session/session_options.h"

namespace kova {

/// Reads the options document of a session start. Throws (JSON parse, type or missing-key
/// errors) for anything that is not a valid document; the values are not validated here.
SessionOptions parse_options_document(std::string_view text);

}  // namespace kova
