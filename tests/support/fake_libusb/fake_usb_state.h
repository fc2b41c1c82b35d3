#pragma once

// Internal state shared by the fake libusb's translation units.

#include <libusb.h>

#include <chrono>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <vector>

#include "tests/support/fake_libusb/fake_usb_bus.h"

namespace kova::fakeusb {

using Clock = std::chrono::steady_clock;

/// One presence of a phone on the bus; a switch to accessory mode makes a new one.
struct Incarnation {
    std::shared_ptr<PhoneState> phone;
    uint16_t vendor = 0;
    uint16_t product = 0;
    uint8_t address = 0;
    Clock::time_point appears_at;
    bool gone = false;
};

struct PhoneState {
    PhoneScript script;
    int desktop_fd = -1;  ///< the bulk endpoints' end of the data line
    int phone_fd = -1;    ///< the emulator's end until taken
    bool line_closed = false;
    BulkFault fault = BulkFault::none;
    int partial_budget = 0;
    int starts = 0;
    ~PhoneState();
};

/// A transfer submitted and not yet completed.
struct Pending {
    Clock::time_point deadline;
    bool has_deadline = false;
    bool cancelled = false;
};

struct BusState {
    std::mutex mutex;
    std::vector<std::shared_ptr<PhoneState>> phones;
    std::vector<std::shared_ptr<Incarnation>> incarnations;  ///< in order of appearance
    std::vector<ControlRequest> log;
    int failing_events = 0;
    int event_error = 0;
    int init_error = 0;
    int enumeration_error = 0;
    std::deque<libusb_version> versions;
    Outstanding outstanding;
    std::map<const libusb_config_descriptor*, std::shared_ptr<void>> configs;
};

/// The process's one bus.
BusState& bus_state();

/// The active configuration of `incarnation` (owned by the bus until freed).
libusb_config_descriptor* build_config(const Incarnation& incarnation);

/// True when `incarnation` runs in accessory mode.
bool in_accessory_mode(const Incarnation& incarnation);

}  // namespace kova::fakeusb

struct libusb_context {
    std::map<libusb_transfer*, kova::fakeusb::Pending> pending;
};

struct libusb_device {
    libusb_context* context = nullptr;
    std::shared_ptr<kova::fakeusb::Incarnation> incarnation;
    int refs = 1;
};

struct libusb_device_handle {
    libusb_context* context = nullptr;
    libusb_device* device = nullptr;
    std::set<int> claimed;
};
