#pragma once

#include "tools/cli/cli_options.h"

namespace kova::cli {

/// Runs one session as `options` say, printing its progress; returns the session's exit code
/// (0, 1, 130) or 2 when the library refused the options.
int run_session_command(const CliOptions& options);

}  // namespace kova::cli
