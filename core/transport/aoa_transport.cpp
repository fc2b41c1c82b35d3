#include "core/transport/aoa_transport.h"

#include <libusb.h>

#include <array>
#include <chrono>
#include <memory>
#include <optional>
#include <span>
#include <thread>

#include "core/transport/aoa_requests.h"
#include "core/transport/bulk_transfer.h"
#include "core/transport/error.h"
#include "core/transport/interrupt.h"
#include "core/transport/usb_ok.h"

namespace kova {
namespace {

using Clock = std::chrono::steady_clock;

constexpr auto kReenumerationTimeout = std::chrono::seconds(10);
constexpr auto kReenumerationPoll = std::chrono::milliseconds(100);
constexpr int kReadBufferBytes = 16384;

// The device list of one enumeration, released with its references on every path.
class DeviceList {
  public:
    explicit DeviceList(libusb_context* context) {
        libusb_device** devices = nullptr;
        const ssize_t count = libusb_get_device_list(context, &devices);
        usb_ok(static_cast<int>(count), "enumerate");
        devices_ = devices;
        count_ = static_cast<size_t>(count);
    }
    ~DeviceList() {
        if (devices_ != nullptr) {
            libusb_free_device_list(devices_, 1);
        }
    }
    DeviceList(const DeviceList&) = delete;
    DeviceList& operator=(const DeviceList&) = delete;
    std::span<libusb_device*> devices() const { return {devices_, count_}; }

