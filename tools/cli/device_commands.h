#pragma once

#include <optional>

namespace kova::cli {

/// Prints the attached phones: a table, or the library's JSON text when `json`. Returns 0.
int list_devices_command(bool json);

/// Tells whether the phone app listens on the iOS device `path`: exit 0 when it does,
/// 1 when the device answers that nothing listens, 1 on any other failure.
int probe_command(const char* path, bool json);

/// Creates the KOVA device on the running sound server at `rate` (48000 when not given).
/// Exit 0 when created, 1 with the reason otherwise.
int install_device_command(std::optional<unsigned> rate, bool json);

/// Removes the KOVA device from the running sound server. Exit 0 when removed, else 1.
int remove_device_command(bool json);

}  // namespace kova::cli
