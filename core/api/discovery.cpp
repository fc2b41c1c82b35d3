// Device discovery entry points: the phones attached, as one JSON text.

#include <cstdlib>
#include <cstring>
#include <string>

#include "core/api/kova.h"
#include "core/transport/device_listing.h"
#include "core/transport/udev_registry.h"

namespace {

std::vector<kova::DeviceInfo> usb_walk() {
    // A fresh context per listing, ended as soon as the list is taken.
    kova::AoaTransport usb;
    return usb.list();
}

std::string device_list() {
    kova::UdevRegistry registry;
    const kova::DeviceWalks walks{&registry, usb_walk,
                                  [] { return kova::UsbmuxTransport::list(); }};
    return kova::device_list_text(kova::list_devices(walks));
}

}  // namespace

extern "C" {

char* kova_list_devices(void) {
    std::string text;
    try {
        text = device_list();
    } catch (...) {
        text = "[]";
    }
    auto* copy = static_cast<char*>(std::malloc(text.size() + 1));
    if (copy != nullptr) {
        std::memcpy(copy, text.c_str(), text.size() + 1);
    }
    return copy;
}

void kova_free(void* text) {
    std::free(text);
}

}  // extern "C"
