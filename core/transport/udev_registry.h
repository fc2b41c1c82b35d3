#pragma once

#include "core/transport/usb_registry.h"

namespace kova {

/// The registry walk on udev: every device of subsystem "usb" and devtype "usb_device".
class UdevRegistry : public UsbRegistry {
  public:
    /// Reads every USB device udev knows; throws "udev_unavailable" or "udev_enumerate".
    std::vector<RegistryName> walk() override;
};

}  // namespace kova
