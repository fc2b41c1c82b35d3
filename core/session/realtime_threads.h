#pragma once

#include <cstdint>
#include <filesystem>
#include <set>
#include <string>
#include <system_error>

namespace kova {

/// Calls `f(thread_id)` for each thread of this process, in the order the kernel lists them.
/// Ids are kernel thread ids; a thread listing that cannot be read calls nothing.
template <class F>
void for_each_thread(F f) {
    std::error_code error;
    std::filesystem::directory_iterator entries("/proc/self/task", error);
    for (; !error && entries != std::filesystem::directory_iterator(); entries.increment(error)) {
        const std::string name = entries->path().filename().string();
        if (!name.empty() && name.find_first_not_of("0123456789") == std::string::npos) {
            f(static_cast<uint64_t>(std::stoull(name)));
        }
    }
}

/// The ids of all threads of this process at the moment of the call.
std::set<uint64_t> thread_ids();

/// Gives the calling thread, and every thread not in `before`, the realtime policy (deadline,
/// else fixed priority); returns how many promotions succeeded, the calling thread included.
int make_realtime_since(const std::set<uint64_t>& before, double period_ms, double computation_ms,
                        double constraint_ms);

}  // namespace kova
