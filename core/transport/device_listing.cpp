#include "core/transport/device_listing.h"

#include <exception>

#include "core/transport/aoa_requests.h"

namespace kova {
namespace {

using json = nlohmann::json;

template <typename Walk>
auto walk_alone(const Walk& walk) -> decltype(walk()) {
    try {
        return walk();
    } catch (const std::exception&) {
        return {};
    }
}

// The exact record first; otherwise the one record with the same ids, if it is the only one.
const RegistryName* match(const DeviceInfo& device, const std::vector<RegistryName>& names) {
    for (const RegistryName& name : names) {
        if (name.bus == device.bus && name.address == device.address &&
            name.vendor == device.vendor && name.product == device.product) {
            return &name;
        }
    }
    const RegistryName* only = nullptr;
    for (const RegistryName& name : names) {
        if (name.vendor == device.vendor && name.product == device.product) {
            if (only != nullptr) {
                return nullptr;
            }
            only = &name;
        }
    }
    return only;
}

json android_entry(const DeviceInfo& device, const std::vector<RegistryName>& names) {
    const RegistryName* name = match(device, names);
    return {
        {"path", device.path},
        {"platform", "android"},
        {"vendor", device.vendor},
        {"product", device.product},
        {"vendorName", name ? name->vendor_name : ""},
        {"productName", name ? name->product_name : ""},
        {"serial", name ? name->serial : ""},
        {"hub", device.device_class == 9},
        {"accessory", aoa::is_accessory(device.vendor, device.product)},
    };
}

json ios_entry(const IosDevice& device, const std::vector<RegistryName>& names) {
    std::string product_name;
    for (const RegistryName& name : names) {
        if (name.location == device.location_id && name.vendor == aoa::kAppleVendor) {
            product_name = name.product_name;
            break;
        }
    }
    return {
        {"path", device.id},           {"platform", "ios"},
        {"vendor", aoa::kAppleVendor}, {"product", device.product_id},
        {"vendorName", "Apple"},       {"productName", product_name},
        {"serial", device.serial},     {"hub", false},
        {"accessory", false},          {"trusted", device.trusted},
    };
}

}  // namespace

json list_devices(const DeviceWalks& walks) {
    json devices = json::array();
    const auto names = walk_alone([&] { return walks.registry->walk(); });
    for (const DeviceInfo& device : walk_alone(walks.usb)) {
        if (device.vendor != aoa::kAppleVendor) {
            devices.push_back(android_entry(device, names));
        }
    }
    for (const IosDevice& device : walk_alone(walks.ios)) {
        devices.push_back(ios_entry(device, names));
    }
    return devices;
}

std::string device_list_text(const nlohmann::json& devices) {
    return devices.dump(-1, ' ', false, json::error_handler_t::replace);
}

}  // namespace kova
