// Feeds arbitrary bytes to the usbmuxd reply decoder and to everything that reads a reply.
#include <cstddef>
#include <cstdint>

#include "core/transport/error.h"
#include "core/transport/usbmux_message.h"
#include "core/transport/usbmux_transport.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    try {
        const kova::usbmux::Plist reply = kova::usbmux::decode_reply(data, size);
        const auto devices = kova::parse_device_list(reply.get());
        for (const auto& device : devices) {
            if (device.serial.empty() || device.id.size() != 16) {
                __builtin_trap();
            }
        }
        (void)kova::connect_result_code(kova::usbmux::read_number(reply.get(), "Number"));
        (void)kova::usbmux::read_string(reply.get(), "MessageType");
    } catch (const kova::Error&) {
        // Refusing a malformed reply is the expected outcome.
    }
    return 0;
}
