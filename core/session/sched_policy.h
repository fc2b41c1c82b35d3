#pragma once

#include <cstdint>

namespace kova {

/// Scheduling policy of one kernel thread as the kernel reports it.
struct ThreadPolicy {
    int policy = -1;           ///< SCHED_OTHER, SCHED_FIFO, SCHED_DEADLINE...; -1 when unreadable
    uint64_t runtime_ns = 0;   ///< deadline runtime
    uint64_t deadline_ns = 0;  ///< deadline relative deadline
    uint64_t period_ns = 0;    ///< deadline period
    int priority = 0;          ///< static priority of the fixed-priority policies
};

/// The kernel thread id of the calling thread.
uint64_t current_thread_id();
/// Gives thread `tid` the deadline policy; false when the kernel refuses.
bool set_deadline_policy(uint64_t tid, uint64_t runtime_ns, uint64_t deadline_ns,
                         uint64_t period_ns);
/// Gives thread `tid` the first-in-first-out realtime policy; false when refused.
bool set_fifo_policy(uint64_t tid, int priority);
/// Puts thread `tid` back under the normal time-sharing policy; false when refused.
bool set_normal_policy(uint64_t tid);
/// Reads thread `tid`'s policy.
ThreadPolicy thread_policy(uint64_t tid);

}  // namespace kova
