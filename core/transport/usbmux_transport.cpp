#include "core/transport/usbmux_transport.h"

#include <exception>

#include "core/transport/error.h"
#include "core/transport/ios_id.h"
#include "core/transport/usbmux_client.h"

namespace kova {
namespace {

using usbmux::Plist;

bool is_dict(plist_t node) {
    return node != nullptr && plist_get_node_type(node) == PLIST_DICT;
}

// Any failure of the pairing query just means "not trusted".
bool has_pair_record(const std::string& serial) {
    try {
        usbmux::DaemonConnection daemon;
        Plist request = usbmux::new_request("ReadPairRecord");
        plist_dict_set_item(request.get(), "PairRecordID", plist_new_string(serial.c_str()));
        const Plist reply = daemon.exchange(request.get());
        return plist_dict_get_item(reply.get(), "PairRecordData") != nullptr;
    } catch (const std::exception&) {
        return false;
    }
}

const IosDevice& find_device(const std::vector<IosDevice>& devices, const std::string& id) {
    const IosDevice* match = nullptr;
    for (const IosDevice& device : devices) {
        if (device.id == id) {
            if (match != nullptr) {
                throw Error("ambiguous_device_path");
            }
            match = &device;
        }
    }
    if (match == nullptr) {
        throw Error("ios_device_not_found");
    }
    return *match;
}

}  // namespace

std::vector<IosDevice> parse_device_list(plist_t reply) {
    std::vector<IosDevice> devices;
    const plist_t entries = is_dict(reply) ? plist_dict_get_item(reply, "DeviceList") : nullptr;
    if (entries == nullptr || plist_get_node_type(entries) != PLIST_ARRAY) {
        return devices;
    }
    const uint32_t count = plist_array_get_size(entries);
    for (uint32_t i = 0; i < count; ++i) {
        const plist_t entry = plist_array_get_item(entries, i);
        const plist_t properties =
            is_dict(entry) ? plist_dict_get_item(entry, "Properties") : nullptr;
        if (!is_dict(properties) || usbmux::read_string(properties, "ConnectionType") != "USB") {
            continue;
        }
        IosDevice device;
        device.serial = usbmux::read_string(properties, "SerialNumber");
        if (device.serial.empty()) {
            continue;
        }
        device.id = ios_id(device.serial);
        device.device_id = static_cast<int32_t>(usbmux::read_number(entry, "DeviceID"));
        device.product_id = static_cast<uint16_t>(usbmux::read_number(properties, "ProductID"));
        device.location_id = static_cast<uint32_t>(usbmux::read_number(properties, "LocationID"));
        devices.push_back(std::move(device));
    }
    return devices;
}

std::string connect_result_code(int64_t number) {
    switch (number) {
        case 0:
            return {};
        case 2:
            return "ios_device_not_found";
        case 3:
            return "ios_app_not_listening";
        default:
            return "usbmux_result_" + std::to_string(number);
    }
}

uint16_t swapped_port(unsigned short port) {
    return static_cast<uint16_t>((port & 0xFF) << 8 | (port >> 8 & 0xFF));
}

std::vector<IosDevice> UsbmuxTransport::list() {
    std::vector<IosDevice> devices;
    try {
        usbmux::DaemonConnection daemon;
        const Plist request = usbmux::new_request("ListDevices");
        const Plist reply = daemon.exchange(request.get());
        for (IosDevice& device : parse_device_list(reply.get())) {
            device.trusted = has_pair_record(device.serial);
            devices.push_back(std::move(device));
        }
    } catch (const std::exception&) {
        // An unreachable or confused daemon simply lists what was gathered so far.
    }
    return devices;
}

void UsbmuxTransport::connect(const std::string& id, unsigned short port) {
    if (fd_ >= 0) {
        throw Error("already_connected");
    }
    const std::vector<IosDevice> devices = list();
    const IosDevice& device = find_device(devices, id);
    usbmux::DaemonConnection daemon;
    Plist request = usbmux::new_request("Connect");
    plist_dict_set_item(request.get(), "DeviceID",
                        plist_new_uint(static_cast<uint64_t>(device.device_id)));
    plist_dict_set_item(request.get(), "PortNumber", plist_new_uint(swapped_port(port)));
    const Plist reply = daemon.exchange(request.get());
    const std::string failure = connect_result_code(usbmux::read_number(reply.get(), "Number"));
    if (!failure.empty()) {
        throw Error(failure);
    }
    adopt(daemon.fd());
    daemon.release();
}

std::string UsbmuxTransport::name() const {
    return "usbmux / usbmuxd";
}

}  // namespace kova
