#pragma once

#include <cstdint>
#include <set>

namespace kova {

/// Ids of the process's threads at one moment.
using ThreadSnapshot = std::set<uint64_t>;

/// Best-effort raise of the calling thread's scheduling priority; refusal is ignored.
void raise_interactive_priority();
/// The threads that exist now, taken just before the link object is created.
ThreadSnapshot snapshot_threads();
/// Gives the calling thread and every thread not in `before` the realtime policy; returns
/// how many promotions succeeded.
int promote_threads_since(const ThreadSnapshot& before);

}  // namespace kova
