#include "core/session/link_setup.h"

#include "core/transport/error.h"

namespace kova {
namespace {

void announce(const SessionHooks& hooks, const char* state) {
    if (hooks.on_state) {
        hooks.on_state(state);
    }
}

}  // namespace

// The iPhone and Android links are not part of this build yet; a session that needs one
// ends with a code that says which.
std::unique_ptr<Transport> create_link(const SessionOptions& options) {
    if (options.treated_as_ios()) {
        throw Error("ios_link_unavailable");
    }
    throw Error("android_link_unavailable");
}

void connect_link(Transport& link, const SessionOptions& options, nlohmann::json& report,
                  const SessionHooks& hooks) {
    (void)link;
    (void)report;
    if (options.transport != nullptr || options.treated_as_ios()) {
        announce(hooks, "Connecting");
        return;
    }
    announce(hooks, "SwitchingToAccessory");
}

}  // namespace kova
