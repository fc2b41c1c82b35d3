#pragma once

namespace kova::cli {

/// Prints the attached phones: a table, or the library's JSON text when `json`. Returns 0.
int list_devices_command(bool json);

/// Tells whether the phone app listens on the iOS device `path`: exit 0 when it does,
/// 1 when the device answers that nothing listens, 1 on any other failure.
int probe_command(const char* path, bool json);

}  // namespace kova::cli
