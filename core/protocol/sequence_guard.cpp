#include "core/protocol/sequence_guard.h"

#include <limits>

#include "core/transport/error.h"

namespace kova {

void SequenceGuard::accept(const Message& message) {
    if (message.sequence != expected_ || expected_ == std::numeric_limits<uint64_t>::max()) {
        throw Error("sequence_discontinuity");
    }
    if (session_ == 0) {
        if (message.type != Type::Hello) {
            throw Error("hello_required");
        }
        session_ = message.session;
    } else if (message.type == Type::Hello) {
        throw Error("duplicate_hello");
    } else if (message.session != session_) {
        throw Error("stale_session");
    }
    expected_ = message.sequence + 1;
}

}  // namespace kova
