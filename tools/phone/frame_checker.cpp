#include "tools/phone/frame_checker.h"

namespace kova::phone {

FrameChecker::Verdict FrameChecker::check(const Message& message) {
    Verdict verdict = check_order(message);
    if (verdict.usable && message.type == Type::Audio) {
        const std::string frame_fault = check_frame_index(message);
        if (verdict.violation.empty()) {
            verdict.violation = frame_fault;
        }
    }
    return verdict;
}

FrameChecker::Verdict FrameChecker::check_order(const Message& message) {
    if (session_ == 0) {
        if (message.type != Type::Hello) {
            return {"hello_required", false};
        }
        session_ = message.session;
        expected_sequence_ = message.sequence + 1;
        return {message.sequence == 0 ? "" : "sequence_discontinuity", true};
    }
    if (message.type == Type::Hello) {
        return {"duplicate_hello", false};
    }
    if (message.session != session_) {
        return {"stale_session", false};
    }
    const bool in_order = message.sequence == expected_sequence_;
    expected_sequence_ = message.sequence + 1;
    return {in_order ? "" : "sequence_discontinuity", true};
}

std::string FrameChecker::check_frame_index(const Message& message) {
    const bool contiguous = message.frame_index == expected_frame_;
    expected_frame_ = message.frame_index + message.payload.size() / 4;
    if (contiguous) {
        return "";
    }
    ++gaps_;
    return "frame_index_discontinuity";
}

}  // namespace kova::phone
