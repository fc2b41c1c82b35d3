#include "app/model/device.h"

#include <cstdio>
#include <functional>
#include <nlohmann/json.hpp>

#include "app/model/ports/sha256.h"

namespace kova {

namespace {

using nlohmann::json;

std::string stringMember(const json& entry, const char* key) {
    const auto found = entry.find(key);
    return found != entry.end() && found->is_string() ? found->get<std::string>() : std::string();
}

std::optional<bool> boolMember(const json& entry, const char* key) {
    const auto found = entry.find(key);
    if (found != entry.end() && found->is_boolean()) {
        return found->get<bool>();
    }
    return std::nullopt;
}

bool isInteger(const json& entry, const char* key) {
    const auto found = entry.find(key);
    return found != entry.end() && found->is_number_integer();
}

std::string joinedNonEmpty(const std::string& first, const std::string& second) {
    if (first.empty() || second.empty()) {
        return first + second;
    }
    return first + " " + second;
}

std::string displayName(const json& entry, bool ios) {
    const std::string productName = stringMember(entry, "productName");
    if (ios) {
        return productName.empty() ? "iPhone or iPad" : productName;
    }
    return joinedNonEmpty(stringMember(entry, "vendorName"), productName);
}

// Vendor and product ids are 16-bit; masking keeps odd values from widening the text.
std::string numericName(const json& entry) {
    char text[16];
    std::snprintf(text, sizeof text, "%04x:%04x",
                  static_cast<unsigned>(entry["vendor"].get<long long>() & 0xFFFF),
                  static_cast<unsigned>(entry["product"].get<long long>() & 0xFFFF));
    return text;
}

}  // namespace

std::string Device::label() const {
    std::string text = name;
    if (ios) {
        text += " (iOS)";
    }
    if (accessory) {
        text += " · ready for KOVA";
    } else if (paired) {
        text += " · paired";
    }
    return text;
}

std::string Device::waitingText() const {
    if (trusted) {
        return "Unlock the " + name + " and open KOVA";
    }
    return "On the " + name + ", tap Trust for this computer";
}

std::string serialHashOf(const std::string& serial, Sha256& sha256) {
    std::string text;
    text.reserve(64);
    for (const std::uint8_t byte : sha256.digest(serial)) {
        char pair[3];
        std::snprintf(pair, sizeof pair, "%02x", byte);
        text += pair;
    }
    return text;
}

std::optional<Device> deviceFromEntry(const json& entry, const std::set<std::string>& pairedSet,
                                      Sha256& sha256) {
    if (boolMember(entry, "hub") == true) {
        return std::nullopt;
    }
    const auto path = entry.find("path");
    if (path == entry.end() || !path->is_string() || !isInteger(entry, "vendor") ||
        !isInteger(entry, "product")) {
        return std::nullopt;
    }
    Device device;
    device.path = path->get<std::string>();
    device.ios = stringMember(entry, "platform") == "ios";
    device.name = displayName(entry, device.ios);
    if (device.name.empty()) {
        device.name = numericName(entry);
    }
    const std::string serial = stringMember(entry, "serial");
    if (!serial.empty()) {
        device.serialHash = serialHashOf(serial, sha256);
    }
    device.accessory = boolMember(entry, "accessory").value_or(false);
    device.trusted = boolMember(entry, "trusted").value_or(true);
    device.paired = device.serialHash && pairedSet.contains(*device.serialHash);
    return device;
}

}  // namespace kova

std::size_t std::hash<kova::Device>::operator()(const kova::Device& device) const noexcept {
    std::size_t seed = 0;
    const auto mix = [&seed](std::size_t value) {
        seed ^= value + 0x9e3779b97f4a7c15ULL + (seed << 6) + (seed >> 2);
    };
    mix(std::hash<std::string>{}(device.path));
    mix(std::hash<std::string>{}(device.name));
    mix(device.accessory);
    mix(device.serialHash.has_value());
    mix(std::hash<std::string>{}(device.serialHash.value_or("")));
    mix(device.ios);
    mix(device.trusted);
    mix(device.paired);
    return seed;
}
