#include "core/session/realtime_threads.h"

#include "core/session/sched_policy.h"

namespace kova {
namespace {

// Below the audio server's own realtime threads, above everything time-shared.
constexpr int kFifoPriority = 10;

struct Budget {
    uint64_t runtime_ns;
    uint64_t deadline_ns;
    uint64_t period_ns;
};

uint64_t to_ns(double ms) {
    return static_cast<uint64_t>(ms * 1e6);
}

bool promote(uint64_t tid, const Budget& budget) {
    return set_deadline_policy(tid, budget.runtime_ns, budget.deadline_ns, budget.period_ns) ||
           set_fifo_policy(tid, kFifoPriority);
}

}  // namespace

std::set<uint64_t> thread_ids() {
    std::set<uint64_t> ids;
    for_each_thread([&ids](uint64_t tid) { ids.insert(tid); });
    return ids;
}

int make_realtime_since(const std::set<uint64_t>& before, double period_ms, double computation_ms,
                        double constraint_ms) {
    const Budget budget{to_ns(computation_ms), to_ns(constraint_ms), to_ns(period_ms)};
    const uint64_t self = current_thread_id();
    int promoted = promote(self, budget) ? 1 : 0;
    for_each_thread([&](uint64_t tid) {
        if (tid != self && before.count(tid) == 0 && promote(tid, budget)) {
            ++promoted;
        }
    });
    return promoted;
}

}  // namespace kova
