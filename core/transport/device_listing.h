#pragma once

#include <functional>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "core/transport/aoa_transport.h"
#include "core/transport/usb_registry.h"
#include "core/transport/usbmux_transport.h"

namespace kova {

/// The three walks a device listing combines. Each may fail on its own; a failing walk only
/// leaves out what it would have contributed.
struct DeviceWalks {
    UsbRegistry* registry = nullptr;               ///< names for the devices
    std::function<std::vector<DeviceInfo>()> usb;  ///< the Android candidates
    std::function<std::vector<IosDevice>()> ios;   ///< the iPhones and iPads
};

/// The device list: Android candidates in USB order, then iOS devices in usbmuxd's order.
nlohmann::json list_devices(const DeviceWalks& walks);

/// The list as compact JSON text, keys in ascending order, non-ASCII as raw UTF-8.
std::string device_list_text(const nlohmann::json& devices);

}  // namespace kova
