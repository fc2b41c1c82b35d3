#pragma once

// Header-only, so that programs testing libkova.so alone can count too.

#include <dirent.h>

#include <thread>

namespace kova::test {

/// Entries of a /proc directory, without "." and "..".
inline int proc_entries(const char* path) {
    int count = 0;
    if (DIR* dir = ::opendir(path)) {
        while (const dirent* entry = ::readdir(dir)) {
            count += entry->d_name[0] != '.';
        }
        ::closedir(dir);
    }
    return count;
}

/// Threads of this process now.
inline int task_count() {
    return proc_entries("/proc/self/task");
}

/// task_count() once a sanitizer's own helper thread is sure to exist: its runtime starts one
/// with the process's first thread, which must not be taken for a thread left behind.
inline int task_count_before() {
    std::thread([] {}).join();
    return task_count();
}

/// Open descriptors of this process now.
inline int descriptor_count() {
    return proc_entries("/proc/self/fd");
}

}  // namespace kova::test
