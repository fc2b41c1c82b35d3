// libusb-1.0's device-side functions, served from the emulated bus. The C linkage comes
// from libusb.h's own declarations, so these definitions take the real library's names.

#include <libusb.h>

#include <algorithm>
#include <cstring>
#include <utility>

#include "tests/support/fake_libusb/fake_usb_state.h"

using kova::fakeusb::bus_state;
using kova::fakeusb::BusState;
using kova::fakeusb::Clock;
using kova::fakeusb::ControlRequest;
using kova::fakeusb::Incarnation;
using kova::fakeusb::PhoneState;

namespace {

constexpr uint8_t kGetProtocol = 51;
constexpr uint8_t kSendString = 52;
constexpr uint8_t kStartAccessory = 53;

void unref_locked(libusb_device* device) {
    --bus_state().outstanding.device_refs;
    if (--device->refs == 0) {
        delete device;
    }
}

bool visible(const Incarnation& incarnation, Clock::time_point now) {
    return !incarnation.gone && now >= incarnation.appears_at;
}

// The phone leaves the bus and, unless scripted otherwise, comes back as an accessory.
void switch_to_accessory(Incarnation& current) {
    BusState& state = bus_state();
    PhoneState& phone = *current.phone;
    ++phone.starts;
    current.gone = true;
    if (phone.script.return_after_ms < 0) {
        return;
    }
    const auto back_at = Clock::now() + std::chrono::milliseconds(phone.script.return_after_ms);
    for (int copy = 0; copy < phone.script.returning_copies; ++copy) {
        auto accessory = std::make_shared<Incarnation>();
        accessory->phone = current.phone;
        accessory->vendor = 0x18D1;
        accessory->product = phone.script.accessory_product;
        accessory->address = static_cast<uint8_t>(phone.script.address + 1 + copy);
        accessory->appears_at = back_at;
        state.incarnations.push_back(accessory);
    }
}

int answer_control(Incarnation& incarnation, const ControlRequest& request, unsigned char* data,
                   uint16_t length) {
    const auto& script = incarnation.phone->script;
    if (request.request_type == 0xC0 && request.request == kGetProtocol) {
        if (script.get_protocol_error != 0) {
            return script.get_protocol_error;
        }
        const int answered = std::min<int>(script.get_protocol_length, length);
        const uint8_t version[2] = {static_cast<uint8_t>(script.aoa_version & 0xFF),
                                    static_cast<uint8_t>(script.aoa_version >> 8)};
        std::memcpy(data, version, static_cast<size_t>(std::min(answered, 2)));
        return answered;
    }
    if (request.request_type == 0x40 && request.request == kSendString) {
        return length - script.string_shortfall;
    }
    if (request.request_type == 0x40 && request.request == kStartAccessory) {
        switch_to_accessory(incarnation);
        return script.start_result;
    }
    return LIBUSB_ERROR_PIPE;
}

}  // namespace

int libusb_init(libusb_context** context) {
    std::lock_guard lock(bus_state().mutex);
    if (bus_state().init_error != 0) {
        return std::exchange(bus_state().init_error, 0);
    }
    if (context == nullptr) {
        return LIBUSB_ERROR_INVALID_PARAM;
    }
    *context = new libusb_context;
    ++bus_state().outstanding.contexts;
    return LIBUSB_SUCCESS;
}

void libusb_exit(libusb_context* context) {
    std::lock_guard lock(bus_state().mutex);
    if (context != nullptr) {
        --bus_state().outstanding.contexts;
        delete context;
    }
}

const libusb_version* libusb_get_version(void) {
    std::lock_guard lock(bus_state().mutex);
    auto& versions = bus_state().versions;
    if (versions.empty()) {
        versions.push_back(libusb_version{uint16_t{1}, uint16_t{0}, uint16_t{26}, uint16_t{0}, "",
                                          kova::fakeusb::kFakeDescription});
    }
    return &versions.back();
}

