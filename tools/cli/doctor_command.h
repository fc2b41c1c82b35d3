#pragma once

namespace kova::cli {

/// `kova --doctor [--json]`: checks the set-up and prints the verdicts; 0 when nothing needed
/// for streaming is missing, 1 otherwise.
int doctor_command(bool json);

}  // namespace kova::cli
