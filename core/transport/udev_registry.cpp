#include "core/transport/udev_registry.h"

#include <libudev.h>

#include <memory>

#include "core/transport/error.h"

namespace kova {
namespace {

struct UdevDeleter {
    void operator()(udev* context) const { udev_unref(context); }
    void operator()(udev_enumerate* enumeration) const { udev_enumerate_unref(enumeration); }
    void operator()(udev_device* device) const { udev_device_unref(device); }
};

template <typename T>
using UdevPtr = std::unique_ptr<T, UdevDeleter>;

RegistryName read_device(udev_device* device) {
    return registry_name(
        [device](const char* key) { return udev_device_get_sysattr_value(device, key); },
        [device](const char* key) { return udev_device_get_property_value(device, key); });
}

}  // namespace

std::vector<RegistryName> UdevRegistry::walk() {
    const UdevPtr<udev> context(udev_new());
    if (!context) {
        throw Error("udev_unavailable");
    }
    const UdevPtr<udev_enumerate> enumeration(udev_enumerate_new(context.get()));
    if (!enumeration || udev_enumerate_add_match_subsystem(enumeration.get(), "usb") < 0 ||
        udev_enumerate_add_match_property(enumeration.get(), "DEVTYPE", "usb_device") < 0 ||
        udev_enumerate_scan_devices(enumeration.get()) < 0) {
        throw Error("udev_enumerate");
    }
    std::vector<RegistryName> names;
    udev_list_entry* entry = nullptr;
    udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(enumeration.get())) {
        const UdevPtr<udev_device> device(
            udev_device_new_from_syspath(context.get(), udev_list_entry_get_name(entry)));
        if (device) {
            names.push_back(read_device(device.get()));
        }
    }
    return names;
}

}  // namespace kova
