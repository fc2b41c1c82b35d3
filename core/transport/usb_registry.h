#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace kova {

/// What the system's device registry knows about one USB device; -1 or "" when unknown.
struct RegistryName {
    int64_t bus = -1;          ///< bus number
    int64_t address = -1;      ///< device address on the bus
    int64_t vendor = -1;       ///< idVendor
    int64_t product = -1;      ///< idProduct
    int64_t location = -1;     ///< (bus << 16) | address, as usbmuxd reports locations
    std::string vendor_name;   ///< manufacturer, else the hardware database's vendor name
    std::string product_name;  ///< product, else the hardware database's model name
    std::string serial;        ///< serial number string
};

/// A walk over the registry's USB devices, kept behind this interface so tests can give
/// records of their own.
class UsbRegistry {
  public:
    /// Releases the walk.
    virtual ~UsbRegistry() = default;
    /// Every USB device the registry holds; throws when the registry cannot be read.
    virtual std::vector<RegistryName> walk() = 0;
};

/// Looks up one named value of a device; null when the device has none.
using RegistryLookup = std::function<const char*(const char* key)>;

/// Builds a record from a device's sysfs attributes and its database properties.
RegistryName registry_name(const RegistryLookup& attribute, const RegistryLookup& property);

}  // namespace kova