const char* libusb_error_name(int code) {
    switch (code) {
        case LIBUSB_SUCCESS:
            return "LIBUSB_SUCCESS / LIBUSB_TRANSFER_COMPLETED";
        case LIBUSB_ERROR_IO:
            return "LIBUSB_ERROR_IO";
        case LIBUSB_ERROR_INVALID_PARAM:
            return "LIBUSB_ERROR_INVALID_PARAM";
        case LIBUSB_ERROR_ACCESS:
            return "LIBUSB_ERROR_ACCESS";
        case LIBUSB_ERROR_NO_DEVICE:
            return "LIBUSB_ERROR_NO_DEVICE";
        case LIBUSB_ERROR_NOT_FOUND:
            return "LIBUSB_ERROR_NOT_FOUND";
        case LIBUSB_ERROR_BUSY:
            return "LIBUSB_ERROR_BUSY";
        case LIBUSB_ERROR_TIMEOUT:
            return "LIBUSB_ERROR_TIMEOUT";
        case LIBUSB_ERROR_OVERFLOW:
            return "LIBUSB_ERROR_OVERFLOW";
        case LIBUSB_ERROR_PIPE:
            return "LIBUSB_ERROR_PIPE";
        case LIBUSB_ERROR_INTERRUPTED:
            return "LIBUSB_ERROR_INTERRUPTED";
        case LIBUSB_ERROR_NO_MEM:
            return "LIBUSB_ERROR_NO_MEM";
        case LIBUSB_ERROR_NOT_SUPPORTED:
            return "LIBUSB_ERROR_NOT_SUPPORTED";
        case LIBUSB_ERROR_OTHER:
            return "LIBUSB_ERROR_OTHER";
        default:
            return "**UNKNOWN**";
    }
}

ssize_t libusb_get_device_list(libusb_context* context, libusb_device*** list) {
    std::lock_guard lock(bus_state().mutex);
    BusState& state = bus_state();
    if (state.enumeration_error != 0) {
        return std::exchange(state.enumeration_error, 0);
    }
    const auto now = Clock::now();
    std::vector<libusb_device*> devices;
    for (const auto& incarnation : state.incarnations) {
        if (visible(*incarnation, now)) {
            devices.push_back(new libusb_device{context, incarnation, 1});
            ++state.outstanding.device_refs;
        }
    }
    *list = new libusb_device*[devices.size() + 1];
    std::copy(devices.begin(), devices.end(), *list);
    (*list)[devices.size()] = nullptr;
    return static_cast<ssize_t>(devices.size());
}

void libusb_free_device_list(libusb_device** list, int unref_devices) {
    if (list == nullptr) {
        return;
    }
    std::lock_guard lock(bus_state().mutex);
    for (libusb_device** device = list; unref_devices != 0 && *device != nullptr; ++device) {
        unref_locked(*device);
    }
    delete[] list;
}

libusb_device* libusb_ref_device(libusb_device* device) {
    std::lock_guard lock(bus_state().mutex);
    ++device->refs;
    ++bus_state().outstanding.device_refs;
    return device;
}

void libusb_unref_device(libusb_device* device) {
    std::lock_guard lock(bus_state().mutex);
    unref_locked(device);
}

int libusb_get_device_descriptor(libusb_device* device, libusb_device_descriptor* descriptor) {
    std::lock_guard lock(bus_state().mutex);
    const Incarnation& incarnation = *device->incarnation;
    if (incarnation.phone->script.descriptor_error) {
        return LIBUSB_ERROR_IO;
    }
    *descriptor = libusb_device_descriptor{};
    descriptor->bLength = LIBUSB_DT_DEVICE_SIZE;
    descriptor->bDescriptorType = LIBUSB_DT_DEVICE;
    descriptor->bcdUSB = 0x0200;
    descriptor->bDeviceClass = incarnation.phone->script.device_class;
    descriptor->bMaxPacketSize0 = 64;
    descriptor->idVendor = incarnation.vendor;
    descriptor->idProduct = incarnation.product;
    descriptor->bNumConfigurations = 1;
    return LIBUSB_SUCCESS;
}

uint8_t libusb_get_bus_number(libusb_device* device) {
    std::lock_guard lock(bus_state().mutex);
    return device->incarnation->phone->script.bus;
}

uint8_t libusb_get_device_address(libusb_device* device) {
    std::lock_guard lock(bus_state().mutex);
    return device->incarnation->address;
}

