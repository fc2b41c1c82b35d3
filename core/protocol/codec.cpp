#include "core/protocol/codec.h"

#include <cstring>
#include <random>

#include "core/transport/error.h"

namespace kova {
namespace {

void put_u16le(uint8_t* out, uint16_t value) {
    out[0] = static_cast<uint8_t>(value);
    out[1] = static_cast<uint8_t>(value >> 8);
}

void put_u32le(uint8_t* out, uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        out[i] = static_cast<uint8_t>(value >> (8 * i));
    }
}

void validate_by_type(Type type, size_t payload_length) {
    switch (type) {
        case Type::Start:
        case Type::Stop:
            if (payload_length != 0) {
                throw Error("control_size");
            }
            return;
        case Type::Audio:
            if (payload_length < 4 || payload_length > kMaxAudioPayload || payload_length % 4 != 0) {
                throw Error("audio_size");
            }
            return;
        case Type::Ping:
        case Type::Pong:
            if (payload_length != kTokenSize) {
                throw Error("token_size");
            }
            return;
        default:
            if (payload_length == 0) {
                throw Error("empty_json");
            }
            return;
    }
}

}  // namespace

void put_u64le(uint8_t* out, uint64_t value) {
    for (int i = 0; i < 8; ++i) {
        out[i] = static_cast<uint8_t>(value >> (8 * i));
    }
}

uint64_t get_u64le(const uint8_t* in) {
    uint64_t value = 0;
    for (int i = 7; i >= 0; --i) {
        value = (value << 8) | in[i];
    }
    return value;
}

void validate(const Message& message, size_t payload_length) {
    const auto code = static_cast<uint16_t>(message.type);
    if (code == 0 || code > 10) {
        throw Error("unknown_type");
    }
    if (payload_length > kMaxPayload) {
        throw Error("payload_limit");
    }
    if (message.session == 0) {
        throw Error("zero_session");
    }
    if (message.type != Type::Audio && message.frame_index != 0) {
        throw Error("control_frame_index");
    }
    validate_by_type(message.type, payload_length);
}

std::vector<uint8_t> encode(const Message& message) {
    validate(message, message.payload.size());
    std::vector<uint8_t> frame(kHeaderSize + message.payload.size());
    uint8_t* header = frame.data();
    std::memcpy(header, "KOVA", 4);
    put_u16le(header + 4, 1);
    put_u16le(header + 6, static_cast<uint16_t>(message.type));
    put_u16le(header + 8, static_cast<uint16_t>(kHeaderSize));
    put_u16le(header + 10, 0);
    put_u32le(header + 12, static_cast<uint32_t>(message.payload.size()));
    put_u64le(header + 16, message.session);
    put_u64le(header + 24, message.sequence);
    put_u64le(header + 32, message.frame_index);
    if (!message.payload.empty()) {
        std::memcpy(header + kHeaderSize, message.payload.data(), message.payload.size());
    }
    return frame;
}

uint64_t random_id() {
    std::random_device device("/dev/urandom");
    const uint64_t high = device();
    const uint64_t low = device();
    const uint64_t value = (high << 32) | (low & 0xFFFFFFFFu);
    return value == 0 ? 1 : value;
}

}  // namespace kova
