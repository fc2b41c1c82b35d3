#pragma once

namespace kova {

/// Waits until `fd` is ready for `events` (POLLIN / POLLOUT) or `timeout_ms` passes, in slices
/// of at most 100 ms so that `interrupted` is noticed. True when ready, false on time-out.
bool wait(int fd, short events, long long timeout_ms);

}  // namespace kova
