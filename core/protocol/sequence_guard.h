#pragma once

#include <cstdint>

#include "core/protocol/message.h"

namespace kova {

/// Checks that a peer opens with a hello, stays in its session and numbers without gaps.
class SequenceGuard {
public:
    /// Returns when `message` is in order, else throws kova::Error.
    void accept(const Message& message);

private:
    uint64_t session_ = 0;
    uint64_t expected_ = 0;
};

}  // namespace kova
