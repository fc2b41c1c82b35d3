#include "tests/support/fake_libusb/fake_usb_bus.h"

#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>

#include "tests/support/fake_libusb/fake_usb_state.h"

namespace kova::fakeusb {
namespace {

struct EndpointSpec {
    uint8_t address;
    uint8_t attributes;
};

struct SettingSpec {
    uint8_t alternate;
    uint8_t cls;
    uint8_t subclass;
    uint8_t protocol;
    std::vector<EndpointSpec> endpoints;
};

struct InterfaceSpec {
    uint8_t number;
    std::vector<SettingSpec> settings;
};

// Owns the arrays a libusb_config_descriptor points into.
struct ConfigHolder {
    libusb_config_descriptor config{};
    std::vector<libusb_interface> interfaces;
    std::vector<std::vector<libusb_interface_descriptor>> settings;
    std::vector<std::vector<std::vector<libusb_endpoint_descriptor>>> endpoints;
};

constexpr uint8_t kBulk = LIBUSB_TRANSFER_TYPE_BULK;
constexpr uint8_t kInterrupt = LIBUSB_TRANSFER_TYPE_INTERRUPT;

SettingSpec accessory_setting(uint8_t alternate, uint8_t endpoint_number) {
    return {alternate,
            0xFF,
            0xFF,
            0,
            {{static_cast<uint8_t>(0x80 | endpoint_number), kBulk}, {endpoint_number, kBulk}}};
}

std::vector<InterfaceSpec> accessory_interfaces(const PhoneScript& script, uint16_t product) {
    std::vector<InterfaceSpec> interfaces;
    const uint8_t number = script.accessory_interface;
    if (script.accessory_settings == 0) {
        // Looks like the accessory but carries one bulk endpoint only.
        interfaces.push_back({number, {{0, 0xFF, 0xFF, 0, {{0x81, kBulk}, {0x01, kInterrupt}}}}});
    } else if (script.accessory_alternate != 0) {
        interfaces.push_back(
            {number, {{0, 0xFF, 0xFF, 0, {}}, accessory_setting(script.accessory_alternate, 1)}});
    } else {
        interfaces.push_back({number, {accessory_setting(0, 1)}});
    }
    if (script.accessory_settings >= 2) {
        interfaces.push_back({static_cast<uint8_t>(number + 1), {accessory_setting(0, 3)}});
    }
    if (product == 0x2D01) {
        // The debugging interface has two bulk endpoints too, but another subclass.
        const auto adb = static_cast<uint8_t>(interfaces.back().number + 1);
        interfaces.push_back({adb, {{0, 0xFF, 0x42, 1, {{0x85, kBulk}, {0x05, kBulk}}}}});
    }
    return interfaces;
}

std::vector<InterfaceSpec> media_interfaces() {
    return {{0, {{0, 0x06, 0x01, 0x01, {{0x81, kBulk}, {0x01, kBulk}, {0x82, kInterrupt}}}}}};
}

std::shared_ptr<ConfigHolder> hold(const std::vector<InterfaceSpec>& specs) {
    auto holder = std::make_shared<ConfigHolder>();
    const size_t count = specs.size();
    holder->interfaces.resize(count);
    holder->settings.resize(count);
    holder->endpoints.resize(count);
    for (size_t i = 0; i < count; ++i) {
        const auto& spec = specs[i];
        holder->settings[i].resize(spec.settings.size());
        holder->endpoints[i].resize(spec.settings.size());
        for (size_t s = 0; s < spec.settings.size(); ++s) {
            const SettingSpec& setting = spec.settings[s];
            auto& endpoints = holder->endpoints[i][s];
            for (const EndpointSpec& endpoint : setting.endpoints) {
                libusb_endpoint_descriptor descriptor{};
                descriptor.bLength = LIBUSB_DT_ENDPOINT_SIZE;
                descriptor.bDescriptorType = LIBUSB_DT_ENDPOINT;
                descriptor.bEndpointAddress = endpoint.address;
                descriptor.bmAttributes = endpoint.attributes;
                descriptor.wMaxPacketSize = 512;
                endpoints.push_back(descriptor);
            }
            libusb_interface_descriptor& descriptor = holder->settings[i][s];
            descriptor.bLength = LIBUSB_DT_INTERFACE_SIZE;
            descriptor.bDescriptorType = LIBUSB_DT_INTERFACE;
            descriptor.bInterfaceNumber = spec.number;
            descriptor.bAlternateSetting = setting.alternate;
            descriptor.bNumEndpoints = static_cast<uint8_t>(endpoints.size());
            descriptor.bInterfaceClass = setting.cls;
            descriptor.bInterfaceSubClass = setting.subclass;
            descriptor.bInterfaceProtocol = setting.protocol;
            descriptor.endpoint = endpoints.empty() ? nullptr : endpoints.data();
        }
        holder->interfaces[i].altsetting = holder->settings[i].data();
        holder->interfaces[i].num_altsetting = static_cast<int>(spec.settings.size());
    }
    holder->config.bLength = LIBUSB_DT_CONFIG_SIZE;
    holder->config.bDescriptorType = LIBUSB_DT_CONFIG;
    holder->config.bNumInterfaces = static_cast<uint8_t>(count);
    holder->config.bConfigurationValue = 1;
    holder->config.interface = holder->interfaces.data();
    return holder;
}

}  // namespace

PhoneState::~PhoneState() {
    for (int fd : {desktop_fd, phone_fd}) {
        if (fd >= 0) {
            ::close(fd);
        }
    }
}

BusState& bus_state() {
    static BusState state;
    return state;
}

bool in_accessory_mode(const Incarnation& incarnation) {
    return incarnation.vendor == 0x18D1 && (incarnation.product & 0xFFFE) == 0x2D00;
}

libusb_config_descriptor* build_config(const Incarnation& incarnation) {
    auto holder = hold(in_accessory_mode(incarnation)
                           ? accessory_interfaces(incarnation.phone->script, incarnation.product)
                           : media_interfaces());
    libusb_config_descriptor* config = &holder->config;
    bus_state().configs[config] = holder;
    ++bus_state().outstanding.configs;
    return config;
}

int Phone::take_phone_end() {
    std::lock_guard lock(bus_state().mutex);
    const int fd = state_->phone_fd;
    state_->phone_fd = -1;
    return fd;
}

void Phone::set_fault(BulkFault fault, int partial_bytes) {
    std::lock_guard lock(bus_state().mutex);
    state_->fault = fault;
    state_->partial_budget = partial_bytes;
}

void Phone::detach() {
    std::lock_guard lock(bus_state().mutex);
    for (auto& incarnation : bus_state().incarnations) {
        if (incarnation->phone == state_) {
            incarnation->gone = true;
        }
    }
}

int Phone::starts() const {
    std::lock_guard lock(bus_state().mutex);
    return state_->starts;
}

Bus& Bus::instance() {
    static Bus bus;
    return bus;
}

void Bus::reset() {
    BusState& state = bus_state();
    std::lock_guard lock(state.mutex);
    for (auto& incarnation : state.incarnations) {
        incarnation->gone = true;
    }
    state.incarnations.clear();
    state.phones.clear();
    state.log.clear();
    state.failing_events = 0;
    state.init_error = 0;
    state.enumeration_error = 0;
}

Phone Bus::add(const PhoneScript& script) {
    auto phone = std::make_shared<PhoneState>();
    phone->script = script;
    int fds[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) {
        throw std::runtime_error("socketpair");
    }
    phone->desktop_fd = fds[0];
    phone->phone_fd = fds[1];
    auto first = std::make_shared<Incarnation>();
    first->phone = phone;
    first->vendor = script.vendor;
    first->product = script.product;
    first->address = script.address;
    first->appears_at = Clock::now();
    std::lock_guard lock(bus_state().mutex);
    bus_state().phones.push_back(phone);
    bus_state().incarnations.push_back(first);
    return Phone(phone);
}

std::vector<ControlRequest> Bus::control_log() const {
    std::lock_guard lock(bus_state().mutex);
    return bus_state().log;
}

void Bus::fail_event_handling(int count, int error) {
    std::lock_guard lock(bus_state().mutex);
    bus_state().failing_events = count;
    bus_state().event_error = error;
}

void Bus::fail_init(int error) {
    std::lock_guard lock(bus_state().mutex);
    bus_state().init_error = error;
}

void Bus::fail_enumeration(int error) {
    std::lock_guard lock(bus_state().mutex);
    bus_state().enumeration_error = error;
}

void Bus::set_version(uint16_t major, uint16_t minor, uint16_t micro) {
    std::lock_guard lock(bus_state().mutex);
    bus_state().versions.push_back(
        libusb_version{major, minor, micro, uint16_t{0}, "", kFakeDescription});
}

Outstanding Bus::outstanding() const {
    std::lock_guard lock(bus_state().mutex);
    return bus_state().outstanding;
}

}  // namespace kova::fakeusb
