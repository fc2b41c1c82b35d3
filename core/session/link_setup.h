#pragma once

#include <memory>
#include <nlohmann/json.hpp>

#include "core/session/session_hooks.h"
#include "core/session/session_options.h"
#include "core/transport/transport.h"

namespace kova {

/// Creates the link object for the phone the options name (not yet connected). Only called
/// when the options carry no link of their own.
std::unique_ptr<Transport> create_link(const SessionOptions& options);

/// Connects `link` to the phone, announcing "Connecting" or "SwitchingToAccessory", and writes
/// the link's report keys. A caller-supplied link is used as it is.
void connect_link(Transport& link, const SessionOptions& options, nlohmann::json& report,
                  const SessionHooks& hooks);

}  // namespace kova
