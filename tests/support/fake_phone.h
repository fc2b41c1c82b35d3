#pragma once

#include <functional>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>

#include "tests/support/scripted_peer.h"

namespace kova::test {

/// How play_phone() answers; the defaults behave as the phone app does.
struct PhoneBehaviour {
    nlohmann::json hello = phone_hello();  ///< sent after the desktop's hello
    std::optional<nlohmann::json> ack = nlohmann::json{{"accepted", true}};  ///< none: silent
    bool answer_pings = true;                                                ///< send pongs at all
    int pong_delay_ms = 0;                                  ///< hold each pong this long
    bool wrong_pong_token = false;                          ///< answer with another token
    std::optional<std::string> route = "built_in_speaker";  ///< none: no "route" member
    bool send_stopped = true;                               ///< confirm a stop with "Stopped"
    int status_interval_ms = 500;                           ///< period of status messages
    /// Called for every message received, after the standard answer; may send more.
    std::function<void(ScriptedPeer&, const Message&)> on_message;
};

/// Reads and ignores everything until the desktop closes the link (then throws PeerClosed).
[[noreturn]] void ignore_desktop(ScriptedPeer& peer);

/// Plays the phone until the desktop closes the link.
void play_phone(ScriptedPeer& peer, const PhoneBehaviour& behaviour = {});

}  // namespace kova::test
