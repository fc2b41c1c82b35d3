#include "core/session/link_setup.h"

#include "core/transport/aoa_requests.h"
#include "core/transport/aoa_transport.h"
#include "core/transport/error.h"

namespace kova {
namespace {

void announce(const SessionHooks& hooks, const char* state) {
    if (hooks.on_state) {
        hooks.on_state(state);
    }
}

}  // namespace

// The iPhone link is not part of this build yet; a session that needs one ends with a code
// that says so.
std::unique_ptr<Transport> create_link(const SessionOptions& options) {
    if (options.treated_as_ios()) {
        throw Error("ios_link_unavailable");
    }
    return std::make_unique<AoaTransport>();
}

void connect_link(Transport& link, const SessionOptions& options, nlohmann::json& report,
                  const SessionHooks& hooks) {
    if (options.transport != nullptr || options.treated_as_ios()) {
        announce(hooks, "Connecting");
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
