#pragma once

#include <atomic>

namespace kova {

/// Process-wide interrupt flag: 0 at rest, 1 when every wait of the core must give up.
/// Set by another thread than the one blocked in the waits, hence atomic.
extern std::atomic<int> interrupted;

/// True when `interrupted` is set.
inline bool is_interrupted() {
    return interrupted.load(std::memory_order_acquire) != 0;
}

}  // namespace kova
