#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace kova {

/// Message type codes; values outside 1..10 never appear on the wire.
enum class Type : uint16_t {
    Hello = 1,
    Config = 2,
    ConfigAck = 3,
    Start = 4,
    Audio = 5,
    Stop = 6,
    Status = 7,
    Error = 8,
    Ping = 9,
    Pong = 10,
};

/// Frame constants shared by the codec and the parser.
inline constexpr size_t kHeaderSize = 40;
inline constexpr size_t kMaxPayload = 8192;
inline constexpr size_t kMaxFrame = kHeaderSize + kMaxPayload;
inline constexpr size_t kMaxAudioPayload = 768;
inline constexpr size_t kTokenSize = 8;

/// One protocol message.
struct Message {
    Type type{};                   ///< message type code
    uint64_t session = 0;          ///< session id chosen by the desktop; never 0
    uint64_t sequence = 0;         ///< per-sender running number
    uint64_t frame_index = 0;      ///< first audio frame of the payload; 0 for control types
    std::vector<uint8_t> payload;  ///< JSON text, PCM or token bytes
};

}  // namespace kova
