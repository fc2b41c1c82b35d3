#include "core/session/link_setup.h"

#include "core/transport/aoa_requests.h"
#include "core/transport/aoa_transport.h"
#include "core/transport/usbmux_transport.h"

namespace kova {
namespace {

// The phone app listens on this TCP port of an iPhone or iPad.
constexpr unsigned short kIosAppPort = 48000;

void announce(const SessionHooks& hooks, const char* state) {
    if (hooks.on_state) {
        hooks.on_state(state);
    }
}

}  // namespace

std::unique_ptr<Transport> create_link(const SessionOptions& options) {
    if (options.treated_as_ios()) {
        return std::make_unique<UsbmuxTransport>();
    }
    return std::make_unique<AoaTransport>();
}

void connect_link(Transport& link, const SessionOptions& options, nlohmann::json& report,
                  const SessionHooks& hooks) {
    if (options.transport != nullptr) {
        announce(hooks, "Connecting");
        return;
    }
    if (options.treated_as_ios()) {
        announce(hooks, "Connecting");
        dynamic_cast<UsbmuxTransport&>(link).connect(options.device, kIosAppPort);
        return;
    }
    announce(hooks, "SwitchingToAccessory");
    auto& accessory = dynamic_cast<AoaTransport&>(link);
    accessory.connect(options.device, options.accessory_id);
    report["interface"] = accessory.interface_number();
    report["accessoryPid"] = accessory.accessory_product();
    report["debugDisabledVerified"] = accessory.accessory_product() == aoa::kAccessoryProduct;
}

}  // namespace kova