int libusb_get_port_numbers(libusb_device* device, uint8_t* port_numbers, int length) {
    std::lock_guard lock(bus_state().mutex);
    const auto& ports = device->incarnation->phone->script.ports;
    if (static_cast<int>(ports.size()) > length) {
        return LIBUSB_ERROR_OVERFLOW;
    }
    std::copy(ports.begin(), ports.end(), port_numbers);
    return static_cast<int>(ports.size());
}

int libusb_open(libusb_device* device, libusb_device_handle** handle) {
    std::lock_guard lock(bus_state().mutex);
    const Incarnation& incarnation = *device->incarnation;
    if (incarnation.phone->script.open_error != 0) {
        return incarnation.phone->script.open_error;
    }
    if (incarnation.gone) {
        return LIBUSB_ERROR_NO_DEVICE;
    }
    ++device->refs;
    ++bus_state().outstanding.device_refs;
    ++bus_state().outstanding.handles;
    *handle = new libusb_device_handle{device->context, device, {}};
    return LIBUSB_SUCCESS;
}

void libusb_close(libusb_device_handle* handle) {
    if (handle == nullptr) {
        return;
    }
    std::lock_guard lock(bus_state().mutex);
    --bus_state().outstanding.handles;
    unref_locked(handle->device);
    delete handle;
}

libusb_device* libusb_get_device(libusb_device_handle* handle) {
    return handle->device;
}

int libusb_control_transfer(libusb_device_handle* handle, uint8_t request_type, uint8_t request,
                            uint16_t value, uint16_t index, unsigned char* data, uint16_t length,
                            unsigned int /*timeout*/) {
    std::lock_guard lock(bus_state().mutex);
    Incarnation& incarnation = *handle->device->incarnation;
    if (incarnation.gone) {
        return LIBUSB_ERROR_NO_DEVICE;
    }
    ControlRequest logged{request_type, request, value, index, {}};
    if ((request_type & LIBUSB_ENDPOINT_IN) == 0 && data != nullptr) {
        logged.data.assign(data, data + length);
    }
    bus_state().log.push_back(logged);
    return answer_control(incarnation, logged, data, length);
}

int libusb_get_active_config_descriptor(libusb_device* device, libusb_config_descriptor** config) {
    std::lock_guard lock(bus_state().mutex);
    *config = kova::fakeusb::build_config(*device->incarnation);
    return LIBUSB_SUCCESS;
}

void libusb_free_config_descriptor(libusb_config_descriptor* config) {
    if (config == nullptr) {
        return;
    }
    std::lock_guard lock(bus_state().mutex);
    if (bus_state().configs.erase(config) != 0) {
        --bus_state().outstanding.configs;
    }
}

int libusb_claim_interface(libusb_device_handle* handle, int interface_number) {
    std::lock_guard lock(bus_state().mutex);
    const Incarnation& incarnation = *handle->device->incarnation;
    if (incarnation.phone->script.claim_error != 0) {
        return incarnation.phone->script.claim_error;
    }
    if (incarnation.gone) {
        return LIBUSB_ERROR_NO_DEVICE;
    }
    if (handle->claimed.insert(interface_number).second) {
        ++bus_state().outstanding.claimed;
    }
    return LIBUSB_SUCCESS;
}

int libusb_release_interface(libusb_device_handle* handle, int interface_number) {
    std::lock_guard lock(bus_state().mutex);
    if (handle->claimed.erase(interface_number) == 0) {
        return LIBUSB_ERROR_NOT_FOUND;
    }
    --bus_state().outstanding.claimed;
    return LIBUSB_SUCCESS;
}

int libusb_set_interface_alt_setting(libusb_device_handle* handle, int interface_number,
                                     int alternate) {
    std::lock_guard lock(bus_state().mutex);
    if (handle->claimed.count(interface_number) == 0) {
        return LIBUSB_ERROR_NOT_FOUND;
    }
    bus_state().log.push_back(ControlRequest{0x01,
                                             LIBUSB_REQUEST_SET_INTERFACE,
                                             static_cast<uint16_t>(alternate),
                                             static_cast<uint16_t>(interface_number),
                                             {}});
    return LIBUSB_SUCCESS;
}
