#pragma once

namespace kova::test {

/// Threads of this process now (entries of /proc/self/task).
int task_count();

/// task_count() once a sanitizer's own helper thread is sure to exist: its runtime starts one
/// with the process's first thread, which must not be taken for a thread left behind.
int task_count_before();

}  // namespace kova::test
