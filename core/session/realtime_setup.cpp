#include "core/session/realtime_setup.h"

#include <sys/resource.h>
#include <unistd.h>

namespace kova {
namespace {

// A modest boost: enough to win against ordinary desktop work, refused without privilege.
constexpr int kInteractiveNice = -5;

}  // namespace

void raise_interactive_priority() {
    const auto thread = static_cast<id_t>(::gettid());
    if (::getpriority(PRIO_PROCESS, thread) > kInteractiveNice) {
        (void)::setpriority(PRIO_PROCESS, thread, kInteractiveNice);
    }
}

// Thread listing and realtime promotion arrive with the capture pipeline; until then no
// thread is promoted and the session reports 0.
ThreadSnapshot snapshot_threads() {
    return {};
}

int promote_threads_since(const ThreadSnapshot& before) {
    (void)before;
    return 0;
}

}  // namespace kova
