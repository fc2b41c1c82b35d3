#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>

#include "core/protocol/message.h"

namespace kova {

/// Cuts an unframed byte stream back into messages, checking each header on its 40th byte.
/// Reassembles in a fixed in-object buffer; the first malformed frame closes it for good.
class Parser {
public:
    /// Consumes `length` bytes, delivering each completed message in stream order.
    void feed(const uint8_t* data, size_t length, const std::function<void(Message)>& on_message);
    /// Throws "truncated_message" when a partial frame is held or the parser is closed.
    void end_of_input();
    /// True after any failure.
    bool closed() const { return closed_; }

private:
    void feed_unchecked(const uint8_t* data, size_t length,
                        const std::function<void(Message)>& on_message);
    void accept_header();
    void reset_frame();

    std::array<uint8_t, kMaxFrame> buffer_{};
    size_t filled_ = 0;
    size_t needed_ = kHeaderSize;
    bool in_payload_ = false;
    bool closed_ = false;
    Message current_;
};

}  // namespace kova
