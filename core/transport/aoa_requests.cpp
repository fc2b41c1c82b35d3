#include "core/transport/aoa_requests.h"

#include <libusb.h>

#include <array>
#include <utility>

#include "core/transport/error.h"
#include "core/transport/usb_ok.h"

namespace kova::aoa {
namespace {

constexpr uint8_t kGetProtocol = 51;
constexpr uint8_t kSendString = 52;
constexpr uint8_t kStartAccessory = 53;
constexpr uint8_t kDeviceToHostVendor = 0xC0;
constexpr uint8_t kHostToDeviceVendor = 0x40;
constexpr unsigned kControlTimeoutMs = 1000;
constexpr size_t kMaxStringBytes = 256;

void send_string(libusb_device_handle* handle, uint16_t index, const std::string& text) {
    if (text.size() >= kMaxStringBytes || text.find('\0') != std::string::npos) {
        throw Error("aoa_string_limit");
    }
    // The terminating zero travels with the string.
    const auto length = static_cast<uint16_t>(text.size() + 1);
    auto* data = reinterpret_cast<unsigned char*>(const_cast<char*>(text.c_str()));
    const int sent = usb_ok(libusb_control_transfer(handle, kHostToDeviceVendor, kSendString, 0,
                                                    index, data, length, kControlTimeoutMs),
                            "AOA_SEND_STRING");
    if (sent != length) {
        throw Error("aoa_short_control_write");
    }
}

}  // namespace

bool is_accessory(uint16_t vendor, uint16_t product) {
    return vendor == kAccessoryVendor && (product & 0xFFFE) == kAccessoryProduct;
}

uint16_t get_protocol(libusb_device_handle* handle) {
    std::array<unsigned char, 2> version{};
    const int received =
        usb_ok(libusb_control_transfer(handle, kDeviceToHostVendor, kGetProtocol, 0, 0,
                                       version.data(), version.size(), kControlTimeoutMs),
               "AOA_GET_PROTOCOL");
    const auto protocol = static_cast<uint16_t>(version[0] | (version[1] << 8));
    if (received != 2 || protocol == 0) {
        throw Error("aoa_not_supported");
    }
    return protocol;
}

void send_identity(libusb_device_handle* handle, const std::string& accessory_id) {
    const std::array<std::pair<uint16_t, std::string>, 5> strings{{
        {0, "KOVA Audio"},
        {1, "Quillomar"},
        {2, "KOVA PCM Monitor"},
        {3, "1.0"},
        {5, accessory_id},
    }};
    for (const auto& [index, text] : strings) {
        send_string(handle, index, text);
    }
}

void start_accessory(libusb_device_handle* handle) {
    const int result = libusb_control_transfer(handle, kHostToDeviceVendor, kStartAccessory, 0, 0,
                                               nullptr, 0, kControlTimeoutMs);
    if (result != LIBUSB_ERROR_NO_DEVICE) {
        usb_ok(result, "AOA_START_ACCESSORY");
    }
}

}  // namespace kova::aoa
