#pragma once

#include <cstdint>
#include <ostream>

#include "tools/phone/acceptor.h"
#include "tools/phone/phone_app.h"
#include "tools/phone/signal_watch.h"

namespace kova::phone {

/// Serves sessions from `acceptor` one at a time, printing each summary as one JSON line on
/// `out`, until `max_sessions` have been served (0: no limit) or a signal arrives.
/// Returns the process exit code.
int serve_sessions(Acceptor& acceptor, const PhoneOptions& options, uint64_t max_sessions,
                   SignalWatch& signals, std::ostream& out);

}  // namespace kova::phone
