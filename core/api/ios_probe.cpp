#include <exception>
#include <string>

#include "core/api/kova.h"
#include "core/transport/error.h"
#include "core/transport/usbmux_transport.h"

namespace {

// The phone app's TCP port on the device.
constexpr unsigned short kPhoneAppPort = 48000;

}  // namespace

extern "C" KOVA_EXPORT int kova_ios_probe(const char* path) {
    if (path == nullptr) {
        return -1;
    }
    try {
        kova::UsbmuxTransport link;
        link.connect(path, kPhoneAppPort);
        return 1;
    } catch (const kova::Error& error) {
        return std::string(error.what()) == "ios_app_not_listening" ? 0 : -1;
    } catch (const std::exception&) {
        return -1;
    }
}
