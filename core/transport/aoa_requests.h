#pragma once

#include <cstdint>
#include <string>

struct libusb_device_handle;

namespace kova::aoa {

/// Vendor id of a phone in accessory mode.
inline constexpr uint16_t kAccessoryVendor = 0x18D1;
/// Accessory without debugging; 0x2D01 adds debugging.
inline constexpr uint16_t kAccessoryProduct = 0x2D00;
/// Apple devices are never sent accessory requests.
inline constexpr uint16_t kAppleVendor = 0x05AC;

/// True for 0x18D1 with product 0x2D00 or 0x2D01.
bool is_accessory(uint16_t vendor, uint16_t product);

/// Asks for the accessory protocol version; throws "aoa_not_supported" unless the phone
/// answers with a non-zero 2-byte version.
uint16_t get_protocol(libusb_device_handle* handle);

/// Sends the five identification strings in order, `accessory_id` as the serial.
void send_identity(libusb_device_handle* handle, const std::string& accessory_id);

/// Asks the phone to restart as an accessory; its leaving the bus at once is not an error.
void start_accessory(libusb_device_handle* handle);

}  // namespace kova::aoa
