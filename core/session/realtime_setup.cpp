#include "core/session/realtime_setup.h"

#include "core/session/realtime_threads.h"

#include <sys/resource.h>
#include <unistd.h>

namespace kova {
namespace {

// A modest boost: enough to win against ordinary desktop work, refused without privilege.
constexpr int kInteractiveNice = -5;
constexpr double kPeriodMs = 4.0;
constexpr double kComputationMs = 2.0;
constexpr double kConstraintMs = 4.0;

}  // namespace

void raise_interactive_priority() {
    const auto thread = static_cast<id_t>(::gettid());
    if (::getpriority(PRIO_PROCESS, thread) > kInteractiveNice) {
        (void)::setpriority(PRIO_PROCESS, thread, kInteractiveNice);
    }
}

ThreadSnapshot snapshot_threads() {
    return thread_ids();
}

// One audio message every 4 ms, at most half of it spent computing.
int promote_threads_since(const ThreadSnapshot& before) {
    return make_realtime_since(before, kPeriodMs, kComputationMs, kConstraintMs);
}

}  // namespace kova
