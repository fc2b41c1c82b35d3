#include "tools/cli/device_commands.h"

#include <iomanip>
#include <iostream>
#include <nlohmann/json.hpp>
#include <string>

#include "core/api/kova.h"

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

}  // namespace kova::cli
