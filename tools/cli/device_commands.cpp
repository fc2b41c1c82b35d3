#include "tools/cli/device_commands.h"

#include <iomanip>
#include <iostream>
#include <nlohmann/json.hpp>
#include <string>

#include "core/api/kova.h"
#include "core/transport/error.h"
#include "tools/cli/kova_sink.h"

namespace kova::cli {
namespace {

std::string list_text() {
    char* text = kova_list_devices();
    std::string copy = text != nullptr ? text : "[]";
    kova_free(text);
    return copy;
}

std::string hints(const nlohmann::json& device) {
    std::string hint;
    if (device.value("accessory", false)) {
        hint = "accessory mode";
    } else if (device.value("hub", false)) {
        hint = "hub";
    }
    if (device.contains("trusted")) {
        hint = device.value("trusted", false) ? "paired" : "not paired: unlock it and tap Trust";
    }
    return hint;
}

std::string display_name(const nlohmann::json& device) {
    std::string name = device.value("vendorName", "");
    const std::string product = device.value("productName", "");
    if (!product.empty()) {
        name += (name.empty() ? "" : " ") + product;
    }
    return name.empty() ? "(unnamed)" : name;
}

std::string sink_failure_text(const std::string& code) {
    if (code == "audio_server_unreachable") {
        return "no sound server answers (is PulseAudio or PipeWire running for this user?)";
    }
    if (code == "kova_device_already_installed") {
        return "the KOVA device is already installed";
    }
    if (code == "kova_device_not_found") {
        return "there is no KOVA device to remove";
    }
    return "the sound server refused (" + code + ")";
}

// One line for people or one JSON document for scripts; exit 0 on success.
int report_sink_result(const char* action, const std::string& error, const std::string& done,
                       bool json) {
    if (json) {
        nlohmann::json line{{"action", action}, {"ok", error.empty()}};
        if (!error.empty()) {
            line["error"] = error;
        }
        std::cout << line.dump() << std::endl;
    } else if (error.empty()) {
        std::cout << done << "\n";
    } else {
        std::cerr << "kova: " << sink_failure_text(error) << "\n";
    }
    return error.empty() ? 0 : 1;
}

void print_table(const nlohmann::json& devices) {
    if (devices.empty()) {
        std::cout << "No phones found. Connect a phone by USB cable and try again.\n";
        return;
    }
    std::cout << std::left << std::setw(24) << "PATH" << std::setw(10) << "PLATFORM"
              << std::setw(32) << "NAME" << std::setw(28) << "SERIAL"
              << "NOTE\n";
    for (const auto& device : devices) {
        std::cout << std::setw(24) << device.value("path", "") << std::setw(10)
                  << device.value("platform", "") << std::setw(32) << display_name(device)
                  << std::setw(28) << device.value("serial", "") << hints(device) << "\n";
    }
}

}  // namespace

int list_devices_command(bool json) {
    const std::string text = list_text();
    if (json) {
        std::cout << text << std::endl;
    } else {
        print_table(nlohmann::json::parse(text));
    }
    return 0;
}

int probe_command(const char* path, bool json) {
    const int result = kova_ios_probe(path);
    if (json) {
        std::cout << nlohmann::json{{"path", path}, {"probe", result}}.dump() << std::endl;
    } else if (result == 1) {
        std::cout << path << ": KOVA is open and listening on the phone\n";
    } else if (result == 0) {
        std::cout << path << ": the phone is there but KOVA is not open on it\n";
    } else {
        std::cout << path << ": cannot reach the phone (not attached, or usbmuxd not running)\n";
    }
    return result == 1 ? 0 : 1;
}

int install_device_command(std::optional<unsigned> rate, bool json) {
    const unsigned chosen = rate.value_or(kDefaultSinkRate);
    std::string error;
    try {
        install_kova_sink(chosen);
    } catch (const Error& failure) {
        error = failure.what();
    }
    return report_sink_result("install-device", error,
                              "KOVA device installed at " + std::to_string(chosen) +
                                  " Hz: choose \"KOVA\" as the output of your DAW or desktop.",
                              json);
}

int remove_device_command(bool json) {
    std::string error;
    try {
        remove_kova_sink();
    } catch (const Error& failure) {
        error = failure.what();
    }
    return report_sink_result("remove-device", error, "KOVA device removed.", json);
}

}  // namespace kova::cli
