#include "core/protocol/parser.h"

#include <algorithm>
#include <cstring>

#include "core/protocol/codec.h"
#include "core/transport/error.h"

namespace kova {
namespace {

uint16_t u16_at(const uint8_t* bytes, size_t offset) {
    return static_cast<uint16_t>(bytes[offset] | (bytes[offset + 1] << 8));
}

uint32_t u32_at(const uint8_t* bytes, size_t offset) {
    return static_cast<uint32_t>(bytes[offset]) | (static_cast<uint32_t>(bytes[offset + 1]) << 8) |
           (static_cast<uint32_t>(bytes[offset + 2]) << 16) |
           (static_cast<uint32_t>(bytes[offset + 3]) << 24);
}

}  // namespace

void Parser::feed(const uint8_t* data, size_t length,
                  const std::function<void(Message)>& on_message) {
    if (closed_) {
        throw Error("parser_closed");
    }
    try {
        feed_unchecked(data, length, on_message);
    } catch (...) {
        closed_ = true;
        throw;
    }
}

void Parser::feed_unchecked(const uint8_t* data, size_t length,
                            const std::function<void(Message)>& on_message) {
    size_t consumed = 0;
    while (consumed < length) {
        const size_t take = std::min(length - consumed, needed_ - filled_);
        std::memcpy(buffer_.data() + filled_, data + consumed, take);
        filled_ += take;
        consumed += take;
        if (!in_payload_ && filled_ == kHeaderSize) {
            accept_header();
        }
        if (filled_ == needed_) {
            current_.payload.assign(buffer_.begin() + kHeaderSize, buffer_.begin() + filled_);
            reset_frame();
            on_message(std::move(current_));
            current_ = Message{};
        }
    }
}

void Parser::accept_header() {
    const uint8_t* header = buffer_.data();
    if (std::memcmp(header, "KOVA", 4) != 0) {
        throw Error("bad_magic");
    }
    if (u16_at(header, 4) != 1) {
        throw Error("bad_major");
    }
    if (u16_at(header, 8) != kHeaderSize) {
        throw Error("bad_header");
    }
    if (u16_at(header, 10) != 0) {
        throw Error("bad_flags");
    }
    current_.type = static_cast<Type>(u16_at(header, 6));
    const size_t payload_length = u32_at(header, 12);
    current_.session = get_u64le(header + 16);
    current_.sequence = get_u64le(header + 24);
    current_.frame_index = get_u64le(header + 32);
    current_.payload.clear();
    validate(current_, payload_length);
    needed_ = kHeaderSize + payload_length;
    in_payload_ = true;
}

void Parser::reset_frame() {
    filled_ = 0;
    needed_ = kHeaderSize;
    in_payload_ = false;
}

void Parser::end_of_input() {
    if (closed_ || filled_ != 0) {
        throw Error("truncated_message");
    }
}

}  // namespace kova
