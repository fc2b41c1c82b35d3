#pragma once

// Scripting side of the fake libusb: the test program that links the fake gets libusb-1.0's
// C functions served from this emulated bus instead of the real one.

#include <cstdint>
#include <memory>
#include <vector>

namespace kova::fakeusb {

/// How a phone's bulk endpoints misbehave from now on.
enum class BulkFault {
    none,                  ///< bytes flow to and from the phone's data line
    locked,                ///< OUT transfers accept nothing and time out
    partial_then_timeout,  ///< OUT transfers accept `partial_bytes` in all, then time out
    stall,                 ///< every transfer ends stalled
};

/// What one scripted USB device is and how it answers.
struct PhoneScript {
    uint8_t bus = 1;                      ///< bus number
    std::vector<uint8_t> ports{1, 4};     ///< port chain; empty: the path uses the address
    uint8_t address = 7;                  ///< device address before any switch
    uint16_t vendor = 0x04E8;             ///< idVendor as first seen
    uint16_t product = 0x6860;            ///< idProduct as first seen
    uint8_t device_class = 0;             ///< bDeviceClass
    bool descriptor_error = false;        ///< the device descriptor cannot be read
    int open_error = 0;                   ///< libusb error returned by libusb_open, 0: none
    uint16_t aoa_version = 2;             ///< answer to get-protocol; 0: no accessory support
    int get_protocol_error = 0;           ///< libusb error returned by get-protocol instead
    int get_protocol_length = 2;          ///< bytes get-protocol returns
    int string_shortfall = 0;             ///< send-string moves this many bytes fewer
    int start_result = 0;                 ///< result of start-accessory (0 or an error)
    uint16_t accessory_product = 0x2D00;  ///< product id after the switch
    int return_after_ms = 50;             ///< time to come back as accessory; <0: never
    int returning_copies = 1;             ///< accessories that come back on the same path
    int accessory_settings = 1;           ///< qualifying accessory settings: 0 none, 2 two
    uint8_t accessory_interface = 0;      ///< interface number of the accessory setting
    uint8_t accessory_alternate = 0;      ///< alternate setting that carries the endpoints
    int claim_error = 0;                  ///< libusb error returned by claiming, 0: none
};

/// One control request the desktop sent, as the phone saw it.
struct ControlRequest {
    uint8_t request_type = 0;   ///< bmRequestType
    uint8_t request = 0;        ///< bRequest
    uint16_t value = 0;         ///< wValue
    uint16_t index = 0;         ///< wIndex
    std::vector<uint8_t> data;  ///< bytes sent (host-to-device requests)
};

/// Objects the code under test still holds; all zero once it has released everything.
struct Outstanding {
    int contexts = 0;     ///< contexts not ended
    int device_refs = 0;  ///< device references not dropped
    int handles = 0;      ///< handles not closed
    int claimed = 0;      ///< interfaces claimed and not released on open handles
    int configs = 0;      ///< configuration descriptors not freed
    int transfers = 0;    ///< transfers not freed
    bool operator==(const Outstanding&) const = default;
};

struct PhoneState;

/// A scripted phone on the bus; valid until Bus::reset().
class Phone {
  public:
    explicit Phone(std::shared_ptr<PhoneState> state) : state_(std::move(state)) {}
    /// The phone's end of its data line (owned by the caller from now on), for the emulator.
    int take_phone_end();
    /// Sets how the bulk endpoints misbehave from now on.
    void set_fault(BulkFault fault, int partial_bytes = 0);
    /// Unplugs the phone: it leaves the bus, and running transfers end with "no device".
    void detach();
    /// Number of start-accessory requests the phone received.
    int starts() const;

  private:
    std::shared_ptr<PhoneState> state_;
};

/// The one emulated bus of the test program.
class Bus {
  public:
    /// The bus every fake libusb function works on.
    static Bus& instance();
    /// Unplugs every device and forgets every script, request and fault.
    void reset();
    /// Plugs in a device that behaves as `script` says.
    Phone add(const PhoneScript& script);
    /// Every control request sent since the last reset, in order.
    std::vector<ControlRequest> control_log() const;
    /// Makes the next `count` event-handling calls fail with `error`.
    void fail_event_handling(int count, int error);
    /// Makes the next libusb_init fail with `error`.
    void fail_init(int error);
    /// Makes the next device-list request fail with `error`.
    void fail_enumeration(int error);
    /// The version libusb_get_version reports.
    void set_version(uint16_t major, uint16_t minor, uint16_t micro);
    /// What the code under test has not released yet.
    Outstanding outstanding() const;

  private:
    Bus() = default;
};

/// The "describe" text of the fake's libusb_get_version, to tell it from the real library.
inline constexpr const char* kFakeDescription = "kova fake usb bus";

}  // namespace kova::fakeusb
