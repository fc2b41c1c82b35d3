#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/transport/transport.h"

struct libusb_context;
struct libusb_device;
struct libusb_device_handle;

namespace kova {

/// One USB device seen on the bus.
struct DeviceInfo {
    std::string path;          ///< "bus:port.port…", or "bus:addrN" without a port chain
    uint16_t vendor = 0;       ///< idVendor
    uint16_t product = 0;      ///< idProduct
    bool topology = false;     ///< true when `path` was built from the port chain
    uint8_t bus = 0;           ///< bus number
    uint8_t address = 0;       ///< device address on the bus
    uint8_t device_class = 0;  ///< bDeviceClass
};

/// A Transport over the two bulk endpoints of an Android phone in accessory mode.
class AoaTransport : public Transport {
  public:
    /// Starts a libusb context of its own; throws "libusb_init: …" on failure.
    AoaTransport();
    /// Releases the interface, closes the device and ends the context.
    ~AoaTransport() override;
    AoaTransport(const AoaTransport&) = delete;
    AoaTransport& operator=(const AoaTransport&) = delete;

    /// Every USB device on the bus, in libusb's order; unreadable descriptors are skipped.
    std::vector<DeviceInfo> list();
    /// The device's path and whether it came from the port chain.
    static std::string path_of(libusb_device* device, bool& topology);
    /// Selects the device at `path`, switches it into accessory mode when needed and claims
    /// its accessory interface; `accessory_id` is sent as the accessory's serial.
    void connect(const std::string& path, const std::string& accessory_id);
    /// One bulk transfer on `endpoint`; returns the number of bytes moved.
    int transfer(uint8_t endpoint, uint8_t* buffer, int length, unsigned timeout_ms,
                 bool allow_timeout);
    /// Sends all of `bytes` to the phone before the deadline, or throws.
    void write(const std::vector<uint8_t>& bytes, unsigned timeout_ms) override;
    /// Returns the bytes of one IN transfer (at most 16384), or none after `timeout_ms`.
    std::vector<uint8_t> read(unsigned timeout_ms) override;
    /// "AOA bulk / libusb " and the version of the libusb actually linked.
    std::string name() const override;

    /// The claimed interface number, -1 while none is claimed.
    int interface_number() const { return interface_; }
    /// The accessory product id the phone came back with, 0 until connected.
    uint16_t accessory_product() const { return accessory_product_; }

  private:
    void open_selected(const std::string& path, bool& topology, bool& accessory);
    void wait_for_accessory(const std::string& path);
    void claim_accessory_interface();

    libusb_context* context_ = nullptr;
    libusb_device_handle* handle_ = nullptr;
    int interface_ = -1;
    uint8_t in_endpoint_ = 0;
    uint8_t out_endpoint_ = 0;
    uint16_t accessory_product_ = 0;
};

}  // namespace kova
