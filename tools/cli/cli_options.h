#pragma once

#include <optional>
#include <string>

#include <nlohmann/json.hpp>

namespace kova::cli {

/// What the command line asked for.
struct CliOptions {
    std::string device;                   ///< --device
    std::string accessory_id;             ///< --accessory-id
    bool kova_device = false;             ///< --kova-device
    std::string signal;                   ///< --signal
    std::string wav;                      ///< --wav
    bool loop = false;                    ///< --loop
    std::optional<int> seconds;           ///< --seconds
    std::optional<int> hello_timeout_ms;  ///< --hello-timeout-ms
    bool list = false;                    ///< --list
    std::string probe;                    ///< --probe PATH
    bool json = false;                    ///< --json: machine-readable output
    bool install_device = false;          ///< --install-device
    std::optional<unsigned> rate;         ///< --rate of the device to install
    bool remove_device = false;           ///< --remove-device
    bool doctor = false;                  ///< --doctor
};

/// The session options document for `options`; only the keys the user gave.
nlohmann::json options_document(const CliOptions& options);

}  // namespace kova::cli
