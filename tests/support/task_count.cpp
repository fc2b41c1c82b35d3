#include "tests/support/task_count.h"

#include <dirent.h>

#include <thread>

namespace kova::test {

int task_count() {
    int count = 0;
    if (DIR* dir = ::opendir("/proc/self/task")) {
        while (const dirent* entry = ::readdir(dir)) {
            count += entry->d_name[0] != '.';
        }
        ::closedir(dir);
    }
    return count;
}

int task_count_before() {
    std::thread([] {}).join();
    return task_count();
}

}  // namespace kova::test