  private:
    libusb_device** devices_ = nullptr;
    size_t count_ = 0;
};

struct ConfigDeleter {
    void operator()(libusb_config_descriptor* config) const {
        libusb_free_config_descriptor(config);
    }
};
using ConfigPtr = std::unique_ptr<libusb_config_descriptor, ConfigDeleter>;

// One alternate setting that carries the accessory's two bulk endpoints.
struct AccessorySetting {
    int interface = -1;
    int alternate = 0;
    uint8_t in_endpoint = 0;
    uint8_t out_endpoint = 0;
};

std::optional<AccessorySetting> as_accessory_setting(const libusb_interface_descriptor& setting) {
    if (setting.bInterfaceClass != 0xFF || setting.bInterfaceSubClass != 0xFF ||
        setting.bInterfaceProtocol != 0) {
        return std::nullopt;
    }
    AccessorySetting found{setting.bInterfaceNumber, setting.bAlternateSetting, 0, 0};
    int bulk_endpoints = 0;
    for (int i = 0; i < setting.bNumEndpoints; ++i) {
        const libusb_endpoint_descriptor& endpoint = setting.endpoint[i];
        if ((endpoint.bmAttributes & LIBUSB_TRANSFER_TYPE_MASK) != LIBUSB_TRANSFER_TYPE_BULK) {
            continue;
        }
        ++bulk_endpoints;
        uint8_t& slot = (endpoint.bEndpointAddress & LIBUSB_ENDPOINT_IN) ? found.in_endpoint
                                                                         : found.out_endpoint;
        slot = endpoint.bEndpointAddress;
    }
    if (bulk_endpoints != 2 || found.in_endpoint == 0 || found.out_endpoint == 0) {
        return std::nullopt;
    }
    return found;
}

AccessorySetting find_accessory_setting(const libusb_config_descriptor& config) {
    std::optional<AccessorySetting> chosen;
    for (int i = 0; i < config.bNumInterfaces; ++i) {
        const libusb_interface& interface = config.interface[i];
        for (int alt = 0; alt < interface.num_altsetting; ++alt) {
            auto setting = as_accessory_setting(interface.altsetting[alt]);
            if (!setting) {
                continue;
            }
            if (chosen) {
                throw Error("ambiguous_accessory_interface");
            }
            chosen = setting;
        }
    }
    if (!chosen) {
        throw Error("accessory_bulk_interface_missing");
    }
    return *chosen;
}

}  // namespace

AoaTransport::AoaTransport() {
    usb_ok(libusb_init(&context_), "libusb_init");
}

AoaTransport::~AoaTransport() {
    if (handle_ != nullptr) {
        if (interface_ >= 0) {
            libusb_release_interface(handle_, interface_);
        }
        libusb_close(handle_);
    }
    libusb_exit(context_);
}

std::string AoaTransport::path_of(libusb_device* device, bool& topology) {
    std::array<uint8_t, 8> ports{};
    const int count = libusb_get_port_numbers(device, ports.data(), ports.size());
    std::string path = std::to_string(libusb_get_bus_number(device)) + ":";
    topology = count > 0;
    if (!topology) {
        return path + "addr" + std::to_string(libusb_get_device_address(device));
    }
    for (int i = 0; i < count; ++i) {
        path += (i > 0 ? "." : "") + std::to_string(ports[i]);
    }
    return path;
}

std::vector<DeviceInfo> AoaTransport::list() {
    DeviceList list(context_);
    std::vector<DeviceInfo> infos;
    for (libusb_device* device : list.devices()) {
        libusb_device_descriptor descriptor{};
        if (libusb_get_device_descriptor(device, &descriptor) < 0) {
            continue;
        }
        DeviceInfo info;
        info.path = path_of(device, info.topology);
        info.vendor = descriptor.idVendor;
        info.product = descriptor.idProduct;
        info.bus = libusb_get_bus_number(device);
        info.address = libusb_get_device_address(device);
        info.device_class = descriptor.bDeviceClass;
        infos.push_back(std::move(info));
    }
    return infos;
}

void AoaTransport::connect(const std::string& path, const std::string& accessory_id) {
    if (handle_ != nullptr) {
        throw Error("already_connected");
    }
    bool topology = false;
    bool accessory = false;
    open_selected(path, topology, accessory);
    if (!accessory) {
        aoa::get_protocol(handle_);
        aoa::send_identity(handle_, accessory_id);
        aoa::start_accessory(handle_);
        libusb_close(handle_);
        handle_ = nullptr;
        if (!topology) {
            throw Error("no_topology_for_reenumeration_list_and_select_again");
        }
        wait_for_accessory(path);
    }
    claim_accessory_interface();
}

void AoaTransport::open_selected(const std::string& path, bool& topology, bool& accessory) {
    DeviceList list(context_);
    libusb_device* selected = nullptr;
    for (libusb_device* device : list.devices()) {
        bool has_topology = false;
        if (path_of(device, has_topology) != path) {
            continue;
        }
        if (selected != nullptr) {
            throw Error("ambiguous_device_path");
        }
        selected = device;
        topology = has_topology;
    }
    if (selected == nullptr) {
        throw Error("selected_device_not_found");
    }
    libusb_device_descriptor descriptor{};
    usb_ok(libusb_get_device_descriptor(selected, &descriptor), "descriptor");
    if (descriptor.idVendor == aoa::kAppleVendor) {
        throw Error("aoa_refused_apple_device");
    }
    libusb_device_handle* handle = nullptr;
    usb_ok(libusb_open(selected, &handle), "open_selected_device");
    handle_ = handle;
    accessory = aoa::is_accessory(descriptor.idVendor, descriptor.idProduct);
}

void AoaTransport::wait_for_accessory(const std::string& path) {
    const auto deadline = Clock::now() + kReenumerationTimeout;
    for (;;) {
        if (Clock::now() >= deadline || is_interrupted()) {
            throw Error("accessory_reenumeration_timeout");
        }
        DeviceList list(context_);
        libusb_device* candidate = nullptr;
        for (libusb_device* device : list.devices()) {
            libusb_device_descriptor descriptor{};
            if (libusb_get_device_descriptor(device, &descriptor) < 0) {
                continue;
            }
            bool topology = false;
            if (path_of(device, topology) != path ||
                !aoa::is_accessory(descriptor.idVendor, descriptor.idProduct)) {
                continue;
            }
            if (candidate != nullptr) {
                throw Error("ambiguous_reenumeration");
            }
            candidate = device;
        }
        if (candidate != nullptr) {
            libusb_device_handle* handle = nullptr;
            usb_ok(libusb_open(candidate, &handle), "open_accessory");
            handle_ = handle;
            return;
        }
        std::this_thread::sleep_for(kReenumerationPoll);
    }
}

void AoaTransport::claim_accessory_interface() {
    libusb_device_descriptor descriptor{};
    usb_ok(libusb_get_device_descriptor(libusb_get_device(handle_), &descriptor),
           "accessory_descriptor");
    if (!aoa::is_accessory(descriptor.idVendor, descriptor.idProduct)) {
        throw Error("unexpected_accessory_identity");
    }
    accessory_product_ = descriptor.idProduct;

    libusb_config_descriptor* raw_config = nullptr;
    usb_ok(libusb_get_active_config_descriptor(libusb_get_device(handle_), &raw_config),
           "active_configuration");
    const ConfigPtr config(raw_config);
    const AccessorySetting setting = find_accessory_setting(*config);

    in_endpoint_ = setting.in_endpoint;
    out_endpoint_ = setting.out_endpoint;
    usb_ok(libusb_claim_interface(handle_, setting.interface), "claim_accessory_interface");
    interface_ = setting.interface;
    if (setting.alternate != 0) {
        usb_ok(libusb_set_interface_alt_setting(handle_, setting.interface, setting.alternate),
               "alternate_setting");
    }
}

int AoaTransport::transfer(uint8_t endpoint, uint8_t* buffer, int length, unsigned timeout_ms,
                           bool allow_timeout) {
    if (handle_ == nullptr || interface_ < 0) {
        throw Error("not_connected");
    }
    return bulk_transfer(context_, handle_, endpoint, buffer, length, timeout_ms, allow_timeout);
}

void AoaTransport::write(const std::vector<uint8_t>& bytes, unsigned timeout_ms) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
    if (bytes.empty()) {
        return;
    }
    // libusb only reads from an OUT buffer.
    auto* data = const_cast<uint8_t*>(bytes.data());
    size_t sent = 0;
    while (sent < bytes.size()) {
        const auto left =
            std::chrono::duration_cast<std::chrono::nanoseconds>(deadline - Clock::now());
        if (left.count() <= 999'999) {
            throw Error("write_timeout");
        }
        const auto left_ms = static_cast<unsigned>(left.count() / 1'000'000);
        const int moved = transfer(out_endpoint_, data + sent,
                                   static_cast<int>(bytes.size() - sent), left_ms, false);
        if (moved < 1) {
            throw Error("zero_length_write");
        }
        sent += static_cast<size_t>(moved);
    }
}

std::vector<uint8_t> AoaTransport::read(unsigned timeout_ms) {
    std::vector<uint8_t> buffer(kReadBufferBytes);
    // libusb reads a time-out of 0 as "wait for ever"; the shortest real wait stands in.
    const unsigned libusb_timeout = timeout_ms == 0 ? 1 : timeout_ms;
    const int received =
        transfer(in_endpoint_, buffer.data(), kReadBufferBytes, libusb_timeout, true);
    buffer.resize(static_cast<size_t>(received));
    return buffer;
}

std::string AoaTransport::name() const {
    const libusb_version* version = libusb_get_version();
    return "AOA bulk / libusb " + std::to_string(version->major) + "." +
           std::to_string(version->minor) + "." + std::to_string(version->micro);
}

}  // namespace kova
