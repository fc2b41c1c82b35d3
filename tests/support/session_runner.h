#pragma once

#include <functional>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "core/protocol/message.h"
#include "core/session/session_options.h"
#include "tests/support/fake_phone.h"
#include "tests/support/scripted_peer.h"

namespace kova::test {

/// What a whole session did, seen from both ends.
struct SessionOutcome {
    int code = -1;                       ///< run_session's exit code
    nlohmann::json report;               ///< the final report
    std::vector<std::string> states;     ///< states announced, in order
    int reports_published = 0;           ///< on_report calls
    int statuses = 0;                    ///< on_status calls
    std::vector<Message> peer_received;  ///< every message the peer got
    uint64_t peer_bytes_sent = 0;        ///< bytes the peer wrote (stale bytes not included)
    std::string peer_error;              ///< what went wrong in the peer script, if anything
    double seconds = 0.0;                ///< how long run_session took

    /// Texts of the report's "error" (empty when absent).
    std::string error() const { return report.value("error", std::string()); }
    /// Messages of `type` that reached the peer.
    std::vector<Message> received_of(Type type) const;
};

/// What a session runs against and how it is asked to stop.
struct SessionSetup {
    SessionOptions options;                            ///< device etc.; transport is filled in
    std::function<void(ScriptedPeer&)> script;         ///< the peer, run on its own thread
    std::function<bool()> stop_requested;              ///< the stop hook; empty: never
    std::function<void(const std::string&)> on_state;  ///< also sees every state
    std::function<void(nlohmann::json&)> on_report;    ///< also sees every published report
    std::vector<uint8_t> stale_bytes;                  ///< written to the link before the session
    bool fill_desktop_send_buffer = false;             ///< make the desktop's writes block
};

/// Options for an iOS-like session over a supplied link.
SessionOptions link_options();

/// The script of a phone that answers as `behaviour` says.
std::function<void(ScriptedPeer&)> phone_script(PhoneBehaviour behaviour = {});

/// link_options() against phone_script(behaviour).
SessionSetup phone_setup(PhoneBehaviour behaviour = {});

/// Runs kova::run_session over a socket pair whose far end the setup's script serves.
SessionOutcome run_against_peer(const SessionSetup& setup);

}  // namespace kova::test
