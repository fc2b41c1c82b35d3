#pragma once

#include <plist/plist.h>

#include <cstdint>
#include <string>
#include <vector>

#include "core/transport/socket_transport.h"

namespace kova {

/// One attached iOS device as usbmuxd lists it.
struct IosDevice {
    std::string id;                     ///< "ios:" + 12 hex digits, the device path
    int32_t device_id = -1;             ///< usbmuxd's handle of the attachment
    uint16_t product_id = 0xFFFF;       ///< USB product id, all bits set when missing
    uint32_t location_id = 0xFFFFFFFF;  ///< USB location id, all bits set when missing
    std::string serial;                 ///< the device's UDID, never empty
    bool trusted = false;               ///< usbmuxd holds a pairing record for it
};

/// The TCP tunnel to a port on an iOS device, opened through usbmuxd.
class UsbmuxTransport : public SocketTransport {
  public:
    /// The USB-attached iOS devices in usbmuxd's order; daemon trouble only shortens the list.
    static std::vector<IosDevice> list();
    /// Opens the tunnel to `port` on the device whose id is `id`, or throws kova::Error.
    void connect(const std::string& id, unsigned short port);
    /// "usbmux / usbmuxd".
    std::string name() const override;
};

/// The USB devices of a "ListDevices" reply (with `trusted` false), skipping unusable entries.
std::vector<IosDevice> parse_device_list(plist_t reply);
/// The error code for a "Connect" result number; empty for 0 (success).
std::string connect_result_code(int64_t number);
/// `port` in network byte order read as a host integer, as "Connect" expects it.
uint16_t swapped_port(unsigned short port);

}  // namespace kova
