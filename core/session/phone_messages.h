#pragma once

#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

namespace kova {

/// Payload of the desktop's hello.
std::vector<uint8_t> desktop_hello_payload();
/// Payload of the audio configuration.
std::vector<uint8_t> audio_config_payload();

/// Checks the phone's hello: role, protocol minor, build, capabilities; throws kova::Error.
void check_phone_hello(const nlohmann::json& hello, bool treated_as_ios, bool has_audio);
/// Returns when the acknowledgement accepts the configuration, else throws kova::Error.
void check_config_ack(const nlohmann::json& ack);
/// The code a phone error message ends the session with: "phone_error: " + its "code".
std::string phone_error_code(const nlohmann::json& error);

/// The 8 wire bytes of a ping token, least significant first.
std::vector<uint8_t> token_bytes(uint64_t token);
/// The token held by an 8-byte ping or pong payload.
uint64_t token_value(const std::vector<uint8_t>& payload);

}  // namespace kova
