#pragma once

#include <cstdint>
#include <string>

#include "core/protocol/message.h"

namespace kova::phone {

/// Checks the desktop's messages as strictly as the desktop checks the phone's: one hello
/// first, one session, sequence numbers without gaps and contiguous audio frame indexes.
/// Unlike the desktop it resynchronises after a fault, so later faults are still counted.
class FrameChecker {
  public:
    /// The verdict on one message.
    struct Verdict {
        std::string violation;  ///< empty when the message is in order
        bool usable = true;     ///< false when the message must be ignored
    };

    /// Checks `message`, the next one received.
    Verdict check(const Message& message);
    /// The desktop's session id; 0 until its hello has arrived.
    uint64_t session() const { return session_; }
    /// Number of audio messages whose frame index did not continue the previous one.
    uint64_t gaps() const { return gaps_; }

  private:
    Verdict check_order(const Message& message);
    std::string check_frame_index(const Message& message);

    uint64_t session_ = 0;
    uint64_t expected_sequence_ = 0;
    uint64_t expected_frame_ = 0;
    uint64_t gaps_ = 0;
};

}  // namespace kova::phone
