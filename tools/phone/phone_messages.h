#pragma once

#include <cstddef>
#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "tools/phone/misbehaviour.h"

namespace kova::phone {

/// The build string the emulator announces in its hello.
inline constexpr const char* kPhoneBuild = "kova-phone-1.0";

/// The phone's hello for `role`, bent as `misbehaviour` asks.
nlohmann::json hello_body(const std::string& role, Misbehaviour misbehaviour);

/// The acknowledgement of the desktop's configuration `config`, bent as `misbehaviour` asks;
/// a configuration other than 48 kHz stereo s16le in 192-frame messages is refused.
nlohmann::json config_ack_body(const nlohmann::json& config, Misbehaviour misbehaviour);

/// A status message body.
nlohmann::json status_body(const std::string& state, const std::string& route,
                           double occupancy_mean, uint64_t underruns);

/// `count` bytes of frames left over from an earlier session.
std::vector<uint8_t> stale_session_bytes(size_t count);

/// Bytes that are no frame at all.
std::vector<uint8_t> garbage_bytes();

/// A status frame whose header announces a length other than 40.
std::vector<uint8_t> bad_header_frame(uint64_t session, uint64_t sequence);

}  // namespace kova::phone
